// What a learn makes of captured frames: progress, quality, carrier and the reasons a learn
// ends without a code.
#include <gtest/gtest.h>

#include "ir/pronto.h"
#include "krvxdrv.h"
#include "learn/learn_engine.h"

using namespace krvxd;

namespace {

ReceivedFrame frame(std::vector<uint32_t> d, uint32_t carrier = 38000, uint32_t gap = 40000) {
    ReceivedFrame f;
    f.durations_us = std::move(d);
    f.trailing_gap_us = gap;
    if (carrier != 0)
        f.carrier_samples_hz.push_back(carrier);
    return f;
}

// A small RC5-like frame, scaled by `stretch` to play receiver jitter.
ReceivedFrame remote_frame(double stretch = 1.0, uint32_t carrier = 36000) {
    std::vector<uint32_t> d = {889, 889, 1778, 889, 889, 1778, 889, 889, 889};
    for (auto &x : d)
        x = static_cast<uint32_t>(x * stretch);
    return frame(d, carrier, 90000);
}

}  // namespace

TEST(LearnEngine, ProgressGrowsPerFrameAndCompletesOnlyWithARepeat) {
    LearnEngine e;
    EXPECT_EQ(e.failure_reason(), LEARN_FAIL_NOTHING_SEEN);
    EXPECT_EQ(e.add(remote_frame()).progress, 25);
    EXPECT_EQ(e.report().quality, 0);  // nothing to compare with yet
    EXPECT_EQ(e.failure_reason(), LEARN_FAIL_PARTIAL);
    int last = 25;
    for (int i = 0; i < 3; ++i) {
        const auto r = e.add(remote_frame(i == 0 ? 1.02 : 1.0));
        EXPECT_GE(r.progress, last);
        last = r.progress;
    }
    EXPECT_EQ(last, 100);
    EXPECT_TRUE(e.complete());
    EXPECT_EQ(e.report().carrier_hz, 36000);
    // 2 % jitter on one of three repeats costs a few points, no more.
    EXPECT_LT(e.report().quality, 100);
    EXPECT_GT(e.report().quality, 90);
    const auto out = e.finish();
    ASSERT_EQ(out.result, LEARN_PROGRESS_DONE);
    const auto parsed = ir::parse_pronto(out.code);
    ASSERT_TRUE(parsed.ok()) << out.code;
    EXPECT_EQ(parsed.signal.repeat.size(), 5u);  // the frame became the repeat part

    // Four frames of different shapes are not complete: nothing repeated.
    LearnEngine shapes;
    for (int n = 3; n <= 9; n += 2)
        shapes.add(frame(std::vector<uint32_t>(n, 600)));
    EXPECT_EQ(shapes.report().progress, 100);
    EXPECT_FALSE(shapes.complete());
}

TEST(LearnEngine, NoiseAndOutOfRangeCarriersGiveTheirReasons) {
    LearnEngine noise;
    noise.add(frame({10, 10, 10}));  // glitches
    noise.add(frame({500}));         // a lone pulse
    noise.add(frame({500, 500}));    // does not end on a pulse
    EXPECT_FALSE(noise.usable());
    EXPECT_EQ(noise.report().progress, 0);
    EXPECT_EQ(noise.failure_reason(), LEARN_FAIL_NOISE);
    EXPECT_EQ(noise.finish().result, LEARN_FAIL_NOISE);

    LearnEngine high;
    high.add(remote_frame(1.0, 600000));
    EXPECT_EQ(high.finish().result, LEARN_FAIL_CARRIER);

    // Without carrier readings the code still comes out (38 kHz assumed, reported as 0).
    LearnEngine unmeasured;
    unmeasured.add(remote_frame(1.0, 0));
    EXPECT_EQ(unmeasured.report().carrier_hz, 0);
    EXPECT_EQ(unmeasured.finish().result, LEARN_PROGRESS_DONE);
}

TEST(LearnEngine, ReportedCarrierIsRoundedButTheCodeUsesTheReadings) {
    LearnEngine e;
    e.add(remote_frame(1.0, 38381));
    EXPECT_EQ(e.report().carrier_hz, 38400);
    const auto out = e.finish();
    ASSERT_EQ(out.result, LEARN_PROGRESS_DONE);
    EXPECT_EQ(out.code.substr(0, 9), "0000 006C");
}
