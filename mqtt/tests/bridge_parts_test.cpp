// SPDX-License-Identifier: MIT
// The bridge's pure parts: JSON reading, commands, broker addresses, the outbox and the
// rate limit, and the messages it publishes.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "codes.h"
#include "command.h"
#include "json.h"
#include "messages.h"
#include "options.h"
#include "outbox.h"

namespace krvx::mqtt {
namespace {

JsonObjectValue object_of(const std::string &json) {
    const JsonParse p = parse_json(json);
    EXPECT_TRUE(p.ok()) << json << ": " << p.error;
    return p.value.object() ? *p.value.object() : JsonObjectValue{};
}

TEST(Json, TakesValidAndRefusesInvalidText) {
    const std::string deep_ok = std::string(kMaxJsonDepth, '[') + std::string(kMaxJsonDepth, ']');
    const std::string too_deep = "[" + deep_ok + "]";
    struct Row {
        std::string text;
        bool ok;
    };
    const Row rows[] = {
        {R"({"a":1,"b":[true,false,null],"c":{"d":"e"}})", true},
        {R"( { "x" : -0.5e+3 } )", true},
        {R"("\u00e9\ud83d\ude00\n")", true},
        {deep_ok, true},
        {too_deep, false},
        {"", false},
        {"{", false},
        {R"({"a":1,})", false},
        {R"({"a":1 "b":2})", false},
        {R"({"a":1,"a":2})", false},  // duplicate key
        {R"({"a":01})", false},       // leading zero
        {R"({"a":1.})", false},
        {R"({"a":1e999})", false},     // not finite
        {R"({"a":"\u0000"})", false},  // NUL
        {R"({"a":"\ud800"})", false},  // lone surrogate
        {R"({"a":"\udc00"})", false},
        {R"({"a":"\x"})", false},
        {"{\"a\":\"line\nbreak\"}", false},
        {R"({"a":tru})", false},
        {R"({} {})", false},
        {R"({a:1})", false},
        {"\"" + std::string(kMaxJsonBytes, 'x') + "\"", false},
    };
    for (const Row &row : rows) {
        const JsonParse p = parse_json(row.text);
        EXPECT_EQ(p.ok(), row.ok) << row.text.substr(0, 60) << " -> " << p.error;
        if (!row.ok) {
            EXPECT_FALSE(p.error.empty());
        }
    }
}

TEST(Json, WrittenTextReadsBackTheSame) {
    const char *texts[] = {R"({"id":"a\"b\\c\u0001","n":[1,-2,3.5e2],"o":{"t":true,"f":null}})",
                           R"(["\u00e9\ud83d\ude00","tab\there"])", "0", "\"\""};
    for (const char *text : texts) {
        const JsonParse first = parse_json(text);
        ASSERT_TRUE(first.ok()) << text << ": " << first.error;
        const std::string written = to_json(first.value);
        const JsonParse second = parse_json(written);
        ASSERT_TRUE(second.ok()) << written << ": " << second.error;
        EXPECT_EQ(to_json(second.value), written);
    }
    // Every byte below 0x80 survives a write and a read.
    std::string all;
    for (int c = 1; c < 0x80; ++c)
        all += static_cast<char>(c);
    const JsonParse back = parse_json(json_quote(all));
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(*back.value.string(), all);
}

TEST(Json, IntegersAreOnlyWhatIsWrittenAsOne) {
    struct Row {
        const char *text;
        std::optional<long long> value;
    };
    const Row rows[] = {{"7", 7},
                        {"-3", -3},
                        {"1.0", std::nullopt},
                        {"1e2", std::nullopt},
                        {"\"5\"", std::nullopt},
                        {"99999999999999999999", std::nullopt}};
    for (const Row &row : rows)
        EXPECT_EQ(parse_json(row.text).value.integer(), row.value) << row.text;
}

TEST(Commands, SendTakesGoodCommandsAndSaysWhyItRefusesOthers) {
    struct Row {
        std::string payload;
        std::string error;  // a part of the reason; empty: taken
    };
    const Row rows[] = {
        {R"({"code":"NEC1 D=4 F=8"})", ""},
        {R"({"id":"kitchen-1","code":"nec:0x0408","repeat":3})", ""},
        {R"({"id":42,"code":"0000 006D 0000 0001 0010 0020"})", ""},
        {"", "\"code\" is missing"},
        {"{}", "\"code\" is missing"},
        {"[]", "expected a JSON object"},
        {"{\"code\":", "malformed JSON"},
        {R"({"code":"NEC1 D=4 F=8","colour":"red"})", "unknown field \"colour\""},
        {R"({"code":5})", "\"code\": expected a string"},
        {R"({"code":"NEC1 D=4 F=256"})", "invalid code"},
        {R"({"code":"0000 zz"})", "invalid code"},
        {R"({"code":"NEC1 D=4 F=8","repeat":0})", "\"repeat\": expected an integer from 1"},
        {R"({"code":"NEC1 D=4 F=8","repeat":1.5})", "\"repeat\""},
        {R"({"code":"NEC1 D=4 F=8","repeat":1001})", "\"repeat\""},
        {R"({"code":"NEC1 D=4 F=8","id":[1]})", "\"id\": expected an integer or a string"},
        {R"({"code":"NEC1 D=4 F=8","id":")" + std::string(65, 'i') + "\"}", "\"id\": longer"},
        {R"({"code":"NEC1 D=4 F=8","id":"tab\there"})", "\"id\": only printable"},
        {"{\"code\":\"" + std::string(kMaxPayloadBytes, '0') + "\"}", "payload longer than"},
    };
    for (const Row &row : rows) {
        const SendCommand c = parse_send(row.payload);
        if (row.error.empty()) {
            EXPECT_TRUE(c.ok()) << row.payload << " -> " << c.error;
            EXPECT_FALSE(c.wire.empty()) << row.payload;
        } else {
            EXPECT_NE(c.error.find(row.error), std::string::npos)
                << row.payload.substr(0, 80) << " -> " << c.error;
        }
    }
}

TEST(Commands, KeysOfCodeFilesAreNamedSafely) {
    struct Row {
        std::string payload;
        std::string error;
    };
    const Row rows[] = {
        {R"({"file":"tv.conf","remote":"TV","key":"POWER"})", ""},
        {R"({"file":"tv.conf","key":"POWER","repeat":2})", ""},
        {R"({"file":"tv.conf"})", "needs \"file\" and \"key\""},
        {R"({"key":"POWER"})", "needs \"file\" and \"key\""},
        {R"({"code":"NEC1 D=4 F=8","file":"tv.conf","key":"POWER"})", "not both"},
        {R"({"file":"tv.conf","key":"A\u0007"})", "control characters"},
        {R"({"file":"tv.conf","key":")" + std::string(129, 'k') + "\"}", "longer than 128"},
    };
    for (const Row &row : rows) {
        const SendCommand c = parse_send(row.payload);
        if (row.error.empty()) {
            EXPECT_TRUE(c.ok()) << row.payload << " -> " << c.error;
            EXPECT_TRUE(c.wire.empty());  // the bridge looks the key up
        } else {
            EXPECT_NE(c.error.find(row.error), std::string::npos)
                << row.payload << " -> " << c.error;
        }
    }
    for (const char *bad : {"", "..", ".hidden", "a/b", "../tv.conf", "/etc/passwd", "tab\t"})
        EXPECT_FALSE(file_name_refusal(bad).empty()) << bad;
    EXPECT_EQ(file_name_refusal("living room.conf"), "");
    EXPECT_NE(key_code("", {"tv.conf", "", "POWER"}).error, "");
}

TEST(Commands, ALearnSavesOnlyUnderAPlainNameOfTheFolder) {
    struct Row {
        std::string save;
        std::string error;  // empty: taken
    };
    const Row rows[] = {
        {R"({"file":"tv.pronto","remote":"TV","key":"POWER"})", ""},
        {R"({"file":"tv.pronto","key":"POWER"})", ""},
        {R"({"file":"tv.pronto"})", "\"file\" and \"key\" are needed"},
        {R"({"key":"POWER"})", "\"file\" and \"key\" are needed"},
        {R"({"file":"../tv.pronto","key":"POWER"})", "hidden files"},
        {R"({"file":"sub/tv.pronto","key":"POWER"})", "without '/'"},
        {R"({"file":".tv.pronto","key":"POWER"})", "hidden files"},
        {R"({"file":")" + std::string(129, 'f') + R"(","key":"POWER"})", "longer than 128"},
        {R"({"file":"tv.pronto","key":"A\n"})", "control characters"},
        {R"({"file":"tv.pronto","key":"POWER","id":1})", "unknown field \"id\""},
        {R"({"file":"tv.pronto","key":7})", "expected a string"},
        {R"("tv.pronto")", "expected a JSON object"},
    };
    for (const Row &row : rows) {
        const LearnCommand c = parse_learn(R"({"id":1,"save":)" + row.save + "}");
        EXPECT_EQ(c.id, "1");
        if (row.error.empty()) {
            EXPECT_TRUE(c.ok() && c.save) << row.save << " -> " << c.error;
            EXPECT_EQ(c.file, "tv.pronto");
            EXPECT_EQ(c.key, "POWER");
        } else {
            EXPECT_NE(c.error.find(row.error), std::string::npos) << row.save << " -> " << c.error;
        }
    }
    EXPECT_FALSE(parse_learn(R"({"id":1})").save);
}

TEST(Messages, KeyButtonsHaveDistinctTopicSafeIdsAndPressTheirKey) {
    const Topics t("krvx", "den", "homeassistant");
    const KeyRef refs[] = {{"tv.conf", "TV", "POWER"}, {"tv.conf", "TV", "POWER "},
                           {"tv.conf", "TV/2", "+#"},  {"tv.conf", "", "TVPOWER"},
                           {"tv.confTV", "", "POWER"}, {"a.ir", "TV", "POWER"}};
    std::set<std::string> ids;
    for (const KeyRef &ref : refs) {
        const std::string id = button_object_id(ref);
        EXPECT_TRUE(is_topic_level(id)) << id;
        EXPECT_EQ(id, button_object_id(ref));  // stable
        ids.insert(id);
        const auto c = object_of(ha_key_button_config(t, "1.0", ref));
        EXPECT_EQ(*c.at("command_topic").string(), t.send());
        const SendCommand press = parse_send(*c.at("payload_press").string());
        ASSERT_TRUE(press.ok()) << press.error;
        EXPECT_EQ(KeyRef({press.file, press.remote, press.key}), ref);
        EXPECT_EQ(*c.at("availability_topic").string(), t.status());
    }
    EXPECT_EQ(ids.size(), std::size(refs));
}

TEST(Commands, TheIdComesBackEvenWhenTheRestIsRefused) {
    EXPECT_EQ(parse_send(R"({"id":"a\"b","code":"zz"})").id, R"("a\"b")");
    EXPECT_EQ(parse_send(R"({"zzz":1,"id":9})").id, "9");
    EXPECT_EQ(parse_learn(R"({"id":3,"save":{}})").id, "3");
    EXPECT_FALSE(parse_learn(R"({"id":3,"save":{}})").ok());
    EXPECT_TRUE(parse_learn("").ok());
    EXPECT_EQ(parse_send(R"({"code":"NEC1 D=4 F=8","repeat":4})").repeat, 4);
}

TEST(Options, BrokerAddresses) {
    struct Row {
        const char *url;
        const char *host;  // null: refused
        int port;
        bool tls;
    };
    const Row rows[] = {
        {"mqtt://localhost", "localhost", 1883, false},
        {"mqtt://broker.lan:1884/", "broker.lan", 1884, false},
        {"mqtts://10.0.0.2", "10.0.0.2", 8883, true},
        {"mqtts://[::1]:9000", "::1", 9000, true},
        {"mqtt://[fe80::1]", "fe80::1", 1883, false},
        {"http://localhost", nullptr, 0, false},
        {"mqtt://", nullptr, 0, false},
        {"mqtt://host:", nullptr, 0, false},
        {"mqtt://host:0", nullptr, 0, false},
        {"mqtt://host:65536", nullptr, 0, false},
        {"mqtt://host:12ab", nullptr, 0, false},
        {"mqtt://user@host", nullptr, 0, false},
        {"mqtt://[::1", nullptr, 0, false},
        {"mqtt://[::1]x", nullptr, 0, false},
    };
    for (const Row &row : rows) {
        std::string why;
        const auto url = parse_broker_url(row.url, why);
        ASSERT_EQ(url.has_value(), row.host != nullptr) << row.url << ": " << why;
        if (!url) {
            EXPECT_FALSE(why.empty()) << row.url;
            continue;
        }
        EXPECT_EQ(url->host, row.host) << row.url;
        EXPECT_EQ(url->port, row.port) << row.url;
        EXPECT_EQ(url->tls, row.tls) << row.url;
    }
    for (const std::string &level : {std::string(), std::string("a/b"), std::string("a+"),
                                     std::string("#"), std::string("tab\t"), std::string(65, 'n')})
        EXPECT_FALSE(is_topic_level(level)) << level;
    EXPECT_TRUE(is_topic_level("living-room_2"));
}

TEST(Outbox, KeepsTheNewestInOrderAndCountsWhatItDrops) {
    for (const std::size_t capacity : {1u, 3u, 10u}) {
        for (const std::size_t pushed : {0u, 1u, 5u, 25u}) {
            Outbox box(capacity);
            for (std::size_t i = 0; i < pushed; ++i)
                box.push({"t", std::to_string(i)});
            const std::size_t kept = std::min(capacity, pushed);
            ASSERT_EQ(box.size(), kept);
            EXPECT_EQ(box.take_dropped(), pushed - kept);
            EXPECT_EQ(box.take_dropped(), 0u);  // counted once
            for (std::size_t i = pushed - kept; i < pushed; ++i, box.pop())
                EXPECT_EQ(box.front().payload, std::to_string(i));
            EXPECT_TRUE(box.empty());
        }
    }
}

TEST(RateLimit, TakesABurstThenTheRate) {
    RateLimit limit(2, 4);  // 2 a second, 4 at once
    int taken = 0;
    for (int i = 0; i < 10; ++i)
        taken += limit.take(100.0);
    EXPECT_EQ(taken, 4);
    EXPECT_FALSE(limit.take(100.2));  // 0.4 tokens
    EXPECT_TRUE(limit.take(100.6));   // 1.2 tokens
    EXPECT_FALSE(limit.take(100.6));
    // Over any long stretch, at most burst + rate × time are taken.
    taken = 0;
    for (int ms = 0; ms <= 10000; ms += 10)
        taken += limit.take(200.0 + ms / 1000.0);
    EXPECT_LE(taken, 4 + 2 * 10);
    EXPECT_GE(taken, 2 * 10);
}

TEST(Messages, ReceivedCarriesTheDecodeAndTheFrame) {
    Received r;
    r.fingerprint = "0123456789AB";
    r.time = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'765'000'000'123));
    auto bare = object_of(received_json(r));
    EXPECT_EQ(*bare.at("fingerprint").string(), "0123456789AB");
    EXPECT_EQ(*bare.at("event_type").string(), "received");  // what HA's event entity needs
    EXPECT_EQ(bare.at("decode").type_name(), "null");
    EXPECT_EQ(*bare.at("time").string(), "2025-12-06T05:46:40.123Z");
    EXPECT_FALSE(bare.contains("dropped"));

    r.has_frame = true;
    r.protocol = "NEC1";
    r.params = "D=4 S=251 F=8";
    r.kernel_protocol = "nec";
    r.kernel_scancode = 0x408;
    r.carrier_hz = 38000;
    r.durations_us = {9000, 4500, 560};
    auto full = object_of(with_dropped(received_json(r), 7));
    const auto &decode = *full.at("decode").object();
    EXPECT_EQ(*decode.at("protocol").string(), "NEC1");
    EXPECT_EQ(to_json(decode.at("params")), R"({"D":4,"F":8,"S":251})");
    EXPECT_EQ(to_json(decode.at("kernel")), R"({"protocol":"nec","scancode":"0x0408"})");
    EXPECT_EQ(to_json(full.at("durations_us")), "[9000,4500,560]");
    EXPECT_EQ(full.at("carrier_hz").integer(), 38000);
    EXPECT_EQ(full.at("dropped").integer(), 7);
    EXPECT_EQ(with_dropped("{}", 2), R"({"dropped":2})");
}

// The fields Home Assistant's MQTT discovery requires or uses for each component.
TEST(Messages, HomeAssistantConfigsHaveTheirComponentsFields) {
    const Topics t("krvx", "den", "homeassistant");
    struct Row {
        std::string config;
        std::vector<std::string> required;
    };
    const Row rows[] = {
        {ha_event_config(t, "1.0"), {"state_topic", "event_types"}},
        {ha_text_config(t, "1.0"), {"command_topic"}},
        {ha_learn_button_config(t, "1.0"), {"command_topic"}},
    };
    std::set<std::string> unique_ids;
    for (const Row &row : rows) {
        const auto c = object_of(row.config);
        for (const std::string &field : row.required)
            EXPECT_TRUE(c.contains(field)) << field << " in " << row.config;
        for (const char *topic : {"state_topic", "command_topic"})
            if (c.contains(topic)) {
                EXPECT_TRUE(c.at(topic).string()->starts_with("krvx/den/")) << row.config;
            }
        EXPECT_EQ(*c.at("availability_topic").string(), t.status());
        unique_ids.insert(*c.at("unique_id").string());
        const auto &device = *c.at("device").object();
        EXPECT_EQ(to_json(device.at("identifiers")), R"(["krvx_den"])");
    }
    EXPECT_EQ(unique_ids.size(), std::size(rows));
    const auto event = object_of(ha_event_config(t, "1.0"));
    EXPECT_EQ(to_json(event.at("event_types")), R"(["received"])");
    // The text entity's template makes a send command of any text, quotes included.
    const auto text = object_of(ha_text_config(t, "1.0"));
    EXPECT_NE(text.at("command_template").string()->find("tojson"), std::string::npos);
    EXPECT_EQ(t.ha_config("event", "received"), "homeassistant/event/den/received/config");
}

}  // namespace
}  // namespace krvx::mqtt
