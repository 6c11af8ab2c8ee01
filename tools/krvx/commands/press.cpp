// SPDX-License-Identifier: MIT
// krvx press: holds a virtual remote's button in front of the simulated device.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "../code_file.h"
#include "../code_forms.h"
#include "../code_input.h"
#include "../commands.h"
#include "../press.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

struct PressOptions {
    std::vector<std::string> words;
    FileOptions file;
    uint32_t hold_ms = 200;
    unsigned quality = 100;
};

int press(const Context &ctx, const PressOptions &o) {
    const CodeInput in = code_or_key(o.file, o.words);
    if (!in.ok())
        return fail(ctx, kRefused, "not pressed: " + in.error);
    const ProntoCode code = to_pronto(in.code);
    if (!code.ok())
        return fail(ctx, kRefused, "not pressed: invalid code: " + code.error);
    const auto r = krvx::press(ctx.socket, wire_text(in.code, code), o.hold_ms,
                               static_cast<uint8_t>(o.quality));
    if (r.status != 0) {
        std::string message =
            std::string("not pressed: ") + (r.detail.empty() ? KRVXErrorText(r.status) : r.detail);
        if (r.status == ERR_NOT_SUPPORTED)
            message += " (only the simulated device has a virtual remote)";
        // Not reaching the service is the same failure as every other command's open.
        return fail(ctx, r.opened ? kRefused : kNoService, message);
    }
    if (ctx.json)
        print_line(JsonObject(true)
                       .boolean("pressed", true)
                       .number("hold_ms", static_cast<long long>(o.hold_ms))
                       .str());
    else
        std::printf("pressed for %u ms\n", o.hold_ms);
    return kDone;
}

}  // namespace

Command add_press(CLI::App &parent) {
    auto o = std::make_shared<PressOptions>();
    auto *cmd = parent.add_subcommand(
        "press", "Hold a virtual remote's button in front of the simulated device");
    add_code_argument(*cmd, o->words);
    add_file_options(*cmd, o->file);
    cmd->add_option("--hold", o->hold_ms, "How long the button is held, in ms")
        ->check(CLI::Range(0u, 60000u))
        ->capture_default_str();
    cmd->add_option("--quality", o->quality, "Signal quality 0..100 (see below)")
        ->check(CLI::Range(0u, 100u))
        ->capture_default_str();
    cmd->footer(
        "A protocol code without its toggle alternates it from press to press, as\n"
        "`krvx send` does. The receiver captures the press as a real remote and receiver\n"
        "would at quality Q:\n"
        "  Q 100     exactly the code's timings;\n"
        "  Q < 100   every duration off by up to (100-Q)/4 %, and a constant receiver skew:\n"
        "            marks 60 us longer, spaces 60 us shorter;\n"
        "  Q < 60    now and then a frame lost or cut short ((60-Q)/200 of the frames);\n"
        "  Q < 40    noise bursts between frames (before (40-Q)/80 of them).");
    return {cmd, [o](const Context &ctx) { return press(ctx, *o); }};
}

}  // namespace krvx::cli
