// SPDX-License-Identifier: MIT
// JSON for MQTT payloads: a strict, bounded reader for the commands the bridge takes, and
// a small writer for the messages it publishes.
//
// The reader takes RFC 8259 JSON text of at most kMaxJsonBytes bytes, nested at most
// kMaxJsonDepth deep, and fails with a reason ("at byte 12: expected ':'") on anything
// else: trailing text, a NUL byte, invalid UTF-8 escapes, duplicate keys, numbers that are
// not finite.
//
// Threads: pure functions and plain values; any thread.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace krvx::mqtt {

inline constexpr std::size_t kMaxJsonBytes = 8192;
inline constexpr int kMaxJsonDepth = 8;

struct JsonValue;
using JsonObjectValue = std::map<std::string, JsonValue, std::less<>>;
using JsonArray = std::vector<JsonValue>;

/// One parsed value. Numbers keep their text as well, so that an integer field can refuse
/// "1.5" or "1e3" instead of rounding it.
struct JsonValue {
    struct Number {
        double value = 0;
        std::string text;
    };
    std::variant<std::nullptr_t, bool, Number, std::string, JsonArray, JsonObjectValue> v;

    bool is_object() const { return std::holds_alternative<JsonObjectValue>(v); }
    const JsonObjectValue *object() const { return std::get_if<JsonObjectValue>(&v); }
    const std::string *string() const { return std::get_if<std::string>(&v); }
    const Number *number() const { return std::get_if<Number>(&v); }
    /// The value as an integer when it is written as one (no fraction, no exponent) and fits.
    std::optional<long long> integer() const;
    /// "string", "number", "object", ... for messages.
    std::string_view type_name() const;
};

struct JsonParse {
    JsonValue value;
    std::string error;  ///< why the text is not taken; empty when it is
    bool ok() const { return error.empty(); }
};

JsonParse parse_json(std::string_view text);

/// The value written back as compact JSON text.
std::string to_json(const JsonValue &value);

/// Builds one JSON object, field by field, in the order added.
class JsonWriter {
  public:
    JsonWriter &text(std::string_view key, std::string_view value);
    JsonWriter &number(std::string_view key, long long value);
    JsonWriter &boolean(std::string_view key, bool value);
    /// A value that is JSON text already (an array, an object, null).
    JsonWriter &raw(std::string_view key, std::string_view json);
    std::string str() const { return (body_.empty() ? "{" : body_) + "}"; }

  private:
    JsonWriter &key(std::string_view key);
    std::string body_;
};

/// `s` as a JSON string literal, quotes included (krvx's own quoting).
std::string json_quote(std::string_view s);

}  // namespace krvx::mqtt
