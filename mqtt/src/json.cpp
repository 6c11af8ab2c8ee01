// SPDX-License-Identifier: MIT
#include "json.h"

#include "../../tools/krvx/cli.h"

#include <fmt/format.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace krvx::mqtt {

namespace {

class Reader {
  public:
    explicit Reader(std::string_view text) : s_(text) {}

    JsonParse run() {
        JsonParse out;
        if (s_.size() > kMaxJsonBytes) {
            out.error = fmt::format("too long: {} bytes, at most {}", s_.size(), kMaxJsonBytes);
            return out;
        }
        skip_space();
        if (!value(out.value, 0))
            return fail(out);
        skip_space();
        if (pos_ != s_.size()) {
            error_ = "text after the value";
            return fail(out);
        }
        return out;
    }

  private:
    JsonParse &fail(JsonParse &out) {
        out.error = fmt::format("at byte {}: {}", pos_, error_);
        return out;
    }
    bool error(std::string why) {
        error_ = std::move(why);
        return false;
    }
    void skip_space() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
            ++pos_;
    }
    bool eat(char c) {
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool literal(std::string_view word) {
        if (s_.substr(pos_, word.size()) != word)
            return error("unexpected character");
        pos_ += word.size();
        return true;
    }

    bool value(JsonValue &out, int depth) {
        if (pos_ >= s_.size())
            return error("unexpected end");
        switch (s_[pos_]) {
            case '{':
                return object(out, depth + 1);
            case '[':
                return array(out, depth + 1);
            case '"': {
                std::string text;
                if (!string(text))
                    return false;
                out.v = std::move(text);
                return true;
            }
            case 't':
                out.v = true;
                return literal("true");
            case 'f':
                out.v = false;
                return literal("false");
            case 'n':
                out.v = nullptr;
                return literal("null");
            default:
                return number(out);
        }
    }

    bool object(JsonValue &out, int depth) {
        if (depth > kMaxJsonDepth)
            return error(fmt::format("nested deeper than {}", kMaxJsonDepth));
        ++pos_;
        JsonObjectValue members;
        skip_space();
        if (!eat('}')) {
            do {
                skip_space();
                std::string key;
                if (pos_ >= s_.size() || s_[pos_] != '"')
                    return error("expected a key");
                if (!string(key))
                    return false;
                skip_space();
                if (!eat(':'))
                    return error("expected ':'");
                skip_space();
                JsonValue member;
                if (!value(member, depth))
                    return false;
                if (!members.emplace(key, std::move(member)).second)
                    return error(fmt::format("key \"{}\" given twice", key));
                skip_space();
            } while (eat(','));
            if (!eat('}'))
                return error("expected ',' or '}'");
        }
        out.v = std::move(members);
        return true;
    }

    bool array(JsonValue &out, int depth) {
        if (depth > kMaxJsonDepth)
            return error(fmt::format("nested deeper than {}", kMaxJsonDepth));
        ++pos_;
        JsonArray items;
        skip_space();
        if (!eat(']')) {
            do {
                skip_space();
                JsonValue item;
                if (!value(item, depth))
                    return false;
                items.push_back(std::move(item));
                skip_space();
            } while (eat(','));
            if (!eat(']'))
                return error("expected ',' or ']'");
        }
        out.v = std::move(items);
        return true;
    }

    bool hex4(unsigned &out) {
        if (pos_ + 4 > s_.size())
            return error("short \\u escape");
        out = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[pos_++];
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                out |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                out |= static_cast<unsigned>(c - 'A' + 10);
            else
                return error("bad \\u escape");
        }
        return true;
    }

    static void put_utf8(std::string &out, unsigned cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool escape(std::string &out) {
        if (pos_ >= s_.size())
            return error("unexpected end");
        const char c = s_[pos_++];
        switch (c) {
            case '"':
                out += '"';
                return true;
            case '\\':
                out += '\\';
                return true;
            case '/':
                out += '/';
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u':
                break;
            default:
                return error("unknown escape");
        }
        unsigned cp = 0;
        if (!hex4(cp))
            return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            return error("lone low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            unsigned low = 0;
            if (!eat('\\') || !eat('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                return error("high surrogate without its low half");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        if (cp == 0)
            return error("NUL character");
        put_utf8(out, cp);
        return true;
    }

    bool string(std::string &out) {
        ++pos_;  // the opening quote
        while (pos_ < s_.size()) {
            const auto c = static_cast<unsigned char>(s_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20)
                return error("control character in a string");
            ++pos_;
            if (c == '\\') {
                if (!escape(out))
                    return false;
            } else {
                out += static_cast<char>(c);
            }
        }
        return error("unterminated string");
    }

    bool number(JsonValue &out) {
        const std::size_t start = pos_;
        eat('-');
        auto digits = [&] {
            const std::size_t from = pos_;
            while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9')
                ++pos_;
            return pos_ - from;
        };
        const std::size_t first = pos_;
        const std::size_t whole = digits();
        if (whole == 0)
            return error("unexpected character");
        if (whole > 1 && s_[first] == '0')
            return error("leading zero");
        if (eat('.') && digits() == 0)
            return error("digits expected after '.'");
        if (eat('e') || eat('E')) {
            if (!eat('+'))
                eat('-');
            if (digits() == 0)
                return error("digits expected in the exponent");
        }
        JsonValue::Number n;
        n.text = std::string(s_.substr(start, pos_ - start));
        errno = 0;
        n.value = std::strtod(n.text.c_str(), nullptr);
        if (!std::isfinite(n.value))
            return error("number out of range");
        out.v = std::move(n);
        return true;
    }

    std::string_view s_;
    std::size_t pos_ = 0;
    std::string error_;
};

}  // namespace

std::optional<long long> JsonValue::integer() const {
    const Number *n = number();
    if (!n || n->text.find_first_of(".eE") != std::string::npos)
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const long long n_value = std::strtoll(n->text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0')
        return std::nullopt;
    return n_value;
}

std::string_view JsonValue::type_name() const {
    static constexpr std::string_view names[] = {"null",   "boolean", "number",
                                                 "string", "array",   "object"};
    return names[v.index()];
}

JsonParse parse_json(std::string_view text) {
    return Reader(text).run();
}

std::string json_quote(std::string_view s) {
    return cli::json_string(s);
}

std::string to_json(const JsonValue &value) {
    struct Visitor {
        std::string operator()(std::nullptr_t) const { return "null"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(const JsonValue::Number &n) const { return n.text; }
        std::string operator()(const std::string &s) const { return json_quote(s); }
        std::string operator()(const JsonArray &a) const {
            std::string out = "[";
            for (const auto &item : a)
                out += (out.size() > 1 ? "," : "") + to_json(item);
            return out + "]";
        }
        std::string operator()(const JsonObjectValue &o) const {
            std::string out = "{";
            for (const auto &[k, item] : o)
                out += (out.size() > 1 ? "," : "") + json_quote(k) + ":" + to_json(item);
            return out + "}";
        }
    };
    return std::visit(Visitor{}, value.v);
}

JsonWriter &JsonWriter::key(std::string_view key) {
    body_ += body_.empty() ? "{" : ",";
    body_ += json_quote(key);
    body_ += ':';
    return *this;
}
JsonWriter &JsonWriter::text(std::string_view k, std::string_view value) {
    key(k).body_ += json_quote(value);
    return *this;
}
JsonWriter &JsonWriter::number(std::string_view k, long long value) {
    key(k).body_ += std::to_string(value);
    return *this;
}
JsonWriter &JsonWriter::boolean(std::string_view k, bool value) {
    key(k).body_ += value ? "true" : "false";
    return *this;
}
JsonWriter &JsonWriter::raw(std::string_view k, std::string_view json) {
    key(k).body_ += json;
    return *this;
}

}  // namespace krvx::mqtt
