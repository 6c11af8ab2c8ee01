// SPDX-License-Identifier: MIT
// Helpers of the protocol tests: random parameters, receiver jitter, the signals that
// protocols genuinely share, and readable failure messages.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ir/protocols.h"

namespace prototest {

using namespace ir::protocols;

// A test's name for the protocol all()[i]: its name, and its place where variants share it.
inline std::string test_name(std::size_t i) {
    std::string out;
    for (char c : all()[i].name) {
        out += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return find(all()[i].name) == &all()[i] ? out : out + "_" + std::to_string(i);
}

inline std::vector<Param> random_params(const ProtocolInfo &info, std::mt19937 &rng) {
    std::vector<Param> out;
    for (const ParamInfo &p : info.params) {
        const uint64_t fixed = p.fixed ? std::stoull(std::string(p.fallback)) : 0;
        out.push_back(
            {p.name, p.fixed ? fixed : std::uniform_int_distribution<uint64_t>(0, p.max)(rng)});
    }
    return out;
}

enum class Jitter { None, Relative10, Absolute100 };

// Protocols whose symbols differ by less than 200 µs cannot survive ±100 µs of jitter,
// XMP's 16 symbols 136 µs apart not ±10 % either, nor can iMON's long runs of 415 µs units
// be counted under ±10 %: they get what their steps allow.
inline double absolute_jitter_us(const ProtocolInfo &info) {
    static const std::set<std::string_view> fine = {"XMP",      "XMP-1",    "XMP-2",   "Nokia32",
                                                    "RC-MM-12", "RC-MM-24", "RC-MM-32"};
    return fine.count(info.name) != 0 ? 40 : 100;
}
inline double relative_jitter(const ProtocolInfo &info) {
    static const std::set<std::string_view> fine = {"XMP", "XMP-1", "XMP-2", "iMON"};
    if (info.name == "iMON") {
        return 0.03;
    }
    return fine.count(info.name) != 0 ? 0.015 : 0.10;
}

// Each duration moved by up to ±10 % of itself, or by up to ±100 µs, uniformly.
inline std::vector<uint32_t> jittered(std::vector<uint32_t> d, Jitter j, const ProtocolInfo &info,
                                      std::mt19937 &rng) {
    if (j == Jitter::None) {
        return d;
    }
    const double amount =
        j == Jitter::Relative10 ? relative_jitter(info) : absolute_jitter_us(info);
    std::uniform_real_distribution<double> u(-amount, amount);
    for (uint32_t &v : d) {
        const double x = j == Jitter::Relative10 ? v * (1 + u(rng)) : v + u(rng);
        v = x < 1 ? 1 : uint32_t(std::lround(x));
    }
    return d;
}

inline const Decode *decode_of(const std::vector<Decode> &d, const ProtocolInfo *info) {
    for (const Decode &x : d) {
        if (x.protocol == info) {
            return &x;
        }
    }
    return nullptr;
}

// Pairs of protocols whose signals coincide for some parameters: the first is preferred.
inline const std::set<std::pair<std::string_view, std::string_view>> &shared_signals() {
    static const std::set<std::pair<std::string_view, std::string_view>> pairs = {
        {"NEC1", "NEC1-f16"},   // F's second byte is ~F
        {"NEC1", "NEC1-rnc"},   // F's nibbles equal: ~F and its nibble swap coincide
        {"Apple", "NEC1-f16"},  // S=135 with Apple's parity
        {"Apple", "NEC1-rnc"},
        {"MCE", "RC6-6-32"},      // OEM1=128 and the trailer bit 0
        {"NEC2", "Pioneer"},      // differ only in carrier
        {"Sanyo", "Aiwa"},        // 562.5 against 550 µs: Aiwa's S is Sanyo's D above bit 8
        {"Sanyo", "NEC42"},       // one frame alike; NEC42 repeats with NEC's ditto
        {"Nokia32", "RC-MM-32"},  // the same 32 bits, read as fields or as one number
        {"RCA", "RCA-38"},        // differ only in carrier
        {"XMP-1", "XMP"},         // XMP-1 and XMP-2 are XMP with one byte of F zero
        {"XMP-2", "XMP"},
        {"XMP-1", "XMP-2"},            // F=0
        {"Panasonic", "Kaseikyo"},     // Kaseikyo is the family's general form: every
        {"Denon-K", "Kaseikyo"},       // member's frame is a Kaseikyo frame with the
        {"Mitsubishi-K", "Kaseikyo"},  // member's OEM codes, where the checks agree
        {"JVC-48", "Kaseikyo"},
        {"Panasonic2", "Kaseikyo"},
        {"NEC42", "NEC42ext"},     // NEC42ext is the raw form of the same 42 bits
        {"NEC1-rnc", "NEC1-f16"},  // NEC1-f16 is the raw form of NEC's 32 bits
        {"NEC1", "NEC1-rnc"},
        {"Xbox-DVD", "RCA"},     // the same 24-bit layout; Xbox-DVD's marks are 20 % longer,
        {"Xbox-DVD", "RCA-38"},  // within what receivers add: the fit orders them
    };
    return pairs;
}

inline bool shared(std::string_view a, std::string_view b) {
    return shared_signals().count({a, b}) != 0 || shared_signals().count({b, a}) != 0;
}

inline bool first_or_shared(const std::vector<Decode> &d, const ProtocolInfo *info) {
    if (d.empty()) {
        return false;
    }
    if (d.front().protocol == info) {
        return true;
    }
    if (d.front().protocol->name == info->name) {
        return false;  // another variant
    }
    return shared_signals().count({d.front().protocol->name, info->name}) != 0 ||
           shared_signals().count({info->name, d.front().protocol->name}) != 0;
}

inline std::string describe(const ProtocolInfo &info, const std::vector<Param> &params, Jitter j,
                            const std::vector<uint32_t> &sent, const std::vector<Decode> &d) {
    std::string out = std::string(info.name);
    for (const Param &p : params) {
        out += " " + std::string(p.name) + "=" + std::to_string(p.value);
    }
    out += j == Jitter::None ? " exact" : j == Jitter::Relative10 ? " ±10%" : " ±100us";
    out += "\n  sent:";
    for (std::size_t i = 0; i < sent.size() && i < 80; ++i) {
        out += (i % 2 == 0 ? " +" : " -") + std::to_string(sent[i]);
    }
    out += "\n  decodes:";
    for (const Decode &x : d) {
        out += "\n    " + x.text() + (x.complete ? "" : " (partial)") + " frames " +
               std::to_string(x.frames);
    }
    return out;
}

}  // namespace prototest
