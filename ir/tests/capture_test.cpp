// SPDX-License-Identifier: MIT
#include "ir/capture.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "ir/pronto.h"
#include "test_signals.h"

namespace {

// First four words of the learned code: type, frequency, once pairs, repeat pairs.
std::string header(const ir::Signal &s) {
    return ir::encode_pronto(s).text.substr(0, 19);
}

// A held NEC button as a receiver measures it: the frame, then `k` ditto frames.
ir::Capture nec_capture(int k, std::mt19937 &rng) {
    std::vector<uint32_t> d;
    irtest::append_frame(d, irtest::nec_frame(0x12, 0x34, 0x56), 108000);
    for (int i = 0; i < k; ++i) {
        irtest::append_frame(d, irtest::nec_ditto(), 108000);
    }
    d.pop_back();  // a capture ends on a pulse
    return {irtest::jitter(d, rng, 3, 30), {38350, 38450}, 0};
}

TEST(SplitRepeat, HeldNecButtonGivesFrameAndOneDittoPair) {
    std::mt19937 rng(3);
    for (int k = 2; k <= 6; ++k) {
        const ir::CaptureResult r = ir::from_capture(nec_capture(k, rng));
        EXPECT_TRUE(r.carrier_measured);
        EXPECT_EQ(r.signal.carrier_hz, 38400);
        EXPECT_EQ(header(r.signal), "0000 006C 0022 0002") << k << " ditto frames";
        EXPECT_NEAR(r.signal.repeat[0].on_us, 9024, 400);
        EXPECT_NEAR(r.signal.repeat[0].off_us, 2256, 200);
    }
}

TEST(SplitRepeat, OneDittoFrameIsNoRepeat) {
    std::mt19937 rng(4);
    const ir::CaptureResult r = ir::from_capture(nec_capture(1, rng));
    EXPECT_EQ(header(r.signal), "0000 006C 0024 0000");
    EXPECT_EQ(r.signal.once.back().off_us, ir::kDefaultTrailingGapUs);
}

TEST(SplitRepeat, RepeatedRc5FramesBecomeTheRepeatPart) {
    // Three RC5 frames, the last followed by a measured silence shorter than a real gap.
    const ir::Signal rc5 = ir::parse_pronto("5000 0073 0000 0001 0005 0023").signal;
    std::vector<uint32_t> d;
    for (int i = 0; i < 3; ++i) {
        for (const ir::Burst &b : rc5.repeat) {
            d.push_back(b.on_us);
            d.push_back(b.off_us);
        }
    }
    d.pop_back();
    const ir::CaptureResult r = ir::from_capture({d, {}, 30000});
    EXPECT_FALSE(r.carrier_measured);
    EXPECT_EQ(r.signal.carrier_hz, 38000);
    EXPECT_TRUE(r.signal.once.empty());
    EXPECT_EQ(r.signal.repeat, rc5.repeat);
}

TEST(SplitRepeat, LargestRepeatedDurationWins) {
    // Frames A (33 ms) and B (67 ms): three A then two B gives the B run (134 ms > 99 ms),
    // five A then two B the A run (165 ms).
    const std::vector<ir::Burst> a{{1000, 1000}, {1000, 30000}};
    const std::vector<ir::Burst> b{{3000, 1000}, {3000, 60000}};
    auto sequence = [&](int as) {
        std::vector<ir::Burst> out;
        for (int i = 0; i < as; ++i) {
            out.insert(out.end(), a.begin(), a.end());
        }
        for (int i = 0; i < 2; ++i) {
            out.insert(out.end(), b.begin(), b.end());
        }
        return out;
    };
    const ir::Signal three = ir::split_repeat(sequence(3), 40000);
    EXPECT_EQ(three.once.size(), 6u);
    EXPECT_EQ(three.repeat, b);
    const ir::Signal five = ir::split_repeat(sequence(5), 40000);
    EXPECT_TRUE(five.once.empty());
    EXPECT_EQ(five.repeat, a);
}

TEST(SplitRepeat, BlocksWithoutARealGapOrASecondCopyStayOnce) {
    // Repeated pairs inside one frame (gaps of 1 ms) are data, not a repeat.
    std::vector<ir::Burst> bursts(10, {500, 1000});
    bursts.push_back({500, 45000});
    EXPECT_TRUE(ir::split_repeat(bursts, 38000).repeat.empty());
    EXPECT_EQ(ir::split_repeat(bursts, 38000).once, bursts);
    EXPECT_TRUE(ir::split_repeat({}, 38000).once.empty());
}

TEST(FromCapture, CarrierIsTheMeanOfTheNonZeroReadings) {
    const ir::CaptureResult r = ir::from_capture({{560, 560, 560}, {0, 36000, 0, 37000}, 0});
    EXPECT_TRUE(r.carrier_measured);
    EXPECT_EQ(r.signal.carrier_hz, 36500);
    EXPECT_EQ(r.signal.once,
              (std::vector<ir::Burst>{{560, 560}, {560, ir::kDefaultTrailingGapUs}}));

    const ir::CaptureResult zeros = ir::from_capture({{560, 560, 560, 70000}, {0, 0}, 12345});
    EXPECT_FALSE(zeros.carrier_measured);
    EXPECT_EQ(zeros.signal.once.back().off_us, 70000u);  // an even count keeps its own gap
}

TEST(FromCapture, LongCaptureIsSearchedInBoundedTime) {
    // 10001 alike pairs: every comparison matches, the worst case for the search.
    ir::Capture c;
    for (int i = 0; i < 10000; ++i) {
        c.durations_us.insert(c.durations_us.end(), {500, 1000});
    }
    c.durations_us.push_back(500);
    const ir::CaptureResult r = ir::from_capture(c);
    EXPECT_TRUE(r.signal.repeat.empty());
    EXPECT_EQ(r.signal.once.size(), 10001u);
}

}  // namespace
