// SPDX-License-Identifier: MIT
#include "ir/timings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char *name;
    std::string text;
    std::vector<uint32_t> durations;  // empty: refused
    std::string error;                // refusal text (start)
};

const std::vector<Case> kRaw = {
    {"signed", "+9024 -4512 +564", {9024, 4512, 564}, ""},
    {"unsigned alternate", "9024 4512 564 1692", {9024, 4512, 564, 1692}, ""},
    {"commas and lines", "+900,-450\n+560,\t-560", {900, 450, 560, 560}, ""},
    {"mixed signs follow the alternation", "+10 20 +30", {10, 20, 30}, ""},
    {"space first", "-4512 +564", {}, "word 1: a space where a mark belongs"},
    {"two marks", "+564 +564", {}, "word 2: a mark where a space belongs"},
    {"zero", "+564 -0", {}, "word 2: 0 µs"},
    {"letters", "+564 -45x", {}, "word 2: '-45x' is not a duration"},
    {"sign alone", "+", {}, "word 1: '+' is not a duration"},
    {"too long a duration", "+20000000", {}, "word 1: 20000000 µs is too long"},
    {"overflowing digits", "+99999999999999999999", {}, "word 1: '+999999999999999...'"},
    {"empty", "  \n ", {}, "no durations"},
    {"one megabyte", std::string(1 << 20, '1'), {}, "the text is 1048576 characters long"},
};

const std::vector<Case> kMode2 = {
    {"samples", "pulse 9024\nspace 4512\npulse 564\n", {9024, 4512, 564}, ""},
    {"leading silence, comments, timeout",
     "space 16777215\n# a comment\n\npulse 500\n"
     "timeout 125000\nspace 20000\npulse 600",
     {500, 145000, 600},
     ""},
    {"same levels add up", "pulse 100\npulse 200\nspace 5\n", {300, 5}, ""},
    {"carrier line", "carrier 38000\npulse 10", {10}, ""},
    {"unknown word", "pulse 10\npulsar 12", {}, "line 2: 'pulsar 12' is not pulse"},
    {"missing number", "pulse", {}, "line 1: 'pulse' is not pulse"},
    {"zero pulse", "pulse 0", {}, "line 1: 0 µs"},
    {"no pulses", "space 100\n# only silence", {}, "no pulses"},
};

void check(const Case &c, const ir::Timings &t) {
    if (c.durations.empty()) {
        EXPECT_FALSE(t.ok()) << c.name;
        EXPECT_EQ(t.error.substr(0, c.error.size()), c.error) << c.name;
        EXPECT_LT(t.error.size(), 100u) << c.name;
    } else {
        EXPECT_TRUE(t.ok()) << c.name << ": " << t.error;
        EXPECT_EQ(t.durations_us, c.durations) << c.name;
    }
}

TEST(Timings, RawTextIsReadOrRefusedWithAReason) {
    for (const Case &c : kRaw) {
        check(c, ir::parse_raw_timings(c.text));
    }
}

TEST(Timings, Mode2TextIsReadOrRefusedWithAReason) {
    for (const Case &c : kMode2) {
        check(c, ir::parse_mode2(c.text));
    }
    EXPECT_EQ(ir::parse_mode2("carrier 36000\npulse 1").carrier_hz, 36000);
    EXPECT_TRUE(ir::looks_like_mode2("  # ir-ctl\npulse 1"));
    EXPECT_FALSE(ir::looks_like_mode2("+9024 -4512"));
}

TEST(Timings, CountIsBounded) {
    std::string text;
    for (std::size_t i = 0; i <= ir::kMaxTimings; ++i) {
        text += i % 2 == 0 ? "+1 " : "-1 ";
    }
    EXPECT_EQ(ir::parse_raw_timings(text).error, "word 16385: more than 16384 durations");
}

}  // namespace
