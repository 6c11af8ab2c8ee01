// SPDX-License-Identifier: MIT
// The public entry points: formats, reading, decoding, writing, finding and adding keys.
#include "ir/files.h"

#include <algorithm>
#include <cctype>

#include "formats.h"
#include "io.h"
#include "text.h"

namespace ir::files {
namespace detail {

const FormatIo &io(Format format) {
    static const FormatIo kIo[] = {
        {read_lircd, write_lircd, append_lircd},
        {read_flipper, write_flipper, append_flipper},
        {read_broadlink, write_broadlink, append_broadlink},
        {read_gc, write_gc, append_gc},
        {read_irremote, write_irremote, append_irremote},
        {read_raw, write_raw, append_raw},
        {read_mode2, write_mode2, append_mode2},
        {read_keymap, write_keymap, append_keymap},
        {read_pronto, write_pronto, append_pronto},
    };
    return kIo[std::size_t(format)];
}

Insertion append_written(Writer write, std::string_view text, std::string_view remote,
                         const Key &key) {
    std::vector<std::string> warnings;
    CodeFile one;
    one.remotes.push_back({std::string(remote), nullptr, 0, {key}});
    std::string written;
    write(one, written, warnings);
    if (written.empty()) {
        fail(0, warnings.empty() ? "the format cannot hold the key" : warnings.front());
    }
    const bool joined = text.empty() || text.back() == '\n';
    return {text.size(), (joined ? "" : "\n") + written};
}

// lircd.conf with its includes, which are relative to the including file.
void read_lircd_file(const std::string &path, std::string_view text, int depth, CodeFile &out);

}  // namespace detail

namespace {

constexpr FormatInfo kFormats[] = {
    {Format::Lircd, "lircd", ".lircd.conf .conf .lircd", "LIRC remote file (lircd.conf)", true,
     false, true, 2, false},
    {Format::Flipper, "flipper", ".ir", "Flipper Zero infrared file", true, false, true, 0, false},
    {Format::Broadlink, "broadlink", ".json .b64",
     "Broadlink base64 packets (Home Assistant), as JSON or one a line", false, false, true, 17,
     false},
    {Format::GlobalCache, "gc", ".gc", "Global Caché sendir commands", true, true, true, 0, true},
    {Format::IRremote, "irremote", ".h .ino .hpp .cpp .c", "IRremote raw arrays (C, µs)", false,
     false, false, 0, false, 65535},
    {Format::Raw, "raw", ".raw", "raw signed microseconds, one key a line", false, false, true, 0,
     false},
    {Format::Mode2, "mode2", ".mode2", "LIRC mode2 text", true, false, true, 0, false},
    {Format::Keymap, "keymap", ".toml", "ir-keytable TOML keymap", false, false, false, 0, false},
    {Format::Pronto, "pronto", ".pronto .txt", "Pronto hex, one code a line or NAME: CODE", true,
     true, true, 0, true},
};

std::string lower(std::string_view s) {
    std::string out(s);
    for (char &c : out) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string_view first_meaningful_line(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t eol = std::min(text.find('\n', i), text.size());
        const std::string_view line = detail::trim(text.substr(i, eol - i));
        i = eol + 1;
        if (!line.empty() && line.front() != '#' && !detail::starts_with(line, "//")) {
            return line;
        }
    }
    return {};
}

std::optional<Format> guess_from_text(std::string_view text) {
    text = text.substr(0, 64 * 1024);
    if (text.find("Filetype: IR ") != std::string_view::npos) {
        return Format::Flipper;
    }
    const std::string head = lower(text);
    if (head.find("begin remote") != std::string::npos) {
        return Format::Lircd;
    }
    if (head.find("[[protocols]]") != std::string::npos) {
        return Format::Keymap;
    }
    const std::string_view line = first_meaningful_line(text);
    if (line.empty()) {
        return std::nullopt;
    }
    if (line.front() == '{') {
        return Format::Broadlink;
    }
    if (head.find("sendir,") != std::string::npos) {
        return Format::GlobalCache;
    }
    for (std::string_view w : {"pulse ", "space ", "timeout ", "carrier "}) {
        if (detail::starts_with(line, w)) {
            return Format::Mode2;
        }
    }
    if (head.find("uint16_t") != std::string::npos || head.find("[] = {") != std::string::npos) {
        return Format::IRremote;
    }
    // "NAME: CODE" or a bare code.
    const std::size_t colon = line.find(": ");
    const std::string_view code =
        detail::trim(colon == std::string_view::npos ? line : line.substr(colon + 2));
    const std::vector<std::string_view> w = detail::words(code);
    if (w.empty()) {
        return std::nullopt;
    }
    const bool hex4 =
        w.size() >= 4 && std::all_of(w.begin(), w.begin() + 4, [](std::string_view t) {
            return t.size() == 4 && std::all_of(t.begin(), t.end(), [](char c) {
                       return std::isxdigit(static_cast<unsigned char>(c)) != 0;
                   });
        });
    if (hex4) {
        return Format::Pronto;
    }
    if (w.size() == 1 && (detail::starts_with(code, "Jg") || detail::starts_with(code, "b64:"))) {
        return Format::Broadlink;
    }
    if (w.front().front() == '+' || w.front().front() == '-' ||
        std::isdigit(static_cast<unsigned char>(w.front().front())) != 0) {
        return Format::Raw;
    }
    return std::nullopt;
}

// "FILE:LINE: why", one line of text whatever the file held.
std::string prefixed(std::string_view name, int line, const std::string &why) {
    std::string out(name.empty() ? "<text>" : name == "-" ? "<stdin>" : name);
    if (line > 0) {
        out += ":" + std::to_string(line);
    }
    out += ": " + why;
    for (char &c : out) {
        c = static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    }
    return out;
}

// Warnings come as "LINE: why" or plain text.
std::string warning_with_file(std::string_view name, const std::string &w) {
    const std::size_t colon = w.find(": ");
    if (colon != std::string::npos && colon > 0 &&
        std::all_of(w.begin(), w.begin() + long(colon),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        return prefixed(name, std::stoi(w.substr(0, colon)), w.substr(colon + 2));
    }
    return prefixed(name, 0, w);
}

ReadResult finish_read(CodeFile &&file, std::string_view name) {
    ReadResult r;
    r.file = std::move(file);
    for (std::string &w : r.file.warnings) {
        w = warning_with_file(name, w);
    }
    for (Remote &remote : r.file.remotes) {
        double carrier = -1;
        for (const Key &k : remote.keys) {
            if (k.has_signal()) {
                carrier = carrier < 0 || carrier == k.signal.carrier_hz ? k.signal.carrier_hz : 0;
            }
        }
        if (carrier >= 0) {
            remote.carrier_hz = carrier;
        }
    }
    return r;
}

}  // namespace

std::span<const FormatInfo> formats() {
    return kFormats;
}

const FormatInfo &info(Format format) {
    return kFormats[std::size_t(format)];
}

const FormatInfo *find_format(std::string_view name) {
    for (const FormatInfo &f : kFormats) {
        if (detail::iequals(f.name, name)) {
            return &f;
        }
    }
    return nullptr;
}

std::optional<Format> guess_format(std::string_view path, std::string_view text) {
    const std::size_t slash = path.find_last_of('/');
    const std::string base = lower(slash == std::string_view::npos ? path : path.substr(slash + 1));
    if (detail::starts_with(base, "lircd.conf")) {
        return Format::Lircd;
    }
    std::optional<Format> by_extension;
    const std::size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        const std::string ext = base.substr(dot);
        for (const FormatInfo &f : kFormats) {
            for (std::string_view e : detail::words(f.extensions)) {
                if (e == ext && ext != ".txt") {
                    by_extension = f.format;
                }
            }
        }
    }
    if (by_extension) {
        return by_extension;
    }
    return guess_from_text(text);
}

ReadResult read(std::string_view text, Format format, std::string_view name) {
    CodeFile file;
    try {
        // Binary data and endless lines, whatever the format: every reader may take lines.
        detail::Lines lines(text);
        for (detail::Line l; lines.next(l);) {
        }
        detail::io(format).read(text, detail::stem(name), file);
    } catch (const detail::Failure &f) {
        ReadResult r;
        r.error = prefixed(name, f.line, f.why);
        return r;
    }
    return finish_read(std::move(file), name);
}

ReadResult read_file(const std::string &path, std::optional<Format> format) {
    detail::FileText t = detail::read_bounded(path);
    if (!t.error.empty()) {
        ReadResult r;
        r.error = t.error;
        return r;
    }
    if (!format) {
        format = guess_format(path == "-" ? std::string_view{} : std::string_view(path), t.text);
    }
    if (!format) {
        ReadResult r;
        r.error = prefixed(path, 0,
                           "cannot tell the file's format (name it: lircd, flipper, "
                           "broadlink, gc, irremote, raw, mode2, keymap or pronto)");
        return r;
    }
    if (*format != Format::Lircd || path == "-") {
        return read(t.text, *format, path);
    }
    CodeFile file;
    try {
        detail::read_lircd_file(path, t.text, 0, file);
    } catch (const detail::Failure &f) {
        ReadResult r;
        r.error = prefixed(path, f.line, f.why);
        return r;
    }
    return finish_read(std::move(file), path);
}

void decode_keys(CodeFile &file) {
    for (Remote &remote : file.remotes) {
        const protocols::ProtocolInfo *shared = nullptr;
        bool one = true;
        for (Key &k : remote.keys) {
            if (!k.has_signal()) {
                continue;
            }
            if (!k.decode) {
                std::vector<protocols::Decode> d = protocols::decode(k.signal);
                if (!d.empty() && d.front().complete) {
                    k.decode = std::move(d.front());
                }
            }
            const protocols::ProtocolInfo *p = k.decode ? k.decode->protocol : nullptr;
            one = one && p != nullptr && (shared == nullptr || shared == p);
            shared = p;
        }
        remote.protocol = one ? shared : nullptr;
    }
}

WriteResult write(const CodeFile &file, Format format) {
    WriteResult out;
    CodeFile decoded = file;
    decode_keys(decoded);
    std::size_t keys = 0;
    for (const Remote &r : decoded.remotes) {
        for (const Key &k : r.keys) {
            if (k.has_signal()) {
                ++keys;
            } else {
                out.warnings.push_back(r.name + "/" + k.name + ": left out, " +
                                       (k.note.empty() ? "no timings" : k.note));
            }
        }
    }
    if (keys == 0) {
        out.error = "no key with timings to write";
        return out;
    }
    try {
        detail::io(format).write(decoded, out.text, out.warnings);
    } catch (const detail::Failure &f) {
        out.text.clear();
        out.error = f.why;
    }
    return out;
}

const Key *find_key(const CodeFile &file, std::string_view remote, std::string_view key,
                    std::string &error) {
    const Key *found = nullptr;
    std::string found_in;
    bool remote_seen = remote.empty();
    for (const Remote &r : file.remotes) {
        if (!remote.empty() && r.name != remote) {
            continue;
        }
        remote_seen = true;
        for (const Key &k : r.keys) {
            if (k.name != key) {
                continue;
            }
            if (found != nullptr && found_in != r.name) {
                error = "key " + std::string(key) + " is in remotes " + found_in + " and " +
                        r.name + ": name one with --remote";
                return nullptr;
            }
            if (found == nullptr) {
                found = &k;
                found_in = r.name;
            }
        }
    }
    if (found != nullptr) {
        return found;
    }
    if (!remote_seen) {
        error = "no remote " + std::string(remote) + "; the file has:";
        for (const Remote &r : file.remotes) {
            error += " " + r.name;
        }
        return nullptr;
    }
    error =
        "no key " + std::string(key) + (remote.empty() ? "" : " in remote " + std::string(remote));
    std::string names;
    std::size_t n = 0;
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            if ((remote.empty() || r.name == remote) && ++n <= 40) {
                names += " " + k.name;
            }
        }
    }
    error += n == 0 ? "; the file has no keys" : "; the keys are:" + names + (n > 40 ? " ..." : "");
    return nullptr;
}

std::string add_key_to_file(const std::string &path, std::string_view remote, const Key &key,
                            std::optional<Format> format) {
    if (!key.has_signal()) {
        return "the key has no timings";
    }
    detail::FileText t = detail::read_bounded(path);
    if (!t.error.empty() && !t.missing) {
        return t.error;
    }
    if (!format) {
        format = guess_format(path, t.text);
    }
    if (!format) {
        return path +
               ": cannot tell the format from the file's name (give it an extension such "
               "as .conf, .ir, .json, .gc, .h, .raw, .mode2, .toml or .pronto)";
    }
    if (*format == Format::Flipper && !remote.empty() && remote != detail::stem(path)) {
        return path + ": a Flipper file holds one remote, named after the file (" +
               detail::stem(path) + "), not " + std::string(remote);
    }
    if (!t.missing) {
        const ReadResult existing = read(t.text, *format, path);
        if (!existing.ok()) {
            return existing.error + " (the file is left as it is)";
        }
        std::string ignored;
        for (const Remote &r : existing.file.remotes) {
            if (r.name == (remote.empty() ? detail::stem(path) : std::string(remote))) {
                for (const Key &k : r.keys) {
                    if (k.name == key.name) {
                        return path + ": remote " + r.name + " already has a key " + key.name;
                    }
                }
            }
        }
    }
    detail::Insertion ins;
    try {
        ins = detail::io(*format).append(t.text, remote, key);
    } catch (const detail::Failure &f) {
        return prefixed(path, f.line, f.why);
    }
    std::string text = t.text;
    text.insert(std::min(ins.offset, text.size()), ins.text);
    const ReadResult check = read(text, *format, path);
    if (!check.ok()) {
        return "the key would not read back (" + check.error + "); the file is left as it is";
    }
    return replace_file(path, text);
}

}  // namespace ir::files
