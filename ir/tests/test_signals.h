// SPDX-License-Identifier: MIT
// Raw timings of a few remote-control protocols in µs, as a receiver would measure them
// (alternating pulse/space, ending on a pulse), and receiver jitter.
#pragma once

#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

namespace irtest {

// NEC1: 9024 4512, 32 bits lsb first (564 564 = 0, 564 1692 = 1), stop pulse; 108 ms frames.
inline std::vector<uint32_t> nec_frame(uint8_t d, uint8_t s, uint8_t f) {
    std::vector<uint32_t> out{9024, 4512};
    for (uint8_t byte : {d, s, f, uint8_t(~f)}) {
        for (int i = 0; i < 8; ++i) {
            out.push_back(564);
            out.push_back(((byte >> i) & 1) != 0 ? 1692 : 564);
        }
    }
    out.push_back(564);
    return out;
}

inline std::vector<uint32_t> nec_ditto() {
    return {9024, 2256, 564};
}

// Sony 12-bit: 2400 600, then 7 command and 5 device bits lsb first (600 = 0, 1200 = 1 as
// the pulse, each followed by 600); 45 ms frames.
inline std::vector<uint32_t> sony12_frame(uint8_t device, uint8_t command) {
    std::vector<uint32_t> out{2400};
    const uint32_t bits = (command & 0x7Fu) | (uint32_t(device & 0x1F) << 7);
    for (int i = 0; i < 12; ++i) {
        out.push_back(600);
        out.push_back(((bits >> i) & 1) != 0 ? 1200 : 600);
    }
    return out;
}

inline uint32_t frame_time(const std::vector<uint32_t> &frame) {
    return std::accumulate(frame.begin(), frame.end(), uint32_t{0});
}

// Appends `frame` and the gap that pads it to `period_us`.
inline void append_frame(std::vector<uint32_t> &stream, const std::vector<uint32_t> &frame,
                         uint32_t period_us) {
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.push_back(period_us - frame_time(frame));
}

// Each duration moved by up to ±percent of itself plus up to ±us, uniformly.
inline std::vector<uint32_t> jitter(const std::vector<uint32_t> &d, std::mt19937 &rng,
                                    double percent, double us) {
    std::uniform_real_distribution<double> rel(-percent / 100, percent / 100);
    std::uniform_real_distribution<double> abs(-us, us);
    std::vector<uint32_t> out;
    out.reserve(d.size());
    for (uint32_t v : d) {
        const double j = v * (1 + rel(rng)) + abs(rng);
        out.push_back(j < 1 ? 1 : uint32_t(j + 0.5));
    }
    return out;
}

}  // namespace irtest
