// SPDX-License-Identifier: MIT
#include "toml.h"

#include <cctype>

#include "text.h"

namespace ir::files::detail::toml {
namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : t_(text) {}

    std::vector<Item> items() {
        std::vector<Item> out;
        for (;;) {
            skip_blank_lines();
            if (i_ >= t_.size()) {
                return out;
            }
            Item item;
            item.line = line_;
            if (t_[i_] == '[') {
                const bool array = i_ + 1 < t_.size() && t_[i_ + 1] == '[';
                i_ += array ? 2 : 1;
                item.kind = array ? Item::Kind::ArrayTable : Item::Kind::Table;
                item.path = dotted_key();
                expect(']');
                if (array) {
                    expect(']');
                }
            } else {
                item.path = dotted_key();
                expect('=');
                item.value = value(0);
            }
            end_of_line();
            out.push_back(std::move(item));
        }
    }

  private:
    void spaces() {
        while (i_ < t_.size() && (t_[i_] == ' ' || t_[i_] == '\t')) {
            ++i_;
        }
    }
    void comment() {
        if (i_ < t_.size() && t_[i_] == '#') {
            while (i_ < t_.size() && t_[i_] != '\n') {
                ++i_;
            }
        }
    }
    void newline() {
        if (i_ < t_.size() && t_[i_] == '\r') {
            ++i_;
        }
        if (i_ < t_.size() && t_[i_] == '\n') {
            ++i_;
            ++line_;
        }
    }
    void skip_blank_lines() {
        for (;;) {
            spaces();
            comment();
            if (i_ < t_.size() && (t_[i_] == '\n' || t_[i_] == '\r')) {
                const std::size_t before = i_;
                newline();
                if (i_ == before) {
                    fail(line_, "a lone carriage return");
                }
                continue;
            }
            return;
        }
    }
    // White space, comments and line breaks inside arrays.
    void skip_in_array() { skip_blank_lines(); }

    void end_of_line() {
        spaces();
        comment();
        if (i_ < t_.size() && t_[i_] != '\n' && t_[i_] != '\r') {
            fail(line_, shown(rest()) + " after the value");
        }
    }

    std::string_view rest() const {
        const std::size_t e = t_.find('\n', i_);
        return t_.substr(i_, (e == std::string_view::npos ? t_.size() : e) - i_);
    }

    void expect(char c) {
        spaces();
        if (i_ >= t_.size() || t_[i_] != c) {
            fail(line_, std::string("'") + c + "' expected" +
                            (i_ < t_.size() ? " before " + shown(rest()) : " at the end"));
        }
        ++i_;
    }

    std::string key() {
        spaces();
        if (i_ < t_.size() && (t_[i_] == '"' || t_[i_] == '\'')) {
            return string();
        }
        const std::size_t start = i_;
        while (i_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[i_])) != 0 ||
                                  t_[i_] == '_' || t_[i_] == '-')) {
            ++i_;
        }
        if (i_ == start) {
            fail(line_, "a key expected" + (i_ < t_.size() ? " before " + shown(rest()) : ""));
        }
        return std::string(t_.substr(start, i_ - start));
    }

    std::string dotted_key() {
        std::string k = key();
        spaces();
        while (i_ < t_.size() && t_[i_] == '.') {
            ++i_;
            k += "." + key();
            spaces();
        }
        return k;
    }

    std::string string() {
        const char quote = t_[i_++];
        if (t_.substr(i_, 2) == std::string(2, quote)) {
            fail(line_, "multi-line strings are not read here");
        }
        std::string out;
        while (i_ < t_.size() && t_[i_] != quote) {
            const char c = t_[i_++];
            if (c == '\n' || c == '\r') {
                fail(line_, "a line break inside a string");
            }
            if (c != '\\' || quote == '\'') {
                out += c;
                continue;
            }
            if (i_ >= t_.size()) {
                break;
            }
            const char e = t_[i_++];
            if (const std::optional<char> ch = short_escape(e)) {
                out += *ch;
                continue;
            }
            switch (e) {
                case 'u':
                case 'U': {
                    const std::size_t n = e == 'u' ? 4 : 8;
                    const auto cp = i_ + n <= t_.size()
                                        ? c_number("0x" + std::string(t_.substr(i_, n)))
                                        : std::nullopt;
                    if (!cp || *cp > 0x10FFFF) {
                        fail(line_, "a bad " + shown(std::string("\\") + e) + " escape");
                    }
                    append_utf8(out, uint32_t(*cp));
                    i_ += n;
                    break;
                }
                default:
                    fail(line_, "unknown escape " + shown(std::string("\\") + e));
            }
        }
        if (i_ >= t_.size()) {
            fail(line_, "the text ends inside a string");
        }
        ++i_;
        return out;
    }

    Value value(int depth) {
        if (depth > kMaxNesting) {
            fail(line_, "nested more than " + std::to_string(kMaxNesting) + " deep");
        }
        spaces();
        Value v;
        if (i_ >= t_.size() || t_[i_] == '\n' || t_[i_] == '\r') {
            fail(line_, "a value expected");
        }
        const char c = t_[i_];
        if (c == '"' || c == '\'') {
            v.type = Value::Type::String;
            v.text = string();
        } else if (c == '[') {
            v.type = Value::Type::Array;
            ++i_;
            for (;;) {
                skip_in_array();
                if (i_ < t_.size() && t_[i_] == ']') {
                    ++i_;
                    break;
                }
                v.elements.push_back(value(depth + 1));
                skip_in_array();
                if (i_ < t_.size() && t_[i_] == ',') {
                    ++i_;
                    continue;
                }
                skip_in_array();
                expect(']');
                break;
            }
        } else if (c == '{') {
            v.type = Value::Type::Table;
            ++i_;
            spaces();
            if (i_ < t_.size() && t_[i_] == '}') {
                ++i_;
                return v;
            }
            for (;;) {
                std::string k = dotted_key();
                expect('=');
                v.members.push_back({std::move(k), value(depth + 1)});
                spaces();
                if (i_ < t_.size() && t_[i_] == ',') {
                    ++i_;
                    continue;
                }
                expect('}');
                break;
            }
        } else {
            const std::size_t start = i_;
            while (i_ < t_.size() &&
                   (std::isalnum(static_cast<unsigned char>(t_[i_])) != 0 || t_[i_] == '_' ||
                    t_[i_] == '+' || t_[i_] == '-' || t_[i_] == '.')) {
                ++i_;
            }
            v.text = std::string(t_.substr(start, i_ - start));
            if (v.text == "true" || v.text == "false") {
                v.type = Value::Type::Bool;
                return v;
            }
            v.type = Value::Type::Integer;
            std::string digits;
            for (char d : v.text) {
                if (d != '_') {
                    digits += d;
                }
            }
            const bool negative = !digits.empty() && digits.front() == '-';
            if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
                digits.erase(0, 1);
            }
            if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'o' || digits[1] == 'b')) {
                const unsigned base = digits[1] == 'o' ? 8 : 2;
                uint64_t n = 0;
                for (std::size_t k = 2; k < digits.size(); ++k) {
                    const unsigned dgt = unsigned(digits[k] - '0');
                    if (dgt >= base || n > (UINT64_MAX >> 3)) {
                        fail(line_, shown(v.text) + " is not a number");
                    }
                    n = n * base + dgt;
                }
                digits = std::to_string(n);
            }
            const auto n = digits.size() > 1 && digits[0] == '0' && digits[1] != 'x'
                               ? std::nullopt  // TOML has no leading zeros
                               : c_number(digits);
            if (!n || *n > uint64_t(INT64_MAX)) {
                fail(line_, shown(v.text) + " is not a value");
            }
            v.integer = negative ? -int64_t(*n) : int64_t(*n);
        }
        return v;
    }

    std::string_view t_;
    std::size_t i_ = 0;
    int line_ = 1;
};

}  // namespace

std::vector<Item> parse(std::string_view text) {
    require_text(text);
    return Parser(text).items();
}

}  // namespace ir::files::detail::toml
