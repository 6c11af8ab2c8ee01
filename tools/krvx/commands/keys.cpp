// SPDX-License-Identifier: MIT
// krvx keys: the remotes and keys of a code file, each with what it decodes to.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <memory>

#include "../code_file.h"
#include "../commands.h"

namespace krvx::cli {

namespace {

struct KeysOptions {
    std::string file;
    std::string from;
};

std::string pairs_text(const ir::Signal &s) {
    return std::to_string(s.once.size()) + "+" + std::to_string(s.repeat.size()) + " pairs";
}

int keys(const Context &ctx, const KeysOptions &o) {
    ir::files::ReadResult r = read_code_file(o.file, o.from);
    if (!r.ok()) {
        return fail(ctx, kRefused, r.error);
    }
    for (const std::string &w : r.file.warnings) {
        std::fprintf(stderr, "krvx: warning: %s\n", w.c_str());
    }
    ir::files::decode_keys(r.file);
    for (const ir::files::Remote &remote : r.file.remotes) {
        if (!ctx.json) {
            std::printf("%s: %zu keys", remote.name.c_str(), remote.keys.size());
            if (remote.protocol != nullptr) {
                std::printf(", %s", std::string(remote.protocol->name).c_str());
            }
            if (remote.carrier_hz > 0) {
                std::printf(", %ld Hz", std::lround(remote.carrier_hz));
            }
            std::printf("\n");
        }
        for (const ir::files::Key &k : remote.keys) {
            const std::string decode = k.decode ? k.decode->text() : "";
            const std::string kernel = k.decode && k.decode->kernel ? k.decode->kernel->text() : "";
            if (ctx.json) {
                JsonObject line(true);
                line.text("remote", remote.name).text("key", k.name);
                if (k.has_signal()) {
                    line.number("once_pairs", static_cast<long long>(k.signal.once.size()))
                        .number("repeat_pairs", static_cast<long long>(k.signal.repeat.size()))
                        .number("carrier_hz",
                                static_cast<long long>(std::lround(k.signal.carrier_hz)));
                }
                if (!decode.empty()) {
                    line.text("decode", decode);
                }
                if (!kernel.empty()) {
                    line.text("kernel", kernel);
                }
                if (!k.note.empty()) {
                    line.text("note", k.note);
                }
                print_line(line.str());
                continue;
            }
            std::string what =
                k.has_signal() ? (decode.empty() ? pairs_text(k.signal) : decode) : "";
            if (!kernel.empty()) {
                what += " (" + kernel + ")";
            }
            if (!k.note.empty()) {
                what += (what.empty() ? "" : "; ") + k.note;
            }
            std::printf("  %-24s %s\n", k.name.c_str(), what.c_str());
        }
    }
    return kDone;
}

}  // namespace

Command add_keys(CLI::App &parent) {
    auto o = std::make_shared<KeysOptions>();
    auto *cmd = parent.add_subcommand(
        "keys", "List the remotes and keys of a code file with their decodes");
    cmd->add_option("FILE", o->file, "The code file, - for standard input")->required();
    add_format_option(*cmd, "--from", o->from,
                      "The file's format (default: from its name or contents)");
    return {cmd, [o](const Context &ctx) { return keys(ctx, *o); }};
}

}  // namespace krvx::cli
