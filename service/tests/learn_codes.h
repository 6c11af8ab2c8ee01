// SPDX-License-Identifier: MIT
// The codes of the learn repeatability runs (one table for the engine tests, the process
// tests and bench_learn_repeat), and how a learned code is compared with the pressed one.
//
// Threads: pure functions; any thread.
#pragma once

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "ir/pronto.h"
#include "ir/protocols.h"
#include "ir/signal.h"

namespace learn_repeat {

struct RepeatCode {
    std::string name;
    std::string pronto;       ///< what is pressed; empty when its protocol is not known here
    std::string protocol;     ///< "NEC1 D=12 F=56"; empty for a raw code
    std::string unavailable;  ///< why pronto is empty
};

inline std::string pronto_of(const ir::Signal &s) {
    return ir::encode_pronto(s).text;
}

// A remote of no known protocol: 2700/2700 header, 24 pulse-distance bits of 450 µs units,
// 60 ms frames repeated while held, 40 kHz.
inline ir::Signal unknown_remote() {
    ir::Signal s;
    s.carrier_hz = 40000;
    std::vector<ir::Burst> frame = {{2700, 2700}};
    const uint32_t bits = 0xB2C53A;
    uint32_t used = 5400;
    for (int i = 23; i >= 0; --i) {
        const uint32_t space = (bits >> i) & 1 ? 1350 : 450;
        frame.push_back({450, space});
        used += 450 + space;
    }
    frame.push_back({450, 60000 - used - 450});
    s.repeat = frame;
    return s;
}

// A learned 0000 code with a long intro frame (7000/3500 header, 40 bits of 500 µs units)
// and a different, short repeat frame, 36 kHz.
inline ir::Signal long_intro_remote() {
    ir::Signal s;
    s.carrier_hz = 36000;
    s.once.push_back({7000, 3500});
    const uint64_t bits = 0x5A3C96E10FULL;
    for (int i = 39; i >= 0; --i)
        s.once.push_back({500, (bits >> i) & 1 ? 1500u : 500u});
    s.once.push_back({500, 30000});
    s.repeat = {{7000, 1750}, {500, 500}, {500, 1500}, {500, 1500}, {500, 500}, {500, 40000}};
    return s;
}

/// The codes of the table, in its order. Protocol codes are their protocol's own encoding.
inline std::vector<RepeatCode> repeat_codes() {
    const char *protocol_codes[][2] = {
        {"NEC1", "NEC1 D=12 F=56"},
        {"Sony12", "Sony12 D=1 F=21"},
        {"Sony20", "Sony20 D=26 S=73 F=5"},
        {"RC5", "RC5 D=0 F=12 T=1"},
        {"RC6", "RC6 D=0 F=17 T=0"},
        {"JVC", "JVC D=3 F=23"},
        {"Panasonic", "Panasonic D=160 S=0 F=48"},
        {"Samsung36", "Samsung36 D=7 S=7 F=2 E=1"},
        {"Denon", "Denon D=2 F=200"},
        {"Sharp", "Sharp D=1 F=148"},
    };
    std::vector<RepeatCode> out;
    for (const auto &[name, text] : protocol_codes) {
        RepeatCode c{name, {}, text, {}};
        const auto e = ir::protocols::encode(std::string_view(text));
        if (e.ok())
            c.pronto = pronto_of(e.signal);
        else
            c.unavailable = e.error;
        out.push_back(std::move(c));
    }
    out.push_back({"raw-unknown", pronto_of(unknown_remote()), {}, {}});
    out.push_back({"raw-long-intro", pronto_of(long_intro_remote()), {}, {}});
    return out;
}

/// "NEC1 D=12 S=243 F=56" for the first decode of `pronto` that explains it all, or "".
inline std::string decode_text(const std::string &pronto) {
    const auto p = ir::parse_pronto(pronto);
    if (!p.ok())
        return {};
    for (const auto &d : ir::protocols::decode(p.signal))
        if (d.complete)
            return d.text();
    return {};
}

/// Mean relative timing error of `got` against `want` over every duration of the once part
/// and one repeat part; nullopt when the two have different shapes.
inline std::optional<double> timing_error(const std::string &got, const std::string &want) {
    const auto g = ir::parse_pronto(got), w = ir::parse_pronto(want);
    if (!g.ok() || !w.ok() || g.signal.once.size() != w.signal.once.size() ||
        g.signal.repeat.size() != w.signal.repeat.size())
        return std::nullopt;
    const auto gd = ir::flatten(g.signal, 1), wd = ir::flatten(w.signal, 1);
    double sum = 0;
    for (std::size_t i = 0; i < wd.size(); ++i)
        sum += std::abs(double(gd[i]) - double(wd[i])) / double(wd[i]);
    return wd.empty() ? 0 : sum / double(wd.size());
}

}  // namespace learn_repeat
