// SPDX-License-Identifier: MIT
// Raw and mode2 timing text of any bytes: both parsers answer within their bounds, what
// parses prints back to the same durations, and the protocol decoder takes whatever the
// parsers give; each decode names parameters that encode again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ir/protocols.h"
#include "ir/timings.h"

namespace {

void require(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

void check(const ir::Timings &t) {
    if (!t.ok()) {
        require(t.error.size() < 120 && t.error.find('\n') == std::string::npos);
        return;
    }
    require(!t.durations_us.empty() && t.durations_us.size() <= ir::kMaxTimings);
    std::string text;
    for (std::size_t i = 0; i < t.durations_us.size(); ++i) {
        require(t.durations_us[i] > 0 && t.durations_us[i] <= ir::kMaxDurationUs);
        text += (i % 2 == 0 ? "+" : "-") + std::to_string(t.durations_us[i]) + " ";
    }
    if (text.size() <= ir::kMaxTimingsChars) {
        require(ir::parse_raw_timings(text).durations_us == t.durations_us);
    }
    for (const ir::protocols::Decode &d : ir::protocols::decode(t.durations_us, t.carrier_hz)) {
        require(d.frames >= 1 && d.protocol != nullptr);
        require(ir::protocols::encode(*d.protocol, d.params).ok());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    check(ir::parse_raw_timings(text));
    check(ir::parse_mode2(text));
    return 0;
}
