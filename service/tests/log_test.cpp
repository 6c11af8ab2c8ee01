// SPDX-License-Identifier: MIT
// The log: lines below the level cost nothing, and a flood of lines is cut to a rate with
// a count of what was left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "log.h"

using krvxd::Log;

namespace {

// A line part that counts how often it was turned into text.
struct Counted {
    int *conversions;
    operator std::string_view() const {
        ++*conversions;
        return "part";
    }
};

int lines_in(const std::string &text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

TEST(Log, ALineBelowTheLevelIsNeverBuilt) {
    int conversions = 0;
    const Log quiet(false), verbose(true);
    ::testing::internal::CaptureStderr();
    quiet.debug("client ", 7, ": ", Counted{&conversions});
    EXPECT_EQ(conversions, 0);
    verbose.debug("client ", 7, ": ", Counted{&conversions});
    EXPECT_EQ(conversions, 1);
    quiet.warn("client ", 7, ": ", Counted{&conversions});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "krvxd: client 7: part\nkrvxd: warning: client 7: part\n");
}

TEST(Log, AFloodIsCutToTheRateAndSaysHowMuchWasLeftOut) {
    const Log log(false);
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 10000; ++i)
        log.warn("client ", i, ": dropped: malformed frame");
    const std::string out = ::testing::internal::GetCapturedStderr();
    const int burst = static_cast<int>(Log::kBurst);
    EXPECT_GE(lines_in(out), burst);
    EXPECT_LE(lines_in(out), burst + 5);  // plus what the rate let through meanwhile
    EXPECT_GT(log.left_out(), 9000u);

    ::testing::internal::CaptureStderr();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a few tokens back
    log.error("device lost");
    const std::string next = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(next.find("log lines left out"), std::string::npos) << next;
    EXPECT_NE(next.find("krvxd: error: device lost"), std::string::npos) << next;
}
