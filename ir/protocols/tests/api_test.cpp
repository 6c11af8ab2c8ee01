// SPDX-License-Identifier: MIT
// Names, texts and refusals of the public interface.
#include <gtest/gtest.h>

#include <string>

#include "ir/protocols.h"

namespace {

using namespace ir::protocols;

TEST(ProtocolApi, NamesAreFoundAsPeopleWriteThem) {
    const struct {
        const char *written;
        const char *name;  // nullptr: not found
    } cases[] = {
        {"NEC1", "NEC1"},
        {"nec1", "NEC1"},
        {"NEC", "NEC1"},
        {"rc6-6-20", "RC6-6-20"},
        {"RC6_6_20", "RC6-6-20"},
        {"gicable", "G.I.Cable"},
        {"G.I.Cable", "G.I.Cable"},
        {"SIRC", "Sony12"},
        {"Replay", "RC6-6-24"},
        {"", nullptr},
        {"NEX1", nullptr},
        {"-", nullptr},
    };
    for (const auto &c : cases) {
        const ProtocolInfo *p = find(c.written);
        if (c.name == nullptr) {
            EXPECT_EQ(p, nullptr) << c.written;
        } else {
            ASSERT_NE(p, nullptr) << c.written;
            EXPECT_EQ(p->name, c.name) << c.written;
        }
    }
    for (const char *k : {"nec", "NEC", "rc-6-mce", "rc6_mce", "xbox-dvd", "XBOX_DVD", "rc5x_20"}) {
        EXPECT_NE(find_kernel(k), nullptr) << k;
    }
    EXPECT_EQ(find_kernel("nec1"), nullptr);
}

TEST(ProtocolApi, EveryProtocolDescribesItself) {
    for (const ProtocolInfo &p : all()) {
        ASSERT_NE(find(p.name), nullptr) << p.name;
        EXPECT_EQ(find(p.name)->name, p.name);
        EXPECT_FALSE(p.params.empty()) << p.name;
        EXPECT_GT(p.carrier_hz, 0) << p.name;
        EXPECT_GT(p.rel_tolerance + p.abs_tolerance_us, 0) << p.name;
    }
    for (const KernelProtocolInfo &k : kernel_protocols()) {
        ASSERT_NE(k.protocol, nullptr) << k.name;
        EXPECT_NE(k.protocol->kernel.find(k.name), std::string_view::npos) << k.name;
    }
    EXPECT_EQ(find("NEC1")->params[1].fallback, "255-D");
}

TEST(ProtocolApi, CodeTextIsEncodedOrRefusedWithAReason) {
    const struct {
        std::string text;
        std::string error;  // empty: encodes
    } cases[] = {
        {"NEC1 D=4 F=8", ""},
        {"  nec1   d=0x04 F=8 ", ""},
        {"nec:0x0408", ""},
        {"RC5 D=1 F=1 T=1", ""},
        {"Zenith D=7 S=1 F=100", ""},
        {"Zenith D=9 S=1 F=1", "Zenith: no variant with that value (5, 6, 7, 8)"},
        {"NEC1 D=4", "NEC1: F is missing"},
        {"NEC1 D=4 F=256", "NEC1: F=256 is out of range (at most 255)"},
        {"NEC1 D=4 F=8 F=9", "NEC1: F is given twice"},
        {"NEC1 D=4 F=8 Q=1", "NEC1 has no parameter Q"},
        {"NEC1 D=x F=8", "'D=x' is not NAME=VALUE with a number"},
        {"NEC1 D=-1 F=8", "'D=-1' is not NAME=VALUE with a number"},
        {"NEC1 =4", "'=4' is not NAME=VALUE with a number"},
        {"NEC1 D=99999999999999999999999", "'D=9999999999999999999999...' is not NAME=VALUE"},
        {"NEX1 D=4", "unknown protocol 'NEX1'"},
        {"foo:0x1", "unknown kernel protocol 'foo'"},
        {"nec:0x10000", "nec: 0x10000 is not a valid scancode"},
        {"necx:0x04fb08", "necx: 0x4fb08 is not a valid scancode"},
        {"rc6_6a_32:0x800f0412", "rc6_6a_32: 0x800f0412 is not a valid scancode"},
        {"nec:zz", "'zz' is not a scancode"},
        {"nec:0x0408 extra", "unexpected 'extra' after the scancode"},
        {"", "the code is empty"},
        {std::string(600, 'x'), "the code is 600 characters long, at most 512 allowed"},
    };
    for (const auto &c : cases) {
        const EncodeResult e = encode(c.text);
        EXPECT_EQ(e.error.substr(0, c.error.size()), c.error) << c.text.substr(0, 40);
        EXPECT_EQ(e.ok(), c.error.empty()) << c.text.substr(0, 40);
    }
    EXPECT_TRUE(is_protocol_code("NEC1 D=4 F=8"));
    EXPECT_TRUE(is_protocol_code("nec:0x0408"));
    EXPECT_FALSE(is_protocol_code("0000 006C 0022 0002"));
    EXPECT_FALSE(is_protocol_code("+9024 -4512"));
}

TEST(ProtocolApi, DecodesReadAsPeopleWriteThem) {
    const EncodeResult e = encode("nec:0x0408");
    const std::vector<Decode> d = decode(e.signal);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(d.front().text(), "NEC1 D=4 S=251 F=8");
    ASSERT_TRUE(d.front().kernel.has_value());
    EXPECT_EQ(d.front().kernel->text(), "nec:0x0408");
    EXPECT_EQ(d.front().frames, 3);
    EXPECT_FALSE(d.front().toggle.has_value());
    EXPECT_EQ(decode(encode("RC5 D=1 F=2 T=1").signal).front().toggle, 1u);
    EXPECT_TRUE(decode(std::vector<uint32_t>{}).empty());
}

}  // namespace
