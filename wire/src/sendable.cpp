// SPDX-License-Identifier: MIT
// The one sendability rule of the library and the service.
#include "wire/sendable.h"

#include <algorithm>
#include <cstdio>

#include "ir/pronto.h"
#include "ir/protocols.h"

namespace wire {

namespace {

// "95.8 h", "2.5 min", "130 s": the air time of a refused send in the unit a user thinks in.
std::string duration_text(uint64_t us) {
    const double s = static_cast<double>(us) / 1e6;
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%.1f h", s / 3600);
    else if (s >= 600)
        std::snprintf(text, sizeof text, "%.1f min", s / 60);
    else
        std::snprintf(text, sizeof text, "%.0f s", s);
    return text;
}

Sendable refuse(Status status, std::string why) {
    Sendable s;
    s.refusal = {status, std::move(why)};
    return s;
}

}  // namespace

Sendable check_sendable(std::string_view code, int32_t repeat) {
    if (repeat < 0 || repeat > ir::kMaxRepeatCount)
        return refuse(Status::InvalidArgument, "the repeat count " + std::to_string(repeat) +
                                                   " is outside 0.." +
                                                   std::to_string(ir::kMaxRepeatCount));
    if (code.size() > ir::kMaxProntoChars)
        return refuse(Status::InvalidCode, "the code is longer than " +
                                               std::to_string(ir::kMaxProntoChars) + " characters");
    // Pronto text, or a protocol code sent as its protocol encodes it.
    ir::ParseResult parsed;
    if (ir::protocols::is_protocol_code(code)) {
        auto encoded = ir::protocols::encode(code);
        parsed.signal = std::move(encoded.signal);
        parsed.error = std::move(encoded.error);
    } else {
        parsed = ir::parse_pronto(code);
    }
    if (!parsed.ok())
        return refuse(Status::InvalidCode, std::move(parsed.error));
    const ir::Signal &s = parsed.signal;
    if (s.once.empty() && s.repeat.empty())
        return refuse(Status::InvalidCode, "the code has no burst pair");
    const auto zero = [](const ir::Burst &b) { return b.on_us == 0 || b.off_us == 0; };
    if (std::any_of(s.once.begin(), s.once.end(), zero) ||
        std::any_of(s.repeat.begin(), s.repeat.end(), zero))
        return refuse(Status::InvalidCode, "the code has a pulse or space of zero length");
    const int count = std::max(repeat, int32_t{1});
    const uint64_t air = ir::air_time_us(s, count);
    if (air > kMaxSendAirTimeUs)
        return refuse(Status::InvalidArgument, "the send would take " + duration_text(air) +
                                                   " on air; at most " +
                                                   duration_text(kMaxSendAirTimeUs));
    Sendable ok;
    ok.signal = std::move(parsed.signal);
    ok.repeat = count;
    return ok;
}

}  // namespace wire
