// SPDX-License-Identifier: MIT
// krvx encode: the Pronto code of a protocol code, "NEC1 D=4 F=8" or "nec:0x0408". No
// device.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "../code_forms.h"
#include "../commands.h"

namespace krvx::cli {

namespace {

struct EncodeOptions {
    std::vector<std::string> words;
    int repeat = 0;
};

int encode(const Context &ctx, const EncodeOptions &o) {
    std::string code;
    for (const std::string &w : o.words)
        code += (code.empty() ? "" : " ") + w;
    const ProntoCode p = to_pronto(code, o.repeat);
    if (!p.ok() || !ir::protocols::is_protocol_code(code))
        return fail(ctx, kRefused,
                    p.ok() ? "'" + code.substr(0, 40) + "' is not a protocol code" : p.error);
    const std::vector<ir::protocols::Decode> decodes = shown_decodes(p.pronto);
    if (ctx.json)
        print_line(
            JsonObject(true).text("code", p.pronto).raw("decodes", decodes_json(decodes)).str());
    else
        std::printf("%s\n", p.pronto.c_str());
    return kDone;
}

}  // namespace

Command add_encode(CLI::App &parent) {
    auto o = std::make_shared<EncodeOptions>();
    auto *cmd =
        parent.add_subcommand("encode",
                              "Print the Pronto code of a protocol code: PROTOCOL NAME=VALUE... or "
                              "kernel:0xSCANCODE (no device needed)");
    cmd->add_option("CODE", o->words, "NEC1 D=4 F=8, RC5 D=0 F=1 T=1, nec:0x0408, ...")->required();
    cmd->add_option("-r,--repeat", o->repeat,
                    "Also put N repeat frames into the once part, for players that send it "
                    "alone")
        ->check(CLI::Range(0, 50))
        ->capture_default_str();
    return {cmd, [o](const Context &ctx) { return encode(ctx, *o); }};
}

}  // namespace krvx::cli
