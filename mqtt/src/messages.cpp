// SPDX-License-Identifier: MIT
#include "messages.h"

#include <fmt/format.h>

#include <charconv>
#include <ctime>

#include "json.h"

namespace krvx::mqtt {

namespace {

/// "D=4 S=251 F=8" as {"D":4,"S":251,"F":8}; a word that is not NAME=NUMBER is left out.
std::string params_json(const std::string &params) {
    JsonWriter w;
    std::size_t pos = 0;
    while (pos < params.size()) {
        const std::size_t end = std::min(params.find(' ', pos), params.size());
        const std::string_view word = std::string_view(params).substr(pos, end - pos);
        pos = end + 1;
        const std::size_t eq = word.find('=');
        if (eq == 0 || eq == std::string_view::npos)
            continue;
        uint64_t value = 0;
        const std::string_view digits = word.substr(eq + 1);
        const auto [stop, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (ec == std::errc{} && stop == digits.data() + digits.size())
            w.raw(word.substr(0, eq), std::to_string(value));
    }
    return w.str();
}

std::string decode_json(const Received &r) {
    if (!r.has_frame || r.protocol.empty())
        return "null";
    JsonWriter w;
    w.text("protocol", r.protocol).raw("params", params_json(r.params));
    w.text("text", r.params.empty() ? r.protocol : r.protocol + " " + r.params);
    if (!r.kernel_protocol.empty())
        w.raw("kernel", JsonWriter()
                            .text("protocol", r.kernel_protocol)
                            .text("scancode", fmt::format("0x{:04x}", r.kernel_scancode))
                            .str());
    return w.str();
}

std::string version_text(uint32_t v) {
    return fmt::format("{}.{}", v / 256, v % 256);
}

/// The fields every entity of the node has, with `more` (an object's fields) appended.
std::string entity(const Topics &t, const std::string &sw, const std::string &object,
                   const std::string &name, JsonWriter more) {
    JsonWriter w;
    w.text("name", name)
        .text("unique_id", fmt::format("krvx_{}_{}", t.node(), object))
        .text("object_id", fmt::format("krvx_{}_{}", t.node(), object))
        .raw("device", ha_device_json(t, sw))
        .text("availability_topic", t.status())
        .text("payload_available", "online")
        .text("payload_not_available", "offline");
    std::string extra = more.str();
    std::string out = w.str();
    if (extra.size() > 2)  // splice the fields of `more` in before the closing brace
        out = out.substr(0, out.size() - 1) + "," + extra.substr(1);
    return out;
}

}  // namespace

std::string iso_time(std::chrono::system_clock::time_point t) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch());
    const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
    std::tm tm{};
    ::gmtime_r(&secs, &tm);
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", tm.tm_year + 1900,
                       tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                       ms.count() % 1000);
}

std::string received_json(const Received &r) {
    JsonWriter w;
    w.text("event_type", "received")
        .text("fingerprint", r.fingerprint)
        .raw("decode", decode_json(r));
    if (r.has_frame) {
        w.number("carrier_hz", r.carrier_hz);
        std::string durations = "[";
        for (const uint32_t d : r.durations_us)
            durations += (durations.size() > 1 ? "," : "") + std::to_string(d);
        w.raw("durations_us", durations + "]");
    }
    return w.text("time", iso_time(r.time)).str();
}

std::string with_dropped(const std::string &object_json, uint64_t dropped) {
    if (object_json.size() < 2 || object_json.back() != '}')
        return object_json;
    return object_json.substr(0, object_json.size() - 1) + (object_json.size() > 2 ? "," : "") +
           fmt::format("\"dropped\":{}}}", dropped);
}

std::string device_json(const DeviceInfo &info) {
    return JsonWriter()
        .boolean("connected", true)
        .text("firmware", version_text(info.firmwareVersion))
        .text("protocol", version_text(info.protocolVersion))
        .text("firmware_date", fmt::format("{:04}-{:02}-{:02}", 2000 + info.firmwareDateYear,
                                           info.firmwareDateMonth, info.firmwareDateDay))
        .str();
}

std::string device_away_json(const std::string &why) {
    return JsonWriter().boolean("connected", false).text("error", why).str();
}

std::string refusal_json(const std::string &id, const std::string &why) {
    return JsonWriter().raw("id", id).boolean("ok", false).text("error", why).str();
}

std::string ha_device_json(const Topics &t, const std::string &sw_version) {
    return JsonWriter()
        .raw("identifiers", "[" + json_quote("krvx_" + t.node()) + "]")
        .text("name", "IR " + t.node())
        .text("manufacturer", "Korvex")
        .text("model", "IR transceiver (krvx-mqtt)")
        .text("sw_version", sw_version)
        .str();
}

std::string ha_event_config(const Topics &t, const std::string &sw) {
    return entity(t, sw, "received", "Received code",
                  std::move(JsonWriter()
                                .text("state_topic", t.received())
                                .raw("event_types", "[\"received\"]")
                                .text("icon", "mdi:remote")));
}

std::string ha_text_config(const Topics &t, const std::string &sw) {
    return entity(t, sw, "send", "Send code",
                  std::move(JsonWriter()
                                .text("command_topic", t.send())
                                .text("command_template", "{\"code\": {{ value | tojson }}}")
                                .number("max", 255)
                                .text("icon", "mdi:remote")));
}

std::string ha_learn_button_config(const Topics &t, const std::string &sw) {
    return entity(t, sw, "learn", "Learn code",
                  std::move(JsonWriter()
                                .text("command_topic", t.learn())
                                .text("payload_press", "{}")
                                .text("icon", "mdi:school")));
}

}  // namespace krvx::mqtt
