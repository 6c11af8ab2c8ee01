// SPDX-License-Identifier: MIT
#include "sim/receiver_model.h"

#include <algorithm>
#include <random>

namespace krvxd {

std::vector<ReceivedFrame> degrade(std::vector<ReceivedFrame> frames, uint8_t quality,
                                   uint32_t seed) {
    quality = std::min<uint8_t>(quality, 100);
    if (quality == 100)
        return frames;
    std::minstd_rand rng(seed + 1);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    const double jitter = (100.0 - quality) / 400.0;
    const double damage = quality < 60 ? (60.0 - quality) / 200.0 : 0.0;
    const double noise = quality < 40 ? (40.0 - quality) / 80.0 : 0.0;
    const auto shifted = [](uint32_t d, int64_t by) {
        return static_cast<uint32_t>(std::max<int64_t>(1, int64_t{d} + by));
    };
    std::vector<ReceivedFrame> out;
    out.reserve(frames.size() * 2);
    bool burst_start = false;  // a lost first frame hands the burst start on
    for (ReceivedFrame &f : frames) {
        burst_start = burst_start || f.burst_start;
        if (noise > 0 && chance(rng) < noise) {
            ReceivedFrame n;
            const int pulses = 1 + static_cast<int>(chance(rng) * 3);
            for (int i = 0; i < pulses; ++i) {
                if (i > 0)
                    n.durations_us.push_back(static_cast<uint32_t>(200 + chance(rng) * 2000));
                n.durations_us.push_back(static_cast<uint32_t>(80 + chance(rng) * 400));
            }
            n.trailing_gap_us = 25000;
            n.burst_start = burst_start;
            burst_start = false;
            out.push_back(std::move(n));
        }
        if (damage > 0 && chance(rng) < damage) {
            if (chance(rng) < 0.5)
                continue;  // lost
            // Cut short: ends on a mark somewhere before its end; the rest is silence.
            const std::size_t n = f.durations_us.size();
            if (n >= 3) {
                const std::size_t keep =
                    1 + 2 * static_cast<std::size_t>(chance(rng) * double((n - 1) / 2));
                uint64_t rest = 0;
                for (std::size_t i = keep; i < n; ++i)
                    rest += f.durations_us[i];
                f.durations_us.resize(keep);
                f.trailing_gap_us =
                    static_cast<uint32_t>(std::min<uint64_t>(f.trailing_gap_us + rest, UINT32_MAX));
            }
        }
        for (std::size_t i = 0; i < f.durations_us.size(); ++i) {
            const double d = f.durations_us[i] * (1.0 + jitter * unit(rng));
            const int64_t skew = i % 2 == 0 ? int64_t{kReceiverSkewUs} : -int64_t{kReceiverSkewUs};
            f.durations_us[i] = shifted(static_cast<uint32_t>(std::max(1.0, d)), skew);
        }
        if (f.trailing_gap_us != 0)
            f.trailing_gap_us = shifted(f.trailing_gap_us, -int64_t{kReceiverSkewUs});
        f.burst_start = burst_start;
        burst_start = false;
        out.push_back(std::move(f));
    }
    return out;
}

}  // namespace krvxd
