// SPDX-License-Identifier: MIT
// krvx send: sends a code through the device, its repeat part as often as asked.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "../code_file.h"
#include "../code_forms.h"
#include "../code_input.h"
#include "../commands.h"
#include "ir/signal.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

struct SendOptions {
    std::vector<std::string> words;
    FileOptions file;
    int repeat = 1;
};

int send(const Context &ctx, const SendOptions &o) {
    const CodeInput in = code_or_key(o.file, o.words);
    if (!in.ok())
        return fail(ctx, kRefused, "not sent: " + in.error);
    const ProntoCode code = to_pronto(in.code);
    if (!code.ok())
        return fail(ctx, kRefused, "not sent: invalid code: " + code.error);
    const int32_t h = open_device(ctx);
    if (h < 0)
        return kNoService;
    const int ok = KRVXTransmitIR(h, wire_text(in.code, code).c_str(), FMT_PRONTO, o.repeat, 0,
                                  nullptr, nullptr, nullptr);
    const int e = errno;
    KRVXClose(h);
    if (!ok)
        return fail(ctx, kRefused,
                    std::string("not sent: ") + KRVXErrorText(e) + " (" + hex_code(e) + ")");
    if (ctx.json)
        print_line(JsonObject(true).boolean("sent", true).number("repeat", o.repeat).str());
    else
        std::printf("sent\n");
    return kDone;
}

}  // namespace

Command add_send(CLI::App &parent) {
    auto o = std::make_shared<SendOptions>();
    auto *cmd = parent.add_subcommand("send", "Send a code through the device");
    add_code_argument(*cmd, o->words);
    add_file_options(*cmd, o->file);
    cmd->add_option("-r,--repeat", o->repeat,
                    "Send the once part, then the repeat part N times (a code without a "
                    "repeat part: the whole code N times)")
        ->check(CLI::Range(1, ir::kMaxRepeatCount))
        ->capture_default_str();
    cmd->footer(
        "Toggle: a protocol code with a toggle parameter (RC5, RC6, MCE: T) sent without it\n"
        "gets the device's next toggle value, so successive sends alternate T (0, 1, 0, ...)\n"
        "like the presses of a real remote, whichever program sends them; the service keeps\n"
        "that value per protocol while it runs. Give T=0 or T=1 to send a fixed value.");
    return {cmd, [o](const Context &ctx) { return send(ctx, *o); }};
}

}  // namespace krvx::cli
