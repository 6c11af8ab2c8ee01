// SPDX-License-Identifier: MIT
// Real remotes (data/flipper_samples.h): captures decode as recorded and re-encode to their
// own timings; the Flipper firmware's stored fields map onto the protocols' parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "data/flipper_samples.h"
#include "ir/protocols.h"

namespace {

using namespace ir::protocols;

TEST(RealRemotes, CapturesDecodeAsRecorded) {
    int checked = 0;
    for (const flipper::Raw &r : flipper::kRaw) {
        if (std::string_view(r.decode).empty()) {
            continue;
        }
        const std::vector<Decode> d = decode(r.durations_us, r.carrier_hz);
        ASSERT_FALSE(d.empty()) << r.file << " " << r.name;
        EXPECT_EQ(d.front().text(), r.decode) << r.file << " " << r.name;
        EXPECT_TRUE(d.front().complete) << r.file << " " << r.name;
        ++checked;
    }
    EXPECT_GE(checked, 60);
}

// encode(decode(x)) reproduces x's first frame within the protocol's tolerance.
TEST(RealRemotes, DecodesEncodeBackToTheCapture) {
    for (const flipper::Raw &r : flipper::kRaw) {
        const std::vector<Decode> d = decode(r.durations_us, r.carrier_hz);
        if (d.empty() || !d.front().complete) {
            continue;
        }
        const ProtocolInfo &p = *d.front().protocol;
        const EncodeResult e = encode(p, d.front().params);
        ASSERT_TRUE(e.ok()) << e.error;
        // Our first frame, and as much of the capture.
        const ir::Signal &s = e.signal;
        std::vector<uint32_t> ours;
        for (const ir::Burst &b : s.once.empty() ? s.repeat : s.once) {
            ours.insert(ours.end(), {b.on_us, b.off_us});
        }
        ASSERT_LE(ours.size(), r.durations_us.size() + 1) << r.file << " " << r.name;
        const std::vector<uint32_t> &theirs = r.durations_us;
        for (std::size_t i = 0; i + 1 < ours.size(); ++i) {
            if (i % 2 == 1 && ours[i] >= 10000) {
                continue;  // gaps between frames and half frames are the sender's
            }
            EXPECT_LE(std::abs(double(ours[i]) - theirs[i]),
                      p.rel_tolerance * ours[i] + p.abs_tolerance_us)
                << r.file << " " << r.name << ": " << p.name << " duration " << i;
        }
    }
}

// How the Flipper firmware's fields (little-endian address and command bytes) become a
// protocol's parameters. Checked against the captures of the same remotes and against each
// protocol's definition rather than assumed:
//   NEC: D = address, S = ~D. NECext: D, S = the two address bytes; F = the command's low
//   byte when its high byte is its complement or 0 (8-bit commands), else F:16 (NEC1-f16).
//   Samsung32: NECx with S = D. NEC42: the 13-bit address is D.
//   RC5X: RC5 with the command's bit 6 set (the second start bit cleared).
//   SIRC20: 13 address bits, D the low 5 and S the high 8 (Sony20 sends D:5 then S:8).
//   Kaseikyo: address bytes genre (two nibbles), vendor low, vendor high, id; a 10-bit
//   command. Panasonic's D is genre1 over the vendor parity nibble, S genre2 and the
//   command's low nibble, F the command's high 6 bits and the id (vendor 0x2002);
//   Denon-K's D and S are genre1 and genre2, F the command and the id (vendor 0x3254).
struct Mapped {
    std::string protocol;
    std::vector<Param> params;
};

std::optional<Mapped> mapped(const flipper::Parsed &p) {
    const std::string proto = p.protocol;
    const auto a = [&](std::size_t i) { return uint64_t(p.address.at(i)); };
    const auto c = [&](std::size_t i) { return uint64_t(p.command.at(i)); };
    const uint64_t address = a(0) | a(1) << 8;
    const uint64_t command = c(0) | c(1) << 8;
    if (proto == "NEC") {
        return Mapped{"NEC1", {{"D", a(0)}, {"S", ~a(0) & 0xFF}, {"F", c(0)}}};
    }
    if (proto == "NECext") {
        if (c(1) == 0 || c(1) == (~c(0) & 0xFF)) {
            return Mapped{"NEC1", {{"D", a(0)}, {"S", a(1)}, {"F", c(0)}}};
        }
        return Mapped{"NEC1-f16", {{"D", a(0)}, {"S", a(1)}, {"F", command}}};
    }
    if (proto == "Samsung32") {
        return Mapped{"NECx1", {{"D", a(0)}, {"S", a(0)}, {"F", c(0)}}};
    }
    if (proto == "NEC42") {
        return Mapped{"NEC42", {{"D", address}, {"F", c(0)}}};
    }
    if (proto == "Pioneer") {
        return Mapped{"Pioneer", {{"D", a(0)}, {"S", ~a(0) & 0xFF}, {"F", c(0)}}};
    }
    if (proto == "RC5" || proto == "RC5X") {
        return Mapped{"RC5", {{"D", a(0)}, {"F", c(0) | (proto == "RC5X" ? 64 : 0)}, {"T", 0}}};
    }
    if (proto == "RC6" && a(1) == 0) {
        return Mapped{"RC6", {{"D", a(0)}, {"F", c(0)}, {"T", 0}}};
    }
    if (proto == "SIRC") {
        return Mapped{"Sony12", {{"D", a(0)}, {"F", c(0)}}};
    }
    if (proto == "SIRC15" && a(1) == 0) {
        return Mapped{"Sony15", {{"D", a(0)}, {"F", c(0)}}};
    }
    if (proto == "SIRC20") {
        return Mapped{"Sony20", {{"D", address & 0x1F}, {"S", address >> 5}, {"F", c(0)}}};
    }
    if (proto == "RCA") {
        return Mapped{"RCA", {{"D", a(0)}, {"F", c(0)}}};
    }
    if (proto == "Kaseikyo") {
        const uint64_t genre1 = a(0) >> 4, genre2 = a(0) & 0xF, vendor = a(1) | a(2) << 8;
        const uint64_t id = a(3);
        if (vendor == 0x2002) {
            return Mapped{"Panasonic",
                          {{"D", genre1 << 4},
                           {"S", genre2 | (command & 0xF) << 4},
                           {"F", (command >> 4) | id << 6}}};
        }
        if (vendor == 0x3254) {
            return Mapped{"Denon-K", {{"D", genre1}, {"S", genre2}, {"F", command | id << 10}}};
        }
    }
    return std::nullopt;  // fields out of the protocol's range: the file's own error
}

TEST(RealRemotes, FlipperFieldsEncodeAndDecodeAsTheirProtocol) {
    int mapped_count = 0;
    for (const flipper::Parsed &p : flipper::kParsed) {
        const std::optional<Mapped> m = mapped(p);
        if (!m) {
            continue;
        }
        ++mapped_count;
        const ProtocolInfo *info = find(m->protocol);
        ASSERT_NE(info, nullptr) << m->protocol;
        const EncodeResult e = encode(*info, m->params);
        ASSERT_TRUE(e.ok()) << p.file << ": " << e.error;
        const std::vector<Decode> d = decode(e.signal);
        ASSERT_FALSE(d.empty()) << p.file;
        EXPECT_EQ(d.front().protocol, info) << p.file << ": " << d.front().text();
        EXPECT_EQ(d.front().params, m->params) << p.file << ": " << d.front().text();
    }
    EXPECT_GE(mapped_count, int(flipper::kParsed.size()) * 9 / 10);
}

// Where a remote's file holds both stored fields and raw captures, the captures decode to
// the device fields the mapping gives.
TEST(RealRemotes, FlipperDeviceFieldsMatchTheSameRemotesCaptures) {
    std::map<std::string, std::set<std::string>> devices;  // file -> "protocol D S"
    auto device_of = [](const std::string &protocol, const std::vector<Param> &params) {
        std::string key = protocol;
        for (const Param &q : params) {
            if (q.name == "D" || q.name == "S") {
                key += " " + std::string(q.name) + "=" + std::to_string(q.value);
            }
        }
        return key;
    };
    for (const flipper::Parsed &p : flipper::kParsed) {
        if (const auto m = mapped(p)) {
            devices[p.file].insert(device_of(m->protocol, m->params));
        }
    }
    int compared = 0;
    for (const flipper::Raw &r : flipper::kRaw) {
        const auto it = devices.find(r.file);
        const std::vector<Decode> d = decode(r.durations_us, r.carrier_hz);
        if (it == devices.end() || d.empty() || !d.front().complete ||
            d.front().protocol->name.substr(0, 3) == "RC5") {  // RC5 remotes mix devices
            continue;
        }
        ++compared;
        EXPECT_EQ(
            it->second.count(device_of(std::string(d.front().protocol->name), d.front().params)),
            1u)
            << r.file << " " << r.name << ": " << d.front().text();
    }
    EXPECT_GE(compared, 2);
}

}  // namespace
