// SPDX-License-Identifier: MIT
// What the simulated receiver captures of a virtual remote's frames, as real remotes and
// receivers deliver them. At a press quality Q (0..100):
//   - every duration is off by up to (100 - Q) / 4 percent, drawn anew for each one;
//   - below 100, the receiver's constant skew: marks 60 µs longer, spaces (and the gap
//     after a frame) 60 µs shorter;
//   - below 60, now and then a frame is lost or cut short (it ends early on a mark), more
//     often the lower Q goes: (60 - Q) / 200 of the frames;
//   - below 40, noise bursts (one to three short pulses) come between frames, before
//     (40 - Q) / 80 of them.
// Q 100 leaves the frames exactly as sent. The same seed gives the same capture.
//
// Threads: pure functions on values; any thread.
#pragma once

#include <cstdint>
#include <vector>

#include "backend.h"

namespace krvxd {

/// Receiver skew at any quality below 100.
inline constexpr uint32_t kReceiverSkewUs = 60;

std::vector<ReceivedFrame> degrade(std::vector<ReceivedFrame> frames, uint8_t quality,
                                   uint32_t seed);

}  // namespace krvxd
