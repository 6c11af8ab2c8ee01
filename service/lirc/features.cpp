// SPDX-License-Identifier: MIT
#include "lirc/features.h"

#include <cerrno>

#include "lirc/abi.h"

namespace krvxd::lirc {

bool Capabilities::can_send() const {
    return (features & kCanSendPulse) != 0;
}
bool Capabilities::can_set_send_carrier() const {
    return (features & kCanSetSendCarrier) != 0;
}
bool Capabilities::can_set_duty_cycle() const {
    return (features & kCanSetSendDutyCycle) != 0;
}
bool Capabilities::can_receive_mode2() const {
    return (features & kCanRecMode2) != 0;
}
bool Capabilities::can_receive_scancode() const {
    return (features & kCanRecScancode) != 0;
}
bool Capabilities::can_measure_carrier() const {
    return (features & kCanMeasureCarrier) != 0;
}
bool Capabilities::has_wideband_receiver() const {
    return (features & kCanUseWidebandReceiver) != 0;
}
bool Capabilities::can_set_rec_timeout() const {
    return (features & kCanSetRecTimeout) != 0;
}

namespace {

// Reads an optional value: ENOTTY/EINVAL leave it empty, other errors are returned.
int read_optional(DeviceIo &io, unsigned long request, std::optional<uint32_t> &out) {
    uint32_t value = 0;
    const int err = ioctl_get(io, request, value);
    if (err == 0) {
        out = value;
        return 0;
    }
    if (err == ENOTTY || err == EINVAL) {
        return 0;
    }
    return err;
}

ProbeResult failed(int err, std::string message) {
    ProbeResult r;
    r.error = err;
    r.message = std::move(message);
    return r;
}

}  // namespace

ProbeResult probe(DeviceIo &io) {
    ProbeResult r;
    uint32_t features = 0;
    if (const int err = ioctl_get(io, kGetFeatures, features); err != 0) {
        if (err == ENOTTY) {
            return failed(err, "not a kernel IR device (it does not answer the feature query)");
        }
        return failed(err, "cannot read the device's features: " + error_text(err));
    }
    if ((features & (kCanSendPulse | kCanRecMode2 | kCanRecScancode)) == 0) {
        return failed(ENOTTY, "the device can neither send nor receive IR");
    }
    r.caps.features = features;
    if ((features & kCanGetRecResolution) != 0) {
        if (const int err = read_optional(io, kGetRecResolution, r.caps.resolution_us)) {
            return failed(err, "cannot read the receive resolution: " + error_text(err));
        }
    }
    if (r.caps.can_set_rec_timeout()) {
        for (auto [request, slot] : {std::pair{kGetMinTimeout, &r.caps.min_timeout_us},
                                     std::pair{kGetMaxTimeout, &r.caps.max_timeout_us},
                                     std::pair{kGetRecTimeout, &r.caps.rec_timeout_us}}) {
            if (const int err = read_optional(io, request, *slot)) {
                return failed(err, "cannot read the receive timeout: " + error_text(err));
            }
        }
        if (r.caps.min_timeout_us && r.caps.max_timeout_us &&
            *r.caps.min_timeout_us > *r.caps.max_timeout_us) {
            // A driver that reports an empty range: trust neither bound.
            r.caps.min_timeout_us.reset();
            r.caps.max_timeout_us.reset();
        }
    }
    return r;
}

std::optional<std::string> send_refusal(const Capabilities &caps) {
    if (!caps.can_send()) {
        return "the device is receive-only: it cannot send IR";
    }
    return std::nullopt;
}

std::optional<std::string> learn_refusal(const Capabilities &caps) {
    if (!caps.can_receive_mode2()) {
        if (caps.can_receive_scancode()) {
            return "the device only reports decoded scancodes: it cannot learn raw IR timings";
        }
        return "the device has no IR receiver: it cannot learn";
    }
    return std::nullopt;
}

std::optional<std::string> receive_refusal(const Capabilities &caps) {
    if (!caps.can_receive_mode2() && !caps.can_receive_scancode()) {
        return "the device has no IR receiver: it cannot receive codes";
    }
    return std::nullopt;
}

std::optional<std::string> carrier_remark(const Capabilities &caps) {
    if (!caps.can_measure_carrier()) {
        return "the device cannot measure the carrier: learned codes use 38 kHz";
    }
    return std::nullopt;
}

std::string describe(const Capabilities &caps) {
    std::string out;
    auto add = [&out](const char *word) {
        if (!out.empty()) {
            out += ", ";
        }
        out += word;
    };
    if (caps.can_send()) {
        add("send");
    }
    if (caps.can_set_send_carrier()) {
        add("carrier");
    }
    if (caps.can_set_duty_cycle()) {
        add("duty cycle");
    }
    if (caps.can_receive_mode2()) {
        add("mode2");
    }
    if (caps.can_receive_scancode()) {
        add("scancode");
    }
    if (caps.can_measure_carrier()) {
        add("carrier measurement");
    }
    if (caps.has_wideband_receiver()) {
        add("wideband");
    }
    if (caps.min_timeout_us && caps.max_timeout_us) {
        add("timeout");
        out += " " + std::to_string(*caps.min_timeout_us) + ".." +
               std::to_string(*caps.max_timeout_us) + " \xC2\xB5s";
    }
    if (out.empty()) {
        out = "nothing";
    }
    return out;
}

}  // namespace krvxd::lirc
