// SPDX-License-Identifier: MIT
// Writing lircd.conf: a remote whose keys decode to one protocol gets the parameters of a
// parametric remote (found from its timings, then checked by sending every key through
// them); any other remote, and one those parameters do not reproduce, is written raw.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>

#include "formats.h"
#include "lircd.h"
#include "text.h"

namespace ir::files::lircd {
namespace {

using Durations = std::vector<uint32_t>;

// A key's signal split into what lircd sends: the first frame, min_repeat repeats of the
// repeat frame, then the repeat frame while held. Frames end on a pulse; gaps apart.
struct Split {
    Durations first, again;
    uint32_t first_gap = 0, again_gap = 0;
    int min_repeat = 0;
};

Durations flat(std::span<const Burst> bursts) {
    Durations d;
    for (const Burst &b : bursts) {
        d.push_back(b.on_us);
        d.push_back(b.off_us);
    }
    return d;
}

std::optional<Split> split(const Signal &s) {
    if (s.repeat.empty()) {
        return std::nullopt;  // lircd always repeats something while a key is held
    }
    Split out;
    Durations again = flat(s.repeat);
    out.again_gap = again.back();
    again.pop_back();
    out.again = again;
    std::size_t end = s.once.size();
    const std::size_t n = s.repeat.size();
    while (end >= n && std::equal(s.once.begin() + long(end - n), s.once.begin() + long(end),
                                  s.repeat.begin())) {
        end -= n;
        ++out.min_repeat;
    }
    if (end == 0) {
        out.first = out.again;
        out.first_gap = out.again_gap;
        return out;
    }
    Durations first = flat(std::span(s.once).first(end));
    out.first_gap = first.back();
    first.pop_back();
    out.first = std::move(first);
    return out;
}

uint64_t bits_value(const std::vector<bool> &bits, std::size_t from, std::size_t count) {
    uint64_t v = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        v = (v << 1) | (bits[i] ? 1 : 0);
    }
    return v;
}

uint32_t sum(const Durations &d) {
    return std::accumulate(d.begin(), d.end(), uint32_t{0});
}

// The timing part of a remote and the bits of each key's first frame.
struct Shape {
    Remote remote;
    std::vector<std::vector<bool>> bits;  // per key, transmission order
};

// Pulse-distance or pulse-width frames: [header] bits [ptrail].
std::optional<Shape> space_encoded(const std::vector<Split> &keys) {
    for (const bool header : {true, false}) {
        for (const bool trail : {true, false}) {
            Shape shape;
            Remote &r = shape.remote;
            r.flags = kSpaceEnc;
            std::vector<std::pair<uint32_t, uint32_t>> classes;
            bool fits = true;
            std::size_t n_bits = 0;
            for (const Split &k : keys) {
                const Durations &d = k.first;
                std::size_t i = 0;
                if (header) {
                    if (d.size() < 3) {
                        fits = false;
                        break;
                    }
                    if (&k == &keys.front()) {
                        r.phead = d[0];
                        r.shead = d[1];
                    } else if (r.phead != d[0] || r.shead != d[1]) {
                        fits = false;
                        break;
                    }
                    i = 2;
                }
                const std::size_t end = trail ? d.size() - 1 : d.size() + 1;
                if (trail) {
                    if (&k == &keys.front()) {
                        r.ptrail = d.back();
                    } else if (r.ptrail != d.back()) {
                        fits = false;
                        break;
                    }
                }
                std::vector<bool> bits;
                for (; i + 1 < end; i += 2) {
                    // Without a trailing pulse the last bit's space is the gap: only its
                    // pulse tells the bit.
                    const bool last_open = !trail && i + 1 >= d.size();
                    const std::pair<uint32_t, uint32_t> p{d[i], last_open ? 0 : d[i + 1]};
                    auto it = std::find_if(classes.begin(), classes.end(), [&](const auto &c) {
                        return c.first == p.first && (last_open || c.second == p.second);
                    });
                    if (it == classes.end()) {
                        if (last_open || classes.size() == 2) {
                            fits = false;
                            break;
                        }
                        classes.push_back(p);
                        it = classes.end() - 1;
                    }
                    bits.push_back(it != classes.begin());
                }
                if (!fits || bits.empty() || bits.size() > 64 ||
                    (n_bits != 0 && bits.size() != n_bits)) {
                    fits = false;
                    break;
                }
                n_bits = bits.size();
                shape.bits.push_back(std::move(bits));
            }
            if (!fits || classes.empty()) {
                continue;
            }
            if (classes.size() == 1) {
                classes.push_back(classes.front());  // every bit alike: one class is unused
            }
            if (!trail && classes[0].first == classes[1].first) {
                continue;
            }
            // The longer pair is the one, as irrecord writes them.
            const bool swap =
                classes[0].first + classes[0].second > classes[1].first + classes[1].second;
            if (swap) {
                std::swap(classes[0], classes[1]);
                for (auto &bits : shape.bits) {
                    bits.flip();
                }
            }
            r.pzero = classes[0].first;
            r.szero = classes[0].second;
            r.pone = classes[1].first;
            r.sone = classes[1].second;
            r.bits = int(n_bits);
            return shape;
        }
    }
    return std::nullopt;
}

// Bi-phase frames in lircd's convention (a one is space then pulse, a zero pulse then space,
// a bit under rc6_mask twice as long), after an optional header; the first half bit, a
// pulse, is written as plead for RC5 as irrecord does.
std::optional<Shape> biphase(const std::vector<Split> &keys, bool rc6) {
    Shape shape;
    Remote &r = shape.remote;
    r.flags = rc6 ? kRc6 : kRc5;
    uint32_t unit = UINT32_MAX;
    for (const Split &k : keys) {
        for (std::size_t i = rc6 ? 2 : 0; i < k.first.size(); ++i) {
            unit = std::min(unit, k.first[i]);
        }
    }
    if (unit == 0 || unit == UINT32_MAX) {
        return std::nullopt;
    }
    r.pone = r.sone = r.pzero = r.szero = unit;
    std::size_t n_bits = 0;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const Durations &d = keys[k].first;
        std::size_t i = 0;
        if (rc6) {
            if (d.size() < 3 || (k > 0 && (d[0] != r.phead || d[1] != r.shead))) {
                return std::nullopt;
            }
            r.phead = d[0];
            r.shead = d[1];
            i = 2;
        }
        std::vector<bool> halves;  // true: pulse
        for (; i < d.size(); ++i) {
            if (d[i] % unit != 0 || d[i] / unit > 4) {
                return std::nullopt;
            }
            halves.insert(halves.end(), d[i] / unit, (i % 2) == 0);
        }
        std::size_t h = 0;
        if (!rc6) {
            r.plead = unit;  // the start bit's pulse half
            h = 1;
        }
        std::vector<bool> bits;
        const std::size_t rc6_bit = 4;  // RC6's trailer bit, after start and mode bits
        while (h < halves.size()) {
            const std::size_t len = rc6 && bits.size() == rc6_bit ? 2 : 1;
            const bool first = halves[h];
            if (h + len > halves.size()) {
                return std::nullopt;
            }
            for (std::size_t j = 0; j < len; ++j) {
                if (halves[h + j] != first) {
                    return std::nullopt;
                }
            }
            // The second half: present, or (a space) lost in the gap.
            for (std::size_t j = 0; j < len; ++j) {
                const std::size_t at = h + len + j;
                if (at < halves.size() ? halves[at] == first : !first) {
                    return std::nullopt;
                }
            }
            bits.push_back(!first);
            h += 2 * len;
        }
        if (bits.empty() || bits.size() > 64 || (n_bits != 0 && bits.size() != n_bits)) {
            return std::nullopt;
        }
        n_bits = bits.size();
        shape.bits.push_back(std::move(bits));
    }
    r.bits = int(n_bits);
    if (rc6) {
        if (n_bits <= 4) {
            return std::nullopt;
        }
        r.rc6_mask = uint64_t{1} << (n_bits - 1 - 4);
    }
    return shape;
}

// Repeats, gaps and the split of the bits into pre_data, code and post_data.
bool complete(Shape &shape, const std::vector<Split> &keys) {
    Remote &r = shape.remote;
    const Split &k0 = keys.front();
    const int min_repeat = k0.min_repeat;
    bool same_frame = true, headless = true, repeat_code = true;
    Durations repeat_frame;
    for (const Split &k : keys) {
        if (k.min_repeat != min_repeat) {
            return false;
        }
        same_frame = same_frame && k.again == k.first;
        const bool has_header = r.phead > 0 && r.shead > 0 && k.first.size() > 2;
        headless = headless && has_header && k.again.size() + 2 == k.first.size() &&
                   std::equal(k.again.begin(), k.again.end(), k.first.begin() + 2);
        repeat_code = repeat_code && (repeat_frame.empty() || k.again == repeat_frame);
        repeat_frame = k.again;
    }
    if (!same_frame && headless) {
        r.flags |= kNoHeadRep;
    } else if (!same_frame && repeat_code) {
        // lircd's repeat frame: [header] pulse space [ptrail].
        const Durations &rf = repeat_frame;
        std::size_t i = 0;
        if (rf.size() >= 4 && r.phead > 0 && rf[0] == r.phead && rf[1] == r.shead) {
            r.flags |= kRepeatHeader;
            i = 2;
        }
        const std::size_t tail = r.ptrail > 0 ? 1 : 0;
        if (rf.size() != i + 2 + tail || (tail == 1 && rf.back() != r.ptrail) || r.plead != 0) {
            return false;
        }
        r.prepeat = rf[i];
        r.srepeat = rf[i + 1];
    } else if (!same_frame) {
        return false;
    }
    // Gaps: a constant frame period, or one gap after every frame (repeat frames may have
    // their own).
    const uint32_t head = r.phead + r.shead;
    bool constant = true, plain = true, own_repeat_gap = r.prepeat > 0;
    const uint32_t period =
        (r.flags & kNoHeadRep) ? sum(k0.again) + k0.again_gap : sum(k0.first) + k0.first_gap;
    for (const Split &k : keys) {
        const uint32_t first_len = sum(k.first) - ((r.flags & kNoHeadRep) ? head : 0);
        constant =
            constant && first_len + k.first_gap == period && sum(k.again) + k.again_gap == period;
        plain = plain && k.first_gap == k0.first_gap && k.again_gap == k0.first_gap;
        own_repeat_gap =
            own_repeat_gap && k.first_gap == k0.first_gap && k.again_gap == k0.again_gap;
    }
    if (constant) {
        r.flags |= kConstLength;
        r.gap = period;
    } else if (plain) {
        r.gap = k0.first_gap;
    } else if (own_repeat_gap) {
        r.gap = k0.first_gap;
        r.repeat_gap = k0.again_gap;
    } else {
        return false;
    }
    r.min_repeat = min_repeat;
    // pre_data and post_data: the bits every key shares, in whole bytes, at most half.
    const std::size_t n = std::size_t(r.bits);
    std::size_t prefix = n, suffix = n;
    for (const auto &b : shape.bits) {
        std::size_t p = 0, s = 0;
        while (p < prefix && b[p] == shape.bits.front()[p]) {
            ++p;
        }
        while (s < suffix && b[n - 1 - s] == shape.bits.front()[n - 1 - s]) {
            ++s;
        }
        prefix = p;
        suffix = s;
    }
    const std::size_t pre = n > 8 ? std::min(prefix, n / 2) / 8 * 8 : 0;
    const std::size_t post = n - pre > 8 ? std::min(suffix, (n - pre) / 2) / 8 * 8 : 0;
    r.pre_data_bits = int(pre);
    r.post_data_bits = int(post);
    r.bits = int(n - pre - post);
    r.pre_data = bits_value(shape.bits.front(), 0, pre);
    r.post_data = bits_value(shape.bits.front(), n - post, post);
    return true;
}

bool same_signal(const Signal &a, const Signal &b) {
    auto close = [](const std::vector<Burst> &x, const std::vector<Burst> &y) {
        return x.size() == y.size() &&
               std::equal(x.begin(), x.end(), y.begin(), [](const Burst &p, const Burst &q) {
                   return std::max(p.on_us, q.on_us) - std::min(p.on_us, q.on_us) <= 1 &&
                          std::max(p.off_us, q.off_us) - std::min(p.off_us, q.off_us) <= 1;
               });
    };
    return close(a.once, b.once) && close(a.repeat, b.repeat);
}

// The toggle bits: where the frame changes when only the toggle parameter does.
uint64_t toggle_mask_of(const Remote &r, const Key &key, bool rc6) {
    if (!key.decode || !key.decode->toggle) {
        return 0;
    }
    std::vector<protocols::Param> params = key.decode->params;
    for (const protocols::ParamInfo &info : key.decode->protocol->params) {
        for (protocols::Param &p : params) {
            if (info.toggle && p.name == info.name) {
                p.value ^= 1;
            }
        }
    }
    const protocols::EncodeResult flipped = protocols::encode(*key.decode->protocol, params);
    const std::optional<Split> a = split(key.signal),
                               b = flipped.ok() ? split(flipped.signal) : std::nullopt;
    if (!a || !b) {
        return 0;
    }
    const std::optional<Shape> sa =
        rc6 || (r.flags & kRc5) ? biphase({*a}, rc6) : space_encoded({*a});
    const std::optional<Shape> sb =
        rc6 || (r.flags & kRc5) ? biphase({*b}, rc6) : space_encoded({*b});
    if (!sa || !sb || sa->bits.front().size() != sb->bits.front().size()) {
        return 0;
    }
    uint64_t mask = 0;
    const std::size_t n = sa->bits.front().size();
    for (std::size_t i = 0; i < n; ++i) {
        if (sa->bits.front()[i] != sb->bits.front()[i]) {
            mask |= uint64_t{1} << (n - 1 - i);
        }
    }
    return mask;
}

// The parametric form of a remote, when one reproduces every key.
std::optional<Remote> parametric(const ir::files::Remote &remote) {
    if (remote.protocol == nullptr) {
        return std::nullopt;
    }
    std::vector<Split> splits;
    std::vector<const Key *> keys;
    for (const Key &k : remote.keys) {
        if (!k.has_signal()) {
            continue;
        }
        std::optional<Split> s = split(k.signal);
        if (!s) {
            return std::nullopt;
        }
        splits.push_back(std::move(*s));
        keys.push_back(&k);
    }
    if (keys.empty()) {
        return std::nullopt;
    }
    const std::string_view name = remote.protocol->name;
    const bool rc5 = name.substr(0, 3) == "RC5" || name == "StreamZap";
    const bool rc6 = name.substr(0, 3) == "RC6" || name == "MCE";
    std::optional<Shape> shape = rc5 || rc6 ? biphase(splits, rc6) : space_encoded(splits);
    if (!shape || !complete(*shape, splits)) {
        return std::nullopt;
    }
    Remote &r = shape->remote;
    r.name = remote.name;
    r.toggle_bit_mask = toggle_mask_of(r, *keys.front(), rc6);
    const Signal &s0 = keys.front()->signal;
    r.frequency = uint32_t(std::lround(s0.carrier_hz));
    r.duty_cycle = s0.duty_cycle.value_or(0);
    r.eps = 30;
    r.aeps = 100;
    r.has_codes = true;
    const int low = r.post_data_bits;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const uint64_t all = bits_value(shape->bits[i], 0, shape->bits[i].size());
        const uint64_t code = (low >= 64 ? 0 : all >> low) &
                              (r.bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << r.bits) - 1);
        r.codes.push_back({keys[i]->name, {code}, {}, 0});
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const Signal &want = keys[i]->signal;
        if (want.carrier_hz != s0.carrier_hz || want.duty_cycle != s0.duty_cycle) {
            return std::nullopt;
        }
        const Key got = key_of(r, r.codes[i]);
        if (!same_signal(got.signal, want)) {
            return std::nullopt;
        }
    }
    return std::move(r);
}

std::string lircd_name(std::string_view name, std::string_view what,
                       std::vector<std::string> &warnings) {
    std::string out;
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        out += u <= 0x20 || u == 0x7F ? '_' : c;
    }
    if (out.empty()) {
        out = "unnamed";
    }
    if (out != name) {
        warnings.push_back(std::string(what) + " " + detail::shown(name) + " is written as " + out +
                           " (lircd names have no blanks)");
    }
    return out;
}

void line(std::string &out, std::string_view key, const std::string &value) {
    out += "  ";
    out += key;
    out.append(key.size() < 16 ? 16 - key.size() : 1, ' ');
    out += value + "\n";
}

std::string hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(v));
    return buf;
}

std::string pair(uint32_t a, uint32_t b) {
    return std::to_string(a) + " " + std::to_string(b);
}

void write_parametric(const Remote &r, std::string &out, std::vector<std::string> &warnings) {
    out += "begin remote\n";
    line(out, "name", lircd_name(r.name, "remote", warnings));
    line(out, "bits", std::to_string(r.bits));
    line(out, "flags", flags_text(r.flags));
    line(out, "eps", std::to_string(r.eps));
    line(out, "aeps", std::to_string(r.aeps));
    if (r.phead > 0) {
        line(out, "header", pair(r.phead, r.shead));
    }
    line(out, "one", pair(r.pone, r.sone));
    line(out, "zero", pair(r.pzero, r.szero));
    if (r.plead > 0) {
        line(out, "plead", std::to_string(r.plead));
    }
    if (r.ptrail > 0) {
        line(out, "ptrail", std::to_string(r.ptrail));
    }
    if (r.prepeat > 0) {
        line(out, "repeat", pair(r.prepeat, r.srepeat));
    }
    if (r.pre_data_bits > 0) {
        line(out, "pre_data_bits", std::to_string(r.pre_data_bits));
        line(out, "pre_data", hex(r.pre_data));
    }
    if (r.post_data_bits > 0) {
        line(out, "post_data_bits", std::to_string(r.post_data_bits));
        line(out, "post_data", hex(r.post_data));
    }
    line(out, "gap", std::to_string(r.gap));
    if (r.repeat_gap > 0) {
        line(out, "repeat_gap", std::to_string(r.repeat_gap));
    }
    if (r.min_repeat > 0) {
        line(out, "min_repeat", std::to_string(r.min_repeat));
    }
    if (r.toggle_bit_mask != 0) {
        line(out, "toggle_bit_mask", hex(r.toggle_bit_mask));
    }
    if (r.rc6_mask != 0) {
        line(out, "rc6_mask", hex(r.rc6_mask));
    }
    line(out, "frequency", std::to_string(r.frequency));
    if (r.duty_cycle > 0) {
        line(out, "duty_cycle", std::to_string(r.duty_cycle));
    }
    out += "\n      begin codes\n";
    for (const Code &c : r.codes) {
        std::string name = lircd_name(c.name, "key", warnings);
        name.append(name.size() < 24 ? 24 - name.size() : 1, ' ');
        out += "          " + name + " " + hex(c.codes.front()) + "\n";
    }
    out += "      end codes\n\nend remote\n";
}

}  // namespace

std::string raw_key_text(const ir::files::Key &key, std::vector<std::string> &warnings) {
    Durations d = detail::sent_once(key.signal);
    d.pop_back();  // the gap is the remote's
    std::string out = "          name " + lircd_name(key.name, "key", warnings) + "\n";
    for (std::size_t i = 0; i < d.size(); i += 8) {
        out += "           ";
        for (std::size_t j = i; j < d.size() && j < i + 8; ++j) {
            char buf[16];
            std::snprintf(buf, sizeof buf, " %7u", d[j]);
            out += buf;
        }
        out += "\n";
    }
    return out;
}

void write(const ir::files::Remote &remote, bool allow_parametric, std::string &out,
           std::vector<std::string> &warnings) {
    if (allow_parametric) {
        if (const std::optional<Remote> r = parametric(remote)) {
            write_parametric(*r, out, warnings);
            return;
        }
    }
    std::vector<const Key *> keys;
    for (const Key &k : remote.keys) {
        if (k.has_signal()) {
            keys.push_back(&k);
        }
    }
    // One gap for the remote: one common gap, a constant total length (equal within 4 µs,
    // the durations' rounding to a microsecond: each key's gap moves by at most 2 µs), or
    // the longest gap.
    uint64_t shortest_total = ~uint64_t{0}, longest_total = 0;
    uint32_t gap = 0, longest = 0;
    bool common = true;
    for (const Key *k : keys) {
        const Durations d = detail::sent_once(k->signal);
        const uint64_t t = std::accumulate(d.begin(), d.end(), uint64_t{0});
        shortest_total = std::min(shortest_total, t);
        longest_total = std::max(longest_total, t);
        common = common && (k == keys.front() || d.back() == gap);
        gap = d.back();
        longest = std::max(longest, d.back());
    }
    const bool constant = !common && keys.size() > 1 && longest_total - shortest_total <= 4;
    const uint64_t total = (shortest_total + longest_total + 1) / 2;
    const Signal &s0 = keys.front()->signal;
    out += "begin remote\n";
    line(out, "name", lircd_name(remote.name, "remote", warnings));
    line(out, "flags", constant ? "RAW_CODES|CONST_LENGTH" : "RAW_CODES");
    line(out, "eps", "30");
    line(out, "aeps", "100");
    if (constant) {
        line(out, "gap", std::to_string(total));
    } else {
        line(out, "gap", std::to_string(common ? gap : longest));
        if (!common) {
            warnings.push_back(remote.name +
                               ": its keys end in different gaps; the remote's gap is "
                               "the longest, " +
                               std::to_string(longest) + " µs");
        }
    }
    line(out, "frequency", std::to_string(std::lround(s0.carrier_hz)));
    if (s0.duty_cycle) {
        line(out, "duty_cycle", std::to_string(*s0.duty_cycle));
    }
    for (const Key *k : keys) {
        if (k->signal.carrier_hz != s0.carrier_hz) {
            warnings.push_back(remote.name + "/" + k->name + ": sent at the remote's carrier, " +
                               std::to_string(std::lround(s0.carrier_hz)) + " Hz, not " +
                               std::to_string(std::lround(k->signal.carrier_hz)) + " Hz");
        }
    }
    out += "\n      begin raw_codes\n";
    for (const Key *k : keys) {
        out += raw_key_text(*k, warnings);
    }
    out += "      end raw_codes\n\nend remote\n";
}

}  // namespace ir::files::lircd

namespace ir::files::detail {

void write_lircd(const CodeFile &file, std::string &out, std::vector<std::string> &warnings) {
    bool first = true;
    for (const Remote &r : file.remotes) {
        if (std::none_of(r.keys.begin(), r.keys.end(),
                         [](const Key &k) { return k.has_signal(); })) {
            continue;
        }
        out += first ? "" : "\n";
        first = false;
        lircd::write(r, true, out, warnings);
    }
}

Insertion append_lircd(std::string_view text, std::string_view remote, const Key &key) {
    if (remote.empty()) {
        fail(0, "name the remote the key goes into");
    }
    for (std::string_view name : {remote, std::string_view(key.name)}) {
        if (name.find_first_of(" \t") != std::string_view::npos) {
            fail(0, "lircd names have no blanks: " + shown(name));
        }
    }
    std::vector<std::string> ignored;
    for (const lircd::Remote &r : lircd::parse(text).remotes) {
        if (r.name != remote) {
            continue;
        }
        if (!r.raw()) {
            fail(r.line, "remote " + r.name +
                             " is parametric: a learned key goes into a raw remote (name another "
                             "remote, or a new one)");
        }
        return {line_offset(text, r.codes_end_line), lircd::raw_key_text(key, ignored)};
    }
    std::string out = text.empty() ? "" : text.back() == '\n' ? "\n" : "\n\n";
    lircd::write({std::string(remote), nullptr, key.signal.carrier_hz, {key}}, false, out, ignored);
    return {text.size(), out};
}

}  // namespace ir::files::detail
