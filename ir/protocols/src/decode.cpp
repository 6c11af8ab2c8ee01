// SPDX-License-Identifier: MIT
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
    // Bi-phase rows count their data's durations in whole units, as a receiver must (a
    // 600 µs run is one 444 µs unit or two, never both): a duration with data in it may be
    // off by `counted` (under half a unit) plus the relative share of what fixed items
    // (headers, RC5x's long space) put in it. 0: no such cap.
    double counted = 0;
    double of(double expected) const { return rel * expected + abs; }
    // `fixed` of the `expected` µs came from fixed items, the rest from symbols.
    double of(double expected, double fixed) const {
        const double all = of(expected);
        return counted > 0 ? std::min(all, counted + rel * fixed) : all;
    }
};

// A bi-phase row's cap on its counted durations, in units: just under half of one, so
// that each fits one whole number of units at most. Not less: real RC6 captures have 1-unit
// marks 207 µs long and 2-unit spaces 219 µs short.
constexpr double kCountedShare = 0.499;

// A lead-out may be this much shorter than its protocol says.
constexpr double kLeadOutShare = 0.5;

// Spaces at least this long, and a frame's last space, are lead-outs or frame gaps: only
// their minimum is checked.
constexpr double kLongSpaceUs = 10000;

// Where a match stands in the input. Trivial and small, so that the many copies a search
// makes cost no initialisation and little copying (input is at most kMaxDecodeDurations
// long, so positions fit 16 bits).
struct Cursor {
    const uint32_t *d;
    uint16_t n;
    uint16_t pos;          // current duration; even positions are marks
    uint16_t frame_start;  // where the frame being matched began
    double rem;            // what is left of d[pos]
    double run;            // expected µs taken from d[pos] so far
    double elapsed;        // expected µs since the frame began
    double err;            // sum over closed durations of |measured - expected| / tolerance
    double measured;       // µs of the closed durations of this frame, lead-outs left out
    double expected;       // what the frame says they should be
    float fixed;           // the part of `run` that fixed items (not symbols) took
    int runs;              // closed durations

    static Cursor at(std::span<const uint32_t> d, std::size_t pos) {
        Cursor c{};
        c.d = d.data();
        c.n = uint16_t(d.size());
        c.pos = c.frame_start = uint16_t(pos);
        c.rem = pos < d.size() ? double(d[pos]) : 0;
        return c;
    }
    bool at_end() const { return pos >= n; }
    bool at_mark() const { return pos % 2 == 0; }
    void advance() {
        ++pos;
        run = fixed = 0;
        rem = pos < n ? double(d[pos]) : 0;
    }
};
static_assert(kMaxDecodeDurations < (std::size_t{1} << 15));
static_assert(sizeof(Cursor) <= 72);

// Up to two ways a piece can be taken: a duration that ends here, or one that goes on.
struct Outcomes {
    std::array<Cursor, 4> c;  // uninitialised: only the first n are set
    std::size_t n = 0;
    // The next free slot, null when full.
    Cursor *next() { return n < c.size() ? &c[n++] : nullptr; }
};

// Takes `len` µs of one level. `next` is the level of the piece after this one: the same
// level merges with this piece, the other level ends the measured duration here, and Any
// (the data decides) lets the duration end or go on, the likelier first. `symbol`: the piece
// is a symbol's, not a fixed item's.
void take(const Cursor &in, const Tolerance &t, bool mark, double len, Level next, bool symbol,
          Outcomes &out) {
    const double elapsed = in.elapsed + len;
    if (in.at_end()) {
        // An input that ends on a mark ends in an endless space: the frame's lead-out, the
        // space pieces that merge into it, and data that sends space (iMON's last bits set,
        // which its sender drops) once the frame has had a space of its own: a lone pulse
        // reads as nothing.
        if (!mark && in.n % 2 == 1 && (next == Level::Space || in.pos >= in.frame_start + 3)) {
            if (Cursor *c = out.next()) {
                *c = in;
                c->elapsed = elapsed;
            }
        }
        return;
    }
    if (in.at_mark() != mark) {
        return;
    }
    const double rem = in.rem - len;
    const double run = in.run + len;
    const float fixed = symbol ? in.fixed : in.fixed + float(len);
    const auto open = [&] {
        if (Cursor *c = out.next()) {
            *c = in;
            c->elapsed = elapsed;
            c->rem = rem;
            c->run = run;
            c->fixed = fixed;
        }
    };
    const double tol = t.of(run, fixed);
    if (next != Level::Any && (next == Level::Mark) == mark) {
        if (rem >= -tol) {
            open();
        }
        return;
    }
    const bool can_close = std::abs(rem) <= tol;
    const bool can_go_on = next == Level::Any && rem >= t.half_unit / 2;
    if (can_go_on && rem >= t.half_unit) {
        open();
    }
    if (can_close) {
        if (Cursor *c = out.next()) {
            *c = in;
            c->elapsed = elapsed;
            c->err += std::abs(rem) / tol;
            c->runs += 1;
            c->measured += run + rem;
            c->expected += run;
            c->advance();
        }
    }
    if (can_go_on && rem < t.half_unit) {
        open();
    }
}

// Takes a lead-out: at least about half of `len` µs of space (senders pause longer or
// shorter between frames than their protocol says; the next frame speaks for itself), or
// the end of the input.
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
    if (c.rem < -(kLeadOutShare * len + t.of(c.run - len))) {
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
    std::array<Pending, 4> p{};
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

// Symbols a field tries at one place: the best fitting few.
constexpr std::size_t kMaxAlternatives = 3;

// Work one frame match may do before it gives up, so that no input makes a decode slow:
// matches of real and jittered frames take at most a few hundred steps, while a frame of
// another protocol whose durations each fit two ways (Sony's 600 µs runs read by RC6's
// 444 µs bi-phase) can make a search try every combination until the budget ends it.
constexpr int kStepBudget = 1000;

// How far the sum of a frame's durations may be from what the protocol says, in frames of
// at least kScaleRuns durations (in fewer, one long duration's jitter dominates the sum).
constexpr double kScaleTolerance = 0.2;
constexpr int kScaleRuns = 8;

// A depth-first match of one frame: each step takes one item's piece or one symbol of a
// field; where several symbols or duration ends fit, the best fitting is followed first
// and the others when what follows does not fit.
constexpr std::size_t kMaxItems = 24;

// What the search asks of a frame again and again, worked out once per frame of the table:
// the level each item starts with, and where each run of fields ends and how many bits it
// has.
struct FrameShape {
    std::array<Level, kMaxItems + 1> level{};
    std::array<uint8_t, kMaxItems> end{};
    std::array<uint8_t, kMaxItems> bits{};
    std::array<Level, 2> coding_level{};
    bool usable = false;
    // Durations from the frame's start to its lead-out, where every code has as many (its
    // codings have symbols of one length that start alike, and its lead-out is its first
    // long space); -1 otherwise.
    int durations = -1;
    bool shared = false;  // another row sends the same frame
    // What every code's first two durations are, where the frame fixes them: a mark of
    // `lead_mark` µs (0: not fixed), then a space of one of the `lead_spaces` lengths (none:
    // not fixed). A frame whose start misses them fails at its first or second piece.
    float lead_mark = 0;
    bool lead_open = false;  // the mark may go on (the data decides): only its minimum holds
    std::array<float, 16> lead_space{};
    uint8_t lead_spaces = 0;

    FrameShape() = default;
    FrameShape(const Row &row, std::span<const Item> items) {
        usable = items.size() <= kMaxItems && row.codings.size() <= coding_level.size();
        if (!usable) {
            return;
        }
        for (std::size_t i = 0; i <= items.size(); ++i) {
            level[i] = first_level(row, items, i);
        }
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (is_field(items[i].op)) {
                end[i] = uint8_t(run_end(items, i));
                for (std::size_t j = i; j < end[i]; ++j) {
                    bits[i] = uint8_t(bits[i] + items[j].width);
                }
            }
        }
        set_lead(row, items);
        bool uniform = true;
        for (std::size_t k = 0; k < row.codings.size(); ++k) {
            coding_level[k] = first_level(row.codings[k]);
            uniform = uniform && coding_level[k] != Level::Any;
            for (const Symbol &sym : row.codings[k].symbols) {
                uniform = uniform && sym.n == row.codings[k].symbols[0].n;
            }
        }
        if (uniform && !items.empty()) {
            Values ones;
            ones.fill(~uint64_t{0});
            const int zero_count = long_space_at(encode_frame(row, items, Values{}));
            const int ones_count = long_space_at(encode_frame(row, items, ones));
            durations = zero_count == ones_count ? zero_count : -1;
        }
    }

    // Whether the input at `c` can start this frame: false only where the frame's first
    // piece or the one after it cannot be taken there (take() would not close them).
    bool may_start(const Cursor &c, const Tolerance &t) const {
        if (lead_mark == 0 || c.pos % 2 != 0 || c.pos >= c.n) {
            return true;
        }
        const double rem = double(c.d[c.pos]) - double(lead_mark);
        const double tol = t.of(double(lead_mark));
        if (lead_open ? rem < -tol : std::abs(rem) > tol) {
            return false;
        }
        if (lead_spaces == 0 || c.pos + 1 >= c.n) {
            return true;
        }
        const double d = c.d[c.pos + 1];
        for (std::size_t k = 0; k < lead_spaces; ++k) {
            if (std::abs(d - double(lead_space[k])) <= t.of(double(lead_space[k]))) {
                return true;
            }
        }
        return false;
    }

    // A leading mark that closes at once (a mark item before a space, or a field whose
    // symbols all start with the same mark before a space), and the spaces after it that
    // close before a mark.
    void set_lead(const Row &row, std::span<const Item> items) {
        if (items.empty()) {
            return;
        }
        const Item &first = items[0];
        if (first.op == Op::Mark) {
            if (level[1] == Level::Mark) {
                return;
            }
            lead_mark = first.us;
            lead_open = level[1] == Level::Any;
            if (!lead_open && items.size() > 2 && items[1].op == Op::Space &&
                items[1].us < kLongSpaceUs && level[2] == Level::Mark) {
                lead_space[lead_spaces++] = items[1].us;
            }
            return;
        }
        if (!is_field(first.op)) {
            return;
        }
        const Coding &coding = row.codings[first.coding];
        if (coding.imon_checks != 0 || coding.symbols.empty() ||
            bits[0] < bits_per_symbol(coding)) {
            return;
        }
        const float m = coding.symbols[0].us[0];
        for (const Symbol &sym : coding.symbols) {
            if (sym.n < 2 || sym.us[0] != m || sym.us[1] >= 0) {
                return;
            }
        }
        if (m <= 0) {
            return;
        }
        lead_mark = m;
        // The space closes where a mark follows it: the symbol's own, or the next symbol's
        // (the field has more than one symbol, each starting with a mark).
        const bool more = bits[0] >= 2 * bits_per_symbol(coding);
        for (const Symbol &sym : coding.symbols) {
            const bool closes = sym.n > 2 ? sym.us[2] > 0 : more;
            if (!closes || lead_spaces == lead_space.size()) {
                lead_spaces = 0;
                return;
            }
            lead_space[lead_spaces++] = -sym.us[1];
        }
    }

    // Durations up to and with the first long space, when that space is the lead-out.
    static int long_space_at(const std::vector<Burst> &bursts) {
        for (std::size_t i = 0; i < bursts.size(); ++i) {
            if (bursts[i].off_us >= kLongSpaceUs) {
                return i + 1 == bursts.size() ? int(2 * i + 2) : -1;
            }
        }
        return -1;
    }
};

// The shapes of every row's intro (even index) and repeat frame (odd index).
const FrameShape &shape_of(const Row &row, bool repeat) {
    static const auto shapes = [] {
        std::array<FrameShape, 2 * std::size_t(Id::Count)> all{};
        for (const Row &r : rows()) {
            all[2 * std::size_t(r.id)] = FrameShape(r, r.intro);
            all[2 * std::size_t(r.id) + 1] = FrameShape(r, r.repeat);
        }
        for (const Row &r : rows()) {
            for (const Row &o : rows()) {
                const auto same = [&](std::span<const Item> a, std::span<const Item> b) {
                    return !a.empty() && a.data() == b.data() && r.rel_tol == o.rel_tol &&
                           r.abs_tol_us == o.abs_tol_us;
                };
                if (&r != &o) {
                    all[2 * std::size_t(r.id)].shared |=
                        same(r.intro, o.intro) || same(r.intro, o.repeat);
                    all[2 * std::size_t(r.id) + 1].shared |=
                        same(r.repeat, o.intro) || same(r.repeat, o.repeat);
                }
            }
        }
        return all;
    }();
    return shapes[2 * std::size_t(row.id) + (repeat ? 1 : 0)];
}

class FrameMatcher {
  public:
    FrameMatcher(const Row &row, std::span<const Item> items, const FrameShape &shape,
                 const Tolerance &t)
        : row_(row), items_(items), shape_(shape), t_(t) {}

    bool match(Cursor &c, State &st) {
        if (!shape_.usable) {
            return false;
        }
        c.elapsed = 0;
        c.measured = 0;
        c.expected = 0;
        c.frame_start = c.pos;
        runs_at_start_ = c.runs;
        budget_ = kStepBudget;
        Path path{BitStream{}, st, Checks{}};
        if (!walk(0, 0, c, path)) {
            return false;
        }
        c = end_cursor_;
        st = end_state_;
        return true;
    }

  private:
    // What a path through the frame has read so far. Steps change it in place; a step with
    // several ways on saves it before the first and restores it before each other.
    struct Path {
        BitStream bits;
        State st;
        Checks checks;
    };

    bool walk(std::size_t i, std::size_t chunk, const Cursor &c, Path &path) {
        if (--budget_ < 0) {
            return false;
        }
        if (i == items_.size()) {
            return finish(c, path);
        }
        const Item &item = items_[i];
        switch (item.op) {
            case Op::Mark:
            case Op::Space: {
                if (item.op == Op::Space && (item.us >= kLongSpaceUs || i + 1 == items_.size())) {
                    Cursor next = c;
                    return take_lead_out(next, t_, item.us) && walk(i + 1, 0, next, path);
                }
                Outcomes out;
                take(c, t_, item.op == Op::Mark, item.us, shape_.level[i + 1], false, out);
                if (out.n == 1) {
                    return walk(i + 1, 0, out.c[0], path);
                }
                const Path saved = path;
                for (std::size_t k = 0; k < out.n; ++k) {
                    if (k > 0) {
                        path = saved;
                    }
                    if (walk(i + 1, 0, out.c[k], path)) {
                        return true;
                    }
                }
                return false;
            }
            case Op::Extent: {
                Cursor next = c;
                return take_lead_out(next, t_,
                                     std::max(double(item.us) - c.elapsed, row_.unit_us)) &&
                       walk(i + 1, 0, next, path);
            }
            default:
                return walk_field(i, chunk, c, path);
        }
    }

    bool finish(const Cursor &c, const Path &path) {
        // Each duration may be off by its tolerance, but not all of them the same way: a
        // clock that runs 20 % fast is another protocol's timing, not jitter.
        if (c.runs - runs_at_start_ >= kScaleRuns &&
            std::abs(c.measured - c.expected) > kScaleTolerance * c.expected) {
            return false;
        }
        for (std::size_t k = 0; k < path.checks.n; ++k) {
            const Item &item = *path.checks.p[k].item;
            if ((item.check(path.st.value) & mask_of(item.width)) != path.checks.p[k].value) {
                return false;
            }
        }
        end_cursor_ = c;
        end_state_ = path.st;
        return true;
    }

    bool walk_field(std::size_t i, std::size_t chunk, const Cursor &c, Path &path) {
        const std::size_t end = shape_.end[i];
        const std::size_t nbits = shape_.bits[i];
        const Coding &coding = row_.codings[items_[i].coding];
        const unsigned k = bits_per_symbol(coding);
        const std::size_t chunks = nbits / k;
        if (nbits > BitStream::kMax) {
            return false;
        }
        if (chunk == chunks) {
            path.bits = BitStream{};
            return walk(end, 0, c, path);
        }
        Alternatives alts;
        find_alternatives(i, chunk, c, path, alts);
        if (alts.n == 0) {
            return false;
        }
        const std::size_t before = path.bits.n;
        if (alts.n == 1) {
            return follow(i, chunk, end, before, k, alts.a[0].value, alts.a[0].c, path);
        }
        const Path saved = path;
        for (std::size_t a = 0; a < alts.n; ++a) {
            if (a > 0) {
                path = saved;
            }
            if (follow(i, chunk, end, before, k, alts.a[a].value, alts.a[a].c, path)) {
                return true;
            }
        }
        return false;
    }

    // The symbols that fit here, the best few, best first.
    struct Alternative {
        unsigned value;
        Cursor c;
    };
    struct Alternatives {
        std::array<Alternative, kMaxAlternatives> a;  // uninitialised: only the first n are set
        std::size_t n = 0;
    };

    // Kept apart from walk_field so that the recursion's stack frames stay small.
    [[gnu::noinline]] void find_alternatives(std::size_t i, std::size_t chunk, const Cursor &c,
                                             const Path &path, Alternatives &out) const {
        const std::size_t end = shape_.end[i];
        const std::size_t nbits = shape_.bits[i];
        const Coding &coding = row_.codings[items_[i].coding];
        const unsigned k = bits_per_symbol(coding);
        const std::size_t chunks = nbits / k;
        auto &alts = out.a;
        std::size_t &nalts = out.n;
        auto keep = [&](unsigned value, const Cursor &x) {
            std::size_t at = nalts;
            while (at > 0 && x.err < alts[at - 1].c.err) {
                --at;
            }
            if (at == kMaxAlternatives) {
                return;
            }
            for (std::size_t m = std::min(nalts, kMaxAlternatives - 1); m > at; --m) {
                alts[m] = alts[m - 1];
            }
            alts[at] = {value, x};
            nalts = std::min(nalts + 1, kMaxAlternatives);
        };
        const Level after =
            chunk + 1 == chunks ? shape_.level[end] : shape_.coding_level[items_[i].coding];
        const unsigned index = unsigned(nbits - 1 - chunk * k);  // iMON: bit number as sent
        const bool prev = path.bits.n > 0 && path.bits.at(path.bits.n - 1);
        // Symbols that start alike (a pulse-distance coding's common mark) take their first
        // piece once.
        Outcomes first;
        float first_us = 0;
        Level first_next = Level::Any;
        for (unsigned v = 0; v < (1u << k); ++v) {
            const Pieces p = pieces_of(coding, v, index, prev);
            const Level next0 = p.n > 1 ? level_of(p.us[1]) : after;
            if (v == 0 || p.us[0] != first_us || next0 != first_next) {
                first.n = 0;
                take(c, t_, p.us[0] > 0, std::abs(p.us[0]), next0, true, first);
                first_us = p.us[0];
                first_next = next0;
            }
            // The ways so far (the first piece's, then alternately buf's), and the ways
            // after the next piece.
            std::array<Outcomes, 2> buf;
            const Outcomes *ways = &first;
            for (uint8_t j = 1; j < p.n && ways->n > 0; ++j) {
                const Level next = j + 1 < p.n ? level_of(p.us[j + 1]) : after;
                Outcomes &later = buf[j % 2];
                later.n = 0;
                for (std::size_t q = 0; q < ways->n; ++q) {
                    take(ways->c[q], t_, p.us[j] > 0, std::abs(p.us[j]), next, true, later);
                }
                ways = &later;
            }
            for (std::size_t q = 0; q < ways->n; ++q) {
                keep(v, ways->c[q]);
            }
        }
    }

    // Goes on with symbol `value` (k bits) read at the field run [i, end).
    bool follow(std::size_t i, std::size_t chunk, std::size_t end, std::size_t before, unsigned k,
                unsigned value, const Cursor &c, Path &path) {
        for (unsigned j = 0; j < k; ++j) {
            path.bits.push(((value >> (k - 1 - j)) & 1) != 0);
        }
        // Fields complete with this symbol are checked now, so that a wrong constant or
        // complement ends this path at once.
        return assign_complete(i, end, before, path) && walk(i, chunk + 1, c, path);
    }

    // Assigns the fields of the run [i, end) whose last bit lies in (before, bits.n].
    bool assign_complete(std::size_t i, std::size_t end, std::size_t before, Path &path) const {
        std::size_t at = 0;
        for (std::size_t j = i; j < end; ++j) {
            const std::size_t last = at + items_[j].width;
            if (last > before && last <= path.bits.n &&
                !assign(items_[j], path.bits.read(row_, items_[j], at), path.st, path.checks)) {
                return false;
            }
            at = last;
        }
        return true;
    }

    const Row &row_;
    std::span<const Item> items_;
    const FrameShape &shape_;
    Tolerance t_;
    int budget_ = 0;
    int runs_at_start_ = 0;
    Cursor end_cursor_{};
    State end_state_;
};

// Where the input's first long space at or after `pos` is; n when none.
std::size_t long_space_from(const Cursor &c) {
    std::size_t i = c.pos + 1;
    while (i < c.n && c.d[i] < kLongSpaceUs) {
        i += 2;
    }
    return std::min(i, std::size_t(c.n));
}

// The input's first long space at or after a place, remembered for the last place asked
// (every row tries the same starts in turn).
class Gaps {
  public:
    std::size_t from(const Cursor &c) {
        if (c.pos != pos_ || c.d != d_) {
            pos_ = c.pos;
            d_ = c.d;
            gap_ = long_space_from(c);
        }
        return gap_;
    }

  private:
    const uint32_t *d_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t gap_ = 0;
};

bool match_frame_once(const Row &row, std::span<const Item> items, const FrameShape &shape,
                      const Tolerance &t, Cursor &c, State &st, Gaps &gaps) {
    if (shape.durations > 0) {
        // A frame of fixed length must end where the input's frame ends (or the input).
        const std::size_t gap = gaps.from(c);
        const std::size_t have = gap < c.n ? gap - c.pos + 1 : std::size_t(c.n) - c.pos;
        if (gap < c.n ? have != std::size_t(shape.durations)
                      : have > std::size_t(shape.durations)) {
            return false;
        }
    }
    return FrameMatcher(row, items, shape, t).match(c, st);
}

// Frames already matched in one decode: rows that share a frame (NEC1, NEC2 and Pioneer
// send the same one) match it once.
class FrameMemo {
  public:
    struct Key {
        const Item *items;
        float rel;
        float abs;
        std::size_t pos;
        State in;
    };
    // The result of an earlier match of the same frame at the same place; null when none.
    const std::optional<std::pair<Cursor, State>> *find(const Key &k) const {
        for (std::size_t i = 0; i < n_; ++i) {
            const Entry &e = *entries_[i];
            if (e.key.items == k.items && e.key.rel == k.rel && e.key.abs == k.abs &&
                e.key.pos == k.pos && e.key.in.value == k.in.value &&
                e.key.in.known == k.in.known) {
                return &e.result;
            }
        }
        return nullptr;
    }
    void add(const Key &k, const std::optional<std::pair<Cursor, State>> &result) {
        if (n_ < entries_.size()) {
            entries_[n_++].emplace(Entry{k, result});
        }
    }

  private:
    struct Entry {
        Key key;
        std::optional<std::pair<Cursor, State>> result;  // err and runs relative to the start
    };
    std::array<std::optional<Entry>, 16> entries_;  // empty ones cost no initialisation
    std::size_t n_ = 0;

  public:
    Gaps gaps;
};

bool match_frame(const Row &row, bool repeat, const Tolerance &t, Cursor &c, State &st,
                 FrameMemo &memo) {
    const std::span<const Item> items = repeat ? row.repeat : row.intro;
    const FrameShape &shape = shape_of(row, repeat);
    if (!shape.may_start(c, t)) {
        return false;
    }
    if (!shape.shared) {
        return match_frame_once(row, items, shape, t, c, st, memo.gaps);
    }
    const FrameMemo::Key key{items.data(), row.rel_tol, row.abs_tol_us, c.pos, st};
    if (const auto *known = memo.find(key)) {
        if (!known->has_value()) {
            return false;
        }
        const double err = c.err;
        const int runs = c.runs;
        c = (*known)->first;
        c.err += err;
        c.runs += runs;
        st = (*known)->second;
        return true;
    }
    Cursor start = c;
    start.err = 0;
    start.runs = 0;
    State end_state = st;
    if (!match_frame_once(row, items, shape, t, start, end_state, memo.gaps)) {
        memo.add(key, std::nullopt);
        return false;
    }
    memo.add(key, std::pair{start, end_state});
    const double err = c.err;
    const int runs = c.runs;
    c = start;
    c.err += err;
    c.runs += runs;
    st = end_state;
    return true;
}

struct Match {
    State state;
    int frames = 0;
    bool complete = false;
    double err = 0;  // mean deviation of a duration, in tolerances
};

constexpr int kMaxFrames = 1000;
constexpr std::size_t kMaxStarts = 4;

// Where frames may start: the input's start and the marks after its first frame gaps.
struct Starts {
    std::array<std::size_t, kMaxStarts> at{};
    std::size_t n = 0;
};

Starts starts_of(std::span<const uint32_t> d) {
    Starts s;
    for (std::size_t i = 0; i < d.size() && s.n < s.at.size(); i += 2) {
        if (i == 0 || d[i - 1] >= kFrameGapUs) {
            s.at[s.n++] = i;
        }
    }
    return s;
}

// iMON's coding is left out: its row's own tolerance already counts its units.
// Worked out once per row.
const Tolerance &tolerance_of(const Row &row) {
    static const auto tolerances = [] {
        std::array<Tolerance, std::size_t(Id::Count)> all{};
        for (const Row &r : rows()) {
            Tolerance &t = all[std::size_t(r.id)];
            t = {r.rel_tol, r.abs_tol_us, r.unit_us / 2};
            for (const Coding &coding : r.codings) {
                if (coding.imon_checks == 0 && first_level(coding) == Level::Any) {
                    t.counted = kCountedShare * r.unit_us;
                }
            }
        }
        return all;
    }();
    return tolerances[std::size_t(row.id)];
}

std::optional<Match> match_row(const Row &row, std::span<const uint32_t> d, const Starts &starts,
                               FrameMemo &memo) {
    const Tolerance &t = tolerance_of(row);
    const bool ditto = row.repeats == Repeat::Ditto;
    for (std::size_t k = 0; k < starts.n; ++k) {
        const std::size_t start = starts.at[k];
        Cursor c = Cursor::at(d, start);
        if (!shape_of(row, false).may_start(c, t)) {
            continue;
        }
        State st;
        if (!match_frame(row, false, t, c, st, memo)) {
            continue;
        }
        int frames = 1;
        while (!c.at_end() && frames < kMaxFrames) {
            Cursor next = c;
            State s = st;
            if (!match_frame(row, ditto, t, next, s, memo) || next.pos == c.pos) {
                break;
            }
            c = next;
            st = s;
            ++frames;
        }
        fill_fallbacks(row, st);  // what the frames do not carry (a variant's fixed values)
        return Match{st, frames, start == 0 && c.at_end(), c.runs > 0 ? c.err / c.runs : 0};
    }
    return std::nullopt;
}

}  // namespace

// Fits within this many tolerances of each other count as equally good.
constexpr double kFitStep = 0.1;

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
    FrameMemo memo;
    const Starts starts = starts_of(d);
    for (const Row &row : rows()) {
        if (auto m = match_row(row, d, starts, memo)) {
            found.push_back({&row, *m});
        }
    }
    // Complete decodes first; then table order, except that rows differing only in their
    // carrier are ordered by how near theirs is to the measured one.
    static const auto groups = [] {
        std::array<std::size_t, std::size_t(Id::Count)> g{};
        for (const Row &r : rows()) {
            g[std::size_t(r.id)] = std::size_t(r.id);
            for (const Row &other : rows()) {
                if (r.twin != 0 && other.twin == r.twin) {
                    g[std::size_t(r.id)] = std::size_t(other.id);
                    break;
                }
            }
        }
        return g;
    }();
    auto group = [](const Row *r) { return groups[std::size_t(r->id)]; };
    std::stable_sort(found.begin(), found.end(), [&](const Found &a, const Found &b) {
        if (a.m.complete != b.m.complete) {
            return a.m.complete;
        }
        // A clearly better fit first: the timing of one protocol, not the next best.
        const int fa = int(a.m.err / kFitStep), fb = int(b.m.err / kFitStep);
        if (fa != fb) {
            return fa < fb;
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
