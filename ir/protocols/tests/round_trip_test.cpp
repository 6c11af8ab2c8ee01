// SPDX-License-Identifier: MIT
// Every protocol row: decode(encode(p)) == p over random parameters, exactly and with
// receiver jitter, and the decode names the protocol first unless another row shares the
// signal.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ir/protocols.h"
#include "protocol_test_util.h"

namespace {

using namespace ir::protocols;
using prototest::Jitter;

class RoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RoundTrip, DecodesToTheParametersItWasEncodedFrom) {
    const ProtocolInfo *info = &all()[GetParam()];
    std::mt19937 rng(std::hash<std::string_view>{}(info->name));
    for (const Jitter jitter : {Jitter::None, Jitter::Relative10, Jitter::Absolute100}) {
        for (int i = 0; i < 40; ++i) {
            const std::vector<Param> params = prototest::random_params(*info, rng);
            const EncodeResult e = encode(*info, params);
            ASSERT_TRUE(e.ok()) << e.error;
            const std::vector<uint32_t> sent =
                prototest::jittered(ir::flatten(e.signal, 2), jitter, *info, rng);
            const std::vector<Decode> d = decode(sent, e.signal.carrier_hz);
            const Decode *mine = prototest::decode_of(d, info);
            ASSERT_NE(mine, nullptr) << prototest::describe(*info, params, jitter, sent, d);
            EXPECT_EQ(mine->params, params) << prototest::describe(*info, params, jitter, sent, d);
            EXPECT_TRUE(mine->complete) << prototest::describe(*info, params, jitter, sent, d);
            EXPECT_EQ(mine->frames, e.signal.once.empty() || e.signal.repeat.empty() ? 2 : 3);
            EXPECT_TRUE(prototest::first_or_shared(d, info))
                << prototest::describe(*info, params, jitter, sent, d);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Protocols, RoundTrip, ::testing::Range(std::size_t{0}, all().size()),
                         [](const auto &p) { return prototest::test_name(p.param); });

}  // namespace
