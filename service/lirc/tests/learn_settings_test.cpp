// SPDX-License-Identifier: MIT
// Learn settings are applied in full and every device-wide change is undone afterwards,
// also when the learn fails or its owner goes away.
#include <gtest/gtest.h>

#include <cerrno>

#include "lirc/abi.h"
#include "lirc/learn_settings.h"
#include "scripted_device.h"

namespace krvxd::lirc {
namespace {

using test::ScriptedDevice;

Capabilities loopback_caps() {
    Capabilities c;
    c.features = 0xB7040702;
    c.min_timeout_us = 1;
    c.max_timeout_us = 1000000;
    c.rec_timeout_us = 125000;
    return c;
}

// The calls of a full apply() on a device that currently has a 20 ms timeout.
void expect_full_apply(ScriptedDevice &dev) {
    dev.expect_get(kGetRecMode, kModeScancode)
        .expect_set(kSetRecMode, kModeMode2)
        .expect_set(kSetWidebandReceiver, 1)
        .expect_set(kSetMeasureCarrierMode, 1)
        .expect_get(kGetRecTimeout, 20000)
        .expect_set(kSetRecTimeout, kLearnRecTimeoutUs);
}
void expect_full_restore(ScriptedDevice &dev) {
    dev.expect_set(kSetRecTimeout, 20000)
        .expect_set(kSetMeasureCarrierMode, 0)
        .expect_set(kSetWidebandReceiver, 0)
        .expect_set(kSetRecMode, kModeScancode);
}

TEST(LearnSettings, AppliesEverythingAndRestoresNewestFirst) {
    ScriptedDevice dev;
    dev.opened();
    expect_full_apply(dev);
    expect_full_restore(dev);
    LearnSettingsGuard guard(dev);
    ASSERT_EQ(guard.apply(loopback_caps()), 0) << guard.message();
    EXPECT_TRUE(guard.carrier_reports());
    EXPECT_EQ(guard.timeout_us(), kLearnRecTimeoutUs);
    EXPECT_EQ(dev.remaining(), 4u);
    EXPECT_EQ(guard.restore(), 0);
    EXPECT_EQ(guard.restore(), 0);  // a second restore changes nothing
    dev.verify_done();
}

TEST(LearnSettings, DestructorRestoresWhenTheOwnerGoesAway) {
    ScriptedDevice dev;
    dev.opened();
    expect_full_apply(dev);
    expect_full_restore(dev);
    {
        LearnSettingsGuard guard(dev);
        ASSERT_EQ(guard.apply(loopback_caps()), 0);
    }  // the client disconnected: the learn object is destroyed
    dev.verify_done();
}

TEST(LearnSettings, AFailedStepUndoesWhatWasDone) {
    // ENODEV while switching carrier reports on: the wideband receiver is switched off
    // again (which also fails: the device is gone) and the error is reported.
    ScriptedDevice dev;
    dev.opened()
        .expect_get(kGetRecMode, kModeMode2)
        .expect_set(kSetWidebandReceiver, 1)
        .expect_set(kSetMeasureCarrierMode, 1, ENODEV)
        .expect_set(kSetWidebandReceiver, 0, ENODEV);
    LearnSettingsGuard guard(dev);
    EXPECT_EQ(guard.apply(loopback_caps()), ENODEV);
    EXPECT_EQ(guard.message(), "cannot switch on carrier measurement: device unplugged");
    EXPECT_EQ(guard.restore(), 0);  // nothing left to undo
    dev.verify_done();
}

TEST(LearnSettings, Mode2RefusedFailsTheLearnWithoutChanges) {
    for (const int err : {EINVAL, ENOTTY}) {
        ScriptedDevice dev;
        dev.opened()
            .expect_get(kGetRecMode, kModeScancode)
            .expect_set(kSetRecMode, kModeMode2, err);
        LearnSettingsGuard guard(dev);
        EXPECT_EQ(guard.apply(loopback_caps()), err);
        EXPECT_NE(guard.message().find("cannot switch the receiver to raw (mode2) samples"),
                  std::string::npos);
        dev.verify_done();
    }
}

TEST(LearnSettings, OptionalStepsThatAreRefusedAreSkipped) {
    // Wideband refused (EINVAL), carrier reports unsupported (ENOTTY), timeout refused: the
    // learn goes on without them, and only the mode is put back.
    ScriptedDevice dev;
    dev.opened()
        .expect_get(kGetRecMode, kModeScancode)
        .expect_set(kSetRecMode, kModeMode2)
        .expect_set(kSetWidebandReceiver, 1, EINVAL)
        .expect_set(kSetMeasureCarrierMode, 1, ENOTTY)
        .expect_get(kGetRecTimeout, 20000)
        .expect_set(kSetRecTimeout, kLearnRecTimeoutUs, EINVAL)
        .expect_set(kSetRecMode, kModeScancode);
    LearnSettingsGuard guard(dev);
    ASSERT_EQ(guard.apply(loopback_caps()), 0);
    EXPECT_FALSE(guard.carrier_reports());
    EXPECT_EQ(guard.timeout_us(), 0u);
    EXPECT_EQ(guard.restore(), 0);
    dev.verify_done();
}

TEST(LearnSettings, TimeoutIsClampedAndAnUnknownOneRestoredToTheDefault) {
    Capabilities caps;
    caps.features = kCanRecMode2 | kCanSetRecTimeout;
    caps.min_timeout_us = 1000;
    caps.max_timeout_us = 100000;  // below the learn timeout
    ScriptedDevice dev;
    dev.opened()
        .expect_get(kGetRecMode, kModeMode2)
        .expect_get(kGetRecTimeout, 0, ENOTTY)
        .expect_set(kSetRecTimeout, 100000)
        .expect_set(kSetRecTimeout, 100000);  // restore: default clamped to the range
    LearnSettingsGuard guard(dev);
    ASSERT_EQ(guard.apply(caps), 0);
    EXPECT_EQ(guard.timeout_us(), 100000u);
    EXPECT_FALSE(guard.carrier_reports());
    EXPECT_EQ(guard.restore(), 0);
    dev.verify_done();
}

TEST(LearnSettings, RestoreTriesEveryStepAndReportsTheFirstError) {
    ScriptedDevice dev;
    dev.opened();
    expect_full_apply(dev);
    dev.expect_set(kSetRecTimeout, 20000, EINVAL)
        .expect_set(kSetMeasureCarrierMode, 0)
        .expect_set(kSetWidebandReceiver, 0, EIO)
        .expect_set(kSetRecMode, kModeScancode);
    LearnSettingsGuard guard(dev);
    ASSERT_EQ(guard.apply(loopback_caps()), 0);
    EXPECT_EQ(guard.restore(), EINVAL);
    dev.verify_done();
}

TEST(LearnSettings, RestoreStopsOnAGoneDevice) {
    ScriptedDevice dev;
    dev.opened();
    expect_full_apply(dev);
    LearnSettingsGuard guard(dev);
    ASSERT_EQ(guard.apply(loopback_caps()), 0);
    dev.unplug();
    EXPECT_EQ(guard.restore(), ENODEV);  // one attempt, then nothing more
    dev.verify_done();
}

}  // namespace
}  // namespace krvxd::lirc
