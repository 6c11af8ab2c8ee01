// SPDX-License-Identifier: MIT
// krvx convert: a code file in another format (lircd.conf to Flipper .ir, Broadlink to
// Pronto, ...). Standard input and output by default; formats from the names' extensions
// or the input's first lines unless given.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "../code_file.h"
#include "../commands.h"

namespace krvx::cli {

namespace {

struct ConvertOptions {
    std::string from, to;
    std::string in = "-", out = "-";
};

int convert(const Context &ctx, const ConvertOptions &o) {
    std::optional<ir::files::Format> to = format_named(o.to);
    if (!to && o.out != "-") {
        to = ir::files::guess_format(o.out, {});
    }
    if (!to) {
        return fail(ctx, kUsage,
                    "name the output format with --to (lircd, flipper, broadlink, gc, "
                    "irremote, raw, mode2, keymap or pronto)");
    }
    const ir::files::ReadResult r = read_code_file(o.in, o.from);
    if (!r.ok()) {
        return fail(ctx, kRefused, "not converted: " + r.error);
    }
    for (const std::string &w : r.file.warnings) {
        std::fprintf(stderr, "krvx: warning: %s\n", w.c_str());
    }
    const ir::files::WriteResult w = ir::files::write(r.file, *to);
    if (!w.ok()) {
        return fail(ctx, kRefused, "not converted: " + w.error);
    }
    for (const std::string &warning : w.warnings) {
        std::fprintf(stderr, "krvx: warning: %s\n", warning.c_str());
    }
    std::size_t keys = 0;
    for (const ir::files::Remote &remote : r.file.remotes) {
        for (const ir::files::Key &k : remote.keys) {
            keys += k.has_signal() ? 1 : 0;
        }
    }
    if (o.out == "-") {
        std::fwrite(w.text.data(), 1, w.text.size(), stdout);
        std::fflush(stdout);
    } else if (const std::string e = ir::files::replace_file(o.out, w.text); !e.empty()) {
        return fail(ctx, kRefused, "not converted: " + e);
    }
    if (ctx.json && o.out != "-") {
        print_line(JsonObject(true)
                       .text("written", o.out)
                       .text("format", ir::files::info(*to).name)
                       .number("keys", static_cast<long long>(keys))
                       .number("warnings",
                               static_cast<long long>(r.file.warnings.size() + w.warnings.size()))
                       .str());
    } else if (o.out != "-") {
        std::fprintf(stderr, "krvx: %zu keys written to %s\n", keys, o.out.c_str());
    }
    return kDone;
}

}  // namespace

Command add_convert(CLI::App &parent) {
    auto o = std::make_shared<ConvertOptions>();
    auto *cmd = parent.add_subcommand("convert", "Convert a code file to another format");
    add_format_option(*cmd, "--from", o->from, "Input format (default: from the name or contents)");
    add_format_option(*cmd, "--to", o->to, "Output format (default: from the output's name)");
    cmd->add_option("IN", o->in, "Input file, - for standard input")->capture_default_str();
    cmd->add_option("OUT", o->out, "Output file (replaced whole), - for standard output")
        ->capture_default_str();
    return {cmd, [o](const Context &ctx) { return convert(ctx, *o); }};
}

}  // namespace krvx::cli
