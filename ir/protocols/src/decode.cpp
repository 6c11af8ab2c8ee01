// The decoder: measured durations in, the rows and parameter values that explain them out.
//
// A row's frame is matched item by item against the input. Each item yields pieces (a mark
// or a space of some length); consecutive pieces of one level add up to one measured
// duration, which must then lie within the row's tolerance of their sum. Where the data
// decides what comes next (bi-phase codings), a measured duration ends where what is left
// of it is under half the row's unit. A field's symbols are tried in turn and the one
// whose durations fit best is kept. Lead-outs are open-ended: a sender may pause longer,
// and a capture may end right after a frame's last mark.
#include <algorithm>
#include <cmath>

#include "frame.h"
#include "table.h"

namespace ir::protocols::detail {
namespace {

enum class Level : uint8_t { Space, Mark, Any };

struct Tolerance {
    double rel;
    double abs;
    double half_unit;
    double of(double expected) const { return rel * expected + abs; }
};

// Spaces at least this long are lead-outs or frame gaps: only their minimum is checked.
constexpr double kLongSpaceUs = 10000;

struct Cursor {
    const uint32_t *d = nullptr;
    std::size_t n = 0;
    std::size_t pos = 0;  // current duration; even positions are marks
    double rem = 0;       // what is left of d[pos]
    double run = 0;       // expected µs taken from d[pos] so far
    double elapsed = 0;   // expected µs since the frame began
    double err = 0;       // sum over closed durations of |measured - expected| / tolerance

    bool at_end() const { return pos >= n; }
    bool at_mark() const { return pos % 2 == 0; }
    void advance() {
        ++pos;
        run = 0;
        rem = pos < n ? double(d[pos]) : 0;
    }
};

// Up to two ways a piece can be taken: a duration that ends here, or one that goes on.
struct Outcomes {
    std::array<Cursor, 4> c;
    std::size_t n = 0;
    void add(const Cursor &x) {
        if (n < c.size()) {
            c[n++] = x;
        }
    }
};

// Takes `len` µs of one level. `next` is the level of the piece after this one: the same
// level merges with this piece, the other level ends the measured duration here, and Any
// (the data decides) lets the duration end or go on, the likelier first.
void take(Cursor c, const Tolerance &t, bool mark, double len, Level next, Outcomes &out) {
    c.elapsed += len;
    if (c.at_end()) {
        if (!mark) {
            out.add(c);  // the input ends in an endless space
        }
        return;
    }
    if (c.at_mark() != mark) {
        return;
    }
    c.rem -= len;
    c.run += len;
    if (next != Level::Any && (next == Level::Mark) == mark) {
        if (c.rem >= -t.of(c.run)) {
            out.add(c);
        }
        return;
    }
    const double tol = t.of(c.run);
    Cursor closed = c;
    const bool can_close = std::abs(c.rem) <= tol;
    if (can_close) {
        closed.err += std::abs(c.rem) / tol;
        closed.advance();
    }
    const bool can_go_on = next == Level::Any && c.rem >= t.half_unit / 2;
    if (can_go_on && c.rem >= t.half_unit) {
        out.add(c);
    }
    if (can_close) {
        out.add(closed);
    }
    if (can_go_on && c.rem < t.half_unit) {
        out.add(c);
    }
}

// Takes a lead-out: at least `len` µs of space, or the end of the input.
bool take_lead_out(Cursor &c, const Tolerance &t, double len) {
    c.elapsed += len;
    if (c.at_end()) {
        return true;
    }
    if (c.at_mark()) {
        return false;
    }
    c.run += len;
    c.rem -= len;
    if (c.rem < -t.of(c.run)) {
        return false;
    }
    c.advance();
    return true;
}

Level level_of(float us) {
    return us > 0 ? Level::Mark : Level::Space;
}

Level first_level(const Coding &coding) {
    if (coding.imon_checks != 0 || coding.symbols.empty()) {
        return Level::Any;
    }
    const Level l = level_of(coding.symbols[0].us[0]);
    for (const Symbol &s : coding.symbols) {
        if (level_of(s.us[0]) != l) {
            return Level::Any;
        }
    }
    return l;
}

Level first_level(const Row &row, std::span<const Item> items, std::size_t i) {
    if (i >= items.size()) {
        return Level::Mark;  // the next frame
    }
    switch (items[i].op) {
        case Op::Mark:
            return Level::Mark;
        case Op::Space:
        case Op::Extent:
            return Level::Space;
        default:
            return first_level(row.codings[items[i].coding]);
    }
}

// One symbol's pieces, iMON's included (their check half depends on the previous bit).
struct Pieces {
    std::array<float, 6> us{};
    uint8_t n = 0;
};

Pieces pieces_of(const Coding &coding, unsigned value, unsigned index, bool prev) {
    if (coding.imon_checks == 0) {
        const Symbol &s = coding.symbols[value];
        return {s.us, s.n};
    }
    const float u = coding.imon_unit_us;
    const bool check = ((coding.imon_checks >> index) & 1) != 0 && value == 0 && !prev;
    return {{check ? u : -u, value != 0 ? -u : u}, 2};
}

struct Pending {
    const Item *item = nullptr;
    uint64_t value = 0;
};

struct Checks {
    std::array<Pending, 8> p{};
    std::size_t n = 0;
};

// Records what a field says about the parameters; false when it contradicts them.
bool assign(const Item &item, uint64_t field, State &st, Checks &checks) {
    const uint64_t m = mask_of(item.width);
    switch (item.op) {
        case Op::Const:
            return field == (item.value & m);
        case Op::Check:
            if (checks.n == checks.p.size()) {
                return false;
            }
            checks.p[checks.n++] = {&item, field};
            return true;
        default: {
            const uint64_t v = (item.invert ? ~field : field) & m;
            const uint64_t pm = m << item.shift;
            const uint64_t pv = v << item.shift;
            uint64_t &value = st.value[item.param];
            uint64_t &known = st.known[item.param];
            if (((value ^ pv) & known & pm) != 0) {
                return false;
            }
            value = (value & ~pm) | pv;
            known |= pm;
            return true;
        }
    }
}

// Work one frame match may do before it gives up (adversarial input cannot make a
// decode slow; real signals need a small fraction of it).
constexpr int kStepBudget = 20000;

// A depth-first match of one frame: each step takes one item's piece or one symbol of a
// field; where several symbols or duration ends fit, the best fitting is followed first
// and the others when what follows does not fit.
class FrameMatcher {
  public:
    FrameMatcher(const Row &row, std::span<const Item> items, const Tolerance &t)
        : row_(row), items_(items), t_(t) {}

    bool match(Cursor &c, State &st) {
        c.elapsed = 0;
        budget_ = kStepBudget;
        if (!walk(0, 0, c, BitStream{}, st, Checks{})) {
            return false;
        }
        c = end_cursor_;
        st = end_state_;
        return true;
    }

  private:
    bool walk(std::size_t i, std::size_t chunk, const Cursor &c, const BitStream &bits,
              const State &st, const Checks &checks) {
        if (--budget_ < 0) {
            return false;
        }
        if (i == items_.size()) {
            for (std::size_t k = 0; k < checks.n; ++k) {
                const Item &item = *checks.p[k].item;
                if ((item.check(st.value) & mask_of(item.width)) != checks.p[k].value) {
                    return false;
                }
            }
            end_cursor_ = c;
            end_state_ = st;
            return true;
        }
        const Item &item = items_[i];
        switch (item.op) {
            case Op::Mark:
            case Op::Space: {
                if (item.op == Op::Space && item.us >= kLongSpaceUs) {
                    Cursor next = c;
                    return take_lead_out(next, t_, item.us) &&
                           walk(i + 1, 0, next, bits, st, checks);
                }
                Outcomes out;
                take(c, t_, item.op == Op::Mark, item.us, first_level(row_, items_, i + 1), out);
                for (std::size_t k = 0; k < out.n; ++k) {
                    if (walk(i + 1, 0, out.c[k], bits, st, checks)) {
                        return true;
                    }
                }
                return false;
            }
            case Op::Extent: {
                Cursor next = c;
                return take_lead_out(next, t_,
                                     std::max(double(item.us) - c.elapsed, row_.unit_us)) &&
                       walk(i + 1, 0, next, bits, st, checks);
            }
            default:
                return walk_field(i, chunk, c, bits, st, checks);
        }
    }

    bool walk_field(std::size_t i, std::size_t chunk, const Cursor &c, const BitStream &bits,
                    const State &st, const Checks &checks) {
        const std::size_t end = run_end(items_, i);
        std::size_t nbits = 0;
        for (std::size_t j = i; j < end; ++j) {
            nbits += items_[j].width;
        }
        const Coding &coding = row_.codings[items_[i].coding];
        const unsigned k = bits_per_symbol(coding);
        const std::size_t chunks = nbits / k;
        if (nbits > BitStream::kMax) {
            return false;
        }
        if (chunk == chunks) {
            State next = st;
            Checks next_checks = checks;
            std::size_t at = 0;
            for (std::size_t j = i; j < end; ++j) {
                if (!assign(items_[j], bits.read(row_, items_[j], at), next, next_checks)) {
                    return false;
                }
                at += items_[j].width;
            }
            return walk(end, 0, c, BitStream{}, next, next_checks);
        }

        // Every symbol that fits here, best first.
        struct Alternative {
            unsigned value;
            Cursor c;
        };
        std::array<Alternative, 32> alts;
        std::size_t nalts = 0;
        const Level after =
            chunk + 1 == chunks ? first_level(row_, items_, end) : first_level(coding);
        const unsigned index = unsigned(nbits - 1 - chunk * k);  // iMON: bit number as sent
        const bool prev = bits.n > 0 && bits.bit[bits.n - 1];
        for (unsigned v = 0; v < (1u << k); ++v) {
            const Pieces p = pieces_of(coding, v, index, prev);
            Outcomes now;
            now.add(c);
            for (uint8_t j = 0; j < p.n && now.n > 0; ++j) {
                const Level next = j + 1 < p.n ? level_of(p.us[j + 1]) : after;
                Outcomes later;
                for (std::size_t q = 0; q < now.n; ++q) {
                    take(now.c[q], t_, p.us[j] > 0, std::abs(p.us[j]), next, later);
                }
                now = later;
            }
            for (std::size_t q = 0; q < now.n && nalts < alts.size(); ++q) {
                alts[nalts++] = {v, now.c[q]};
            }
        }
        std::stable_sort(
            alts.begin(), alts.begin() + nalts,
            [](const Alternative &a, const Alternative &b) { return a.c.err < b.c.err; });
        for (std::size_t a = 0; a < nalts; ++a) {
            BitStream next = bits;
            for (unsigned j = 0; j < k && next.n < BitStream::kMax; ++j) {
                next.bit[next.n++] = ((alts[a].value >> (k - 1 - j)) & 1) != 0;
            }
            if (walk(i, chunk + 1, alts[a].c, next, st, checks)) {
                return true;
            }
        }
        return false;
    }

    const Row &row_;
    std::span<const Item> items_;
    Tolerance t_;
    int budget_ = 0;
    Cursor end_cursor_;
    State end_state_;
};

bool match_frame(const Row &row, std::span<const Item> items, const Tolerance &t, Cursor &c,
                 State &st) {
    return FrameMatcher(row, items, t).match(c, st);
}

struct Match {
    State state;
    int frames = 0;
    bool complete = false;
    double err = 0;
};

constexpr int kMaxFrames = 1000;
constexpr int kMaxStarts = 4;

std::optional<Match> match_row(const Row &row, std::span<const uint32_t> d) {
    const Tolerance t{row.rel_tol, row.abs_tol_us, row.unit_us / 2};
    const std::span<const Item> repeat = row.repeats == Repeat::Ditto ? row.repeat : row.intro;
    int starts = 0;
    for (std::size_t start = 0; start < d.size() && starts < kMaxStarts; start += 2) {
        if (start > 0 && d[start - 1] < kFrameGapUs) {
            continue;
        }
        ++starts;
        Cursor c{d.data(), d.size(), start, double(d[start])};
        State st;
        if (!match_frame(row, row.intro, t, c, st)) {
            continue;
        }
        int frames = 1;
        while (!c.at_end() && frames < kMaxFrames) {
            Cursor next = c;
            State s = st;
            if (!match_frame(row, repeat, t, next, s) || next.pos == c.pos) {
                break;
            }
            c = next;
            st = s;
            ++frames;
        }
        return Match{st, frames, start == 0 && c.at_end(), c.err};
    }
    return std::nullopt;
}

}  // namespace

std::vector<Decode> decode_rows(std::span<const uint32_t> d, double carrier_hz) {
    struct Found {
        const Row *row;
        Match m;
    };
    std::vector<Found> found;
    if (d.empty()) {
        return {};
    }
    d = d.first(std::min(d.size(), kMaxDecodeDurations));
    for (const Row &row : rows()) {
        if (auto m = match_row(row, d)) {
            found.push_back({&row, *m});
        }
    }
    // Complete decodes first; then table order, except that rows differing only in their
    // carrier are ordered by how near theirs is to the measured one.
    auto group = [](const Row *r) {
        if (r->twin == 0) {
            return std::size_t(r->id);
        }
        for (const Row &other : rows()) {
            if (other.twin == r->twin) {
                return std::size_t(other.id);
            }
        }
        return std::size_t(r->id);
    };
    std::stable_sort(found.begin(), found.end(), [&](const Found &a, const Found &b) {
        if (a.m.complete != b.m.complete) {
            return a.m.complete;
        }
        const std::size_t ga = group(a.row), gb = group(b.row);
        if (ga != gb) {
            return ga < gb;
        }
        if (carrier_hz > 0) {
            const double da = std::abs(a.row->carrier_hz - carrier_hz);
            const double db = std::abs(b.row->carrier_hz - carrier_hz);
            if (da != db) {
                return da < db;
            }
        }
        return a.row->id < b.row->id;
    });

    std::vector<Decode> out;
    out.reserve(found.size());
    for (const Found &f : found) {
        out.push_back(make_decode(*f.row, f.m.state.value, f.m.frames, f.m.complete));
    }
    return out;
}

}  // namespace ir::protocols::detail
