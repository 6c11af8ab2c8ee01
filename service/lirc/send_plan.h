// SPDX-License-Identifier: MIT
// Turns a signal and a repeat count into the writes a kernel IR device accepts.
//
// In pulse mode a write holds pulse, space, ..., pulse in µs: an odd number of entries, at
// most 1024, each > 0, lasting at most 500 ms; the kernel returns once it has been sent and
// the space after the last pulse is the writer's to wait. Longer signals are split at
// spaces; a split prefers the latest frame gap (a space of at least kFrameGapUs) within
// reach, so that the waits a writer times itself fall where a few hundred µs of scheduling
// delay do not matter.
//
// Threads: plain functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ir/signal.h"
#include "lirc/fault.h"
#include "lirc/features.h"

namespace krvxd::lirc {

/// Spaces at least this long are frame gaps, where a send is best split.
inline constexpr uint32_t kFrameGapUs = 20000;

struct SendChunk {
    std::vector<uint32_t> entries;  ///< pulse, space, ..., pulse
    uint32_t gap_after_us = 0;      ///< silence to keep after the last pulse
    uint64_t duration_us() const;   ///< sum of entries
};

struct SendPlan {
    std::optional<uint32_t> carrier_hz;  ///< set before writing, when the device can
    std::optional<uint32_t> duty_cycle;  ///< set before writing, when known and possible
    std::vector<SendChunk> chunks;
    uint64_t air_time_us = 0;  ///< every entry and gap
    std::string remark;        ///< e.g. that the device's own carrier is used; may be empty
};

struct PlanResult {
    SendPlan plan;
    Outcome outcome;  ///< not_supported or invalid_code when no plan could be made
    bool ok() const { return outcome.ok(); }
};

/// Plans a send of `signal`: the once part, then the repeat part repeat_count times (the
/// once part repeat_count times without a repeat part); repeat_count <= 0 counts as 1.
PlanResult plan_send(const ir::Signal &signal, int repeat_count, const Capabilities &caps);

/// Splits alternating on/off durations (starting with on, even count, every value > 0,
/// every on <= kMaxWriteDurationUs) into chunks. Exposed for tests.
std::vector<SendChunk> split_into_writes(const std::vector<uint32_t> &durations);

}  // namespace krvxd::lirc
