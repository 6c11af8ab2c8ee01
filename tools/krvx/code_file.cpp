// SPDX-License-Identifier: MIT
#include "code_file.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>

#include "ir/pronto.h"

namespace krvx::cli {

void add_file_options(CLI::App &command, FileOptions &o) {
    command.add_option(
        "-f,--file", o.file,
        "Take the key named by the words from this code file (lircd.conf, "
        "Flipper .ir, Broadlink JSON, sendir, IRremote, raw, mode2, keymap, Pronto)");
    command.add_option("--remote", o.remote, "With --file: the remote that has the key")
        ->needs("--file");
}

CodeInput code_or_key(const FileOptions &o, const std::vector<std::string> &words) {
    if (o.file.empty()) {
        return read_code(words);
    }
    std::string name;
    for (const std::string &w : words) {
        name += (name.empty() ? "" : " ") + w;
    }
    const ir::files::ReadResult r = ir::files::read_file(o.file);
    if (!r.ok()) {
        return {{}, r.error};
    }
    std::string why;
    const ir::files::Key *key = ir::files::find_key(r.file, o.remote, name, why);
    if (key == nullptr) {
        return {{}, o.file + ": " + why};
    }
    if (!key->has_signal()) {
        return {{},
                name + " in " + o.file + " has " + (key->note.empty() ? "no timings" : key->note)};
    }
    const ir::EncodeResult e = ir::encode_pronto(key->signal);
    if (e.text.size() > ir::kMaxProntoChars) {
        return {{},
                name + " is " +
                    std::to_string(key->signal.once.size() + key->signal.repeat.size()) +
                    " burst pairs long; the device takes codes of at most 202"};
    }
    return {e.text, {}};
}

void add_format_option(CLI::App &command, const std::string &flag, std::string &value,
                       const std::string &help) {
    std::vector<std::string> names;
    for (const ir::files::FormatInfo &f : ir::files::formats()) {
        names.emplace_back(f.name);
    }
    command.add_option(flag, value, help)->check(CLI::IsMember(names, CLI::ignore_case));
}

std::optional<ir::files::Format> format_named(const std::string &name) {
    const ir::files::FormatInfo *f = ir::files::find_format(name);
    return f == nullptr ? std::nullopt : std::optional(f->format);
}

ir::files::ReadResult read_code_file(const std::string &path, const std::string &format_name) {
    return ir::files::read_file(path, format_named(format_name));
}

void add_save_options(CLI::App &command, SaveOptions &o) {
    auto *save = command.add_option("--save", o.file,
                                    "Add the learned key to this code file (created when missing; "
                                    "its format from its extension)");
    auto *key =
        command.add_option("--key", o.key, "With --save: the learned key's name")->needs(save);
    command
        .add_option("--remote", o.remote,
                    "With --save: the remote it goes into (default: the file's name without "
                    "extension)")
        ->needs(save);
    save->needs(key);
}

std::string save_remote(const SaveOptions &o) {
    if (!o.remote.empty()) {
        return o.remote;
    }
    const std::size_t slash = o.file.find_last_of('/');
    std::string base = slash == std::string::npos ? o.file : o.file.substr(slash + 1);
    const std::size_t dot = base.find('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

std::string save_refusal(const SaveOptions &o) {
    if (o.file.empty()) {
        return {};
    }
    const ir::files::ReadResult r = ir::files::read_file(o.file);
    if (!r.ok()) {
        if (::access(o.file.c_str(), F_OK) != 0 && errno == ENOENT) {
            return ir::files::guess_format(o.file, {}) ? ""
                                                       : o.file +
                                                             ": name the file with an extension "
                                                             "that tells its format (.conf, .ir, "
                                                             ".json, .gc, .h, .raw, .mode2, "
                                                             ".toml, .pronto)";
        }
        return r.error;
    }
    const std::string remote = save_remote(o);
    for (const ir::files::Remote &rem : r.file.remotes) {
        for (const ir::files::Key &k : rem.keys) {
            if (rem.name == remote && k.name == o.key) {
                return o.file + ": remote " + rem.name + " already has a key " + o.key;
            }
        }
    }
    return {};
}

std::string save_learned(const SaveOptions &o, const std::string &pronto) {
    const ir::ParseResult p = ir::parse_pronto(pronto);
    if (!p.ok()) {
        return "the learned code does not read: " + p.error;
    }
    ir::files::Key key;
    key.name = o.key;
    key.signal = p.signal;
    return ir::files::add_key_to_file(o.file, save_remote(o), key);
}

}  // namespace krvx::cli
