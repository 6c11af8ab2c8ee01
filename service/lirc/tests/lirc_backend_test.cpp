// SPDX-License-Identifier: MIT
// The backend on the service's loop, driven by scripted devices: frames reach the
// listener, learn settings come and go, sends run off the loop with the documented
// errors, and a device that goes away is noticed and served again when it is back.
#include "lirc/lirc_backend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <fstream>

#include "ir/pronto.h"
#include "learn/learn_engine.h"
#include "lirc/abi.h"
#include "scripted_device.h"

namespace krvxd::lirc {
namespace {

using namespace test;
using namespace std::chrono_literals;

constexpr const char *kV1 =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 "
    "0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0041 0016 06A4 015B 0057 0016 0E6C";
constexpr uint32_t kLoopbackFeatures = 0xB7040702;

struct Listener final : BackendListener {
    void on_frame(const ReceivedFrame &frame) override { frames.push_back(frame); }
    void on_device_lost(const std::string &reason) override { lost.push_back(reason); }
    void on_device_back() override { ++back; }
    void on_receive_code(const std::string &code) override { codes.push_back(code); }
    std::vector<std::string> codes;
    std::vector<ReceivedFrame> frames;
    std::vector<std::string> lost;
    int back = 0;
};

// Sends without waiting for real air time.
class InstantClock final : public SendClock {
  public:
    time_point now() override { return std::chrono::steady_clock::now(); }
    bool sleep_until(time_point, const std::stop_token &stop) override {
        return !stop.stop_requested();
    }
};

class LircBackendTest : public ::testing::Test {
  protected:
    ScriptedDevice &device() {
        devices_.push_back(std::make_unique<ScriptedDevice>());
        return *devices_.back();
    }
    // The calls of opening /dev/lirc0 as a receiver.
    ScriptedDevice &receiver(uint32_t features = kLoopbackFeatures) {
        ScriptedDevice &d = device();
        d.expect_open("/dev/lirc0").expect_get(kGetFeatures, features);
        if (features & kCanGetRecResolution) {
            d.expect_get(kGetRecResolution, 1);
        }
        if (features & kCanSetRecTimeout) {
            d.expect_get(kGetMinTimeout, 1)
                .expect_get(kGetMaxTimeout, 1000000)
                .expect_get(kGetRecTimeout, 125000);
        }
        if (features & kCanRecMode2) {
            d.expect_set(kSetRecMode, kModeMode2);
        }
        return d;
    }
    LircSettings settings() {
        LircSettings s;
        s.device = "/dev/lirc0";
        s.sys_class_rc = "/nonexistent/rc";
        s.dev_dir = "/nonexistent/dev";
        s.rescan_interval = 5ms;
        s.send_clock = std::make_shared<InstantClock>();
        s.factory = [this]() -> std::unique_ptr<DeviceIo> {
            if (next_ >= devices_.size()) {
                // Nothing scripted: a device that is not there.
                device().expect_open("/dev/lirc0", ENOENT);
            }
            return std::make_unique<DeviceRef>(*devices_.at(next_++));
        };
        return s;
    }
    template <class Pred>
    bool run_until(Pred pred) {
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (!pred() && std::chrono::steady_clock::now() < end) {
            io_.run_for(2ms);
        }
        return pred();
    }
    int32_t transmit(LircBackend &b, const char *code, int repeat) {
        const ir::ParseResult p = ir::parse_pronto(code);
        EXPECT_TRUE(p.ok());
        std::optional<int32_t> status;
        b.transmit(p.signal, repeat, [&status](wire::Status s) { status = wire::to_int(s); });
        EXPECT_FALSE(status) << "done must come from the loop, not from inside transmit()";
        EXPECT_TRUE(run_until([&] { return status.has_value(); }));
        return status.value_or(-1);
    }

    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_{io_.get_executor()};
    Log log_{false};
    Listener listener_;
    std::deque<std::unique_ptr<ScriptedDevice>> devices_;
    std::size_t next_ = 0;
};

// A press of V-1 as the kernel reports it; with a receive timeout shorter than the frame
// gaps, each gap becomes TIMEOUT(timeout) and then the SPACE of the whole silence.
std::vector<uint32_t> v1_press_samples(int repeats = 2, bool carrier = true,
                                       uint32_t rec_timeout_us = 125000) {
    const ir::ParseResult p = ir::parse_pronto(kV1);
    const std::vector<uint32_t> flat = ir::flatten(p.signal, repeats);
    std::vector<uint32_t> s;
    for (std::size_t i = 0; i + 1 < flat.size(); ++i) {
        if (carrier && i % 2 == 1 && flat[i] > 20000) {
            s.push_back(frequency(38381));
        }
        if (i % 2 == 1 && flat[i] >= rec_timeout_us) {
            s.push_back(timeout(rec_timeout_us));
        }
        s.push_back(i % 2 == 0 ? pulse(flat[i]) : space(flat[i]));
    }
    s.push_back(timeout(rec_timeout_us));
    return s;
}

TEST_F(LircBackendTest, FramesOfAPressReachTheListener) {
    ScriptedDevice &rx = receiver();
    const std::vector<uint32_t> samples = v1_press_samples();
    // Two reads, the second cut inside a sample.
    std::vector<std::byte> bytes(samples.size() * 4);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    rx.expect_read_bytes({bytes.begin(), bytes.begin() + 102});
    rx.expect_read_bytes({bytes.begin() + 102, bytes.end()});
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    EXPECT_EQ(wire::to_int(b.open_status()), 0);
    EXPECT_EQ(b.name(), "lirc /dev/lirc0");
    ASSERT_TRUE(run_until([&] { return listener_.frames.size() == 3; }));
    EXPECT_TRUE(listener_.frames[0].burst_start);
    EXPECT_EQ(listener_.frames[0].durations_us.size(), 67u);
    EXPECT_NEAR(listener_.frames[0].durations_us[0], 9041, 1);
    EXPECT_NEAR(listener_.frames[0].trailing_gap_us, 44293, 1);
    EXPECT_EQ(listener_.frames[0].carrier_samples_hz, (std::vector<uint32_t>{38381}));
    EXPECT_FALSE(listener_.frames[1].burst_start);
    EXPECT_EQ(listener_.frames[1].durations_us.size(), 3u);
    EXPECT_EQ(listener_.frames[2].trailing_gap_us, 125000u);
    EXPECT_TRUE(listener_.lost.empty());
    rx.verify_done();
}

// The service's learn engine on what the backend reports: V-1 (NEC1) comes back as V-1,
// with carrier reports and without them (then the protocol's own carrier).
TEST_F(LircBackendTest, TheServicesLearnEngineLearnsV1FromTheBackendsFrames) {
    for (const bool carrier : {true, false}) {
        SCOPED_TRACE(carrier ? "with carrier reports" : "without carrier reports");
        ScriptedDevice &rx =
            receiver(carrier ? kLoopbackFeatures : kLoopbackFeatures & ~kCanMeasureCarrier);
        rx.expect_get(kGetRecMode, kModeMode2).expect_set(kSetWidebandReceiver, 1);
        if (carrier) {
            rx.expect_set(kSetMeasureCarrierMode, 1);
        }
        rx.expect_get(kGetRecTimeout, 125000).expect_read(v1_press_samples(3, carrier));
        if (carrier) {
            rx.expect_set(kSetMeasureCarrierMode, 0);
        }
        rx.expect_set(kSetWidebandReceiver, 0);
        struct Learner final : BackendListener {
            void on_frame(const ReceivedFrame &frame) override { last = engine.add(frame); }
            void on_device_lost(const std::string &) override {}
            void on_device_back() override {}
            void on_receive_code(const std::string &) override {}
            LearnEngine engine;
            LearnReport last;
        } learner;
        LircBackend b(io_.get_executor(), learner, log_, settings());
        b.set_learning(true);
        ASSERT_TRUE(run_until([&] { return learner.engine.complete(); }));
        b.set_learning(false);
        const LearnOutcome out = learner.engine.finish();
        ASSERT_EQ(out.result, LEARN_PROGRESS_DONE);
        EXPECT_EQ(learner.last.carrier_hz, carrier ? 38400 : 0);  // 0: not measured
        EXPECT_EQ(out.code, kV1);
        EXPECT_TRUE(out.snapped);
        rx.verify_done();
    }
}

std::vector<std::byte> scancode_records(
    std::initializer_list<std::tuple<uint16_t, uint64_t, uint16_t>> records) {
    std::vector<std::byte> bytes;
    for (const auto &[proto, code, flags] : records) {
        lirc_scancode sc{};
        sc.rc_proto = proto;
        sc.scancode = code;
        sc.flags = flags;
        const auto *raw = reinterpret_cast<const std::byte *>(&sc);
        bytes.insert(bytes.end(), raw, raw + sizeof sc);
    }
    return bytes;
}

// A device that decodes buttons itself: each press is reported once, by one code per
// button, from a second descriptor in scancode mode; its raw frames make no codes.
TEST_F(LircBackendTest, ScancodesGiveOneCodePerPressAndButton) {
    ScriptedDevice &rx = receiver(kCanRecMode2 | kCanRecScancode);
    rx.expect_read(v1_press_samples(1, false));
    ScriptedDevice &sc = device();
    const auto bytes = scancode_records({{8, 0x00FB04, 0},
                                         {8, 0x00FB04, kScancodeFlagRepeat},
                                         {8, 0x00FB04, kScancodeFlagRepeat},
                                         {8, 0x00FB04, kScancodeFlagToggle},
                                         {8, 0x00FB05, 0}});
    sc.expect_open("/dev/lirc0").expect_set(kSetRecMode, kModeScancode);
    // A record cut between two reads is joined.
    sc.expect_read_bytes({bytes.begin(), bytes.begin() + 30});
    sc.expect_read_bytes({bytes.begin() + 30, bytes.end()});
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    ASSERT_TRUE(
        run_until([&] { return listener_.codes.size() == 3 && !listener_.frames.empty(); }));
    EXPECT_EQ(listener_.codes[0], "08000000FB04");
    EXPECT_EQ(listener_.codes[1], listener_.codes[0]);  // the same button again
    EXPECT_NE(listener_.codes[2], listener_.codes[0]);
    EXPECT_FALSE(listener_.frames[0].report_code);
    rx.verify_done();
    sc.verify_done();

    // Unplugged: the scancode descriptor is closed too.
    rx.unplug();
    ASSERT_TRUE(run_until([&] { return !listener_.lost.empty(); }));
    EXPECT_TRUE(sc.closed());
}

TEST_F(LircBackendTest, WithoutScancodesFramesMakeTheCodes) {
    ScriptedDevice &rx = receiver(kCanRecMode2);
    rx.expect_read(v1_press_samples(1, false));
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    ASSERT_TRUE(run_until([&] { return !listener_.frames.empty(); }));
    EXPECT_TRUE(listener_.frames[0].report_code);
    EXPECT_TRUE(listener_.codes.empty());
    EXPECT_EQ(next_, 1u);  // no second descriptor
}

TEST_F(LircBackendTest, AShortReceiveTimeoutDoesNotShortenTheLearnedGaps) {
    // The device cannot wait longer than 30 ms: every frame gap of V-1 ends in a TIMEOUT.
    ScriptedDevice &rx = device();
    rx.expect_open("/dev/lirc0")
        .expect_get(kGetFeatures, kLoopbackFeatures)
        .expect_get(kGetRecResolution, 1)
        .expect_get(kGetMinTimeout, 1000)
        .expect_get(kGetMaxTimeout, 30000)
        .expect_get(kGetRecTimeout, 30000)
        .expect_set(kSetRecMode, kModeMode2)
        .expect_get(kGetRecMode, kModeMode2)
        .expect_set(kSetWidebandReceiver, 1)
        .expect_set(kSetMeasureCarrierMode, 1)
        .expect_get(kGetRecTimeout, 30000)
        .expect_read(v1_press_samples(3, true, 30000))
        .expect_set(kSetMeasureCarrierMode, 0)
        .expect_set(kSetWidebandReceiver, 0);
    struct Learner final : BackendListener {
        void on_frame(const ReceivedFrame &frame) override {
            frames.push_back(frame);
            engine.add(frame);
        }
        void on_device_lost(const std::string &) override {}
        void on_device_back() override {}
        void on_receive_code(const std::string &) override {}
        LearnEngine engine;
        std::vector<ReceivedFrame> frames;
    } learner;
    LircBackend b(io_.get_executor(), learner, log_, settings());
    b.set_learning(true);
    // The last frame is released by the hold timer: nothing follows it.
    ASSERT_TRUE(run_until([&] { return learner.frames.size() == 4; }));
    b.set_learning(false);
    EXPECT_NEAR(learner.frames[0].trailing_gap_us, 44293, 1);  // not the 30 ms timeout
    EXPECT_NEAR(learner.frames[1].trailing_gap_us, 96193, 1);
    EXPECT_EQ(learner.frames[3].trailing_gap_us, 30000u);  // nothing known beyond it
    const LearnOutcome out = learner.engine.finish();
    ASSERT_EQ(out.result, LEARN_PROGRESS_DONE);
    EXPECT_EQ(out.code, kV1);
    rx.verify_done();
}

TEST_F(LircBackendTest, LearnSettingsAreAppliedAndRestored) {
    ScriptedDevice &rx = receiver();
    rx.expect_get(kGetRecMode, kModeMode2)
        .expect_set(kSetWidebandReceiver, 1)
        .expect_set(kSetMeasureCarrierMode, 1)
        .expect_get(kGetRecTimeout, 20000)
        .expect_set(kSetRecTimeout, 125000)
        // set_learning(false):
        .expect_set(kSetRecTimeout, 20000)
        .expect_set(kSetMeasureCarrierMode, 0)
        .expect_set(kSetWidebandReceiver, 0)
        // second learn, ended by the backend going away:
        .expect_get(kGetRecMode, kModeMode2)
        .expect_set(kSetWidebandReceiver, 1)
        .expect_set(kSetMeasureCarrierMode, 1)
        .expect_get(kGetRecTimeout, 125000)
        .expect_set(kSetMeasureCarrierMode, 0)
        .expect_set(kSetWidebandReceiver, 0);
    {
        LircBackend b(io_.get_executor(), listener_, log_, settings());
        b.set_learning(true);
        EXPECT_TRUE(b.learn_settings_active());
        b.set_learning(true);  // already on: no calls
        b.set_learning(false);
        EXPECT_FALSE(b.learn_settings_active());
        b.set_learning(false);  // already off: no calls
        b.set_learning(true);
    }
    rx.verify_done();
}

// Why a learn cannot run reaches the service: a device without raw receive, learn
// settings refused, a device gone.
TEST_F(LircBackendTest, ALearnThatCannotRunSaysWhy) {
    {
        ScriptedDevice &rx = receiver();
        rx.expect_get(kGetRecMode, kModeScancode).expect_set(kSetRecMode, kModeMode2, EINVAL);
        LircBackend b(io_.get_executor(), listener_, log_, settings());
        EXPECT_EQ(b.set_learning(true), LEARN_FAIL_CANNOT_LEARN);
        EXPECT_FALSE(b.learn_settings_active());
        EXPECT_EQ(b.set_learning(false), 0);
        rx.verify_done();
    }
    {
        ScriptedDevice &rx = receiver();
        rx.expect_get(kGetRecMode, kModeMode2, ENODEV);
        LircBackend b(io_.get_executor(), listener_, log_, settings());
        EXPECT_EQ(b.set_learning(true), LEARN_FAIL_DEVICE_LOST);
        EXPECT_FALSE(b.present());
        EXPECT_EQ(b.set_learning(true), LEARN_FAIL_DEVICE_LOST);  // and while it is away
    }
    {
        receiver(kCanRecScancode);  // decoded scancodes only; its second descriptor fails
        LircBackend b(io_.get_executor(), listener_, log_, settings());
        ASSERT_TRUE(b.present());
        EXPECT_EQ(b.set_learning(true), LEARN_FAIL_CANNOT_LEARN);
    }
}

TEST_F(LircBackendTest, SendsV1WithRepeatsOnAWorker) {
    ScriptedDevice &rx = receiver();
    ScriptedDevice &tx = device();
    tx.expect_open("/dev/lirc0")
        .expect_set(kSetSendMode, kModePulse)
        .expect_set(kSetSendCarrier, 38381)
        .expect_writes(1);
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    EXPECT_EQ(transmit(b, kV1, 3), 0);
    const auto writes = tx.writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].size(), 79u);  // intro and three repeat frames
    EXPECT_TRUE(tx.closed());
    tx.verify_done();
    rx.verify_done();
}

TEST_F(LircBackendTest, SendErrorsReachTheClient) {
    receiver();
    device().expect_open("/dev/lirc0").expect_set(kSetSendMode, kModePulse, ENOTTY);
    device()
        .expect_open("/dev/lirc0")
        .expect_set(kSetSendMode, kModePulse)
        .expect_set(kSetSendCarrier, 38381, EINVAL);
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    EXPECT_EQ(transmit(b, kV1, 1), ERR_NOT_SUPPORTED);
    EXPECT_EQ(transmit(b, kV1, 1), ERR_TRANSMIT_FAILED);
    // An unmodulated code is refused before any device call.
    EXPECT_EQ(transmit(b, "0100 006D 0000 0001 0010 0010", 1), ERR_NOT_SUPPORTED);
    EXPECT_TRUE(b.present());
}

TEST_F(LircBackendTest, AReceiveOnlyDeviceRefusesToSend) {
    receiver(kCanRecMode2 | kCanSetRecTimeout);
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    EXPECT_EQ(transmit(b, kV1, 1), ERR_NOT_SUPPORTED);
    EXPECT_EQ(next_, 1u);  // no descriptor was opened for sending
}

TEST_F(LircBackendTest, UnplugIsNoticedAndTheDeviceIsServedWhenBack) {
    ScriptedDevice &rx = receiver();
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    ASSERT_TRUE(b.present());
    b.set_learning(false);
    rx.unplug();
    ASSERT_TRUE(run_until([&] { return !listener_.lost.empty(); }));
    EXPECT_EQ(listener_.lost.size(), 1u);
    EXPECT_EQ(listener_.lost[0], "/dev/lirc0: unplugged");
    EXPECT_EQ(wire::to_int(b.open_status()), ERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(transmit(b, kV1, 1), ERR_COMM_FAILED);

    // The rescans find nothing twice (the factory scripts ENOENT), then the device is back.
    ASSERT_TRUE(run_until([&] { return next_ >= 3; }));
    receiver();
    ASSERT_TRUE(run_until([&] { return b.present(); }));
    EXPECT_EQ(wire::to_int(b.open_status()), 0);
    EXPECT_EQ(listener_.lost.size(), 1u);
    EXPECT_EQ(listener_.back, 1);  // the service is told, so that it serves the device again
    devices_.back()->verify_done();
}

TEST_F(LircBackendTest, ASendThatMeetsAnUnpluggedDeviceFailsAndLosesIt) {
    receiver();
    device()
        .expect_open("/dev/lirc0")
        .expect_set(kSetSendMode, kModePulse)
        .expect_set(kSetSendCarrier, 38381)
        .expect_write(ENODEV);
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    EXPECT_EQ(transmit(b, kV1, 1), ERR_COMM_FAILED);
    EXPECT_FALSE(b.present());
    EXPECT_EQ(listener_.lost.size(), 1u);
}

TEST_F(LircBackendTest, NoDeviceAtStartIsFoundLater) {
    device().expect_open("/dev/lirc0", ENOENT);
    LircBackend b(io_.get_executor(), listener_, log_, settings());
    EXPECT_EQ(wire::to_int(b.open_status()), ERR_DEVICE_NOT_FOUND);
    EXPECT_EQ(b.name(), "lirc (no device)");
    EXPECT_TRUE(listener_.lost.empty());  // never had one to lose
    receiver();
    next_ = devices_.size() - 1;  // the next open gets the receiver
    ASSERT_TRUE(run_until([&] { return b.present(); }));
    EXPECT_EQ(wire::to_int(b.open_status()), 0);
    EXPECT_EQ(listener_.back, 0);  // found, not back: it was never lost
}

TEST_F(LircBackendTest, WithoutADeviceNameTheFirstMode2ReceiverIsChosen) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("krvx-lirc-dev-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "lirc0").put('\n');
    std::ofstream(dir / "lirc1").put('\n');
    const std::string lirc0 = (dir / "lirc0").string(), lirc1 = (dir / "lirc1").string();
    device().expect_open(lirc0).expect_get(kGetFeatures, kCanSendPulse);  // transmitter only
    device().expect_open(lirc1).expect_get(kGetFeatures, kCanRecMode2);
    ScriptedDevice &rx = device();
    rx.expect_open(lirc1)
        .expect_get(kGetFeatures, kCanRecMode2)
        .expect_set(kSetRecMode, kModeMode2);
    LircSettings s = settings();
    s.device.clear();
    s.dev_dir = dir;
    {
        LircBackend b(io_.get_executor(), listener_, log_, std::move(s));
        EXPECT_EQ(b.node(), lirc1);
        EXPECT_EQ(wire::to_int(b.open_status()), 0);
        EXPECT_FALSE(b.capabilities().can_send());
    }
    rx.verify_done();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace krvxd::lirc
