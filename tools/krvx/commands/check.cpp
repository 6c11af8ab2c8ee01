// SPDX-License-Identifier: MIT
// krvx check: whether a code is a Pronto code the device takes, and why not. No device.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "../code_forms.h"
#include "../code_input.h"
#include "../commands.h"
#include "ir/pronto.h"
#include "ir/receive_code.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

int check(const Context &ctx, const std::vector<std::string> &words) {
    CodeInput in = read_code(words);
    if (!in.ok())
        return fail(ctx, kRefused, in.error);
    std::string why;
    if (ir::protocols::is_protocol_code(in.code)) {  // checked as the Pronto code it sends
        const ProntoCode code = to_pronto(in.code);
        in.code = code.pronto;
        why = code.error;
    }
    if (why.empty())
        why = pronto_refusal(in.code);
    if (!why.empty()) {
        if (ctx.json)
            print_line(JsonObject(false).boolean("valid", false).text("reason", why).str());
        else
            std::printf("invalid: %s\n", why.c_str());
        return kRefused;
    }
    char canonical[KRVX_LEARN_BUFFER_SIZE];
    int32_t words_out = 0;
    KRVXConvertProntoCode(in.code.c_str(), canonical, &words_out, 0, 0);
    const auto parsed = ir::parse_pronto(in.code);
    const double carrier = parsed.signal.carrier_hz;
    const std::string fingerprint = ir::receive_code(parsed.signal);
    const std::vector<ir::protocols::Decode> decodes = shown_decodes(parsed.signal);
    if (ctx.json) {
        print_line(JsonObject(true)
                       .boolean("valid", true)
                       .text("canonical", canonical)
                       .number("words", static_cast<long long>(words_out))
                       .number("carrier_hz", carrier, 0)
                       .number("once_pairs", static_cast<long long>(parsed.signal.once.size()))
                       .number("repeat_pairs", static_cast<long long>(parsed.signal.repeat.size()))
                       .text("fingerprint", fingerprint)
                       .raw("decodes", decodes_json(decodes))
                       .str());
    } else {
        std::printf(
            "valid: %d words, carrier %.0f Hz, %zu once pairs, %zu repeat pairs, received as "
            "%s\n%s\n%s\n",
            words_out, carrier, parsed.signal.once.size(), parsed.signal.repeat.size(),
            fingerprint.c_str(), canonical, decode_line(decodes).c_str());
    }
    return kDone;
}

}  // namespace

Command add_check(CLI::App &parent) {
    auto words = std::make_shared<std::vector<std::string>>();
    auto *cmd = parent.add_subcommand(
        "check", "Check a code and say why it is refused, or what it means (no device needed)");
    add_code_argument(*cmd, *words);
    return {cmd, [words](const Context &ctx) { return check(ctx, *words); }};
}

}  // namespace krvx::cli
