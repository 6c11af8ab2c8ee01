// SPDX-License-Identifier: MIT
// Planning and carrying out sends: V-1 with repeats as the kernel would take it, splits of
// long signals, refusals, and EINVAL/ENOTTY/ENODEV at each step of a send.
#include <gtest/gtest.h>

#include <cerrno>
#include <numeric>

#include "ir/pronto.h"
#include "krvxdrv.h"
#include "lirc/abi.h"
#include "lirc/send_plan.h"
#include "lirc/sender.h"
#include "scripted_device.h"

namespace krvxd::lirc {
namespace {

using test::ScriptedDevice;

constexpr const char *kV1 =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 "
    "0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0041 0016 06A4 015B 0057 0016 0E6C";

Capabilities transmitter() {
    Capabilities c;
    c.features = 0xB7040702;  // rc-loopback: carrier and duty cycle settable
    return c;
}

ir::Signal v1() {
    ir::ParseResult p = ir::parse_pronto(kV1);
    EXPECT_TRUE(p.ok()) << p.error;
    return p.signal;
}

// Entries and gaps of a plan laid end to end, for comparison with ir::flatten().
std::vector<uint32_t> replay(const SendPlan &plan) {
    std::vector<uint32_t> out;
    for (const SendChunk &c : plan.chunks) {
        out.insert(out.end(), c.entries.begin(), c.entries.end());
        out.push_back(c.gap_after_us);
    }
    return out;
}

// The limits the kernel puts on one write.
void expect_acceptable(const SendPlan &plan) {
    for (std::size_t i = 0; i < plan.chunks.size(); ++i) {
        const auto &e = plan.chunks[i].entries;
        EXPECT_EQ(e.size() % 2, 1u) << "write " << i;
        EXPECT_LE(e.size(), kMaxWriteEntries) << "write " << i;
        EXPECT_LE(plan.chunks[i].duration_us(), kMaxWriteDurationUs) << "write " << i;
        EXPECT_EQ(std::count(e.begin(), e.end(), 0u), 0) << "write " << i;
    }
}

TEST(SendPlan, V1WithThreeRepeatsIsWhatTheKernelTakes) {
    const ir::Signal s = v1();
    const PlanResult r = plan_send(s, 3, transmitter());
    ASSERT_TRUE(r.ok()) << r.outcome.message;
    EXPECT_EQ(r.plan.carrier_hz, 38381u);
    EXPECT_FALSE(r.plan.duty_cycle);  // Pronto carries none
    expect_acceptable(r.plan);
    EXPECT_EQ(replay(r.plan), ir::flatten(s, 3));
    EXPECT_EQ(r.plan.air_time_us, ir::air_time_us(s, 3));
    // Intro 67+44 ms and three repeats of 12+96 ms fit one write of 34 + 3 * 2 pairs; the
    // last repeat's gap is waited after it.
    ASSERT_EQ(r.plan.chunks.size(), 1u);
    EXPECT_EQ(r.plan.chunks[0].entries.size(), 79u);
    EXPECT_NEAR(r.plan.chunks[0].gap_after_us, 96193, 1);
    const std::vector<uint32_t> &first = r.plan.chunks[0].entries;
    EXPECT_NEAR(first[0], 9041, 1);  // 0x15B periods at 38381 Hz
    EXPECT_NEAR(first[1], 4507, 1);
    EXPECT_NEAR(first[2], 573, 1);
}

TEST(SendPlan, LongSignalsSplitAtFrameGaps) {
    // Twenty repeats of V-1 last about 2.3 s: several writes, each ending at a frame gap.
    const ir::Signal s = v1();
    const PlanResult r = plan_send(s, 20, transmitter());
    ASSERT_TRUE(r.ok());
    EXPECT_GE(r.plan.chunks.size(), 5u);
    expect_acceptable(r.plan);
    EXPECT_EQ(replay(r.plan), ir::flatten(s, 20));
    for (const SendChunk &c : r.plan.chunks) {
        EXPECT_GE(c.gap_after_us, kFrameGapUs);
        EXPECT_EQ(c.entries.front() > 8000, true);  // every write starts with a leader pulse
    }
}

TEST(SendPlan, EntryLimitSplitsAtTheLongestSpace) {
    // 1500 short pairs with no frame gap: writes of at most 1023 entries, the cut at the
    // longest space within reach.
    std::vector<uint32_t> flat;
    for (int i = 0; i < 1500; ++i) {
        flat.push_back(100);
        flat.push_back(i == 300 ? 900 : 100);
    }
    const auto chunks = split_into_writes(flat);
    ASSERT_EQ(chunks.size(), 4u);
    EXPECT_EQ(chunks[0].entries.size(), 601u);  // ends before the 900 µs space
    EXPECT_EQ(chunks[0].gap_after_us, 900u);
    EXPECT_EQ(chunks[1].entries.size(), kMaxWriteEntries - 1);  // 512 pairs
    std::size_t pairs = 0;
    for (const SendChunk &c : chunks) {
        pairs += (c.entries.size() + 1) / 2;
    }
    EXPECT_EQ(pairs, 1500u);
}

TEST(SendPlan, DurationLimitSplitsEvenAFrameWithoutGaps) {
    std::vector<uint32_t> flat;
    for (int i = 0; i < 10; ++i) {
        flat.push_back(90000);
        flat.push_back(10000);
    }
    const auto chunks = split_into_writes(flat);
    for (const SendChunk &c : chunks) {
        EXPECT_LE(c.duration_us(), kMaxWriteDurationUs);
    }
    EXPECT_EQ(chunks.size(), 2u);  // 5 pairs (490 ms) each
}

TEST(SendPlan, RefusalsSayWhy) {
    ir::Signal s = v1();
    Capabilities receive_only;
    receive_only.features = kCanRecMode2;
    PlanResult r = plan_send(s, 1, receive_only);
    EXPECT_EQ(r.outcome.fault, Fault::not_supported);
    EXPECT_EQ(r.outcome.message, "the device is receive-only: it cannot send IR");
    EXPECT_EQ(wire::to_int(send_status(r.outcome.fault)), ERR_NOT_SUPPORTED);

    ir::Signal zero = s;
    zero.once[3].off_us = 0;
    r = plan_send(zero, 1, transmitter());
    EXPECT_EQ(r.outcome.fault, Fault::invalid_code);
    EXPECT_NE(r.outcome.message.find("zero duration (off time of burst 4)"), std::string::npos)
        << r.outcome.message;

    ir::Signal long_pulse = s;
    long_pulse.once[0].on_us = 600000;
    r = plan_send(long_pulse, 1, transmitter());
    EXPECT_EQ(r.outcome.fault, Fault::invalid_code);
    EXPECT_NE(r.outcome.message.find("at most 500 ms"), std::string::npos);

    ir::Signal unmodulated = s;
    unmodulated.carrier_hz = 0;
    r = plan_send(unmodulated, 1, transmitter());
    EXPECT_EQ(r.outcome.fault, Fault::not_supported);

    ir::Signal slow = s;
    slow.repeat = {{1000, 200000}};
    r = plan_send(slow, 1000, transmitter());  // 201 s of air time
    EXPECT_EQ(r.outcome.fault, Fault::invalid_code);
    EXPECT_NE(r.outcome.message.find("lower the repeat count"), std::string::npos);
    EXPECT_EQ(wire::to_int(send_status(r.outcome.fault)), ERR_INVALID_CODE);

    r = plan_send(ir::Signal{}, 1, transmitter());
    EXPECT_EQ(r.outcome.fault, Fault::invalid_code);
}

TEST(SendPlan, CarrierAndDutyCycleOnlyWhereTheDeviceSetsThem) {
    ir::Signal s = v1();
    s.duty_cycle = 33;
    PlanResult r = plan_send(s, 1, transmitter());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.plan.duty_cycle, 33u);

    Capabilities plain;
    plain.features = kCanSendPulse;
    r = plan_send(s, 0, plain);  // repeat 0 sends once
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r.plan.carrier_hz);
    EXPECT_FALSE(r.plan.duty_cycle);
    EXPECT_EQ(r.plan.remark, "the device cannot set its carrier: sent at the device's own carrier");
    EXPECT_EQ(replay(r.plan), ir::flatten(s, 1));
}

// A clock that never waits: it records the deadlines and jumps to them.
class FakeClock final : public SendClock {
  public:
    time_point now() override { return now_; }
    bool sleep_until(time_point deadline, const std::stop_token &stop) override {
        deadlines.push_back(deadline);
        if (deadline > now_) {
            now_ = deadline;
        }
        if (stop_after && deadlines.size() >= stop_after) {
            return false;
        }
        return !stop.stop_requested();
    }
    std::vector<time_point> deadlines;
    std::size_t stop_after = 0;

  private:
    time_point now_{};
};

TEST(Sender, SendsV1WithCarrierAndTimesTheGaps) {
    const PlanResult r = plan_send(v1(), 20, transmitter());
    ASSERT_TRUE(r.ok());
    ScriptedDevice dev;
    dev.opened()
        .expect_set(kSetSendMode, kModePulse)
        .expect_set(kSetSendCarrier, 38381)
        .expect_writes(r.plan.chunks.size());
    FakeClock clock;
    const SendReport rep = send(dev, r.plan, clock, {});
    ASSERT_TRUE(rep.outcome.ok()) << rep.outcome.message;
    EXPECT_EQ(rep.writes, r.plan.chunks.size());
    dev.verify_done();
    std::vector<uint32_t> written;
    for (const auto &w : dev.writes()) {
        written.insert(written.end(), w.begin(), w.end());
    }
    std::vector<uint32_t> expected;
    for (const SendChunk &c : r.plan.chunks) {
        expected.insert(expected.end(), c.entries.begin(), c.entries.end());
    }
    EXPECT_EQ(written, expected);
    // The last deadline is the whole air time after the start: waits do not drift.
    ASSERT_FALSE(clock.deadlines.empty());
    EXPECT_EQ(clock.deadlines.back() - SendClock::time_point{},
              std::chrono::microseconds(r.plan.air_time_us));
}

TEST(Sender, ErrorsAtEachStepGiveTheDocumentedFaults) {
    const PlanResult r = plan_send(v1(), 3, transmitter());
    ASSERT_TRUE(r.ok());
    struct Row {
        const char *name;
        int mode_err, carrier_err, write_err;
        Fault fault;
        int32_t client_error;
    };
    const Row rows[] = {
        {"mode ENOTTY", ENOTTY, 0, 0, Fault::not_supported, ERR_NOT_SUPPORTED},
        {"mode EINVAL", EINVAL, 0, 0, Fault::refused, ERR_TRANSMIT_FAILED},
        {"mode ENODEV", ENODEV, 0, 0, Fault::device_lost, ERR_COMM_FAILED},
        {"carrier EINVAL", 0, EINVAL, 0, Fault::refused, ERR_TRANSMIT_FAILED},
        {"carrier ENODEV", 0, ENODEV, 0, Fault::device_lost, ERR_COMM_FAILED},
        {"carrier ENOTTY", 0, ENOTTY, 0, Fault::none, 0},  // the device's own carrier
        {"write EINVAL", 0, 0, EINVAL, Fault::refused, ERR_TRANSMIT_FAILED},
        {"write ENODEV", 0, 0, ENODEV, Fault::device_lost, ERR_COMM_FAILED},
        {"write EIO", 0, 0, EIO, Fault::io_error, ERR_TRANSMIT_FAILED},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedDevice dev;
        dev.opened().expect_set(kSetSendMode, kModePulse, row.mode_err);
        if (row.mode_err == 0) {
            dev.expect_set(kSetSendCarrier, 38381, row.carrier_err);
            if (row.carrier_err == 0 || row.carrier_err == ENOTTY) {
                dev.expect_write(row.write_err);
                if (row.write_err == 0) {
                    dev.expect_writes(r.plan.chunks.size() - 1);
                }
            }
        }
        FakeClock clock;
        const SendReport rep = send(dev, r.plan, clock, {});
        EXPECT_EQ(rep.outcome.fault, row.fault) << rep.outcome.message;
        EXPECT_EQ(wire::to_int(send_status(rep.outcome.fault)), row.client_error);
        if (row.carrier_err == EINVAL) {
            EXPECT_EQ(rep.outcome.message,
                      "the device refused the carrier of 38381 Hz: the device refused the value");
        }
        dev.verify_done();
    }
}

TEST(Sender, DutyCycleRefusalIsNotFatalButUnplugIs) {
    ir::Signal s = v1();
    s.duty_cycle = 40;
    const PlanResult r = plan_send(s, 1, transmitter());
    ASSERT_TRUE(r.ok());
    for (const int err : {EINVAL, ENOTTY, ENODEV}) {
        ScriptedDevice dev;
        dev.opened()
            .expect_set(kSetSendMode, kModePulse)
            .expect_set(kSetSendCarrier, 38381)
            .expect_set(kSetSendDutyCycle, 40, err);
        if (err != ENODEV) {
            dev.expect_writes(r.plan.chunks.size());
        }
        FakeClock clock;
        const SendReport rep = send(dev, r.plan, clock, {});
        EXPECT_EQ(rep.outcome.fault, err == ENODEV ? Fault::device_lost : Fault::none);
        dev.verify_done();
    }
}

TEST(Sender, StopEndsALongSendBetweenWrites) {
    const PlanResult r = plan_send(v1(), 20, transmitter());
    ASSERT_TRUE(r.ok());
    ASSERT_GT(r.plan.chunks.size(), 2u);
    ScriptedDevice dev;
    dev.opened()
        .expect_set(kSetSendMode, kModePulse)
        .expect_set(kSetSendCarrier, 38381)
        .expect_writes(2);
    FakeClock clock;
    clock.stop_after = 2;  // the stop arrives during the second wait
    const SendReport rep = send(dev, r.plan, clock, {});
    EXPECT_EQ(rep.outcome.fault, Fault::cancelled);
    EXPECT_EQ(rep.writes, 2u);
    dev.verify_done();
}

TEST(Sender, SteadyClockWakesOnStop) {
    SteadySendClock clock;
    std::stop_source src;
    src.request_stop();
    // A deadline an hour away returns at once when stopped.
    EXPECT_FALSE(clock.sleep_until(clock.now() + std::chrono::hours(1), src.get_token()));
    EXPECT_TRUE(clock.sleep_until(clock.now() - std::chrono::seconds(1), {}));
}

}  // namespace
}  // namespace krvxd::lirc
