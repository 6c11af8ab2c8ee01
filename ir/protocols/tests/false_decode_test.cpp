// SPDX-License-Identifier: MIT
// No false decodes: random noise decodes as nothing, and one protocol's frames decode as
// no other protocol unless the two genuinely share the signal (protocol_test_util.h).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>

#include "ir/protocols.h"
#include "protocol_test_util.h"

namespace {

using namespace ir::protocols;

TEST(FalseDecodes, NoiseDecodesAsNothing) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> count(6, 120);
    std::uniform_int_distribution<uint32_t> duration(80, 6000);
    int decoded = 0;
    for (int i = 0; i < 4000; ++i) {
        std::vector<uint32_t> d(std::size_t(count(rng)));
        for (uint32_t &v : d) {
            v = duration(rng);
        }
        if (i % 2 == 0) {
            d.push_back(60000);  // a receiver's timeout; without it the noise ends anywhere
        }
        const std::vector<Decode> r = decode(d);
        if (!r.empty()) {
            ADD_FAILURE() << "noise decoded as " << r.front().text();
            ++decoded;
        }
    }
    EXPECT_EQ(decoded, 0);
    for (uint32_t pulse = 100; pulse < 20000; pulse = pulse * 5 / 4) {  // a lone pulse
        const std::vector<uint32_t> lone{pulse};
        EXPECT_TRUE(decode(lone).empty()) << pulse << " µs: " << decode(lone).front().text();
    }
}

// Frames near a protocol's rules: what they decode as first ("" for nothing).
TEST(FalseDecodes, FramesNearAProtocolDecodeByItsRules) {
    const struct {
        std::vector<uint32_t> frame;
        std::string_view first;
    } cases[] = {
        // A 2-bit pulse-distance frame: its spaces are 14 and 4 iMON units, where iMON F=...
        // below has 15 and 3 (runs of units count to the nearest unit, as the kernel counts).
        {{500, 6000, 400, 1600, 400, 2800, 450, 125000}, ""},
        // iMON F=2136866815 with marks 100 µs long and spaces 100 µs short.
        {{516, 6135, 516, 1147, 516, 2810, 516, 26033}, "iMON F=2136866815"},
        // RC6 D=4 F=12 with its second 2-unit mark 600 µs long: 1.35 units count as one.
        {{2664, 888, 444, 888, 444, 444, 444, 444, 444, 888, 888, 444,  444, 444,
          444,  444, 444, 444, 444, 444, 600, 888, 444, 444, 444, 444,  444, 444,
          444,  444, 444, 444, 888, 444, 444, 888, 444, 444, 444, 83912},
         ""},
        // The same frame as some real remotes send it: marks up to 207 µs long, spaces up to
        // 219 µs short, still within half a unit of their count.
        {{2664, 888, 651, 669, 651,  290, 651,  290, 651, 669, 1050, 290,  651, 290,
          651,  290, 651, 290, 651,  290, 1050, 669, 651, 290, 651,  290,  651, 290,
          651,  290, 651, 290, 1050, 290, 651,  669, 651, 290, 651,  83912},
         "RC6 D=4 F=12 T=0"},
    };
    for (const auto &c : cases) {
        const std::vector<Decode> d = decode(c.frame);
        EXPECT_EQ(d.empty() ? "" : d.front().text(), c.first) << c.frame.size() << " durations";
    }
}

TEST(FalseDecodes, FramesDecodeAsNoOtherProtocol) {
    std::map<std::string, std::set<std::string>> seen;
    std::mt19937 rng(7);
    for (const ProtocolInfo &info : all()) {
        for (const prototest::Jitter j : {prototest::Jitter::None, prototest::Jitter::Relative10,
                                          prototest::Jitter::Absolute100}) {
            for (int i = 0; i < 30; ++i) {
                const std::vector<Param> params = prototest::random_params(info, rng);
                const EncodeResult e = encode(info, params);
                ASSERT_TRUE(e.ok()) << e.error;
                const std::vector<uint32_t> sent =
                    prototest::jittered(ir::flatten(e.signal, 2), j, info, rng);
                for (const Decode &d : decode(sent, e.signal.carrier_hz)) {
                    if (d.complete && d.protocol != &info &&
                        !prototest::shared(info.name, d.protocol->name)) {
                        seen[std::string(info.name)].insert(d.text());
                    }
                }
            }
        }
    }
    for (const auto &[from, as] : seen) {
        ADD_FAILURE() << from << " decoded as " << *as.begin() << " and " << as.size() - 1
                      << " more";
    }
}

}  // namespace
