// SPDX-License-Identifier: MIT
#include "lirc/sender.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

#include "lirc/abi.h"

namespace krvxd::lirc {

bool SteadySendClock::sleep_until(time_point deadline, const std::stop_token &stop) {
    std::mutex m;
    std::condition_variable_any cv;
    std::unique_lock lock(m);
    cv.wait_until(lock, stop, deadline, [] { return false; });
    return !stop.stop_requested();
}

namespace {

SendReport failed(int err, const std::string &what, std::size_t writes) {
    SendReport r;
    r.outcome = outcome_from_errno(err, what);
    r.writes = writes;
    return r;
}

}  // namespace

SendReport send(DeviceIo &io, const SendPlan &plan, SendClock &clock, const std::stop_token &stop) {
    SendReport report;
    if (const int err = ioctl_set(io, kSetSendMode, kModePulse); err != 0) {
        if (err == ENOTTY) {
            report.outcome = {Fault::not_supported, err, "the device does not send in pulse mode"};
            return report;
        }
        return failed(err, "cannot switch the transmitter to pulse mode", 0);
    }
    if (plan.carrier_hz) {
        const int err = ioctl_set(io, kSetSendCarrier, *plan.carrier_hz);
        if (err != 0 && err != ENOTTY) {
            return failed(
                err,
                "the device refused the carrier of " + std::to_string(*plan.carrier_hz) + " Hz", 0);
        }
    }
    if (plan.duty_cycle) {
        const int err = ioctl_set(io, kSetSendDutyCycle, *plan.duty_cycle);
        if (err != 0 && err != ENOTTY && err != EINVAL) {
            return failed(err, "cannot set the duty cycle", 0);
        }
    }

    std::vector<std::byte> bytes;
    for (const SendChunk &chunk : plan.chunks) {
        if (stop.stop_requested()) {
            report.outcome = {Fault::cancelled, 0, "the send was stopped"};
            return report;
        }
        bytes.resize(chunk.entries.size() * sizeof(uint32_t));
        std::memcpy(bytes.data(), chunk.entries.data(), bytes.size());
        const auto start = clock.now();
        const IoResult w = io.write(bytes);
        if (!w.ok()) {
            return failed(w.error, "the device refused to send", report.writes);
        }
        if (w.bytes != bytes.size()) {
            report.outcome = {Fault::io_error, EIO,
                              "the device sent only " + std::to_string(w.bytes) + " of " +
                                  std::to_string(bytes.size()) + " bytes"};
            return report;
        }
        ++report.writes;
        const auto deadline = start + std::chrono::microseconds(chunk.duration_us()) +
                              std::chrono::microseconds(chunk.gap_after_us);
        // A stop during the trailing gap of the last write does not undo the send.
        if (!clock.sleep_until(deadline, stop) && &chunk != &plan.chunks.back()) {
            report.outcome = {Fault::cancelled, 0, "the send was stopped"};
            return report;
        }
    }
    return report;
}

}  // namespace krvxd::lirc
