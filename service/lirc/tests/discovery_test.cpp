// SPDX-License-Identifier: MIT
// Finding devices in a sysfs tree, choosing one, and the DeviceInfo mapping.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "lirc/abi.h"
#include "lirc/discovery.h"
#include "scripted_device.h"

namespace krvxd::lirc {
namespace {

namespace fs = std::filesystem;
using test::ScriptedDevice;

class SysfsTree : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("krvx-lirc-sysfs-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "rc");
        fs::create_directories(root_ / "dev");
    }
    void TearDown() override { fs::remove_all(root_); }

    void write(const fs::path &rel, const std::string &text) {
        fs::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel) << text;
    }
    void add_rc(int n, int lirc, const std::string &driver, const std::string &protocols) {
        const std::string rc = "rc/rc" + std::to_string(n);
        write(rc + "/uevent",
              "NAME=rc-empty\nDRV_NAME=" + driver + "\nDEV_NAME=" + driver + " device\n");
        write(rc + "/protocols", protocols + "\n");
        if (lirc >= 0) {
            fs::create_directories(root_ / rc / ("lirc" + std::to_string(lirc)));
            write("dev/lirc" + std::to_string(lirc), "");
        }
    }
    fs::path root_;
};

TEST_F(SysfsTree, ScansDevicesInNumericOrder) {
    add_rc(10, 3, "mceusb", "[nec] rc-5 [rc-6]");
    add_rc(2, 0, "rc-loopback", "other [lirc]");
    add_rc(5, -1, "cec", "cec");                   // no lirc node
    fs::create_directories(root_ / "rc" / "rcX");  // not a device
    const auto devices = scan_rc_devices(root_ / "rc", root_ / "dev");
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].rc_name, "rc2");
    EXPECT_EQ(devices[1].rc_name, "rc5");
    EXPECT_EQ(devices[2].rc_name, "rc10");
    const RcDevice &mce = devices[2];
    EXPECT_EQ(mce.driver, "mceusb");
    EXPECT_EQ(mce.device_name, "mceusb device");
    EXPECT_EQ(mce.keymap, "rc-empty");
    EXPECT_EQ(mce.lirc_name, "lirc3");
    EXPECT_EQ(mce.node, (root_ / "dev" / "lirc3").string());
    EXPECT_EQ(mce.protocols, (std::vector<std::string>{"nec", "rc-5", "rc-6"}));
    EXPECT_EQ(mce.enabled_protocols, (std::vector<std::string>{"nec", "rc-6"}));
    EXPECT_TRUE(devices[1].node.empty());
    EXPECT_EQ(describe(mce), (root_ / "dev" / "lirc3").string() +
                                 " (rc10, driver mceusb, \"mceusb device\", protocols [nec] "
                                 "rc-5 [rc-6])");

    ASSERT_TRUE(find_by_node(devices, "/dev/lirc3"));
    EXPECT_EQ(find_by_node(devices, "/dev/lirc3")->rc_name, "rc10");
    EXPECT_FALSE(find_by_node(devices, "/dev/lirc7"));

    write("dev/lirc9", "");  // a node sysfs does not list comes last
    write("dev/lircX", "");
    EXPECT_EQ(
        candidate_nodes(root_ / "rc", root_ / "dev"),
        (std::vector<std::string>{(root_ / "dev/lirc0").string(), (root_ / "dev/lirc3").string(),
                                  (root_ / "dev/lirc9").string()}));
}

TEST_F(SysfsTree, MissingOrStrangeFilesLeaveFieldsEmpty) {
    fs::create_directories(root_ / "rc" / "rc0");
    write("rc/rc0/uevent", std::string(10000, 'x'));  // no '=' anywhere, and too long
    const auto devices = scan_rc_devices(root_ / "rc", root_ / "dev");
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_TRUE(devices[0].driver.empty());
    EXPECT_TRUE(devices[0].protocols.empty());
    EXPECT_TRUE(scan_rc_devices(root_ / "nonexistent", root_ / "dev").empty());
}

TEST(Parsers, UeventAndProtocols) {
    const auto u = parse_uevent("MAJOR=239\n=x\nnoequals\nDRV_NAME= rc-loopback \r\nA=b=c");
    EXPECT_EQ(u.size(), 3u);
    EXPECT_EQ(u.at("DRV_NAME"), "rc-loopback");
    EXPECT_EQ(u.at("A"), "b=c");
    std::vector<std::string> all, on;
    parse_protocols("  [nec]\trc-5 [] [sony] ", all, on);
    EXPECT_EQ(all, (std::vector<std::string>{"nec", "rc-5", "[]", "sony"}));
    EXPECT_EQ(on, (std::vector<std::string>{"nec", "sony"}));
}

TEST(Choose, FirstDeviceThatReceivesMode2) {
    // lirc0 cannot be opened, lirc1 only sends, lirc2 is gone, lirc3 receives mode2.
    std::vector<std::unique_ptr<ScriptedDevice>> devices;
    devices.push_back(std::make_unique<ScriptedDevice>());
    devices.back()->expect_open("/dev/lirc0", EACCES);
    devices.push_back(std::make_unique<ScriptedDevice>());
    devices.back()->expect_open("/dev/lirc1").expect_get(kGetFeatures, kCanSendPulse);
    devices.push_back(std::make_unique<ScriptedDevice>());
    devices.back()->expect_open("/dev/lirc2").expect_get(kGetFeatures, 0, ENODEV);
    devices.push_back(std::make_unique<ScriptedDevice>());
    devices.back()->expect_open("/dev/lirc3").expect_get(kGetFeatures, kCanRecMode2);
    std::size_t next = 0;
    DeviceIoFactory factory = [&]() -> std::unique_ptr<DeviceIo> {
        return std::move(devices.at(next++));
    };
    std::vector<std::string> skipped;
    const auto choice = first_mode2_device(
        {"/dev/lirc0", "/dev/lirc1", "/dev/lirc2", "/dev/lirc3", "/dev/lirc4"}, factory, &skipped);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->node, "/dev/lirc3");
    EXPECT_TRUE(choice->caps.can_receive_mode2());
    EXPECT_EQ(next, 4u);  // lirc4 was never tried
    ASSERT_EQ(skipped.size(), 3u);
    EXPECT_EQ(skipped[0], "/dev/lirc0: cannot open: Permission denied");
    EXPECT_EQ(skipped[1], "/dev/lirc1: cannot receive raw (mode2) IR");
    EXPECT_EQ(skipped[2], "/dev/lirc2: cannot read the device's features: device unplugged");
    EXPECT_FALSE(first_mode2_device({}, factory));
}

TEST(DeviceInfoMapping, KernelVersionAndBuildDate) {
    DeviceInfo i = device_info_from_kernel("6.1.0-13-amd64",
                                           "#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1 (2023-09-29)");
    EXPECT_EQ(i.firmwareVersion, 6u * 256 + 1);
    EXPECT_EQ(i.protocolVersion, 0x0100u);
    EXPECT_EQ(i.firmwareDateDay, 29);
    EXPECT_EQ(i.firmwareDateMonth, 9);
    EXPECT_EQ(i.firmwareDateYear, 23);

    i = device_info_from_kernel("6.18.2", "#1 SMP PREEMPT Sun Dec  7 10:11:12 UTC 2025");
    EXPECT_EQ(i.firmwareVersion, 6u * 256 + 18);
    EXPECT_EQ(i.firmwareDateDay, 7);
    EXPECT_EQ(i.firmwareDateMonth, 12);
    EXPECT_EQ(i.firmwareDateYear, 25);

    // Nothing usable: zeros, never garbage.
    i = device_info_from_kernel("weird", "(2023-13-40) (1999-01-01) Foo 99 2020");
    EXPECT_EQ(i.firmwareVersion, 0u);
    EXPECT_EQ(i.firmwareDateDay, 0);
    EXPECT_EQ(i.firmwareDateYear, 0);
    i = device_info_from_kernel("5.999.1", "");
    EXPECT_EQ(i.firmwareVersion, 5u * 256 + 255);  // minor clamped to a byte
}

TEST(Unplug, PollEventsThatMeanTheDeviceIsGone) {
    EXPECT_TRUE(unplugged(kPollHup | kPollErr));
    EXPECT_TRUE(unplugged(kPollErr));
    EXPECT_TRUE(unplugged(kPollNval));
    EXPECT_FALSE(unplugged(kPollIn));
}

}  // namespace
}  // namespace krvxd::lirc
