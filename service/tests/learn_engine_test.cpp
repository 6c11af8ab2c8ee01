// SPDX-License-Identifier: MIT
// What a learn makes of captured frames: the code (snapped to its protocol or averaged),
// when it is confirmed, progress, quality, carrier and the reasons a learn ends without a
// code. Frames come from the simulated receiver model, as a press gives them.
#include <gtest/gtest.h>

#include "ir/pronto.h"
#include "krvxdrv.h"
#include "learn/learn_engine.h"
#include "learn_codes.h"
#include "sim/receiver_model.h"
#include "sim/sim_backend.h"

using namespace krvxd;

namespace {

ir::Signal signal_of(const learn_repeat::RepeatCode &c) {
    return ir::parse_pronto(c.pronto).signal;
}

const learn_repeat::RepeatCode &code(const std::string &name) {
    static const auto codes = learn_repeat::repeat_codes();
    for (const auto &c : codes)
        if (c.name == name)
            return c;
    throw std::runtime_error("no code " + name);
}

std::vector<ReceivedFrame> held(const ir::Signal &s, uint8_t quality = 100, uint32_t seed = 0,
                                uint32_t hold_ms = 1000) {
    return degrade(frames_for_hold(s, uint64_t{hold_ms} * 1000), quality, seed);
}

// Feeds frames until the engine confirms the code, checking progress on the way.
LearnOutcome learn_all(LearnEngine &e, const std::vector<ReceivedFrame> &frames) {
    int32_t last = 0;
    for (const auto &f : frames) {
        const LearnReport r = e.add(f);
        EXPECT_GE(r.progress, last) << "progress went back";
        EXPECT_EQ(r.progress == 100, e.complete());
        EXPECT_GE(r.quality, 0);
        EXPECT_LE(r.quality, 100);
        last = r.progress;
        if (e.complete())
            break;
    }
    return e.finish();
}

}  // namespace

// Every protocol code learns as its protocol's own encoding, toggle included, whatever the
// receiver's jitter and skew; at a poor press it never becomes another protocol code.
TEST(LearnEngine, ProtocolCodesSnapToTheirOwnEncoding) {
    for (const auto &c : learn_repeat::repeat_codes()) {
        if (c.protocol.empty() || c.pronto.empty())
            continue;
        const std::string want = learn_repeat::decode_text(c.pronto);
        for (uint8_t q : {100, 80, 60, 40}) {
            for (uint32_t seed = 0; seed < 5; ++seed) {
                SCOPED_TRACE(c.name + " Q" + std::to_string(q) + " seed " + std::to_string(seed));
                LearnEngine e;
                const LearnOutcome out = learn_all(e, held(signal_of(c), q, seed));
                if (q < 60 && (out.result != LEARN_PROGRESS_DONE || !out.snapped))
                    continue;
                ASSERT_EQ(out.result, LEARN_PROGRESS_DONE);
                EXPECT_TRUE(e.complete());
                EXPECT_TRUE(out.snapped);
                EXPECT_EQ(out.code, c.pronto);
                EXPECT_EQ(out.decode, want);
                if (q == 100) {
                    EXPECT_EQ(e.report().quality, 100);
                }
            }
        }
    }
    // The two toggle values of one RC5 button are two codes.
    const auto rc5 = [](const char *text) {
        LearnEngine e;
        return learn_all(e, held(ir::protocols::encode(std::string_view(text)).signal, 80)).code;
    };
    EXPECT_NE(rc5("RC5 D=0 F=12 T=0"), rc5("RC5 D=0 F=12 T=1"));
    EXPECT_EQ(learn_repeat::decode_text(rc5("RC5 D=0 F=12 T=0")), "RC5 D=0 F=12 T=0");
}

// A code is confirmed by the frames its receiver would want: Sony three, RC5 two, NEC its
// intro and one repeat frame, a code of no protocol three frames of its repeat shape.
TEST(LearnEngine, ConfirmationWantsTheFramesTheProtocolNeeds) {
    const struct {
        const char *name;
        std::size_t frames;
    } rows[] = {{"Sony12", 3}, {"RC5", 2}, {"NEC1", 2}, {"raw-unknown", 3}, {"raw-long-intro", 4}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const auto frames = held(signal_of(code(row.name)), 80, 3);
        ASSERT_GT(frames.size(), row.frames);
        LearnEngine e;
        for (std::size_t i = 0; i < row.frames; ++i) {
            EXPECT_FALSE(e.complete()) << i;
            e.add(frames[i]);
        }
        EXPECT_TRUE(e.complete());
    }
}

// A damaged frame among good ones is dropped: the code stays, the quality goes down.
TEST(LearnEngine, AGlitchFrameInTheMiddleIsDroppedAndCostsQuality) {
    for (const char *name : {"Sony12", "raw-unknown"}) {
        SCOPED_TRACE(name);
        const auto frames = held(signal_of(code(name)), 90, 1);
        LearnEngine clean, glitched;
        const LearnOutcome want = learn_all(clean, frames);
        ASSERT_EQ(want.result, LEARN_PROGRESS_DONE);
        std::vector<ReceivedFrame> with_glitch(frames.begin(), frames.begin() + 2);
        for (ReceivedFrame g : {frames[2], frames[2]}) {  // cut short, and one mark stretched
            g.durations_us.resize(with_glitch.size() == 2 ? 9 : g.durations_us.size());
            g.durations_us[4] *= 3;
            with_glitch.push_back(g);
        }
        with_glitch.insert(with_glitch.end(), frames.begin() + 3, frames.end());
        const LearnOutcome got = learn_all(glitched, with_glitch);
        ASSERT_EQ(got.result, LEARN_PROGRESS_DONE);
        EXPECT_EQ(got.snapped, want.snapped);
        // A snapped code is the same text; an averaged one averages other frames.
        const auto error = learn_repeat::timing_error(got.code, want.code);
        ASSERT_TRUE(error) << got.code;
        EXPECT_LE(*error, want.snapped ? 0.0 : 0.01);
        EXPECT_LT(glitched.report().quality, clean.report().quality);
    }
}

// Two remotes whose frames interleave: the learn takes the one seen more often, never a
// code made of both.
TEST(LearnEngine, InterleavedRemotesNeverGiveAMixedCode) {
    const auto rc5 = [](const char *text) {
        return ir::protocols::encode(std::string_view(text)).signal;
    };
    const std::pair<ir::Signal, ir::Signal> pairs[] = {
        {rc5("RC5 D=0 F=12 T=0"), rc5("RC5 D=5 F=33 T=1")},
        {signal_of(code("raw-unknown")), signal_of(code("Sony12"))},
    };
    for (const auto &[a, b] : pairs) {
        const auto fa = held(a, 80, 2), fb = held(b, 80, 5);
        LearnEngine alone_a, alone_b;
        const std::string want_a = learn_all(alone_a, fa).code,
                          want_b = learn_all(alone_b, fb).code;
        for (std::size_t lead : {0u, 1u}) {  // a first, or b first
            std::vector<ReceivedFrame> mixed;
            for (std::size_t i = 0; i < 6; ++i) {
                mixed.push_back(i % 2 == lead ? fa[i / 2] : fb[i / 2]);
                mixed.back().burst_start = i == 0;
            }
            mixed.push_back(lead == 0 ? fa[3] : fb[3]);  // the majority
            LearnEngine e;
            for (const auto &f : mixed)
                e.add(f);
            const LearnOutcome out = e.finish();
            if (out.result == LEARN_PROGRESS_DONE) {
                // The majority's code: the same text when snapped, its shape when averaged.
                const auto error =
                    learn_repeat::timing_error(out.code, lead == 0 ? want_a : want_b);
                ASSERT_TRUE(error) << lead << ": " << out.code;
                EXPECT_LE(*error, out.snapped ? 0.0 : 0.02) << lead;
            }
            EXPECT_LT(e.report().quality, 70);
        }
    }
}

// A code of no protocol is the average of its frames, the receiver's skew taken back.
TEST(LearnEngine, RawCodesAreAveragedAndDeskewed) {
    for (const char *name : {"raw-unknown", "raw-long-intro"}) {
        const auto &c = code(name);
        for (uint8_t q : {100, 80, 60}) {
            for (uint32_t seed = 0; seed < 5; ++seed) {
                SCOPED_TRACE(std::string(name) + " Q" + std::to_string(q));
                LearnEngine e;
                const LearnOutcome out = learn_all(e, held(signal_of(c), q, seed));
                ASSERT_EQ(out.result, LEARN_PROGRESS_DONE);
                EXPECT_FALSE(out.snapped);
                EXPECT_TRUE(out.decode.empty());
                const auto error = learn_repeat::timing_error(out.code, c.pronto);
                ASSERT_TRUE(error) << out.code;
                EXPECT_LE(*error, q == 100 ? 0.0 : 0.02);
            }
        }
    }
}

TEST(LearnEngine, NoiseAndOutOfRangeCarriersGiveTheirReasons) {
    const auto frame = [](std::vector<uint32_t> d, uint32_t carrier) {
        ReceivedFrame f;
        f.durations_us = std::move(d);
        f.trailing_gap_us = 40000;
        if (carrier != 0)
            f.carrier_samples_hz.push_back(carrier);
        return f;
    };
    const std::vector<uint32_t> remote = {889, 889, 1778, 889, 889, 1778, 889, 889, 889};
    LearnEngine nothing;
    EXPECT_EQ(nothing.failure_reason(), LEARN_FAIL_NOTHING_SEEN);
    EXPECT_EQ(nothing.finish().result, LEARN_FAIL_NOTHING_SEEN);

    LearnEngine noise;
    noise.add(frame({10, 10, 10}, 38000));  // glitches
    noise.add(frame({500}, 38000));         // a lone pulse
    noise.add(frame({500, 500}, 38000));    // does not end on a pulse
    EXPECT_FALSE(noise.usable());
    EXPECT_EQ(noise.report().progress, 0);
    EXPECT_EQ(noise.failure_reason(), LEARN_FAIL_NOISE);
    EXPECT_EQ(noise.finish().result, LEARN_FAIL_NOISE);

    LearnEngine high;
    high.add(frame(remote, 600000));
    EXPECT_EQ(high.failure_reason(), LEARN_FAIL_PARTIAL);
    EXPECT_EQ(high.finish().result, LEARN_FAIL_CARRIER);

    // Without carrier readings the code still comes out (38 kHz assumed, reported as 0);
    // readings are shown to 100 Hz, the code carries them at the Pronto word's resolution.
    for (const auto &[reading, shown, word] :
         {std::tuple{0u, 0, "006D"}, {38381u, 38400, "006C"}, {39900u, 39900, "0068"}}) {
        LearnEngine e;
        e.add(frame(remote, reading));
        EXPECT_EQ(e.report().carrier_hz, shown);
        const auto out = e.finish();
        ASSERT_EQ(out.result, LEARN_PROGRESS_DONE);
        EXPECT_EQ(out.code.substr(5, 4), word) << out.code;
    }
}
