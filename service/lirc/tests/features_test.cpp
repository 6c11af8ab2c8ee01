// SPDX-License-Identifier: MIT
// Probing a device's features, and what the backend says about missing ones.
#include <gtest/gtest.h>

#include <cerrno>

#include "lirc/abi.h"
#include "lirc/features.h"
#include "scripted_device.h"

namespace krvxd::lirc {
namespace {

using test::ScriptedDevice;

constexpr uint32_t kLoopbackFeatures = 0xB7040702;  // what rc-loopback reports
constexpr uint32_t kReceiveOnly = kCanRecMode2 | kCanSetRecTimeout;

TEST(Probe, ReadsFeaturesResolutionAndTimeoutRange) {
    ScriptedDevice dev;
    dev.opened()
        .expect_get(kGetFeatures, kLoopbackFeatures)
        .expect_get(kGetRecResolution, 1)
        .expect_get(kGetMinTimeout, 1)
        .expect_get(kGetMaxTimeout, 1000000)
        .expect_get(kGetRecTimeout, 125000);
    const ProbeResult r = probe(dev);
    ASSERT_TRUE(r.ok()) << r.message;
    const Capabilities &c = r.caps;
    EXPECT_TRUE(c.can_send());
    EXPECT_TRUE(c.can_set_send_carrier());
    EXPECT_TRUE(c.can_set_duty_cycle());
    EXPECT_TRUE(c.can_receive_mode2());
    EXPECT_FALSE(c.can_receive_scancode());
    EXPECT_TRUE(c.can_measure_carrier());
    EXPECT_TRUE(c.has_wideband_receiver());
    EXPECT_EQ(c.resolution_us, 1u);
    EXPECT_EQ(c.min_timeout_us, 1u);
    EXPECT_EQ(c.max_timeout_us, 1000000u);
    EXPECT_EQ(c.rec_timeout_us, 125000u);
    EXPECT_FALSE(send_refusal(c));
    EXPECT_FALSE(learn_refusal(c));
    EXPECT_FALSE(carrier_remark(c));
    EXPECT_EQ(describe(c),
              "send, carrier, duty cycle, mode2, carrier measurement, wideband, timeout "
              "1..1000000 \xC2\xB5s");
    dev.verify_done();
}

TEST(Probe, OptionalQueriesThatAreRefusedStayEmpty) {
    ScriptedDevice dev;
    dev.opened()
        .expect_get(kGetFeatures, kLoopbackFeatures)
        .expect_get(kGetRecResolution, 0, ENOTTY)
        .expect_get(kGetMinTimeout, 0, EINVAL)
        .expect_get(kGetMaxTimeout, 500)
        .expect_get(kGetRecTimeout, 0, ENOTTY);
    const ProbeResult r = probe(dev);
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_FALSE(r.caps.resolution_us);
    EXPECT_FALSE(r.caps.min_timeout_us);
    EXPECT_EQ(r.caps.max_timeout_us, 500u);
    EXPECT_FALSE(r.caps.rec_timeout_us);
    dev.verify_done();
}

TEST(Probe, AnEmptyTimeoutRangeIsNotTrusted) {
    ScriptedDevice dev;
    dev.opened()
        .expect_get(kGetFeatures, kCanRecMode2 | kCanSetRecTimeout)
        .expect_get(kGetMinTimeout, 9000)
        .expect_get(kGetMaxTimeout, 100)
        .expect_get(kGetRecTimeout, 125000);
    const ProbeResult r = probe(dev);
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r.caps.min_timeout_us);
    EXPECT_FALSE(r.caps.max_timeout_us);
}

TEST(Probe, FailuresSayWhatHappened) {
    {
        ScriptedDevice dev;
        dev.opened().expect_get(kGetFeatures, 0, ENOTTY);
        const ProbeResult r = probe(dev);
        EXPECT_EQ(r.error, ENOTTY);
        EXPECT_EQ(r.message, "not a kernel IR device (it does not answer the feature query)");
    }
    {
        ScriptedDevice dev;
        dev.opened().expect_get(kGetFeatures, 0, ENODEV);
        const ProbeResult r = probe(dev);
        EXPECT_EQ(r.error, ENODEV);
        EXPECT_EQ(r.message, "cannot read the device's features: device unplugged");
    }
    {
        // ENODEV in an optional query fails the probe: the device is gone.
        ScriptedDevice dev;
        dev.opened()
            .expect_get(kGetFeatures, kLoopbackFeatures)
            .expect_get(kGetRecResolution, 1)
            .expect_get(kGetMinTimeout, 0, ENODEV);
        const ProbeResult r = probe(dev);
        EXPECT_EQ(r.error, ENODEV);
        dev.verify_done();
    }
    {
        ScriptedDevice dev;
        dev.opened().expect_get(kGetFeatures, kCanSetSendCarrier);
        const ProbeResult r = probe(dev);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.message, "the device can neither send nor receive IR");
    }
}

TEST(Refusals, NameWhatTheDeviceCannotDo) {
    Capabilities receive_only;
    receive_only.features = kReceiveOnly;
    EXPECT_EQ(send_refusal(receive_only), "the device is receive-only: it cannot send IR");
    EXPECT_EQ(carrier_remark(receive_only),
              "the device cannot measure the carrier: learned codes use 38 kHz");
    EXPECT_FALSE(learn_refusal(receive_only));
    EXPECT_FALSE(receive_refusal(receive_only));

    Capabilities scancode_only;
    scancode_only.features = kCanRecScancode | kCanSendPulse;
    EXPECT_EQ(learn_refusal(scancode_only),
              "the device only reports decoded scancodes: it cannot learn raw IR timings");
    EXPECT_FALSE(receive_refusal(scancode_only));

    Capabilities transmitter;
    transmitter.features = kCanSendPulse | kCanSetSendCarrier;
    EXPECT_EQ(learn_refusal(transmitter), "the device has no IR receiver: it cannot learn");
    EXPECT_EQ(receive_refusal(transmitter),
              "the device has no IR receiver: it cannot receive codes");
    EXPECT_EQ(describe(Capabilities{}), "nothing");
}

}  // namespace
}  // namespace krvxd::lirc
