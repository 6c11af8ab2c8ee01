// SPDX-License-Identifier: MIT
// Receive codes: scancode records and mode2 frames, the same button giving the same code.
#include <gtest/gtest.h>

#include <cstring>

#include "ir/pronto.h"
#include "lirc/receiver.h"
#include "scripted_device.h"

namespace krvxd::lirc {
namespace {

using namespace test;

std::vector<std::byte> record(uint16_t flags, uint16_t proto, uint64_t scancode,
                              uint64_t timestamp = 123456789) {
    lirc_scancode sc{};
    sc.timestamp = timestamp;
    sc.flags = flags;
    sc.rc_proto = proto;
    sc.keycode = 0x74;
    sc.scancode = scancode;
    std::vector<std::byte> b(sizeof sc);
    std::memcpy(b.data(), &sc, sizeof sc);
    return b;
}

TEST(Scancode, RecordsParseAndGiveOneCodePerButton) {
    ScancodeReader reader;
    std::vector<Scancode> got;
    std::vector<std::byte> bytes;
    for (const auto &r :
         {record(0, 9, 0x0C38), record(kScancodeFlagRepeat, 9, 0x0C38, 5),
          record(kScancodeFlagToggle, 9, 0x0C38, 6), record(0, 9, 0x0C39), record(0, 2, 0x0C38)}) {
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    // Reads of 10 bytes cut records in the middle.
    for (std::size_t i = 0; i < bytes.size(); i += 10) {
        reader.feed_bytes(std::span(bytes).subspan(i, std::min<std::size_t>(10, bytes.size() - i)),
                          got);
    }
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[0].timestamp_ns, 123456789u);
    EXPECT_EQ(got[0].protocol, 9);
    EXPECT_EQ(got[0].keycode, 0x74u);
    EXPECT_EQ(got[0].scancode, 0x0C38u);
    EXPECT_EQ(got[1].flags, kScancodeFlagRepeat);

    const std::string code = scancode_receive_code(got[0]);
    EXPECT_EQ(code, "090000000C38");
    EXPECT_EQ(scancode_receive_code(got[1]), code);  // repeat flag ignored
    EXPECT_EQ(scancode_receive_code(got[2]), code);  // toggle flag ignored
    EXPECT_NE(scancode_receive_code(got[3]), code);  // another button
    EXPECT_NE(scancode_receive_code(got[4]), code);  // another protocol
}

TEST(Scancode, WideScancodesAreFoldedIntoTwelveCharacters) {
    Scancode a;
    a.protocol = 0x1A;
    a.scancode = 0xFFFF'FF00'0000'0001ull;
    Scancode b = a;
    b.scancode = 0x0000'0000'0000'0001ull;
    const std::string ca = scancode_receive_code(a);
    EXPECT_EQ(ca.size(), 12u);
    EXPECT_EQ(ca.substr(0, 2), "1A");
    EXPECT_NE(ca, scancode_receive_code(b));  // the high bits still count
    EXPECT_EQ(ca.find_first_not_of("0123456789ABCDEF"), std::string::npos);
}

std::vector<std::byte> to_bytes(const std::vector<uint32_t> &samples) {
    std::vector<std::byte> b(samples.size() * 4);
    std::memcpy(b.data(), samples.data(), b.size());
    return b;
}

// Samples of a press: `frames` copies of the frame, then idle.
std::vector<uint32_t> press(const std::vector<uint32_t> &first, const std::vector<uint32_t> &rest,
                            int copies, int jitter) {
    std::vector<uint32_t> s{space(1000000)};
    for (int c = 0; c < copies; ++c) {
        const auto &frame = c == 0 ? first : rest;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            const uint32_t us =
                frame[i] + static_cast<uint32_t>(((i + static_cast<std::size_t>(c)) % 3) * jitter);
            s.push_back(i % 2 == 0 ? pulse(us) : space(us));
        }
        s.push_back(c + 1 == copies ? timeout(125000) : space(40000));
    }
    return s;
}

TEST(Mode2Receive, TheSameButtonGivesTheSameCodeAndRepeatMarkersAreNotReported) {
    const ir::ParseResult nec = ir::parse_pronto("900A 006C 0000 0001 0CF3 38C7");
    ASSERT_TRUE(nec.ok()) << nec.error;
    std::vector<uint32_t> frame;
    ASSERT_FALSE(nec.signal.once.empty());
    for (const ir::Burst &b : nec.signal.once) {
        frame.push_back(b.on_us);
        frame.push_back(b.off_us);
    }
    frame.pop_back();  // a frame ends with its last pulse
    const std::vector<uint32_t> marker{9000, 2250, 560};

    Mode2Receiver rx;
    std::vector<std::string> codes;
    rx.feed_bytes(to_bytes(press(frame, marker, 4, 0)), codes);  // one press, held
    ASSERT_EQ(codes.size(), 1u);
    EXPECT_EQ(codes[0].size(), 12u);
    rx.feed_bytes(to_bytes(press(frame, marker, 1, 15)), codes);  // again, with jitter
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[1], codes[0]);

    // A remote that repeats its whole frame while held reports every copy.
    rx.feed_bytes(to_bytes(press(frame, frame, 3, 10)), codes);
    ASSERT_EQ(codes.size(), 5u);
    EXPECT_EQ(codes[4], codes[0]);

    // A lone pulse (a flash of light) is no button.
    rx.feed_bytes(to_bytes({pulse(300), timeout(125000)}), codes);
    EXPECT_EQ(codes.size(), 5u);
}

}  // namespace
}  // namespace krvxd::lirc
