// SPDX-License-Identifier: MIT
#include "lirc/learn_settings.h"

#include <algorithm>
#include <cerrno>

#include "lirc/abi.h"

namespace krvxd::lirc {

int LearnSettingsGuard::set(unsigned long request, uint32_t value, uint32_t previous) {
    const int err = ioctl_set(io_, request, value);
    if (err == 0) {
        changes_.push_back({request, previous});
    }
    return err;
}

int LearnSettingsGuard::apply(const Capabilities &caps, uint32_t timeout_us) {
    restore();
    message_.clear();
    carrier_reports_ = false;
    timeout_us_ = 0;

    auto fail = [this](int err, const std::string &what) {
        message_ = what + ": " + error_text(err);
        restore();
        return err;
    };

    // Receive mode is per descriptor, but it is ours to put back too.
    uint32_t mode = 0;
    if (const int err = ioctl_get(io_, kGetRecMode, mode); err != 0) {
        return fail(err, "cannot read the receive mode");
    }
    if (mode != kModeMode2) {
        if (const int err = set(kSetRecMode, kModeMode2, mode); err != 0) {
            return fail(err, "cannot switch the receiver to raw (mode2) samples");
        }
    }

    if (caps.has_wideband_receiver()) {
        const int err = set(kSetWidebandReceiver, 1, 0);
        if (err == ENODEV) {
            return fail(err, "cannot switch on the wideband receiver");
        }
    }
    if (caps.can_measure_carrier()) {
        const int err = set(kSetMeasureCarrierMode, 1, 0);
        if (err == ENODEV) {
            return fail(err, "cannot switch on carrier measurement");
        }
        carrier_reports_ = err == 0;
    }
    if (caps.can_set_rec_timeout()) {
        uint32_t lo = caps.min_timeout_us.value_or(0);
        uint32_t hi = caps.max_timeout_us.value_or(UINT32_MAX);
        const uint32_t wanted = std::clamp(timeout_us, lo, std::max(lo, hi));
        // Read the timeout now: it may have been reset since the device was probed.
        // When it cannot be read, set ours anyway and put the kernel's default back.
        uint32_t previous = 0;
        bool known = true;
        int err = ioctl_get(io_, kGetRecTimeout, previous);
        if (err == ENOTTY || err == EINVAL) {
            previous = std::clamp(kDefaultRecTimeoutUs, lo, std::max(lo, hi));
            known = false;
            err = 0;
        }
        if (err != 0) {
            return fail(err, "cannot read the receive timeout");
        }
        if (known && previous == wanted) {
            timeout_us_ = wanted;
        } else {
            err = set(kSetRecTimeout, wanted, previous);
            if (err == ENODEV) {
                return fail(err, "cannot set the receive timeout");
            }
            if (err == 0) {
                timeout_us_ = wanted;
            }
        }
    }
    return 0;
}

int LearnSettingsGuard::restore() {
    int first = 0;
    while (!changes_.empty()) {
        const Change c = changes_.back();
        changes_.pop_back();
        const int err = ioctl_set(io_, c.request, c.previous);
        if (err != 0 && first == 0) {
            first = err;
        }
        if (err == ENODEV) {
            changes_.clear();
            break;
        }
    }
    return first;
}

}  // namespace krvxd::lirc
