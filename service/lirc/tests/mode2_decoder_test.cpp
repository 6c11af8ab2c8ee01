// SPDX-License-Identifier: MIT
// mode2 streams to frames, bursts and captures: learning V-1 with and without carrier
// reports, joins across timeouts, overflow, and the odd samples a driver may produce.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ir/capture.h"
#include "ir/pronto.h"
#include "lirc/mode2_decoder.h"
#include "scripted_device.h"

namespace krvxd::lirc {
namespace {

using namespace test;

// NEC1 D=12 S=34 F=56 with its repeat part.
constexpr const char *kV1 =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 "
    "0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0041 0016 06A4 015B 0057 0016 0E6C";

struct StreamOptions {
    bool carrier = true;
    int repeats = 3;
    uint32_t rec_timeout_us = 125000;  // silences this long end in a TIMEOUT sample
};

// What a receiver reports for a press of `code`: durations with a few µs of jitter,
// FREQUENCY reports after each frame, TIMEOUT where the silence reaches the timeout
// followed by the kernel's SPACE of the whole silence.
std::vector<uint32_t> press_stream(const char *code, StreamOptions o) {
    const ir::ParseResult parsed = ir::parse_pronto(code);
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    const std::vector<uint32_t> flat = ir::flatten(parsed.signal, o.repeats);
    std::vector<uint32_t> s{space(3000000)};  // idle before the press
    int reports = 0;
    for (std::size_t i = 0; i < flat.size(); ++i) {
        const int jitter = static_cast<int>(i % 5) * 2 - 4;  // -4..+4 µs
        const uint32_t us = static_cast<uint32_t>(static_cast<int>(flat[i]) + jitter);
        if (i % 2 == 0) {
            s.push_back(pulse(us));
            continue;
        }
        const bool last = i + 1 == flat.size();
        if (us >= 20000 && o.carrier) {
            s.push_back(frequency(reports++ % 2 == 0 ? 38281 : 38481));  // mean 38381
        }
        if (last || us >= o.rec_timeout_us) {
            s.push_back(timeout(o.rec_timeout_us));
            if (!last) {
                s.push_back(space(us));
            }
        } else {
            s.push_back(space(us));
        }
    }
    return s;
}

std::vector<Mode2Frame> decode(const std::vector<uint32_t> &samples,
                               Mode2DecoderOptions options = {}) {
    Mode2Decoder d(options);
    std::vector<Mode2Frame> frames;
    d.feed(samples, frames);
    d.flush(frames);
    return frames;
}

ir::CaptureResult learn(const std::vector<uint32_t> &samples) {
    const auto bursts = group_bursts(decode(samples));
    EXPECT_EQ(bursts.size(), 1u);
    return bursts.empty() ? ir::CaptureResult{} : ir::from_capture(to_capture(bursts[0]));
}

TEST(Mode2Learn, V1WithCarrierReportsGivesV1) {
    const ir::CaptureResult r = learn(press_stream(kV1, {}));
    EXPECT_TRUE(r.carrier_measured);
    EXPECT_NEAR(r.signal.carrier_hz, 38381, 1);
    EXPECT_EQ(ir::encode_pronto(r.signal).text, kV1);
}

TEST(Mode2Learn, V1WithoutCarrierReportsGives38kHzNotMeasured) {
    StreamOptions o;
    o.carrier = false;
    const ir::CaptureResult r = learn(press_stream(kV1, o));
    EXPECT_FALSE(r.carrier_measured);
    EXPECT_EQ(r.signal.carrier_hz, 38000);
    const std::string text = ir::encode_pronto(r.signal).text;
    EXPECT_EQ(text.substr(0, 19), "0000 006D 0022 0002");
}

TEST(Mode2Learn, FramesAreJoinedAcrossShortTimeouts) {
    // A 30 ms receive timeout ends every frame of the press in a TIMEOUT; the frames still
    // form one burst and the same code.
    StreamOptions o;
    o.rec_timeout_us = 30000;
    const std::vector<uint32_t> stream = press_stream(kV1, o);
    const auto frames = decode(stream);
    ASSERT_EQ(frames.size(), 4u);  // intro and three repeat frames
    for (const Mode2Frame &f : frames) {
        EXPECT_TRUE(f.ended_by_timeout);
    }
    EXPECT_FALSE(frames[0].continues_burst);
    EXPECT_TRUE(frames[1].continues_burst);
    EXPECT_NEAR(frames[1].gap_before_us, 44293, 5);  // the kernel's space of the whole silence
    EXPECT_EQ(ir::encode_pronto(learn(stream).signal).text, kV1);
}

TEST(Mode2Decoder, FramesSplitAtFrameGapsAndCarryTheirSilence) {
    const auto frames = decode({space(500), pulse(9000), space(4500), pulse(560), space(25000),
                                pulse(9000), space(2250), pulse(560), timeout(125000)});
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].durations_us, (std::vector<uint32_t>{9000, 4500, 560}));
    EXPECT_EQ(frames[0].gap_before_us, 0u);  // unknown: the stream started mid-silence
    EXPECT_EQ(frames[0].gap_after_us, 25000u);
    EXPECT_FALSE(frames[0].ended_by_timeout);
    EXPECT_EQ(frames[1].durations_us, (std::vector<uint32_t>{9000, 2250, 560}));
    EXPECT_TRUE(frames[1].continues_burst);
    EXPECT_EQ(frames[1].gap_before_us, 25000u);
    EXPECT_EQ(frames[1].gap_after_us, 125000u);
    EXPECT_TRUE(frames[1].ended_by_timeout);

    const ir::Capture c = to_capture(frames);
    EXPECT_EQ(c.durations_us, (std::vector<uint32_t>{9000, 4500, 560, 25000, 9000, 2250, 560}));
    EXPECT_EQ(c.trailing_gap_us, 125000u);
}

TEST(Mode2Decoder, OverflowFramesAreDropped) {
    Mode2Decoder d;
    std::vector<Mode2Frame> frames;
    d.feed(std::vector<uint32_t>{pulse(9000), space(4500), overflow(), pulse(560), space(560),
                                 pulse(560), timeout(125000), space(400000), pulse(2000),
                                 space(1000), pulse(2000), timeout(125000)},
           frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].durations_us, (std::vector<uint32_t>{2000, 1000, 2000}));
    EXPECT_FALSE(frames[0].continues_burst);
    EXPECT_EQ(d.stats().overflow_frames, 1u);
    EXPECT_EQ(d.stats().frames, 1u);
}

TEST(Mode2Decoder, OverflowWhileIdleDropsTheNextFrameAndBreaksTheBurst) {
    Mode2Decoder d;
    std::vector<Mode2Frame> frames;
    d.feed(std::vector<uint32_t>{pulse(600), space(600), pulse(600), space(30000), overflow(),
                                 pulse(700), space(700), pulse(700), space(30000), pulse(800),
                                 space(800), pulse(800), timeout(125000)},
           frames);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].durations_us[0], 600u);
    EXPECT_EQ(frames[1].durations_us[0], 800u);
    EXPECT_FALSE(frames[1].continues_burst);  // the gap to the last good frame is unknown
    EXPECT_EQ(group_bursts(frames).size(), 2u);
}

TEST(Mode2Decoder, CarrierReportsBelongToTheFrameUntilItsTimeout) {
    const auto frames =
        decode({frequency(36000), pulse(1000), space(500), pulse(1000), frequency(38000),
                space(30000), frequency(40000), timeout(125000), frequency(56000), space(200000),
                frequency(0), pulse(900), space(900), pulse(900), timeout(125000)});
    ASSERT_EQ(frames.size(), 2u);
    // Before the first pulse, after the last pulse, and in the silence before TIMEOUT.
    EXPECT_EQ(frames[0].carrier_samples_hz, (std::vector<uint32_t>{36000, 38000, 40000}));
    // After the TIMEOUT: the next frame's; a report of 0 is ignored.
    EXPECT_EQ(frames[1].carrier_samples_hz, (std::vector<uint32_t>{56000}));
    EXPECT_FALSE(frames[1].continues_burst);  // 200 ms apart: a new press
}

TEST(Mode2Decoder, OddSamplesAreToleratedAndBounded) {
    Mode2DecoderOptions opt;
    opt.max_frame_entries = 5;
    opt.max_carrier_samples = 2;
    Mode2Decoder d(opt);
    std::vector<Mode2Frame> frames;
    d.feed(
        std::vector<uint32_t>{
            pulse(0),        0x7F000123,                                   // zero pulse, bad type
            pulse(300),      pulse(200),      space(100),   space(150),    // runs merge
            pulse(400),      frequency(1),    frequency(2), frequency(3),  // reports capped
            timeout(125000), timeout(125000),                              // a second TIMEOUT
            pulse(1),        space(1),        pulse(1),     space(1),
            pulse(1),        space(1),        pulse(1),  // too long
            timeout(125000)},
        frames);
    d.flush(frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].durations_us, (std::vector<uint32_t>{500, 250, 400}));
    EXPECT_EQ(frames[0].carrier_samples_hz, (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(d.stats().unknown_samples, 1u);
    EXPECT_EQ(d.stats().overlong_frames, 1u);
    EXPECT_EQ(d.stats().timeouts, 3u);
}

TEST(Mode2Decoder, ReadsCutInsideASampleGiveTheSameFrames) {
    const std::vector<uint32_t> stream = press_stream(kV1, {});
    std::vector<std::byte> bytes(stream.size() * 4);
    std::memcpy(bytes.data(), stream.data(), bytes.size());
    Mode2Decoder d;
    std::vector<Mode2Frame> frames;
    for (std::size_t i = 0; i < bytes.size(); i += 7) {
        d.feed_bytes(std::span(bytes).subspan(i, std::min<std::size_t>(7, bytes.size() - i)),
                     frames);
    }
    d.flush(frames);
    const auto whole = decode(stream);
    ASSERT_EQ(frames.size(), whole.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].durations_us, whole[i].durations_us) << "frame " << i;
        EXPECT_EQ(frames[i].carrier_samples_hz, whole[i].carrier_samples_hz) << "frame " << i;
    }
}

TEST(Mode2Decoder, FlushEndsAFrameInProgressAndResetForgets) {
    Mode2Decoder d;
    std::vector<Mode2Frame> frames;
    d.feed(std::vector<uint32_t>{pulse(100), space(100), pulse(100), space(300)}, frames);
    EXPECT_TRUE(frames.empty());
    d.flush(frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].gap_after_us, 300u);
    d.reset();
    EXPECT_EQ(d.stats().frames, 0u);
    frames.clear();
    d.flush(frames);
    EXPECT_TRUE(frames.empty());
}

}  // namespace
}  // namespace krvxd::lirc
