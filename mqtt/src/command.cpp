// SPDX-License-Identifier: MIT
#include "command.h"

#include <fmt/format.h>

#include <functional>
#include <map>

#include "../../tools/krvx/code_forms.h"
#include "codes.h"
#include "ir/signal.h"
#include "json.h"

namespace krvx::mqtt {

namespace {

constexpr std::size_t kMaxIdLength = 64;

/// Each field of a JSON object goes to the reader of its name; the first refusal wins.
/// Returns the refusal, or "" when every field was taken.
using FieldReader = std::function<std::string(const JsonValue &)>;
using FieldReaders = std::map<std::string_view, FieldReader>;

std::string read_object(const JsonObjectValue *object, const FieldReaders &readers) {
    if (!object)
        return "expected a JSON object";
    // The id first, so that a refusal of any other field still carries it.
    const bool has_id = readers.contains("id");
    if (const auto id = object->find("id"); id != object->end() && has_id)
        if (std::string why = readers.at("id")(id->second); !why.empty())
            return "\"id\": " + why;
    for (const auto &[name, value] : *object) {
        if (name == "id" && has_id)
            continue;
        const auto reader = readers.find(name);
        if (reader == readers.end())
            return fmt::format("unknown field \"{}\"", name.substr(0, kMaxIdLength));
        if (std::string why = reader->second(value); !why.empty())
            return fmt::format("\"{}\": {}", name, why);
    }
    return {};
}

/// The same for a payload, which must be one JSON object.
std::string read_fields(std::string_view payload, const FieldReaders &readers) {
    if (payload.size() > kMaxPayloadBytes)
        return fmt::format("payload longer than {} bytes", kMaxPayloadBytes);
    const JsonParse parsed = parse_json(payload.empty() ? "{}" : payload);
    if (!parsed.ok())
        return "malformed JSON: " + parsed.error;
    return read_object(parsed.value.object(), readers);
}

std::string read_id(const JsonValue &value, std::string &id) {
    if (value.integer()) {
        id = std::to_string(*value.integer());
        return {};
    }
    const std::string *text = value.string();
    if (!text)
        return "expected an integer or a string";
    if (text->size() > kMaxIdLength)
        return fmt::format("longer than {} characters", kMaxIdLength);
    for (const char c : *text)
        if (c < 0x20 || c > 0x7E)
            return "only printable ASCII characters are taken";
    id = json_quote(*text);
    return {};
}

std::string read_name(const JsonValue &value, std::string &name) {
    const std::string *text = value.string();
    if (!text)
        return "expected a string";
    if (text->size() > 128)
        return "longer than 128 characters";
    for (const char c : *text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "control characters are not taken";
    name = *text;
    return {};
}

}  // namespace

SendCommand parse_send(std::string_view payload) {
    SendCommand c;
    bool has_code = false;
    c.error = read_fields(payload,
                          {{"id", [&](const JsonValue &v) { return read_id(v, c.id); }},
                           {"code",
                            [&](const JsonValue &v) -> std::string {
                                if (!v.string())
                                    return "expected a string";
                                c.code = *v.string();
                                has_code = true;
                                return {};
                            }},
                           {"file", [&](const JsonValue &v) { return read_name(v, c.file); }},
                           {"remote", [&](const JsonValue &v) { return read_name(v, c.remote); }},
                           {"key", [&](const JsonValue &v) { return read_name(v, c.key); }},
                           {"repeat", [&](const JsonValue &v) -> std::string {
                                const auto n = v.integer();
                                if (!n || *n < 1 || *n > ir::kMaxRepeatCount)
                                    return fmt::format("expected an integer from 1 to {}",
                                                       ir::kMaxRepeatCount);
                                c.repeat = static_cast<int>(*n);
                                return {};
                            }}});
    const bool names_key = !c.file.empty() || !c.key.empty() || !c.remote.empty();
    if (c.ok() && has_code && names_key)
        c.error = "either \"code\" or \"file\" and \"key\", not both";
    else if (c.ok() && names_key && (c.file.empty() || c.key.empty()))
        c.error = "a key of a code file needs \"file\" and \"key\"";
    else if (c.ok() && !has_code && !names_key)
        c.error = "\"code\" is missing";
    if (c.ok() && has_code)
        check_code(c);
    return c;
}

void check_code(SendCommand &c) {
    const cli::ProntoCode checked = cli::to_pronto(c.code);
    if (checked.ok())
        c.wire = cli::wire_text(c.code, checked);
    else
        c.error = "invalid code: " + checked.error;
}

LearnCommand parse_learn(std::string_view payload) {
    LearnCommand c;
    const auto read_save = [&](const JsonValue &v) {
        c.save = true;
        std::string why = read_object(
            v.object(), {{"file", [&](const JsonValue &f) { return read_name(f, c.file); }},
                         {"remote", [&](const JsonValue &r) { return read_name(r, c.remote); }},
                         {"key", [&](const JsonValue &k) { return read_name(k, c.key); }}});
        if (why.empty() && (c.file.empty() || c.key.empty()))
            why = "\"file\" and \"key\" are needed";
        if (why.empty())
            if (std::string bad = file_name_refusal(c.file); !bad.empty())
                why = "\"file\": " + bad;
        return why;
    };
    c.error = read_fields(payload, {{"id", [&](const JsonValue &v) { return read_id(v, c.id); }},
                                    {"save", read_save}});
    return c;
}

}  // namespace krvx::mqtt
