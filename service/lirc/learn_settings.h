// SPDX-License-Identifier: MIT
// Puts a kernel IR device into the state a learn needs and puts it back afterwards.
//
// A learn reads raw mode2 samples with the wideband receiver and carrier reports switched
// on where the device has them, and with an explicit receive timeout (rc-core resets the
// timeout whenever the enabled protocols change, so the one in force cannot be trusted).
// Carrier reports, the wideband receiver and the timeout are device-wide and outlive the
// file descriptor, so every change is recorded and undone: by restore(), or by the
// destructor when the learn ends any other way (failure, client gone, exception).
//
// The kernel has no query for the wideband receiver or carrier reports; they are off
// unless someone switched them on, so restoring means switching them off again.
//
// Threads: a guard is used by one thread; it keeps a reference to the DeviceIo, which must
// outlive it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lirc/device_io.h"
#include "lirc/features.h"

namespace krvxd::lirc {

/// Receive timeout asked for during a learn; clamped to the device's range.
inline constexpr uint32_t kLearnRecTimeoutUs = 125000;

class LearnSettingsGuard {
  public:
    explicit LearnSettingsGuard(DeviceIo &io) : io_(io) {}
    ~LearnSettingsGuard() { restore(); }
    LearnSettingsGuard(const LearnSettingsGuard &) = delete;
    LearnSettingsGuard &operator=(const LearnSettingsGuard &) = delete;

    /// Applies the learn settings. Returns 0, or the errno of a step a learn cannot do
    /// without (mode2, or anything failing with ENODEV); in that case everything already
    /// changed has been restored and message() says what failed. Steps that only improve
    /// a learn (wideband, carrier reports) are skipped when refused.
    int apply(const Capabilities &caps, uint32_t timeout_us = kLearnRecTimeoutUs);

    /// Undoes every recorded change, newest first, trying all of them. Returns 0 or the
    /// first errno met; stops early on ENODEV (a gone device keeps nothing). Idempotent.
    int restore();

    /// True when carrier reports were switched on (FREQUENCY samples will arrive).
    bool carrier_reports() const { return carrier_reports_; }
    /// The receive timeout in force during the learn, 0 when it could not be set.
    uint32_t timeout_us() const { return timeout_us_; }
    const std::string &message() const { return message_; }

  private:
    struct Change {
        unsigned long request;
        uint32_t previous;
    };
    int set(unsigned long request, uint32_t value, uint32_t previous);

    DeviceIo &io_;
    std::vector<Change> changes_;
    bool carrier_reports_ = false;
    uint32_t timeout_us_ = 0;
    std::string message_;
};

}  // namespace krvxd::lirc
