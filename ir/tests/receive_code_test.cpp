// SPDX-License-Identifier: MIT
#include "ir/receive_code.h"

#include <gtest/gtest.h>

#include <cctype>
#include <random>
#include <set>
#include <string>

#include "ir/pronto.h"
#include "test_signals.h"

namespace {

// First frame of a code as a receiver measures it: no trailing gap.
std::vector<uint32_t> first_frame(const std::string &pronto) {
    const ir::ParseResult r = ir::parse_pronto(pronto);
    EXPECT_TRUE(r.ok()) << r.error;
    return ir::split_frames(ir::flatten(r.signal, 1)).at(0);
}

std::string hex(unsigned v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04X", v);
    return buf;
}

std::string rc5(unsigned d, unsigned f) {
    return "5000 0073 0000 0001 " + hex(d) + " " + hex(f);
}
std::string rc6(unsigned d, unsigned f) {
    return "6000 0073 0000 0001 " + hex(d) + " " + hex(f);
}
std::string nec(unsigned d, unsigned f) {
    return "900A 006C 0000 0001 " + hex(d << 8 | (0xFF - d)) + " " + hex(f << 8 | (0xFF - f));
}

struct Remote {
    const char *name;
    std::vector<std::vector<uint32_t>> buttons;  // one frame per button
};

std::vector<Remote> remotes() {
    Remote n{"NEC", {}}, r5{"RC5", {}}, r6{"RC6", {}}, sony{"Sony", {}};
    for (unsigned f = 0; f < 64; ++f) {
        n.buttons.push_back(first_frame(nec(0x20, f * 4 + 1)));
        r5.buttons.push_back(first_frame(rc5(5, f)));
        r6.buttons.push_back(first_frame(rc6(4, f * 4 + 3)));
        sony.buttons.push_back(irtest::sony12_frame(1, uint8_t(f)));
    }
    return {n, r5, r6, sony};
}

TEST(ReceiveCode, TwelveUpperCaseHexCharacters) {
    for (const auto &frame : {irtest::nec_frame(1, 2, 3), irtest::nec_ditto(),
                              std::vector<uint32_t>{0, 0, 0}, std::vector<uint32_t>{1}}) {
        const std::string code = ir::receive_code(frame);
        ASSERT_EQ(code.size(), ir::kReceiveCodeLength);
        for (char c : code) {
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) && !std::islower(c)) << code;
        }
    }
    EXPECT_EQ(ir::receive_code(std::vector<uint32_t>{}), "000000000000");
}

TEST(ReceiveCode, SameButtonDespiteJitter) {
    // ±10 % of each duration plus ±50 µs, drawn anew for every duration of every press.
    std::mt19937 rng(2024);
    for (const Remote &remote : remotes()) {
        for (std::size_t b = 0; b < remote.buttons.size(); b += 3) {
            const std::vector<uint32_t> &frame = remote.buttons[b];
            const std::string clean = ir::receive_code(frame);
            for (int press = 0; press < 100; ++press) {
                ASSERT_EQ(ir::receive_code(irtest::jitter(frame, rng, 10, 50)), clean)
                    << remote.name << " button " << b << " press " << press;
            }
        }
    }
}

TEST(ReceiveCode, DifferentButtonsDifferentCodes) {
    std::set<std::string> all;
    std::size_t frames = 0;
    for (const Remote &remote : remotes()) {
        std::set<std::string> codes;
        for (const auto &frame : remote.buttons) {
            codes.insert(ir::receive_code(frame));
        }
        EXPECT_EQ(codes.size(), remote.buttons.size()) << remote.name;
        all.insert(codes.begin(), codes.end());
        frames += remote.buttons.size();
    }
    EXPECT_EQ(all.size(), frames);  // and no two remotes share a code
    EXPECT_NE(ir::receive_code(irtest::nec_frame(1, 2, 3)), ir::receive_code(irtest::nec_ditto()));
}

TEST(ReceiveCode, SignalAndReceiverAgree) {
    // What the receiver sees of a sent code (split at gaps, no trailing gap) gives the code
    // computed from the code itself, for every frame of a held button.
    for (const std::string &text : {nec(3, 77), rc5(1, 1), rc6(9, 200)}) {
        const ir::Signal s = ir::parse_pronto(text).signal;
        const auto frames = ir::split_frames(ir::flatten(s, 4));
        ASSERT_GE(frames.size(), 4u);
        EXPECT_EQ(ir::receive_code(frames[0]), ir::receive_code(s)) << text;
        EXPECT_EQ(ir::receive_code(frames[1]), ir::receive_code(frames.back())) << text;
    }
    // A trailing space does not count.
    std::vector<uint32_t> with_gap = irtest::nec_ditto();
    with_gap.push_back(96000);
    EXPECT_EQ(ir::receive_code(with_gap), ir::receive_code(irtest::nec_ditto()));
}

TEST(SplitFrames, SplitsAtLongSpacesOnly) {
    EXPECT_EQ(ir::split_frames({1, 2, 3, 20000, 4, 19999, 5, 30000}),
              (std::vector<std::vector<uint32_t>>{{1, 2, 3}, {4, 19999, 5}}));
    EXPECT_EQ(ir::split_frames({1, 2, 3}), (std::vector<std::vector<uint32_t>>{{1, 2, 3}}));
    EXPECT_TRUE(ir::split_frames({}).empty());
}

}  // namespace
