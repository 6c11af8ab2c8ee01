// SPDX-License-Identifier: MIT
// The receive code: a fingerprint of a frame's shape rather than of its exact timings.
//
// Each duration becomes one of three symbols by its ratio r to a unit measured on the frame
// itself, separately for pulses and for spaces (a receiver often lengthens one and shortens
// the other):
//   short   r < 1.5         the protocol's unit
//   long    1.5 <= r < 11   2 to 8 units: data "1" bits, bi-phase double halves, headers
//   longer  r >= 11         16 units and more: NEC-style lead pulses
// The unit is first the mean of the durations within 1.5 times the shortest one, then
// refined over every duration of up to 3.5 units as sum / sum of rounded multiples. The
// code hashes the duration count and the symbol string.
//
// Tolerance: the code stays the same while every duration is within ±10 % + 50 µs of its
// nominal value, for protocols whose unit is at least about 400 µs (NEC, RC5, RC6, Sony
// and their kin). Classes 2 to 8 units apart share one symbol, so the boundaries lie far
// from any nominal duration; two codes that differ only in such classes (2 against 3
// units) share a receive code. A toggle bit (RC5, RC6) that changes between presses gives
// another code, as it gives another frame.
#include "ir/receive_code.h"

#include <algorithm>
#include <cmath>

namespace ir {
namespace {

constexpr double kShortBelow = 1.5;
constexpr double kLongBelow = 11.0;

// Unit of the durations at index `first`, `first` + 2, ... (pulses or spaces).
double unit_of(const std::vector<uint32_t> &d, std::size_t count, std::size_t first) {
    uint32_t shortest = 0;
    for (std::size_t i = first; i < count; i += 2) {
        if (d[i] != 0 && (shortest == 0 || d[i] < shortest)) {
            shortest = d[i];
        }
    }
    if (shortest == 0) {
        return 1.0;
    }
    double sum = 0;
    double n = 0;
    for (std::size_t i = first; i < count; i += 2) {
        if (d[i] >= shortest && double(d[i]) <= 1.5 * shortest) {
            sum += d[i];
            n += 1;
        }
    }
    const double first_guess = sum / n;
    double units = 0;
    sum = 0;
    for (std::size_t i = first; i < count; i += 2) {
        const double k = std::round(d[i] / first_guess);
        if (k >= 1 && double(d[i]) <= 3.5 * first_guess) {
            sum += d[i];
            units += k;
        }
    }
    return units > 0 ? sum / units : first_guess;
}

uint64_t mix(uint64_t h, uint64_t v) {
    h ^= v;
    return h * 0x100000001B3ULL;  // FNV-1a step
}

uint64_t finish(uint64_t h) {  // splitmix64 finaliser, so that every output bit depends on all
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBULL;
    h ^= h >> 31;
    return h;
}

}  // namespace

std::string receive_code(const std::vector<uint32_t> &frame_durations_us) {
    const std::vector<uint32_t> &d = frame_durations_us;
    // A frame ends on a pulse; a trailing space (a gap) is not part of it.
    const std::size_t count = d.size() - (d.size() % 2 == 0 && !d.empty() ? 1 : 0);
    if (count == 0) {
        return std::string(kReceiveCodeLength, '0');
    }
    const double units[2] = {unit_of(d, count, 0), unit_of(d, count, 1)};

    uint64_t h = 0xCBF29CE484222325ULL;
    for (int shift = 0; shift < 64; shift += 8) {
        h = mix(h, (uint64_t{count} >> shift) & 0xFF);
    }
    for (std::size_t i = 0; i < count; ++i) {
        const double r = d[i] / units[i % 2];
        h = mix(h, r < kShortBelow ? 1 : r < kLongBelow ? 2 : 3);
    }
    h = finish(h);

    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string code(kReceiveCodeLength, '0');
    for (std::size_t i = 0; i < kReceiveCodeLength; ++i) {
        code[kReceiveCodeLength - 1 - i] = kDigits[(h >> (4 * i)) & 0xF];
    }
    return code;
}

std::vector<std::vector<uint32_t>> split_frames(const std::vector<uint32_t> &durations_us,
                                                uint32_t gap_us) {
    std::vector<std::vector<uint32_t>> frames;
    std::vector<uint32_t> frame;
    for (std::size_t i = 0; i < durations_us.size(); ++i) {
        const bool space = i % 2 == 1;
        if (space && (durations_us[i] >= gap_us || i + 1 == durations_us.size())) {
            frames.push_back(std::move(frame));
            frame.clear();
            continue;
        }
        frame.push_back(durations_us[i]);
    }
    if (!frame.empty()) {
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::string receive_code(const Signal &signal) {
    const std::vector<Burst> &part = signal.once.empty() ? signal.repeat : signal.once;
    std::vector<uint32_t> frame;
    frame.reserve(2 * part.size());
    for (const Burst &b : part) {
        frame.push_back(b.on_us);
        if (b.off_us >= kFrameGapUs) {
            break;
        }
        frame.push_back(b.off_us);
    }
    return receive_code(frame);
}

}  // namespace ir
