// SPDX-License-Identifier: MIT
// IRremote raw arrays, as Arduino and ESP sketches hold codes for sendRaw():
//   // TV/POWER: NEC1 D=4 S=251 F=8
//   const uint16_t TV_POWER[67] = {9024, 4512, 564, ...};  // 38 kHz
// Durations in µs, starting with a mark and ending on one (the gap after the last mark is
// the sketch's). Reading takes every "NAME[...] = { numbers }" array; the key's name is the
// "// REMOTE/KEY" comment line just above it when there is one, else the array's name; the
// carrier is a "N kHz" comment on its last line, else 38 kHz.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "formats.h"
#include "ir/timings.h"
#include "text.h"

namespace ir::files::detail {
namespace {

bool ident_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

int line_at(std::string_view text, std::size_t offset) {
    return 1 +
           int(std::count(text.begin(), text.begin() + long(std::min(offset, text.size())), '\n'));
}

std::string_view line_around(std::string_view text, std::size_t offset) {
    const std::size_t begin = text.rfind('\n', offset == 0 ? 0 : offset - 1);
    const std::size_t b = begin == std::string_view::npos ? 0 : begin + 1;
    const std::size_t e = std::min(text.find('\n', offset), text.size());
    return text.substr(b, e - b);
}

// The "// NAME" comment on the line before `offset`'s line, without what follows a ':'.
std::string comment_name(std::string_view text, std::size_t line_begin) {
    if (line_begin < 2) {
        return {};
    }
    const std::string_view prev = trim(line_around(text, line_begin - 1));
    if (!starts_with(prev, "//")) {
        return {};
    }
    const std::string_view body = trim(prev.substr(2));
    return std::string(trim(body.substr(0, body.find(':'))));
}

double khz_after(std::string_view line) {
    const std::size_t k = line.find("kHz");
    if (k == std::string_view::npos) {
        return 38000;
    }
    std::size_t b = k;
    while (b > 0 && (line[b - 1] == ' ' || line[b - 1] == '.' ||
                     std::isdigit(static_cast<unsigned char>(line[b - 1])) != 0)) {
        --b;
    }
    const auto v = decimal_fraction(trim(line.substr(b, k - b)));
    return v && *v >= 10 && *v <= 500 ? *v * 1000 : 38000;
}

std::string identifier(std::string_view name, std::set<std::string> &taken) {
    std::string id;
    for (char c : name) {
        id += ident_char(c) ? c : '_';
    }
    if (id.empty() || std::isdigit(static_cast<unsigned char>(id.front())) != 0) {
        id = "_" + id;
    }
    std::string unique = id;
    for (int n = 2; !taken.insert(unique).second; ++n) {
        unique = id + "_" + std::to_string(n);
    }
    return unique;
}

// The text with its comments blanked out (line breaks kept), so that arrays are found in the
// code only.
std::string without_comments(std::string_view text) {
    std::string out(text);
    for (std::size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == '/' && out[i + 1] == '/') {
            while (i < out.size() && out[i] != '\n') {
                out[i++] = ' ';
            }
        } else if (out[i] == '/' && out[i + 1] == '*') {
            while (i < out.size() && !(out[i] == '*' && i + 1 < out.size() && out[i + 1] == '/')) {
                out[i] = out[i] == '\n' ? '\n' : ' ';
                ++i;
            }
            for (int k = 0; k < 2 && i < out.size(); ++k) {
                out[i++] = ' ';
            }
        }
    }
    return out;
}

}  // namespace

void read_irremote(std::string_view original, std::string_view remote, CodeFile &out) {
    require_text(original);
    const std::string code = without_comments(original);
    const std::string_view text = code;
    std::size_t pos = 0;
    while ((pos = text.find('[', pos)) != std::string_view::npos) {
        const std::size_t close = text.find(']', pos);
        const std::size_t eq =
            close == std::string_view::npos ? close : text.find_first_not_of(" \t", close + 1);
        if (eq == std::string_view::npos || text[eq] != '=') {
            ++pos;
            continue;
        }
        const std::size_t brace = text.find_first_not_of(" \t\r\n", eq + 1);
        if (brace == std::string_view::npos || text[brace] != '{') {
            ++pos;
            continue;
        }
        std::size_t b = pos;
        while (b > 0 && ident_char(text[b - 1])) {
            --b;
        }
        const std::string_view ident = text.substr(b, pos - b);
        const std::size_t end = text.find('}', brace);
        if (ident.empty() || end == std::string_view::npos) {
            fail(line_at(text, pos), "an array without its closing '}'");
        }
        std::vector<uint32_t> d;
        std::size_t i = brace + 1;
        while (i < end) {
            while (i < end &&
                   (std::isspace(static_cast<unsigned char>(text[i])) != 0 || text[i] == ',')) {
                ++i;
            }
            std::size_t j = i;
            while (j < end && std::isalnum(static_cast<unsigned char>(text[j])) != 0) {
                ++j;
            }
            if (j == i) {
                if (i < end) {
                    fail(line_at(text, i),
                         shown(text.substr(i, 1)) + " in the array " + std::string(ident));
                }
                break;
            }
            std::string_view token = text.substr(i, j - i);
            while (!token.empty() && (token.back() == 'u' || token.back() == 'U' ||
                                      token.back() == 'l' || token.back() == 'L')) {
                token.remove_suffix(1);
            }
            const auto v = c_number(token);
            if (!v || *v == 0 || *v > kMaxDurationUs) {
                fail(line_at(text, i), shown(text.substr(i, j - i)) + " is not a duration in µs");
            }
            if (d.size() >= kMaxTimings) {
                fail(line_at(text, i), "more than " + std::to_string(kMaxTimings) + " durations");
            }
            d.push_back(uint32_t(*v));
            i = j;
        }
        if (d.empty()) {
            fail(line_at(text, brace), "the array " + std::string(ident) + " is empty");
        }
        const std::size_t line_begin =
            text.rfind('\n', b) == std::string_view::npos ? 0 : text.rfind('\n', b) + 1;
        const QualifiedName n = split_name(comment_name(original, line_begin));
        Key k = key_from_durations(n.key.empty() ? std::string(ident) : n.key, line_at(text, b), d,
                                   khz_after(line_around(original, end)));
        add_key(out, n.key.empty() || n.remote.empty() ? remote : std::string_view(n.remote),
                std::move(k));
        pos = end;
    }
}

namespace {

void write_arrays(const CodeFile &file, std::string &out, std::vector<std::string> &warnings,
                  std::set<std::string> &taken) {
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            if (!k.has_signal()) {
                continue;
            }
            std::vector<uint32_t> d = sent_once(k.signal);
            d.pop_back();  // the sketch waits after the last mark
            bool clamped = false;
            const uint32_t longest = info(Format::IRremote).longest_us;
            out += "// " + (r.name.empty() ? "" : r.name + "/") + k.name;
            out += k.decode ? ": " + k.decode->text() + "\n" : "\n";
            out += "const uint16_t " +
                   identifier(r.name.empty() ? k.name : r.name + "_" + k.name, taken) + "[" +
                   std::to_string(d.size()) + "] = {";
            for (std::size_t i = 0; i < d.size(); ++i) {
                clamped = clamped || d[i] > longest;
                out += (i == 0        ? ""
                        : i % 16 == 0 ? ",\n    "
                                      : ", ") +
                       std::to_string(std::min(d[i], longest));
            }
            out += "};  // " + number_text(std::round(k.signal.carrier_hz / 100) / 10) + " kHz\n";
            if (clamped) {
                warnings.push_back(r.name + "/" + k.name + ": durations over " +
                                   std::to_string(longest) + " µs written as " +
                                   std::to_string(longest));
            }
        }
    }
}

// The names of the arrays a text already has.
std::set<std::string> arrays_in(std::string_view text) {
    std::set<std::string> names;
    for (std::size_t pos = text.find('['); pos != std::string_view::npos;
         pos = text.find('[', pos + 1)) {
        std::size_t b = pos;
        while (b > 0 && ident_char(text[b - 1])) {
            --b;
        }
        names.insert(std::string(text.substr(b, pos - b)));
    }
    return names;
}

}  // namespace

void write_irremote(const CodeFile &file, std::string &out, std::vector<std::string> &warnings) {
    std::set<std::string> taken;
    write_arrays(file, out, warnings, taken);
}

Insertion append_irremote(std::string_view text, std::string_view remote, const Key &key) {
    std::set<std::string> taken = arrays_in(text);
    std::vector<std::string> warnings;
    CodeFile one;
    one.remotes.push_back({std::string(remote), nullptr, 0, {key}});
    std::string written;
    write_arrays(one, written, warnings, taken);
    return {text.size(), (text.empty() || text.back() == '\n' ? "" : "\n") + written};
}

}  // namespace ir::files::detail
