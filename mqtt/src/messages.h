// SPDX-License-Identifier: MIT
// The topics and payloads the bridge publishes. Every topic of a node lies under
// PREFIX/NODE/; Home Assistant's discovery configs under HA_PREFIX/<component>/<node>_...
//
// Threads: pure functions; any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "krvxdrv.h"

namespace krvx::mqtt {

/// One received code as the library reported it, copied off the library's thread.
struct Received {
    std::string fingerprint;      ///< the 12-character code of the receive callback
    bool has_frame = false;       ///< the fields below are known
    std::string protocol;         ///< "NEC1"; empty when no protocol fits
    std::string params;           ///< "D=4 S=251 F=8"
    std::string kernel_protocol;  ///< "nec"; empty when the kernel has none
    uint32_t kernel_scancode = 0;
    uint32_t carrier_hz = 0;             ///< 0 when not measured
    std::vector<uint32_t> durations_us;  ///< mark, space, ..., mark
    std::chrono::system_clock::time_point time;
};

class Topics {
  public:
    Topics(std::string prefix, std::string node, std::string ha_prefix)
        : base_(prefix + "/" + node + "/"), node_(std::move(node)), ha_(std::move(ha_prefix)) {}
    const std::string &node() const { return node_; }
    std::string status() const { return base_ + "status"; }
    std::string device() const { return base_ + "device"; }
    std::string received() const { return base_ + "received"; }
    std::string send() const { return base_ + "send"; }
    std::string send_result() const { return base_ + "send/result"; }
    std::string learn() const { return base_ + "learn"; }
    std::string learn_progress() const { return base_ + "learn/progress"; }
    std::string learn_result() const { return base_ + "learn/result"; }
    /// HA_PREFIX/<component>/<node>/<object>/config
    std::string ha_config(const std::string &component, const std::string &object) const {
        return ha_ + "/" + component + "/" + node_ + "/" + object + "/config";
    }

  private:
    std::string base_;
    std::string node_;
    std::string ha_;
};

/// {"event_type":"received","fingerprint":...,"decode":{...}|null,"carrier_hz":...,
///  "durations_us":[...],"time":"2026-12-07T15:30:00.123Z"}
std::string received_json(const Received &r);

/// A JSON object message with "dropped":N added: N messages before it were dropped.
std::string with_dropped(const std::string &object_json, uint64_t dropped);

/// {"connected":true,"firmware":"1.2","protocol":"2.0","firmware_date":"2024-03-01"}
std::string device_json(const DeviceInfo &info);
/// {"connected":false,"error":"..."}
std::string device_away_json(const std::string &why);

/// {"id":ID,"ok":false,"error":"..."}
std::string refusal_json(const std::string &id, const std::string &why);

/// UTC, milliseconds: "2026-12-07T15:30:00.123Z".
std::string iso_time(std::chrono::system_clock::time_point t);

/// Home Assistant discovery: the device block every entity of the node shares.
std::string ha_device_json(const Topics &t, const std::string &sw_version);
/// The event entity of received codes.
std::string ha_event_config(const Topics &t, const std::string &sw_version);
/// The text entity that sends the code typed into it.
std::string ha_text_config(const Topics &t, const std::string &sw_version);
/// The button entity of the learn command.
std::string ha_learn_button_config(const Topics &t, const std::string &sw_version);

}  // namespace krvx::mqtt
