// SPDX-License-Identifier: MIT
// The IR signal model shared by the codec, the service and the tools.
//
// Plain values and pure functions: any thread may call anything here, on distinct or on
// shared const objects, without locking.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ir {

/// One burst pair: the carrier is on for `on_us`, then off for `off_us` (microseconds).
struct Burst {
    uint32_t on_us = 0;
    uint32_t off_us = 0;
    friend bool operator==(const Burst &, const Burst &) = default;
};

/// A remote-control code: carrier, optional duty cycle, and the once (intro) part sent
/// first and the repeat part sent while the button is held.
struct Signal {
    double carrier_hz = 0;              ///< 0 for an unmodulated signal
    std::optional<uint8_t> duty_cycle;  ///< percent, 1..99, when known
    std::vector<Burst> once;
    std::vector<Burst> repeat;
    friend bool operator==(const Signal &, const Signal &) = default;
};

/// An off time of at least this many µs separates two frames: the repeat finder looks for
/// frames ending in such a gap, and receivers split what they see at such gaps.
inline constexpr uint32_t kFrameGapUs = 20000;

/// Largest repeat count flatten() and air_time_us() honour; larger counts are taken as
/// this, so that an untrusted count cannot make flatten() allocate without bound.
inline constexpr int kMaxRepeatCount = 1000;

/// Durations as sent for `repeat_count` presses, alternating on/off starting with on:
/// the once part, then the repeat part repeat_count times; a signal without a repeat part
/// sends its once part repeat_count times. repeat_count 0 is taken as 1 (so is a negative
/// count), counts above kMaxRepeatCount as kMaxRepeatCount. The result ends with the last
/// pair's off time (an even count); a sender that must end on a pulse drops it and waits.
std::vector<uint32_t> flatten(const Signal &signal, int repeat_count);

/// Air time of flatten(signal, repeat_count) in microseconds (saturating), computed without
/// building the vector.
uint64_t air_time_us(const Signal &signal, int repeat_count);

}  // namespace ir
