// SPDX-License-Identifier: MIT
// Message encoding and the strict decoder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "wire/protocol.h"

using namespace wire;

namespace {

std::span<const uint8_t> payload_of(const std::vector<uint8_t> &frame) {
    return std::span<const uint8_t>(frame).subspan(kLengthPrefix);
}

std::vector<Message> one_of_each() {
    return {
        {7, Hello{}},
        {8, GetInfo{}},
        {9, Transmit{-3, "0000 006C 0000 0001 0010 0010"}},
        {10, SetReceive{true}},
        {11, Press{1500, 42, "0000 0073 0000 0001 0020 0020"}},
        {12, LearnStart{}},
        {12, LearnStart{600000}},
        {13, LearnStop{LearnStop::FinishWithBurst}},
        {14, Hook{}},
        {15, Unhook{}},
        {16, HookAnswer{99, HookAnswer::AcceptBurst, "x"}},
        {17, Reply{Status::TransmitFailed}},
        {18, HelloReply{Status::DeviceNotFound, 1}},
        {19, InfoReply{Status::Ok, 0x107, 0x103, 31, 12, 26}},
        {20, SendAccepted{0x123456789ULL}},
        {21, Refusal{Status::ServiceBusy, "krvxd serves its limit of 256 clients"}},
        {22, Reply{static_cast<Status>(0x7FFFFFFF)}},  // a status only a newer peer knows
        {0, Received{"0123456789AB"}},
        {0, LearnBegin{5, true}},
        {0, LearnProgress{5, 100, -1, 38000}},
        {0, LearnEnd{5, -3, ""}},
        {0, LearnEnd{6, 255, "0000 0073 0000 0001 0020 0CA8", LearnEnd::Injected}},
        {0, LearnEnd{7, 255, "A", LearnEnd::None, LearnEnd::Snapped, "NEC1 D=4 F=8"}},
        {0, LearnEnd{8, 255, "A", LearnEnd::BurstAccepted, LearnEnd::Averaged, ""}},
        {0, DeviceLost{}},
        {0, ReceivedFrame{"0123456789AB", "NEC1 D=4 S=251 F=8", "nec:0x0408", 38000,
                          {9024, 4512, 564}}},
        {0, ReceivedFrame{"0123456789AB", "", "", 0, std::vector<uint32_t>(kMaxFrameDurations, 7)}},
    };
}

}  // namespace

TEST(WireProtocol, EveryMessageSurvivesARoundTrip) {
    for (const Message &m : one_of_each()) {
        const auto frame = encode(m);
        ASSERT_GE(frame.size(), kLengthPrefix + 6) << static_cast<int>(type_of(m.body));
        uint32_t n = 0;
        std::memcpy(&n, frame.data(), 4);  // little-endian host in CI
        EXPECT_EQ(n, frame.size() - kLengthPrefix);
        const auto r = decode(payload_of(frame));
        ASSERT_TRUE(r.message) << r.error;
        EXPECT_EQ(*r.message, m);
    }
}

TEST(WireProtocol, OnlyClientTypesAreRequests) {
    EXPECT_TRUE(is_request(Hello{}));
    EXPECT_TRUE(is_request(HookAnswer{}));
    EXPECT_FALSE(is_request(Reply{}));
    EXPECT_FALSE(is_request(Received{}));
    EXPECT_FALSE(is_request(DeviceLost{}));
}

TEST(WireProtocol, DecoderRefusesEveryKindOfMalformedPayload) {
    const auto good = encode({3, Transmit{1, "ABCD"}});
    const std::vector<uint8_t> body(good.begin() + kLengthPrefix, good.end());

    // Every strict prefix is refused, never read past.
    for (std::size_t cut = 0; cut < body.size(); ++cut) {
        const auto r = decode(std::span<const uint8_t>(body.data(), cut));
        EXPECT_FALSE(r.message) << "cut at " << cut;
        EXPECT_FALSE(r.error.empty());
    }
    auto trailing = body;
    trailing.push_back(0);
    EXPECT_FALSE(decode(trailing).message);

    auto unknown = body;
    unknown[0] = 0x77;
    EXPECT_EQ(decode(unknown).error, "unknown message type");

    // A string length that claims more than the payload holds.
    auto lying = body;
    lying[10] = 0xFF;
    lying[11] = 0x00;
    EXPECT_FALSE(decode(lying).message);

    // Enumerations and flags out of range.
    auto flag = encode({1, SetReceive{true}});
    flag.back() = 2;
    EXPECT_FALSE(decode(payload_of(flag)).message);
    auto quality = encode({1, Press{10, 100, "A"}});
    quality[kLengthPrefix + 6 + 4] = 101;
    EXPECT_FALSE(decode(payload_of(quality)).message);
    auto mode = encode({1, LearnStop{}});
    mode.back() = 2;
    EXPECT_FALSE(decode(payload_of(mode)).message);
    auto ok_refusal = encode({1, Refusal{Status::CommFailed, ""}});
    ok_refusal[kLengthPrefix + 6] = 0;  // status 0x20000002 -> 0x20000000 ...
    ok_refusal[kLengthPrefix + 9] = 0;  // ... -> 0: a refusal must say what failed
    EXPECT_EQ(decode(payload_of(ok_refusal)).error, "refusal without a status");
    auto answer = encode({0, LearnEnd{1, 255, "A", LearnEnd::BurstAccepted}});
    answer.back() = 3;
    EXPECT_FALSE(decode(payload_of(answer)).message);
    // A decode goes with a snapped code and only with one; shapes beyond the known ones.
    for (const auto &[shape, text] :
         std::vector<std::pair<uint8_t, std::string>>{{LearnEnd::Snapped, ""},
                                                      {LearnEnd::Averaged, "NEC1"},
                                                      {LearnEnd::Unsaid, "NEC1"},
                                                      {3, ""},
                                                      {3, "NEC1"}})
        EXPECT_FALSE(decode(payload_of(encode({0, LearnEnd{1, 255, "A", 0, shape, text}}))).message)
            << int(shape) << " " << text;
    EXPECT_TRUE(
        encode({0, LearnEnd{1, 255, "A", 0, LearnEnd::Snapped, std::string(kMaxDecode + 1, 'D')}})
            .empty());

    // An optional field is absent or whole: one cut short is refused, not read as absent.
    const auto timeout = encode({1, LearnStart{5}});
    for (std::size_t cut = 1; cut < 4; ++cut)
        EXPECT_FALSE(decode(payload_of(timeout).first(payload_of(timeout).size() - cut)).message);
    // Nested ones too: a LearnEnd cut inside its shape and decode is refused, and so is one
    // cut before the shape, whose answer of none the encoder never writes alone.
    const auto shaped = encode({0, LearnEnd{1, 255, "A", 0, LearnEnd::Snapped, "RC5 D=0 F=1"}});
    const std::size_t tail = 1 + 2 + 11;  // shape, length, text
    for (std::size_t cut = 1; cut <= tail; ++cut)
        EXPECT_FALSE(decode(payload_of(shaped).first(payload_of(shaped).size() - cut)).message);
    // Every message has one form: fields that say nothing, written out, are refused.
    for (auto [frame, said] : {std::pair{encode({1, LearnStart{}}), std::size_t{4}},
                               std::pair{encode({0, LearnEnd{1, 255, "A"}}), std::size_t{1}}}) {
        ASSERT_TRUE(decode(payload_of(frame)).message);
        frame.insert(frame.end(), said, 0);
        EXPECT_FALSE(decode(payload_of(frame)).message) << said;
    }
}

TEST(WireProtocol, StringsAreBoundedBothWays) {
    const std::string longest(kMaxText, 'A');
    const auto ok = encode({1, Transmit{1, longest}});
    ASSERT_FALSE(ok.empty());
    EXPECT_LE(ok.size() - kLengthPrefix, kMaxPayload);
    ASSERT_TRUE(decode(payload_of(ok)).message);

    EXPECT_TRUE(encode({1, Transmit{1, longest + "A"}}).empty());
    EXPECT_FALSE(encode({1, Refusal{Status::CommFailed, std::string(kMaxWhy, 'w')}}).empty());
    EXPECT_TRUE(encode({1, Refusal{Status::CommFailed, std::string(kMaxWhy + 1, 'w')}}).empty());

    // Appending keeps what is there and leaves it untouched when a message cannot be sent.
    std::vector<uint8_t> out = encode({1, GetInfo{}});
    const auto first = out;
    EXPECT_FALSE(encode_into({2, Transmit{1, longest + "A"}}, out));
    EXPECT_EQ(out, first);
    ASSERT_TRUE(encode_into({2, Transmit{1, longest}}, out));
    EXPECT_EQ(
        std::vector<uint8_t>(out.begin() + static_cast<std::ptrdiff_t>(first.size()), out.end()),
        encode({2, Transmit{1, longest}}));

    // A hand-made frame with a string one byte over the bound.
    std::vector<uint8_t> p = {0x03, 0x00, 1, 0, 0, 0, 1, 0, 0, 0};
    const uint16_t n = kMaxText + 1;
    p.push_back(static_cast<uint8_t>(n & 0xFF));
    p.push_back(static_cast<uint8_t>(n >> 8));
    p.resize(p.size() + n, 'A');
    EXPECT_EQ(decode(p).error, "string too long");
}
