// SPDX-License-Identifier: MIT
// The one sendability rule: codes, repeat counts and the air-time cap.
#include <gtest/gtest.h>

#include "ir/pronto.h"
#include "wire/sendable.h"

using namespace wire;

namespace {

// A Pronto code of `pairs` burst pairs of `us` on and off each, without a repeat part.
std::string code_of(std::size_t pairs, uint32_t us) {
    ir::Signal s;
    s.carrier_hz = 38000;
    s.once.assign(pairs, ir::Burst{us, us});
    return ir::encode_pronto(s).text;
}

}  // namespace

TEST(Sendable, EachRuleRefusesWithItsStatusAndSaysWhy) {
    const std::string longest_pair = code_of(100, 1'700'000);  // 100 pairs of 1.7 s + 1.7 s
    struct Row {
        const char *name;
        std::string code;
        int32_t repeat;
        Status status;
        const char *why_contains;
    };
    const Row rows[] = {
        {"plain code", code_of(1, 600), 1, Status::Ok, ""},
        {"repeat 0 is taken as 1", code_of(1, 600), 0, Status::Ok, ""},
        {"highest repeat count", code_of(1, 600), ir::kMaxRepeatCount, Status::Ok, ""},
        {"negative repeat count", code_of(1, 600), -1, Status::InvalidArgument, "-1"},
        {"repeat count over the cap", code_of(1, 600), ir::kMaxRepeatCount + 1,
         Status::InvalidArgument, "0..1000"},
        {"not hexadecimal", "0000 006C 0000 0001 00zz 0010", 1, Status::InvalidCode, "word"},
        {"zero-length pulse", "0000 006C 0000 0001 0000 0010", 1, Status::InvalidCode, "zero"},
        {"over-long text", std::string(ir::kMaxProntoChars + 1, '0'), 1, Status::InvalidCode,
         "longer"},
        {"about 95 hours on air", longest_pair, 1000, Status::InvalidArgument, "h on air"},
        {"one pass over the cap", longest_pair, 1, Status::InvalidArgument, " s on air"},
        {"one long pass within it", code_of(30, 1'700'000), 0, Status::Ok, ""},
    };
    for (const Row &row : rows) {
        const Sendable s = check_sendable(row.code, row.repeat);
        EXPECT_EQ(s.refusal.status, row.status) << row.name << ": " << s.refusal.why;
        EXPECT_EQ(s.signal.has_value(), row.status == Status::Ok) << row.name;
        EXPECT_NE(s.refusal.why.find(row.why_contains), std::string::npos)
            << row.name << ": " << s.refusal.why;
        if (s.signal) {
            EXPECT_EQ(s.repeat, std::max(row.repeat, 1)) << row.name;
        }
    }
}

TEST(Sendable, AcceptedExactlyWhileTheAirTimeIsWithinTheCap) {
    const std::string code = code_of(10, 50'000);  // 1 s per pass
    const ir::Signal signal = ir::parse_pronto(code).signal;
    for (int32_t repeat : {1, 60, 119, 120, 121, 500, 1000}) {
        const bool within = ir::air_time_us(signal, repeat) <= kMaxSendAirTimeUs;
        EXPECT_EQ(check_sendable(code, repeat).signal.has_value(), within) << repeat;
    }
}
