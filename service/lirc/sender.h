// SPDX-License-Identifier: MIT
// Carries out a send plan on a device: pulse mode, carrier and duty cycle, then the writes
// with the gaps between them timed against a clock.
//
// Each write blocks in the kernel for the duration of its entries, so a send blocks its
// thread for the whole air time: run it on a worker thread, never on the service's event
// loop. Gaps are waited until absolute deadlines (start of the write + its duration + its
// gap), so scheduling delays do not add up over a long send.
//
// Threads: send() runs on the caller's thread and uses the DeviceIo and clock given; it can
// be stopped from any thread through the stop token (checked between writes and during
// waits; a write in progress runs to its end).
#pragma once

#include <chrono>
#include <cstddef>
#include <stop_token>

#include "lirc/device_io.h"
#include "lirc/fault.h"
#include "lirc/send_plan.h"

namespace krvxd::lirc {

/// Time source and waiting, replaceable in tests.
class SendClock {
  public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~SendClock() = default;
    virtual time_point now() = 0;
    /// Waits until `deadline` or until a stop is requested; false when stopped.
    virtual bool sleep_until(time_point deadline, const std::stop_token &stop) = 0;
};

/// The steady clock, waiting on a condition variable that a stop request wakes.
class SteadySendClock final : public SendClock {
  public:
    time_point now() override { return std::chrono::steady_clock::now(); }
    bool sleep_until(time_point deadline, const std::stop_token &stop) override;
};

struct SendReport {
    Outcome outcome;
    std::size_t writes = 0;  ///< writes the device accepted
};

/// Sends a plan made by plan_send() for the same device. Failing steps give:
/// SET_SEND_MODE: ENOTTY not_supported ("the device does not send in pulse mode"), EINVAL
/// refused; SET_SEND_CARRIER: EINVAL refused ("the device refused the carrier of N Hz"),
/// ENOTTY ignored (the device's own carrier is used); duty cycle: EINVAL and ENOTTY
/// ignored; write: EINVAL refused, a short write io_error. ENODEV anywhere: device_lost.
SendReport send(DeviceIo &io, const SendPlan &plan, SendClock &clock, const std::stop_token &stop);

}  // namespace krvxd::lirc
