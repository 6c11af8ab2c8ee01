// SPDX-License-Identifier: MIT
// Against the kernel's own loopback device (rc-loopback), where the machine has one: what
// is sent comes back to the receiver. Skipped, with the reason, everywhere else; the module
// is loaded when the test runs as root and it is available.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "ir/pronto.h"
#include "lirc/abi.h"
#include "lirc/discovery.h"
#include "lirc/learn_settings.h"
#include "lirc/mode2_decoder.h"
#include "lirc/send_plan.h"
#include "lirc/sender.h"

namespace krvxd::lirc {
namespace {

constexpr const char *kV1 =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 "
    "0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 "
    "0016 0041 0016 06A4 015B 0057 0016 0E6C";

std::optional<RcDevice> find_loopback() {
    for (const RcDevice &d : scan_rc_devices()) {
        if (d.driver == "rc-loopback" && !d.node.empty()) {
            return d;
        }
    }
    return std::nullopt;
}

// The loopback device, loading the module first when we may.
std::optional<RcDevice> loopback_device(std::string &why_not) {
    if (auto d = find_loopback()) {
        return d;
    }
    if (::geteuid() != 0) {
        why_not = "no rc-loopback device, and loading the module needs root";
        return std::nullopt;
    }
    if (std::system("modprobe -q rc-loopback 2>/dev/null") != 0) {
        why_not =
            "no rc-loopback device, and `modprobe rc-loopback` failed (no module or "
            "no permission to load modules here)";
        return std::nullopt;
    }
    // udev creates the node shortly after the module is loaded.
    for (int i = 0; i < 100; ++i) {
        if (auto d = find_loopback(); d && ::access(d->node.c_str(), R_OK | W_OK) == 0) {
            return d;
        }
        ::usleep(50000);
    }
    why_not = "rc-loopback loaded, but no usable /dev/lirc node appeared within 5 s";
    return std::nullopt;
}

TEST(RcLoopback, WhatIsSentComesBackAsTheSameFrames) {
    std::string why_not;
    const auto dev = loopback_device(why_not);
    if (!dev) {
        GTEST_SKIP() << why_not;
    }
    FdDeviceIo rx;
    ASSERT_EQ(rx.open(dev->node), 0) << dev->node;
    const ProbeResult p = probe(rx);
    ASSERT_TRUE(p.ok()) << p.message;
    ASSERT_TRUE(p.caps.can_send());
    ASSERT_TRUE(p.caps.can_receive_mode2());

    LearnSettingsGuard guard(rx);
    ASSERT_EQ(guard.apply(p.caps), 0) << guard.message();
    // Learn mode listens on the wideband receiver: send to both receivers.
    uint32_t mask = 3;
    EXPECT_EQ(rx.ioctl_u32(kSetTransmitterMask, mask), 0);

    const ir::ParseResult code = ir::parse_pronto(kV1);
    ASSERT_TRUE(code.ok());
    const PlanResult plan = plan_send(code.signal, 1, p.caps);
    ASSERT_TRUE(plan.ok()) << plan.outcome.message;
    FdDeviceIo tx;
    ASSERT_EQ(tx.open(dev->node), 0);
    SteadySendClock clock;
    const SendReport sent = send(tx, plan.plan, clock, {});
    ASSERT_TRUE(sent.outcome.ok()) << sent.outcome.message;

    // Read until the receiver goes idle (generous: the machine may be busy).
    Mode2Decoder decoder;
    std::vector<Mode2Frame> frames;
    std::vector<std::byte> buffer(4096);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (decoder.stats().timeouts == 0 && std::chrono::steady_clock::now() < end) {
        short revents = 0;
        ASSERT_EQ(rx.poll(kPollIn, 200, revents), 0);
        ASSERT_FALSE(unplugged(revents));
        const IoResult r = rx.read(buffer);
        if (r.error == EAGAIN) {
            continue;
        }
        ASSERT_TRUE(r.ok()) << error_text(r.error);
        decoder.feed_bytes(std::span(buffer).first(r.bytes), frames);
    }
    decoder.flush(frames);
    uint32_t restore_mask = 1;
    EXPECT_EQ(rx.ioctl_u32(kSetTransmitterMask, restore_mask), 0);
    EXPECT_EQ(guard.restore(), 0);

    ASSERT_FALSE(frames.empty()) << "nothing came back";
    const std::vector<uint32_t> sent_intro(plan.plan.chunks[0].entries.begin(),
                                           plan.plan.chunks[0].entries.begin() + 67);
    ASSERT_GE(frames[0].durations_us.size(), 67u);
    for (std::size_t i = 0; i < 67; ++i) {
        const double want = sent_intro[i];
        EXPECT_NEAR(frames[0].durations_us[i], want, 60 + want * 0.1) << "duration " << i;
    }
}

}  // namespace
}  // namespace krvxd::lirc
