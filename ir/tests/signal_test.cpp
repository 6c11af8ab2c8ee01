// SPDX-License-Identifier: MIT
#include "ir/signal.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {

const ir::Signal kWithRepeat{38000, std::nullopt, {{10, 20}, {30, 40}}, {{50, 60}}};
const ir::Signal kOnceOnly{38000, std::nullopt, {{1, 2}}, {}};

TEST(Flatten, OnceThenRepeatPartPerPress) {
    EXPECT_EQ(ir::flatten(kWithRepeat, 2), (std::vector<uint32_t>{10, 20, 30, 40, 50, 60, 50, 60}));
    EXPECT_EQ(ir::flatten(kOnceOnly, 3), (std::vector<uint32_t>{1, 2, 1, 2, 1, 2}));
    const ir::Signal repeat_only{0, std::nullopt, {}, {{7, 8}}};
    EXPECT_EQ(ir::flatten(repeat_only, 2), (std::vector<uint32_t>{7, 8, 7, 8}));
    EXPECT_TRUE(ir::flatten(ir::Signal{}, 5).empty());
}

TEST(Flatten, CountsOutsideTheRangeAreBounded) {
    EXPECT_EQ(ir::flatten(kWithRepeat, 0), ir::flatten(kWithRepeat, 1));
    EXPECT_EQ(ir::flatten(kWithRepeat, -5), ir::flatten(kWithRepeat, 1));
    EXPECT_EQ(ir::flatten(kOnceOnly, 1 << 30).size(), 2u * ir::kMaxRepeatCount);
}

TEST(AirTime, IsTheSumOfTheFlattenedDurations) {
    for (int n : {-1, 0, 1, 2, 7, ir::kMaxRepeatCount, 1 << 30}) {
        for (const ir::Signal &s : {kWithRepeat, kOnceOnly}) {
            const auto d = ir::flatten(s, n);
            EXPECT_EQ(ir::air_time_us(s, n), std::accumulate(d.begin(), d.end(), uint64_t{0})) << n;
        }
    }
    const ir::Signal huge{0, std::nullopt, {{UINT32_MAX, UINT32_MAX}}, {}};
    EXPECT_EQ(ir::air_time_us(huge, 3), 6ull * UINT32_MAX);
}

}  // namespace
