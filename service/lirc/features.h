// SPDX-License-Identifier: MIT
// What a kernel IR device can do, read once after open, and the texts that explain what
// it cannot.
//
// Threads: plain functions and values; probe() uses the DeviceIo it is given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "lirc/device_io.h"

namespace krvxd::lirc {

struct Capabilities {
    uint32_t features = 0;  ///< raw GET_FEATURES bits

    bool can_send() const;
    bool can_set_send_carrier() const;
    bool can_set_duty_cycle() const;
    bool can_receive_mode2() const;
    bool can_receive_scancode() const;
    bool can_measure_carrier() const;
    bool has_wideband_receiver() const;
    bool can_set_rec_timeout() const;

    /// Receive resolution in µs, when the device reports one.
    std::optional<uint32_t> resolution_us;
    /// Receive timeout bounds and the value in force when probed, when reported.
    std::optional<uint32_t> min_timeout_us;
    std::optional<uint32_t> max_timeout_us;
    std::optional<uint32_t> rec_timeout_us;
};

/// Outcome of probe(): error 0 with the capabilities, or the errno that stopped it and a
/// sentence saying what went wrong.
struct ProbeResult {
    Capabilities caps;
    int error = 0;
    std::string message;
    bool ok() const { return error == 0; }
};

/// Reads GET_FEATURES and, where the features announce them, the receive resolution and
/// timeouts. GET_FEATURES failing with ENOTTY means the node is not a kernel IR device;
/// ENODEV that it is gone. Optional queries that fail with ENOTTY or EINVAL are left empty;
/// ENODEV from any of them fails the probe.
ProbeResult probe(DeviceIo &io);

/// Why a device cannot send, or nothing when it can.
std::optional<std::string> send_refusal(const Capabilities &caps);
/// Why a device cannot learn (it needs raw mode2 reception), or nothing when it can.
std::optional<std::string> learn_refusal(const Capabilities &caps);
/// Why a device cannot receive codes at all, or nothing when it can.
std::optional<std::string> receive_refusal(const Capabilities &caps);
/// A remark for learns on devices that cannot measure the carrier, or nothing.
std::optional<std::string> carrier_remark(const Capabilities &caps);

/// One line for logs: "send, carrier, duty cycle, mode2, scancode, carrier measurement,
/// wideband, timeout 500..1000000 µs".
std::string describe(const Capabilities &caps);

}  // namespace krvxd::lirc
