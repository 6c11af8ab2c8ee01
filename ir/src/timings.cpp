// SPDX-License-Identifier: MIT
#include "ir/timings.h"

#include <cctype>

namespace ir {
namespace {

constexpr std::size_t kMaxShownChars = 16;

std::string shown(std::string_view token) {
    std::string s = "'";
    for (std::size_t i = 0; i < token.size() && i < kMaxShownChars; ++i) {
        const auto c = static_cast<unsigned char>(token[i]);
        s += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    }
    return s + (token.size() > kMaxShownChars ? "...'" : "'");
}

// A decimal number of µs; false for anything else (signs are the caller's).
bool parse_us(std::string_view digits, uint64_t &out) {
    if (digits.empty() || digits.size() > 12) {
        return false;
    }
    uint64_t v = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + uint64_t(c - '0');
    }
    out = v;
    return true;
}

Timings failure(std::string why) {
    Timings t;
    t.error = std::move(why);
    return t;
}

std::string too_long(std::size_t n) {
    return "the text is " + std::to_string(n) + " characters long, at most " +
           std::to_string(kMaxTimingsChars) + " allowed";
}

// Adds one duration, merging it into the last one when the level is the same.
// Returns an error text, empty when fine.
std::string add(Timings &t, bool mark, uint64_t us) {
    if (us > kMaxDurationUs) {
        return std::to_string(us) + " µs is too long";
    }
    if (!t.durations_us.empty() && (t.durations_us.size() % 2 == 1) == mark) {
        uint64_t sum = uint64_t(t.durations_us.back()) + us;
        t.durations_us.back() = uint32_t(sum > kMaxDurationUs ? kMaxDurationUs : sum);
        return {};
    }
    if (t.durations_us.size() == kMaxTimings) {
        return "more than " + std::to_string(kMaxTimings) + " durations";
    }
    t.durations_us.push_back(uint32_t(us));
    return {};
}

bool is_separator(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0 || c == ',';
}

}  // namespace

Timings parse_raw_timings(std::string_view text) {
    if (text.size() > kMaxTimingsChars) {
        return failure(too_long(text.size()));
    }
    Timings t;
    std::size_t word = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && is_separator(text[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < text.size() && !is_separator(text[i])) {
            ++i;
        }
        if (i == start) {
            break;
        }
        const std::string_view token = text.substr(start, i - start);
        const std::string where = "word " + std::to_string(++word) + ": ";
        const bool signed_token = token[0] == '+' || token[0] == '-';
        uint64_t us = 0;
        if (!parse_us(signed_token ? token.substr(1) : token, us)) {
            return failure(where + shown(token) + " is not a duration");
        }
        if (us == 0) {
            return failure(where + "0 µs");
        }
        const bool expect_mark = t.durations_us.size() % 2 == 0;
        if (signed_token && (token[0] == '+') != expect_mark) {
            return failure(where + (expect_mark ? "a space where a mark belongs"
                                                : "a mark where a space belongs"));
        }
        if (std::string e = add(t, expect_mark, us); !e.empty()) {
            return failure(where + e);
        }
    }
    if (t.durations_us.empty()) {
        return failure("no durations");
    }
    return t;
}

Timings parse_mode2(std::string_view text) {
    if (text.size() > kMaxTimingsChars) {
        return failure(too_long(text.size()));
    }
    Timings t;
    std::size_t line_no = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t eol = text.find('\n', i);
        std::string_view line = text.substr(i, eol == std::string_view::npos ? eol : eol - i);
        i = eol == std::string_view::npos ? text.size() : eol + 1;
        ++line_no;
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front())) != 0) {
            line.remove_prefix(1);
        }
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back())) != 0) {
            line.remove_suffix(1);
        }
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::string where = "line " + std::to_string(line_no) + ": ";
        const std::size_t blank = line.find_first_of(" \t");
        const std::string_view word = line.substr(0, blank);
        std::string_view rest =
            blank == std::string_view::npos ? std::string_view{} : line.substr(blank);
        while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.front())) != 0) {
            rest.remove_prefix(1);
        }
        uint64_t value = 0;
        const bool known =
            word == "pulse" || word == "space" || word == "timeout" || word == "carrier";
        if (!known || !parse_us(rest, value)) {
            return failure(where + shown(line) + " is not pulse, space, timeout or carrier N");
        }
        if (word == "carrier") {
            t.carrier_hz = double(value);
            continue;
        }
        if (value == 0) {
            if (word == "timeout") {
                continue;
            }
            return failure(where + "0 µs");
        }
        const bool mark = word == "pulse";
        if (!mark && t.durations_us.empty()) {
            continue;  // silence before the first pulse
        }
        if (std::string e = add(t, mark, value); !e.empty()) {
            return failure(where + e);
        }
    }
    if (t.durations_us.empty()) {
        return failure("no pulses");
    }
    return t;
}

bool looks_like_mode2(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
    }
    const std::string_view rest = text.substr(i);
    for (std::string_view w : {"#", "pulse", "space", "timeout", "carrier"}) {
        if (rest.substr(0, w.size()) == w) {
            return true;
        }
    }
    return false;
}

}  // namespace ir
