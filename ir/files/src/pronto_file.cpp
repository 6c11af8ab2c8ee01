// SPDX-License-Identifier: MIT
// Pronto hex files: one code a line, or "NAME: CODE" lines (as pronto2lirc reads them); a
// code may go on over the lines that follow it until it has the words its header counts.
#include <cctype>

#include "formats.h"
#include "ir/pronto.h"
#include "text.h"

namespace ir::files::detail {
namespace {

bool hex_word(std::string_view w) {
    return w.size() == 4 && std::isxdigit(static_cast<unsigned char>(w[0])) != 0 &&
           std::isxdigit(static_cast<unsigned char>(w[1])) != 0 &&
           std::isxdigit(static_cast<unsigned char>(w[2])) != 0 &&
           std::isxdigit(static_cast<unsigned char>(w[3])) != 0;
}

bool bare(std::string_view line) {
    const std::vector<std::string_view> w = words(line.substr(0, 64));
    return !w.empty() && hex_word(w.front());
}

// The words a code's header promises, 0 when it cannot tell.
std::size_t expected_words(const std::vector<std::string_view> &w) {
    if (w.size() < 4 || !hex_word(w[0]) || !hex_word(w[2]) || !hex_word(w[3])) {
        return 0;
    }
    const auto word = [&](std::size_t i) { return std::stoul(std::string(w[i]), nullptr, 16); };
    switch (word(0)) {
        case 0x0000:
        case 0x0100:
            return 4 + 2 * (word(2) + word(3));
        case 0x5001:
            return 8;
        default:
            return 6;
    }
}

bool continues(std::string_view code, std::string_view line) {
    return bare(line) && words(code).size() < expected_words(words(code));
}

}  // namespace

void read_pronto(std::string_view text, std::string_view remote, CodeFile &out) {
    add_named_codes(read_named_lines(text, bare, continues), remote, out,
                    [](const std::string &code) {
                        ParseResult p = parse_pronto(code);
                        if (!p.ok()) {
                            fail(0, p.error);
                        }
                        return p.signal;
                    });
}

void write_pronto(const CodeFile &file, std::string &out, std::vector<std::string> &warnings) {
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            if (!k.has_signal()) {
                continue;
            }
            const EncodeResult e = encode_pronto(k.signal);
            if (e.text.size() > kMaxProntoChars) {
                warnings.push_back(r.name + "/" + k.name + ": left out, " +
                                   std::to_string(e.text.size()) +
                                   " characters of Pronto, more than the " +
                                   std::to_string(kMaxProntoChars) + " read here");
                continue;
            }
            if (e.clamped) {
                warnings.push_back(r.name + "/" + k.name +
                                   ": a duration or the carrier is out of Pronto's range");
            }
            out += line_name(r, k) + e.text + "\n";
        }
    }
}

Insertion append_pronto(std::string_view text, std::string_view remote, const Key &key) {
    return append_written(write_pronto, text, remote, key);
}

}  // namespace ir::files::detail
