// SPDX-License-Identifier: MIT
// krvx decode: what codes mean. Each code is Pronto hex, raw signed microseconds
// ("+9024 -4512 +564 ..."; unsigned numbers alternate from a mark) or mode2 text
// ("pulse N" / "space N" lines). Words make one code; a file or standard input holds one
// code a line, or mode2 text, which is one code. No device.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "../code_forms.h"
#include "../code_input.h"
#include "../commands.h"
#include "ir/pronto.h"
#include "ir/timings.h"

namespace krvx::cli {

namespace {

struct DecodeOptions {
    std::vector<std::string> words;
    double carrier_hz = 38000;
};

// Pronto text is words of four hex digits; anything else with digits is raw timings.
bool looks_like_pronto(std::string_view code) {
    std::size_t i = 0, words = 0;
    while (i < code.size()) {
        while (i < code.size() && std::isspace(static_cast<unsigned char>(code[i])) != 0)
            ++i;
        std::size_t n = 0;
        while (i < code.size() && std::isspace(static_cast<unsigned char>(code[i])) == 0) {
            if (std::isxdigit(static_cast<unsigned char>(code[i])) == 0)
                return false;
            ++i;
            ++n;
        }
        if (n != 0 && n != 4)
            return false;
        words += n != 0 ? 1 : 0;
    }
    return words > 0;
}

struct Decoded {
    std::vector<ir::protocols::Decode> decodes;
    std::string error;
};

Decoded decode_code(const std::string &code, double carrier_hz) {
    if (ir::looks_like_mode2(code)) {
        const ir::Timings t = ir::parse_mode2(code);
        if (!t.ok())
            return {{}, t.error};
        return {shown_decodes(ir::protocols::decode(t.durations_us,
                                                    t.carrier_hz > 0 ? t.carrier_hz : carrier_hz)),
                {}};
    }
    if (looks_like_pronto(code)) {
        const ir::ParseResult p = ir::parse_pronto(code);
        if (!p.ok())
            return {{}, p.error};
        return {shown_decodes(p.signal), {}};
    }
    const ir::Timings t = ir::parse_raw_timings(code);
    if (!t.ok())
        return {{}, t.error};
    return {shown_decodes(ir::protocols::decode(t.durations_us, carrier_hz)), {}};
}

// The codes of the input: the words' one code, or a file's lines (mode2 text is one code).
std::vector<std::string> codes_of(const std::vector<std::string> &words, const std::string &text) {
    const bool from_stream = words.size() == 1 && (words[0] == "-" || words[0].starts_with('@'));
    if (!from_stream || ir::looks_like_mode2(text))
        return {text};
    std::vector<std::string> codes;
    std::size_t i = 0;
    while (i <= text.size()) {
        const std::size_t eol = std::min(text.find('\n', i), text.size());
        const std::string line = text.substr(i, eol - i);
        if (line.find_first_not_of(" \t\r") != std::string::npos)
            codes.push_back(line);
        i = eol + 1;
    }
    return codes;
}

int decode(const Context &ctx, const DecodeOptions &o) {
    const CodeInput in = read_code(o.words);
    if (!in.ok())
        return fail(ctx, kRefused, in.error);
    const std::vector<std::string> codes = codes_of(o.words, in.code);
    if (codes.empty())
        return fail(ctx, kRefused, "no code given");
    int refused = 0;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        const Decoded d = decode_code(codes[i], o.carrier_hz);
        const std::string where =
            codes.size() > 1 ? "code " + std::to_string(i + 1) + ": " : std::string();
        if (!d.error.empty()) {
            ++refused;
            if (ctx.json)
                print_line(JsonObject(false).text("error", where + d.error).str());
            else
                std::printf("invalid: %s%s\n", where.c_str(), d.error.c_str());
            continue;
        }
        if (ctx.json)
            print_line(JsonObject(true).raw("decodes", decodes_json(d.decodes)).str());
        else
            std::printf("%s\n", decode_line(d.decodes).c_str());
    }
    if (refused > 0)
        return fail(ctx, kRefused,
                    std::to_string(refused) + " of " + std::to_string(codes.size()) +
                        (codes.size() == 1 ? " code is" : " codes are") + " not valid");
    return kDone;
}

}  // namespace

Command add_decode(CLI::App &parent) {
    auto o = std::make_shared<DecodeOptions>();
    auto *cmd = parent.add_subcommand(
        "decode", "Say what codes mean: protocol, parameters, kernel scancode (no device needed)");
    cmd->add_option("CODE", o->words,
                    "Pronto hex, raw microseconds (+9024 -4512 ...) or mode2 text: one code as "
                    "words, or @FILE / - for one code a line")
        ->required();
    cmd->add_option("--carrier", o->carrier_hz,
                    "Carrier of raw and mode2 codes in Hz (mode2 carrier lines win)")
        ->check(CLI::Range(1.0, 1e6))
        ->capture_default_str();
    return {cmd, [o](const Context &ctx) { return decode(ctx, *o); }};
}

}  // namespace krvx::cli
