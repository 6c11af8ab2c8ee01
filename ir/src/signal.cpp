// SPDX-License-Identifier: MIT
#include "ir/signal.h"

#include <algorithm>
#include <limits>

namespace ir {
namespace {

int clamp_repeats(int repeat_count) {
    return std::clamp(repeat_count, 1, kMaxRepeatCount);
}

uint64_t part_time(const std::vector<Burst> &part) {
    uint64_t sum = 0;
    for (const Burst &b : part) {
        sum += uint64_t{b.on_us} + b.off_us;  // at most 2^33 per pair: no overflow in practice
    }
    return sum;
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

uint64_t saturating_mul(uint64_t a, uint64_t b) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) {
        return std::numeric_limits<uint64_t>::max();
    }
    return a * b;
}

void append(std::vector<uint32_t> &out, const std::vector<Burst> &part) {
    for (const Burst &b : part) {
        out.push_back(b.on_us);
        out.push_back(b.off_us);
    }
}

}  // namespace

std::vector<uint32_t> flatten(const Signal &signal, int repeat_count) {
    const int n = clamp_repeats(repeat_count);
    const bool has_repeat = !signal.repeat.empty();
    const std::vector<Burst> &repeated = has_repeat ? signal.repeat : signal.once;

    std::vector<uint32_t> out;
    out.reserve(2 * ((has_repeat ? signal.once.size() : 0) + repeated.size() * size_t(n)));
    if (has_repeat) {
        append(out, signal.once);
    }
    for (int i = 0; i < n; ++i) {
        append(out, repeated);
    }
    return out;
}

uint64_t air_time_us(const Signal &signal, int repeat_count) {
    const uint64_t n = uint64_t(clamp_repeats(repeat_count));
    if (signal.repeat.empty()) {
        return saturating_mul(part_time(signal.once), n);
    }
    return saturating_add(part_time(signal.once), saturating_mul(part_time(signal.repeat), n));
}

}  // namespace ir
