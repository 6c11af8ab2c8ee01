// SPDX-License-Identifier: MIT
// Stream framing: split and joined frames, and the hard size bound.
#include <gtest/gtest.h>

#include "wire/frame_reader.h"
#include "wire/protocol.h"

using namespace wire;

TEST(FrameReader, FramesArriveWholeHoweverTheStreamIsCut) {
    std::vector<uint8_t> stream;
    std::vector<Message> sent;
    for (uint32_t i = 1; i <= 20; ++i) {
        sent.push_back({i, Transmit{static_cast<int32_t>(i), std::string(i * 37, 'C')}});
        const auto f = encode(sent.back());
        stream.insert(stream.end(), f.begin(), f.end());
    }
    for (std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{64}, stream.size()}) {
        FrameReader reader;
        std::vector<Message> got;
        std::vector<uint8_t> payload;
        for (std::size_t pos = 0; pos < stream.size(); pos += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - pos);
            reader.append(std::span<const uint8_t>(stream.data() + pos, n));
            FrameReader::Status s;
            while ((s = reader.next(payload)) == FrameReader::Status::Frame) {
                auto r = decode(payload);
                ASSERT_TRUE(r.message) << r.error;
                got.push_back(*r.message);
            }
            ASSERT_EQ(s, FrameReader::Status::NeedMore);
        }
        EXPECT_EQ(got, sent) << "chunk " << chunk;
        EXPECT_EQ(reader.pending(), 0u);
    }
}

TEST(FrameReader, OversizedAndEmptyLengthsAreFinalErrors) {
    struct Row {
        const char *name;
        std::vector<uint8_t> prefix;
    };
    const uint32_t over = kMaxPayload + 1;
    const Row rows[] = {
        {"one over", {static_cast<uint8_t>(over), static_cast<uint8_t>(over >> 8), 0, 0}},
        {"huge", {0xFF, 0xFF, 0xFF, 0xFF}},
        {"zero", {0, 0, 0, 0}},
    };
    for (const Row &row : rows) {
        FrameReader reader;
        reader.append(row.prefix);
        std::vector<uint8_t> payload;
        EXPECT_EQ(reader.next(payload), FrameReader::Status::Error) << row.name;
        EXPECT_FALSE(reader.error().empty());
        // Further input is ignored: the connection is to be dropped.
        const auto good = encode({1, GetInfo{}});
        reader.append(good);
        EXPECT_EQ(reader.next(payload), FrameReader::Status::Error) << row.name;
    }
}

TEST(FrameReader, ExactlyTheLimitIsAccepted) {
    std::vector<uint8_t> frame = {static_cast<uint8_t>(kMaxPayload & 0xFF),
                                  static_cast<uint8_t>(kMaxPayload >> 8), 0, 0};
    frame.resize(kLengthPrefix + kMaxPayload, 0xAB);
    FrameReader reader;
    reader.append(std::span<const uint8_t>(frame.data(), frame.size() - 1));
    std::vector<uint8_t> payload;
    EXPECT_EQ(reader.next(payload), FrameReader::Status::NeedMore);
    EXPECT_EQ(reader.pending(), frame.size() - 1);
    reader.append(std::span<const uint8_t>(&frame.back(), 1));
    ASSERT_EQ(reader.next(payload), FrameReader::Status::Frame);
    EXPECT_EQ(payload.size(), kMaxPayload);
}
