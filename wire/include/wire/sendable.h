// SPDX-License-Identifier: MIT
// What the device may be asked to send. The library checks a code before it asks, the
// service checks it again before it queues it: one rule for both ends.
//
// A send is sendable when its code is valid Pronto text, or a protocol code that
// ir::protocols::encode() takes ("RC5 D=0 F=12", "nec:0x0408"), of at most ir::kMaxProntoChars
// characters with at least one burst pair and no zero duration (a transmitter cannot send
// an empty pulse or space), its repeat count is 0..ir::kMaxRepeatCount (0 is taken as 1),
// and it takes at most kMaxSendAirTimeUs on air, so that one client cannot hold the
// transmitter for hours while every other client's send waits.
//
// Threads: pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ir/signal.h"
#include "wire/status.h"

namespace wire {

/// Longest air time of one send, once part and repeats together.
inline constexpr uint64_t kMaxSendAirTimeUs = 120ull * 1000 * 1000;

struct Sendable {
    std::optional<ir::Signal> signal;  ///< set when the send may go ahead
    int repeat = 1;                    ///< the repeat count to send (at least 1)
    Outcome refusal;                   ///< InvalidCode or InvalidArgument, and why
};

/// Checks `code` sent `repeat` times. The reason names the first rule broken, e.g. "word 3:
/// 'zz' is not hexadecimal" or "the send would take 95.8 h on air; at most 120 s".
Sendable check_sendable(std::string_view code, int32_t repeat);

}  // namespace wire
