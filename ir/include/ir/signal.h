// The IR signal model shared by the codec, the service and the tools.
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

/// Durations as sent for `repeat_count` presses, alternating on/off starting with on:
/// the once part, then the repeat part repeat_count times; a signal without a repeat part
/// sends its once part repeat_count times. repeat_count 0 is taken as 1.
std::vector<uint32_t> flatten(const Signal &signal, int repeat_count);

/// Air time of flatten(signal, repeat_count) in microseconds (saturating).
uint64_t air_time_us(const Signal &signal, int repeat_count);

}  // namespace ir
