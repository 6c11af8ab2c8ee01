// SPDX-License-Identifier: MIT
// The timings lircd sends for a key of a lircd.conf remote.
#include <bit>
#include <cstdio>

#include "lircd.h"
#include "text.h"

namespace ir::files::lircd {
namespace {

// lircd's transmit buffer holds this many durations; a longer frame is not sent.
constexpr std::size_t kSendBufferSize = 256;

// Pulses and spaces as lircd collects them: consecutive ones of a level merge, a space
// before the first pulse is dropped, a trailing space stays pending (and is not sent).
class Buffer {
  public:
    void pulse(uint64_t d) {
        if (pulse_ > 0) {
            pulse_ += d;
            return;
        }
        if (space_ > 0) {
            add(space_);
            space_ = 0;
        }
        pulse_ = d;
    }
    void space(uint64_t d) {
        if (data.empty() && pulse_ == 0) {
            return;
        }
        if (space_ > 0) {
            space_ += d;
            return;
        }
        if (pulse_ > 0) {
            add(pulse_);
            pulse_ = 0;
        }
        space_ = d;
    }
    // The frame ends: the pending pulse is added, a pending space dropped, and a frame
    // ending on a space loses it (its time stays counted, as in lircd).
    void sync() {
        if (pulse_ > 0) {
            add(pulse_);
            pulse_ = 0;
        }
        if (!data.empty() && data.size() % 2 == 0) {
            data.pop_back();
        }
    }
    std::vector<uint32_t> data;
    int64_t sum = 0;
    bool too_long = false;

  private:
    void add(uint64_t d) {
        if (data.size() >= kSendBufferSize) {
            too_long = true;
            return;
        }
        data.push_back(uint32_t(d > 0xFFFFFFFF ? 0xFFFFFFFF : d));
        sum += int64_t(d);
    }
    uint64_t pulse_ = 0, space_ = 0;
};

class Sender {
  public:
    Sender(const Remote &r, uint64_t toggle_state, bool toggle_mask_odd)
        : r_(r), toggle_state_(toggle_state), toggle_mask_odd_(toggle_mask_odd) {}

    void header() {
        if (r_.phead > 0 && r_.shead > 0) {
            b.pulse(r_.phead);
            b.space(r_.shead);
        }
    }
    void foot() {
        if (r_.pfoot > 0 && r_.sfoot > 0) {
            b.space(r_.sfoot);
            b.pulse(r_.pfoot);
        }
    }
    void lead() {
        if (r_.plead != 0) {
            b.pulse(r_.plead);
        }
    }
    void trail() {
        if (r_.ptrail != 0) {
            b.pulse(r_.ptrail);
        }
    }

    void data(uint64_t value, int bits, int done) {
        value = reversed(value, bits);
        const uint32_t protocol = r_.protocol();
        if (protocol == kRcmm) {
            if (bits % 2 != 0 || done % 2 != 0) {
                return;  // lircd logs "invalid bit number" and sends nothing of this part
            }
            for (int i = 0; i < bits; i += 2, value >>= 2) {
                switch (value & 3) {  // two bits, swapped by the reversal
                    case 0:
                        b.pulse(r_.pzero);
                        b.space(r_.szero);
                        break;
                    case 2:
                        b.pulse(r_.pone);
                        b.space(r_.sone);
                        break;
                    case 1:
                        b.pulse(r_.ptwo);
                        b.space(r_.stwo);
                        break;
                    default:
                        b.pulse(r_.pthree);
                        b.space(r_.sthree);
                        break;
                }
            }
            return;
        }
        if (protocol == kXmp) {
            if (bits % 4 != 0 || done % 4 != 0) {
                return;
            }
            for (int i = 0; i < bits; i += 4, value >>= 4) {
                const uint64_t nibble = reversed(value & 0xF, 4);
                b.pulse(r_.pzero);
                b.space(r_.szero + nibble * r_.sone);
            }
            return;
        }
        const bool biphase = protocol == kRc5 || protocol == kRc6 || r_.rc6_mask != 0;
        const bool space_first = protocol == kSpaceFirst;
        const bool single_toggle = std::popcount(r_.toggle_bit_mask) == 1;
        const int shift = r_.all_bits() - 1 - done;
        uint64_t mask = shift >= 0 && shift < 64 ? uint64_t{1} << shift : 0;
        for (int i = 0; i < bits; ++i, mask >>= 1, value >>= 1) {
            if ((mask & r_.toggle_bit_mask) != 0) {
                if (single_toggle) {
                    value = (value & ~uint64_t{1}) | ((toggle_state_ & mask) != 0 ? 1 : 0);
                } else if ((toggle_state_ & mask) != 0) {
                    value ^= 1;
                }
            }
            if ((mask & r_.toggle_mask) != 0 && toggle_mask_odd_) {
                value ^= 1;
            }
            const bool double_bit = (mask & r_.rc6_mask) != 0;
            if ((value & 1) != 0) {
                if (biphase) {
                    b.space(double_bit ? 2ull * r_.sone : r_.sone);
                    b.pulse(double_bit ? 2ull * r_.pone : r_.pone);
                } else if (space_first) {
                    b.space(r_.sone);
                    b.pulse(r_.pone);
                } else {
                    b.pulse(r_.pone);
                    b.space(r_.sone);
                }
            } else if (double_bit) {
                b.pulse(2ull * r_.pzero);
                b.space(2ull * r_.szero);
            } else if (space_first) {
                b.space(r_.szero);
                b.pulse(r_.pzero);
            } else {
                b.pulse(r_.pzero);
                b.space(r_.szero);
            }
        }
    }

    void code(uint64_t value, bool repeat) {
        if (!repeat || !(r_.flags & kNoHeadRep)) {
            header();
        }
        lead();
        if (r_.pre_data_bits > 0) {
            data(r_.pre_data, r_.pre_data_bits, 0);
            if (r_.pre_p > 0 && r_.pre_s > 0) {
                b.pulse(r_.pre_p);
                b.space(r_.pre_s);
            }
        }
        data(value, r_.bits, r_.pre_data_bits);
        if (r_.post_data_bits > 0) {
            if (r_.post_p > 0 && r_.post_s > 0) {
                b.pulse(r_.post_p);
                b.space(r_.post_s);
            }
            data(r_.post_data, r_.post_data_bits, r_.pre_data_bits + r_.bits);
        }
        trail();
        if (!repeat || !(r_.flags & kNoFootRep)) {
            foot();
        }
        if (!repeat && (r_.flags & kNoHeadRep) && (r_.flags & kConstLength)) {
            b.sum -= int64_t(r_.phead) + r_.shead;
        }
    }

    Buffer b;

  private:
    const Remote &r_;
    uint64_t toggle_state_;
    bool toggle_mask_odd_;
};

bool has_repeat(const Remote &r) {
    return r.prepeat > 0 && r.srepeat > 0;
}

uint32_t min_gap(const Remote &r) {
    return r.gap2 != 0 && r.gap2 < r.gap ? r.gap2 : r.gap;
}

}  // namespace

Frame render(const Remote &r, uint64_t code, std::size_t raw_index, bool repeat,
             uint64_t toggle_state, bool toggle_mask_odd) {
    Frame f;
    const uint32_t protocol = r.protocol();
    if (protocol == kGrundig || protocol == kSerial || protocol == kBo) {
        f.why = "lircd cannot send " + flags_text(protocol) + " remotes";
        return f;
    }
    Sender s(r, toggle_state, toggle_mask_odd);
    if (repeat && has_repeat(r)) {
        if ((r.flags & kRepeatHeader) && r.phead > 0 && r.shead > 0) {
            s.header();
        }
        s.lead();
        s.b.pulse(r.prepeat);
        s.b.space(r.srepeat);
        s.trail();
        s.b.sync();
    } else if (!r.raw()) {
        s.code(repeat && r.repeat_mask != 0 ? code ^ r.repeat_mask : code, repeat);
        s.b.sync();
    } else {
        // lircd sends a raw code as it is written, without merging.
        const std::vector<uint32_t> &raw = r.codes.at(raw_index).raw;
        s.b.data = raw;
        for (uint32_t d : raw) {
            s.b.sum += d;
        }
        if (s.b.data.size() % 2 == 0 && !s.b.data.empty()) {
            s.b.data.pop_back();
        }
    }
    if (s.b.too_long) {
        f.why = "the frame has more than " + std::to_string(kSendBufferSize) +
                " durations, more than lircd sends";
        return f;
    }
    if (repeat && has_repeat(r) && r.repeat_gap > 0) {
        f.gap = r.repeat_gap;
    } else if (r.flags & kConstLength) {
        if (int64_t(min_gap(r)) <= s.b.sum) {
            f.why = "the frame (" + std::to_string(s.b.sum) + " µs) is not shorter than its " +
                    "CONST_LENGTH gap (" + std::to_string(min_gap(r)) + " µs)";
            return f;
        }
        f.gap = uint32_t(int64_t(min_gap(r)) - s.b.sum);
    } else {
        f.gap = min_gap(r);
    }
    if (s.b.data.empty()) {
        f.why = "nothing to send";
        return f;
    }
    for (uint32_t d : s.b.data) {
        if (d == 0) {
            f.why = "a duration of 0 µs";
            return f;
        }
    }
    f.durations = std::move(s.b.data);
    f.ok = true;
    return f;
}

uint64_t written_toggle_state(const Remote &r, uint64_t code) {
    if (std::popcount(r.toggle_bit_mask) != 1) {
        return 0;  // a wider mask flips the written bits: state 0 keeps them
    }
    auto shifted = [](uint64_t v, int n) { return n >= 64 ? 0 : v << n; };
    const uint64_t all = shifted(r.pre_data, r.bits + r.post_data_bits) |
                         shifted(code, r.post_data_bits) | r.post_data;
    return all & r.toggle_bit_mask;
}

Key key_of(const Remote &r, const Code &c) {
    Key key;
    key.name = c.name;
    key.line = c.line;
    if (r.code_only()) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(c.codes.front()));
        key.note = std::string("no timings: the remote gives no bit lengths, only code ") + buf;
        return key;
    }
    const std::size_t index = std::size_t(&c - r.codes.data());
    const uint64_t value = r.raw() ? 0 : c.codes.front();
    const uint64_t state = r.raw() ? 0 : written_toggle_state(r, value);
    const Frame first = render(r, value, index, false, state);
    if (!first.ok) {
        key.note = "no timings: " + first.why;
        return key;
    }
    const Frame again = render(r, value, index, true, state, true);
    // lircd takes a gap of 0 for a missing one (and warns): a signal needs one.
    auto append = [](std::vector<Burst> &to, const Frame &f) {
        for (std::size_t i = 0; i < f.durations.size(); i += 2) {
            const uint32_t off = i + 1 < f.durations.size() ? f.durations[i + 1] : f.gap;
            to.push_back({f.durations[i], off > 0 ? off : detail::kStoredGapUs});
        }
    };
    Signal &s = key.signal;
    s.carrier_hz = r.frequency;
    if (r.duty_cycle > 0 && r.duty_cycle < 100) {
        s.duty_cycle = uint8_t(r.duty_cycle);
    }
    const bool same = again.ok && again.durations == first.durations && again.gap == first.gap;
    if (!same) {
        append(s.once, first);
    }
    if (again.ok) {
        for (int i = 0; i < r.min_repeat; ++i) {
            append(s.once, again);
        }
        append(s.repeat, again);
    }
    if (c.codes.size() > 1) {
        key.note = std::to_string(c.codes.size()) +
                   " codes: lircd sends them in turn, one a press; the first is kept";
    }
    return key;
}

}  // namespace ir::files::lircd
