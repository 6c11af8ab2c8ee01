// SPDX-License-Identifier: MIT
// The simulated transceiver's air and the service's option parsing.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <chrono>
#include <vector>

#include "ir/pronto.h"
#include "learn/learn_engine.h"
#include "options.h"
#include "sim/receiver_model.h"
#include "sim/sim_backend.h"

using namespace krvxd;

namespace {

ir::Signal signal_of(const char *code) {
    auto r = ir::parse_pronto(code);
    EXPECT_TRUE(r.ok()) << r.error;
    return r.signal;
}

// NEC1 with its 4-pair repeat frame: once part 34 pairs, repeat part 2 pairs.
const char *kNec =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 06A4 "
    "015B 0057 0016 0E6C";
const char *kOnceOnly = "0000 006D 0002 0000 0010 0020 0010 0400";

struct Recorder final : BackendListener {
    std::vector<ReceivedFrame> frames;
    int lost = 0;
    void on_frame(const ReceivedFrame &f) override { frames.push_back(f); }
    void on_device_lost(const std::string &) override { ++lost; }
    void on_device_back() override {}
    void on_receive_code(const std::string &) override {}
};

}  // namespace

TEST(SimAir, SentFramesFollowTheRepeatCountRule) {
    const ir::Signal nec = signal_of(kNec), once = signal_of(kOnceOnly);
    // Once part, then the repeat part N times.
    EXPECT_EQ(frames_for_send(nec, 3).size(), 4u);
    // Without a repeat part the once part goes N times; 0 counts as 1.
    EXPECT_EQ(frames_for_send(once, 3).size(), 3u);
    EXPECT_EQ(frames_for_send(once, 0).size(), 1u);

    const auto frames = frames_for_send(nec, 2);
    EXPECT_TRUE(frames[0].burst_start);
    EXPECT_FALSE(frames[1].burst_start);
    EXPECT_FALSE(frames[2].burst_start);
    // A frame ends on a pulse; the long silence after it is its trailing gap.
    EXPECT_EQ(frames[0].durations_us.size(), 67u);
    EXPECT_EQ(frames[1].durations_us.size(), 3u);
    EXPECT_GT(frames[0].trailing_gap_us, 20000u);
    ASSERT_EQ(frames[0].carrier_samples_hz.size(), 1u);
    EXPECT_EQ(frames[0].carrier_samples_hz[0], 38381u);  // 0x6C, in whole Hz
}

TEST(SimAir, AHeldButtonRepeatsForTheHoldTimeWithinTheBound) {
    const ir::Signal nec = signal_of(kNec);
    // ~108 ms for the first frame, ~108 ms per repeat frame.
    EXPECT_EQ(frames_for_hold(nec, 0).size(), 1u + 0u);
    const auto second = frames_for_hold(nec, 1000000);
    EXPECT_GE(second.size(), 9u);
    EXPECT_LE(second.size(), 11u);
    EXPECT_EQ(frames_for_hold(nec, 3600ull * 1000000).size(), kMaxFramesPerBurst);
}

TEST(SimBackend, InstantTimeDeliversFromTheLoopNeverInsideTheCall) {
    asio::io_context io;
    Recorder rec;
    SimSettings settings;
    settings.time_scale = 0;
    settings.loopback = true;
    SimBackend sim(io.get_executor(), rec, settings);
    int done = -1;
    sim.transmit(signal_of(kNec), 2, [&](wire::Status status) { done = wire::to_int(status); });
    EXPECT_EQ(sim.press(signal_of(kOnceOnly), 0, 100, {}), wire::Status::Ok);
    EXPECT_TRUE(rec.frames.empty());
    EXPECT_EQ(done, -1);
    io.run_for(std::chrono::seconds(5));
    EXPECT_EQ(done, 0);
    EXPECT_EQ(rec.frames.size(), 3u + 1u);
}

TEST(SimBackend, FailingTransmitAndDestructionStopEverything) {
    asio::io_context io;
    Recorder rec;
    SimSettings settings;
    settings.fail_transmit = true;
    int done = -1;
    {
        SimBackend failing(io.get_executor(), rec, settings);
        failing.transmit(signal_of(kNec), 1,
                         [&](wire::Status status) { done = wire::to_int(status); });
        io.run_for(std::chrono::seconds(5));
    }
    EXPECT_EQ(done, ERR_TRANSMIT_FAILED);
    io.restart();
    settings.fail_transmit = false;
    settings.time_scale = 1;
    settings.loopback = true;
    done = -1;
    {
        SimBackend sim(io.get_executor(), rec, settings);
        sim.transmit(signal_of(kNec), 50,
                     [&](wire::Status status) { done = wire::to_int(status); });
        sim.press(signal_of(kNec), 5000, 100, {});
    }  // destroyed with a 5 s send and press pending
    rec.frames.clear();
    io.run_for(std::chrono::milliseconds(200));
    EXPECT_EQ(done, -1);
    EXPECT_TRUE(rec.frames.empty());
}

TEST(ServiceOptions, VersionsDatesAndFaultsAreCheckedStrictly) {
    EXPECT_EQ(parse_version("1.7"), 0x107u);
    EXPECT_EQ(parse_version("255.255"), 0xFFFFu);
    for (const char *bad : {"", "1", "1.", ".7", "256.0", "1.7.1", "-1.2", "1.x", "01234.1"})
        EXPECT_FALSE(parse_version(bad)) << bad;
    krvxd::DeviceInfo info;
    EXPECT_TRUE(parse_date("2031-12-24", info));
    EXPECT_EQ(info.year, 31);
    for (const char *bad : {"1999-01-01", "2024-13-01", "2024-00-10", "2024-1-1", "2256-01-01"})
        EXPECT_FALSE(parse_date(bad, info)) << bad;

    const char *args[] = {"krvxd", "--fail-open=comm-failed", "--time-scale", "0", "--loopback"};
    const auto parsed = parse_options(5, args);
    ASSERT_TRUE(parsed.options) << parsed.text;
    EXPECT_EQ(parsed.options->sim.open_status, wire::Status::CommFailed);
    EXPECT_TRUE(parsed.options->sim.loopback);

    // Every number is checked, "nan" (which passes a plain range check) and infinities too;
    // each refusal is a usage error that names the option.
    const std::pair<const char *, const char *> refused[] = {
        {"--time-scale", "2"},
        {"--time-scale", "nan"},
        {"--time-scale", "-0.5"},
        {"--learn-timeout", "nan"},
        {"--learn-timeout", "inf"},
        {"--learn-timeout", "0"},
        {"--learn-timeout", "1e400"},
        {"--max-clients", "0"},
        {"--max-clients", "4097"},
        {"--max-clients", "nan"},
        {"--max-clients", "-1"},
        {"--fail-open", "bogus"},
        {"--socket", ""},
    };
    for (const auto &[option, value] : refused) {
        const char *argv[] = {"krvxd", option, value};
        const auto bad = parse_options(3, argv);
        EXPECT_FALSE(bad.options) << option << " " << value;
        EXPECT_EQ(bad.exit_code, 2) << option << " " << value;
        EXPECT_NE(bad.text.find(option), std::string::npos) << bad.text;
    }
    const char *limits[] = {"krvxd", "--max-clients", "4096", "--learn-timeout", "0.5"};
    const auto ok = parse_options(5, limits);
    ASSERT_TRUE(ok.options) << ok.text;
    EXPECT_EQ(ok.options->limits.max_clients, 4096u);
    EXPECT_EQ(ok.options->limits.learn_timeout, std::chrono::milliseconds(500));
}

namespace {

krvxd::LearnOutcome learn_press(const ir::Signal &signal, uint8_t quality, uint32_t seed,
                                int32_t &reported_quality) {
    krvxd::LearnEngine engine;
    for (const auto &f : krvxd::degrade(krvxd::frames_for_hold(signal, 1000000), quality, seed))
        reported_quality = engine.add(f).quality;
    return engine.finish();
}

}  // namespace

// The press quality changes what the receiver captures, and the learn engine's quality
// follows what it captured: a poor press learns with a lower quality, the same code
// within tolerance where it still completes.
TEST(SimAir, APoorPressLearnsWithALowerQuality) {
    const char *v1 =
        "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 "
        "0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
        "0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 "
        "0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
        "0016 0041 0016 06A4 015B 0057 0016 0E6C";
    const ir::ParseResult p = ir::parse_pronto(v1);
    ASSERT_TRUE(p.ok());
    int32_t clean_q = 0;
    const auto clean = learn_press(p.signal, 100, 1, clean_q);
    ASSERT_EQ(clean.result, LEARN_PROGRESS_DONE);
    EXPECT_EQ(clean.code, v1);
    for (uint32_t seed = 0; seed < 5; ++seed) {
        int32_t fair_q = 0, poor_q = 0;
        const auto fair = learn_press(p.signal, 80, seed, fair_q);
        learn_press(p.signal, 20, seed, poor_q);
        EXPECT_LT(fair_q, clean_q) << seed;
        EXPECT_LE(poor_q, fair_q) << seed;
        ASSERT_EQ(fair.result, LEARN_PROGRESS_DONE) << seed;
        const ir::ParseResult got = ir::parse_pronto(fair.code);
        ASSERT_TRUE(got.ok());
        const auto want_flat = ir::flatten(p.signal, 1), got_flat = ir::flatten(got.signal, 1);
        ASSERT_EQ(got_flat.size(), want_flat.size());
        for (std::size_t i = 0; i < want_flat.size(); ++i)
            EXPECT_NEAR(got_flat[i], want_flat[i], want_flat[i] * 0.06 + 30) << i;
    }
    // The same seed gives the same capture; 100 leaves it untouched.
    const auto frames = krvxd::frames_for_hold(p.signal, 500000);
    EXPECT_EQ(krvxd::degrade(frames, 30, 7).size(), krvxd::degrade(frames, 30, 7).size());
    EXPECT_EQ(krvxd::degrade(frames, 100, 7)[0].durations_us, frames[0].durations_us);
}
