// SPDX-License-Identifier: MIT
#include "json.h"

#include <cctype>
#include <cstdio>

#include "text.h"

namespace ir::files::detail::json {
namespace {

class Parser {
  public:
    explicit Parser(std::string_view text) : t_(text) {}

    Value document() {
        Value v = value(0);
        skip();
        if (i_ < t_.size()) {
            fail(line(), "text after the JSON value");
        }
        return v;
    }

  private:
    int line() const { return line_; }

    // Line breaks only come in white space: strings may not hold them.
    void skip() {
        while (i_ < t_.size() &&
               (t_[i_] == ' ' || t_[i_] == '\t' || t_[i_] == '\n' || t_[i_] == '\r')) {
            line_ += t_[i_] == '\n' ? 1 : 0;
            ++i_;
        }
    }

    void expect(char c) {
        skip();
        if (i_ >= t_.size() || t_[i_] != c) {
            fail(line(),
                 std::string("'") + c + "' expected" +
                     (i_ < t_.size() ? ", " + shown(t_.substr(i_, 12)) + " found" : " at the end"));
        }
        ++i_;
    }

    Value value(int depth) {
        if (depth > kMaxNesting) {
            fail(line(), "nested more than " + std::to_string(kMaxNesting) + " deep");
        }
        skip();
        Value v;
        v.begin = i_;
        v.line = line();
        if (i_ >= t_.size()) {
            fail(line(), "a value expected at the end");
        }
        const char c = t_[i_];
        if (c == '{') {
            v.type = Value::Type::Object;
            ++i_;
            skip();
            if (i_ < t_.size() && t_[i_] == '}') {
                ++i_;
            } else {
                for (;;) {
                    skip();
                    std::string key = string_literal();
                    expect(':');
                    v.members.push_back({std::move(key), value(depth + 1)});
                    skip();
                    if (i_ < t_.size() && t_[i_] == ',') {
                        ++i_;
                        continue;
                    }
                    expect('}');
                    break;
                }
            }
        } else if (c == '[') {
            v.type = Value::Type::Array;
            ++i_;
            skip();
            if (i_ < t_.size() && t_[i_] == ']') {
                ++i_;
            } else {
                for (;;) {
                    v.elements.push_back(value(depth + 1));
                    skip();
                    if (i_ < t_.size() && t_[i_] == ',') {
                        ++i_;
                        continue;
                    }
                    expect(']');
                    break;
                }
            }
        } else if (c == '"') {
            v.type = Value::Type::String;
            v.text = string_literal();
        } else {
            const std::size_t start = i_;
            while (i_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[i_])) != 0 ||
                                      t_[i_] == '-' || t_[i_] == '+' || t_[i_] == '.')) {
                ++i_;
            }
            v.text = std::string(t_.substr(start, i_ - start));
            if (v.text == "true" || v.text == "false") {
                v.type = Value::Type::Bool;
            } else if (v.text == "null") {
                v.type = Value::Type::Null;
            } else if (!v.text.empty() &&
                       (v.text[0] == '-' ||
                        std::isdigit(static_cast<unsigned char>(v.text[0])) != 0)) {
                v.type = Value::Type::Number;
            } else {
                i_ = start;
                fail(line(), shown(t_.substr(start, 12)) + " is not a JSON value");
            }
        }
        v.end = i_;
        return v;
    }

    std::string string_literal() {
        skip();
        if (i_ >= t_.size() || t_[i_] != '"') {
            fail(line(), "a string expected");
        }
        ++i_;
        std::string out;
        while (i_ < t_.size() && t_[i_] != '"') {
            char c = t_[i_++];
            if (c == '\n') {
                fail(line(), "a line break inside a string");
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= t_.size()) {
                break;
            }
            c = t_[i_++];
            if (const std::optional<char> e = short_escape(c)) {
                out += *e;
                continue;
            }
            switch (c) {
                case 'u': {
                    const auto cp = i_ + 4 <= t_.size()
                                        ? c_number("0x" + std::string(t_.substr(i_, 4)))
                                        : std::nullopt;
                    if (!cp) {
                        fail(line(), "a bad \\u escape");
                    }
                    i_ += 4;
                    append_utf8(out, uint32_t(*cp));  // surrogates kept as they come
                    break;
                }
                default:
                    out += c;
                    break;
            }
        }
        if (i_ >= t_.size()) {
            fail(line(), "the text ends inside a string");
        }
        ++i_;
        return out;
    }

    std::string_view t_;
    std::size_t i_ = 0;
    int line_ = 1;
};

}  // namespace

const Value *Value::member(std::string_view name) const {
    for (const Member &m : members) {
        if (m.name == name) {
            return &m.value;
        }
    }
    return nullptr;
}

Value parse(std::string_view text) {
    require_text(text);
    return Parser(text).document();
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace ir::files::detail::json
