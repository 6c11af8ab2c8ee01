// SPDX-License-Identifier: MIT
#include "text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace ir::files::detail {

void fail(int line, std::string why) {
    throw Failure{line, std::move(why)};
}

bool Lines::next(Line &line) {
    if (pos_ >= text_.size()) {
        return false;
    }
    std::size_t end = pos_;
    const std::size_t limit = std::min(text_.size(), pos_ + kMaxLineChars + 1);
    while (end < limit && text_[end] != '\n' && text_[end] != '\r') {
        if (text_[end] == '\0') {
            fail(number_ + 1, "binary data (a NUL byte)");
        }
        ++end;
    }
    ++number_;
    if (end - pos_ > kMaxLineChars) {
        fail(number_, "the line is longer than " + std::to_string(kMaxLineChars) + " characters");
    }
    line = {text_.substr(pos_, end - pos_), number_};
    if (end < text_.size() && text_[end] == '\r' && end + 1 < text_.size() &&
        text_[end + 1] == '\n') {
        ++end;
    }
    pos_ = end + 1;
    return true;
}

std::size_t line_offset(std::string_view text, int line) {
    std::size_t pos = 0;
    for (int n = 1; n < line && pos < text.size(); ++n) {
        while (pos < text.size() && text[pos] != '\n' && text[pos] != '\r') {
            ++pos;
        }
        if (pos + 1 < text.size() && text[pos] == '\r' && text[pos + 1] == '\n') {
            ++pos;
        }
        pos = std::min(pos + 1, text.size());
    }
    return pos;
}

void require_text(std::string_view text) {
    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        const auto line = 1 + std::count(text.begin(), text.begin() + long(nul), '\n');
        fail(int(line), "binary data (a NUL byte)");
    }
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())) != 0) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

bool iequals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string shown(std::string_view token) {
    constexpr std::size_t kMax = 40;
    std::string s = "'";
    for (std::size_t i = 0; i < token.size() && i < kMax; ++i) {
        const auto c = static_cast<unsigned char>(token[i]);
        s += (c >= 0x20 && c != 0x7F) ? char(c) : '?';
    }
    return s + (token.size() > kMax ? "...'" : "'");
}

std::optional<uint64_t> c_number(std::string_view token) {
    unsigned base = 10;
    if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
        base = 16;
        token.remove_prefix(2);
    } else if (token.size() > 1 && token[0] == '0') {
        base = 8;
        token.remove_prefix(1);
    }
    if (token.empty()) {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (char c : token) {
        unsigned d = 0;
        if (c >= '0' && c <= '9') {
            d = unsigned(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            d = unsigned(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            d = unsigned(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (d >= base || v > (UINT64_MAX - d) / base) {
            return std::nullopt;
        }
        v = v * base + d;
    }
    return v;
}

std::optional<uint64_t> decimal(std::string_view token) {
    if (token.empty() || token.size() > 19) {
        return std::nullopt;
    }
    uint64_t v = 0;
    for (char c : token) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        v = v * 10 + uint64_t(c - '0');
    }
    return v;
}

std::optional<double> decimal_fraction(std::string_view token) {
    const std::size_t dot = token.find('.');
    const auto whole = decimal(dot == std::string_view::npos ? token : token.substr(0, dot));
    if (!whole) {
        return std::nullopt;
    }
    double v = double(*whole);
    if (dot != std::string_view::npos) {
        const std::string_view frac = token.substr(dot + 1);
        if (frac.empty() || frac.size() > 12 || !decimal(frac)) {
            return std::nullopt;
        }
        v += double(*decimal(frac)) / std::pow(10.0, double(frac.size()));
    }
    return v;
}

std::optional<char> short_escape(char letter) {
    switch (letter) {
        case 'n':
            return '\n';
        case 't':
            return '\t';
        case 'r':
            return '\r';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case '"':
        case '\\':
            return letter;
        default:
            return std::nullopt;
    }
}

void append_utf8(std::string &out, uint32_t u) {
    if (u < 0x80) {
        out += char(u);
    } else if (u < 0x800) {
        out += char(0xC0 | (u >> 6));
        out += char(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += char(0xE0 | (u >> 12));
        out += char(0x80 | ((u >> 6) & 0x3F));
        out += char(0x80 | (u & 0x3F));
    } else {
        out += char(0xF0 | ((u >> 18) & 0x07));
        out += char(0x80 | ((u >> 12) & 0x3F));
        out += char(0x80 | ((u >> 6) & 0x3F));
        out += char(0x80 | (u & 0x3F));
    }
}

std::string number_text(double value) {
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        return std::to_string(static_cast<long long>(value));
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6f", value);
    std::string s = buf;
    while (s.back() == '0') {
        s.pop_back();
    }
    if (s.back() == '.') {
        s.pop_back();
    }
    return s;
}

std::string stem(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0) {
        base = base.substr(0, dot);
    }
    return std::string(base.empty() || base == "-" ? "remote" : base);
}

QualifiedName split_name(std::string_view name) {
    const std::size_t slash = name.find('/');
    if (slash == std::string_view::npos) {
        return {"", std::string(trim(name))};
    }
    return {std::string(trim(name.substr(0, slash))), std::string(trim(name.substr(slash + 1)))};
}

std::vector<NamedCode> read_named_lines(std::string_view text, bool (*bare)(std::string_view),
                                        bool (*continues)(std::string_view, std::string_view)) {
    require_text(text);
    std::vector<NamedCode> out;
    Lines lines(text);
    Line l;
    int unnamed = 0;
    bool open = false;  // the last code may go on on the next line
    while (lines.next(l)) {
        const std::string_view t = trim(l.text);
        if (t.empty() || t.front() == '#' || starts_with(t, "//")) {
            open = false;
            continue;
        }
        if (open && continues != nullptr && continues(out.back().code, t)) {
            if (out.back().code.size() + t.size() >= kMaxLineChars) {
                fail(l.number,
                     "the code is longer than " + std::to_string(kMaxLineChars) + " characters");
            }
            out.back().code += " ";
            out.back().code += t;
            continue;
        }
        NamedCode c;
        c.line = l.number;
        const std::size_t colon = t.find(':');
        if (colon == std::string_view::npos || bare(t)) {
            c.key = std::to_string(++unnamed);
            c.code = std::string(t);
        } else {
            const QualifiedName n = split_name(t.substr(0, colon));
            if (n.key.empty()) {
                fail(l.number, "a name is missing before ':'");
            }
            c.remote = n.remote;
            c.key = n.key;
            c.code = std::string(trim(t.substr(colon + 1)));
        }
        if (c.code.size() > kMaxLineChars) {
            fail(l.number,
                 "the code is longer than " + std::to_string(kMaxLineChars) + " characters");
        }
        out.push_back(std::move(c));
        open = true;
    }
    return out;
}

std::string line_name(const Remote &remote, const Key &key) {
    return (remote.name.empty() ? "" : remote.name + "/") + key.name + ": ";
}

void add_key(CodeFile &file, std::string_view remote, Key key) {
    std::size_t total = 0;
    for (const Remote &r : file.remotes) {
        total += r.keys.size();
    }
    if (total >= kMaxKeys) {
        fail(key.line, "more than " + std::to_string(kMaxKeys) + " keys");
    }
    auto it = std::find_if(file.remotes.begin(), file.remotes.end(),
                           [&](const Remote &r) { return r.name == remote; });
    if (it == file.remotes.end()) {
        file.remotes.push_back({std::string(remote), nullptr, 0, {}});
        it = file.remotes.end() - 1;
    }
    it->keys.push_back(std::move(key));
}

std::vector<uint32_t> sent_once(const Signal &signal) {
    std::vector<uint32_t> out;
    out.reserve(2 * (signal.once.size() + signal.repeat.size()));
    for (const auto *part : {&signal.once, &signal.repeat}) {
        for (const Burst &b : *part) {
            out.push_back(b.on_us);
            out.push_back(b.off_us);
        }
    }
    return out;
}

Signal signal_from_durations(std::span<const uint32_t> durations, double carrier_hz,
                             uint32_t final_gap_us) {
    Signal s;
    s.carrier_hz = carrier_hz;
    for (std::size_t i = 0; i < durations.size(); i += 2) {
        s.once.push_back(
            {durations[i], i + 1 < durations.size() ? durations[i + 1] : final_gap_us});
    }
    return s;
}

Key key_from_durations(std::string name, int line, std::span<const uint32_t> durations,
                       double carrier_hz) {
    Key k;
    k.name = std::move(name);
    k.line = line;
    k.signal = signal_from_durations(durations, carrier_hz, kStoredGapUs);
    k.gap_assumed = durations.size() % 2 == 1;
    return k;
}

std::vector<uint32_t> stored_durations(const Key &key) {
    std::vector<uint32_t> d = sent_once(key.signal);
    if (key.gap_assumed && !d.empty()) {
        d.pop_back();
    }
    return d;
}

}  // namespace ir::files::detail
