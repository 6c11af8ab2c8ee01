// SPDX-License-Identifier: MIT
// krvx-mqtt end to end: a private Mosquitto broker, simulated krvxd services with loopback
// (what a device sends reaches its own receiver), bridges, and an MQTT client watching.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "codes.h"
#include "json.h"
#include "mqtt_processes.h"

namespace {

using namespace mqtt_testing;
using namespace std::chrono_literals;

/// One machine: a simulated krvxd and its bridge, named `name` on the bus.
class Node {
  public:
    Node(const TempDir &dir, const Broker &broker, std::string name,
         std::vector<std::string> bridge_args = {})
        : Node(dir, broker.url(), std::move(name), std::move(bridge_args)) {}
    Node(const TempDir &dir, const std::string &broker_url, std::string name,
         std::vector<std::string> bridge_args)
        : dir_(dir.path()), name_(std::move(name)), socket_(dir_ + "/" + name_ + ".sock") {
        start_service();
        std::vector<std::string> args = {KRVX_MQTT_PATH, "--socket", socket_, "--broker",
                                         broker_url,     "--node",   name_};
        args.insert(args.end(), bridge_args.begin(), bridge_args.end());
        bridge_ = Process(args, dir_ + "/" + name_ + ".bridge.log");
    }
    Node(const Node &) = delete;
    Node &operator=(const Node &) = delete;
    // A stopped bridge ends well, and neither it nor its krvxd had a sanitizer report
    // (sanitized builds): a report or a sanitizer's exit status fails the test.
    ~Node() {
        const int status = bridge_.stop(SIGTERM);
        EXPECT_TRUE(status == 0 || status == -1) << name_ << ": krvx-mqtt ended with " << status;
        service_.stop(SIGTERM);
        for (const char *log : {".bridge.log", ".krvxd.log"})
            EXPECT_EQ(sanitizer_report(dir_ + "/" + name_ + log), "") << name_ << log;
    }
    void start_service() {
        service_ = Process({KRVXD_PATH, "--socket", socket_, "--loopback", "--time-scale", "0"},
                           dir_ + "/" + name_ + ".krvxd.log");
        eventually([this] { return testing_support::can_connect(socket_); });
    }
    void stop_service() { service_.stop(SIGTERM); }
    int kill_bridge() { return bridge_.stop(SIGKILL); }
    /// Holds `code` in front of this node's receiver; true when krvx press did so.
    bool press(const std::string &code, int hold_ms = 100) {
        return testing_support::run_program({KRVX_PATH, "--socket", socket_, "press", "--hold",
                                             std::to_string(hold_ms), code}) == 0;
    }
    std::string topic(const std::string &leaf) const { return "krvx/" + name_ + "/" + leaf; }
    /// Waits until the bridge's log has `count` lines containing `part`.
    bool logged(const std::string &part, int count = 1) const {
        return eventually([&] {
            std::ifstream in(dir_ + "/" + name_ + ".bridge.log");
            int seen = 0;
            for (std::string line; std::getline(in, line);)
                seen += line.find(part) != std::string::npos;
            return seen >= count;
        });
    }

  private:
    std::string dir_, name_, socket_;
    Process service_;
    Process bridge_;
};

krvx::mqtt::JsonObjectValue object_of(const std::string &json) {
    const auto p = krvx::mqtt::parse_json(json);
    EXPECT_TRUE(p.ok()) << json << ": " << p.error;
    return p.value.object() ? *p.value.object() : krvx::mqtt::JsonObjectValue{};
}

std::string field(const std::string &json, const std::string &name) {
    const auto o = object_of(json);
    const auto it = o.find(name);
    return it == o.end() ? "<none>" : krvx::mqtt::to_json(it->second);
}

std::string json_text(const std::string &s) {
    return krvx::mqtt::json_quote(s);
}

class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(broker_.ready()); }
    TempDir dir_;
    Broker broker_{dir_.path()};
};

TEST_F(BridgeTest, SendsAndReceivesOnTwoNodesAndLeavesItsWillWhenKilled) {
    Node a(dir_, broker_, "a");
    Node b(dir_, broker_, "b");
    Client watch(broker_.port());
    ASSERT_TRUE(watch.subscribe("krvx/#"));
    for (const Node *n : {&a, &b}) {
        EXPECT_EQ(watch.wait_for(n->topic("status"), "online"), "online");
        EXPECT_NE(watch.wait_for(n->topic("device"), "firmware"), "") << n->topic("device");
    }

    // A code sent through A's device comes back to A's receiver, the same code as a
    // remote held in front of B's receiver.
    ASSERT_TRUE(watch.publish(a.topic("send"), R"({"id":"tv-1","code":"NEC1 D=4 F=8"})"));
    const std::string result = watch.wait_for(a.topic("send/result"), "tv-1");
    EXPECT_EQ(field(result, "ok"), "true") << result;
    const auto from_a = watch.wait(a.topic("received"));
    ASSERT_EQ(from_a.size(), 1u);
    ASSERT_TRUE(b.press("NEC1 D=4 F=8"));
    const auto from_b = watch.wait(b.topic("received"));
    ASSERT_EQ(from_b.size(), 1u);
    const std::string fingerprint = field(from_a[0].payload, "fingerprint");
    EXPECT_EQ(fingerprint.size(), 14u) << from_a[0].payload;  // 12 characters and quotes
    EXPECT_EQ(fingerprint, field(from_b[0].payload, "fingerprint"));
    for (const auto &m : {from_a[0], from_b[0]}) {  // each says what the code is
        const std::string decode = field(m.payload, "decode");
        EXPECT_EQ(field(decode, "protocol"), "\"NEC1\"") << m.payload;
        EXPECT_EQ(field(field(decode, "params"), "F"), "8") << m.payload;
        EXPECT_NE(field(m.payload, "durations_us"), "<none>") << m.payload;
    }
    EXPECT_EQ(watch.on(a.topic("received")).size(), 1u);  // B's air is not A's

    // Killed, B's broker connection ends without a goodbye: the broker says offline for it.
    EXPECT_EQ(b.kill_bridge(), 128 + SIGKILL);
    EXPECT_EQ(watch.wait_for(b.topic("status"), "offline"), "offline");
    EXPECT_EQ(watch.on(a.topic("status")).back().payload, "online");
}

TEST_F(BridgeTest, RefusesBadCommandsWithAReasonAndGoesOn) {
    Node a(dir_, broker_, "a", {"--rate", "1", "--burst", "3"});
    Client watch(broker_.port());
    ASSERT_TRUE(watch.subscribe("krvx/#"));
    ASSERT_NE(watch.wait_for(a.topic("device"), "\"connected\":true"), "");
    struct Row {
        std::string payload, reason;
    };
    const Row rows[] = {
        {R"({"id":1,"code":"NEC1 D=4 F=300"})", "invalid code"},
        {R"({"id":2,"code":"NEC1 D=4 F=8","volume":11})", "unknown field"},
        {R"({"id":3,"code":"NEC1 D=4 F=8")", "malformed JSON"},
        {R"({"id":4,"code":"NEC1 D=4 F=8","repeat":-1})", "\\\"repeat\\\""},
        {R"({"id":5,"code":")" + std::string(9000, '0') + "\"}", "payload longer than"},
        {"\x01\x02\xff", "malformed JSON"},
    };
    for (const Row &row : rows)
        ASSERT_TRUE(watch.publish(a.topic("send"), row.payload));
    const auto results = watch.wait(a.topic("send/result"), std::size(rows));
    ASSERT_EQ(results.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(field(results[i].payload, "ok"), "false") << results[i].payload;
        EXPECT_NE(results[i].payload.find(rows[i].reason), std::string::npos)
            << rows[i].payload.substr(0, 60) << " -> " << results[i].payload;
    }
    EXPECT_EQ(field(results[0].payload, "id"), "1");
    ASSERT_TRUE(
        watch.publish(a.topic("learn"), R"({"id":"s","save":{"file":"tv.pronto","key":"POWER"}})"));
    EXPECT_NE(watch.wait_for(a.topic("learn/result"), "no code folder"), "");

    // A flood: the burst is taken, the rest is answered as too many.
    for (int i = 0; i < 8; ++i)
        ASSERT_TRUE(watch.publish(a.topic("send"), R"({"code":"NEC1 D=4 F=9"})"));
    const auto flood = watch.wait(a.topic("send/result"), std::size(rows) + 8);
    ASSERT_EQ(flood.size(), std::size(rows) + 8);
    int sent = 0, limited = 0;
    for (std::size_t i = std::size(rows); i < flood.size(); ++i) {
        sent += field(flood[i].payload, "ok") == "true";
        limited += flood[i].payload.find("too many commands") != std::string::npos;
    }
    EXPECT_GE(sent, 3);
    EXPECT_LE(sent, 5);  // the burst, and the rate for the few seconds this took at most
    EXPECT_EQ(sent + limited, 8);

    // krvxd away: commands are refused with the reason, and the device says so.
    a.stop_service();
    EXPECT_NE(watch.wait_for(a.topic("device"), "\"connected\":false"), "");
    std::this_thread::sleep_for(1s);  // a token for the next command
    ASSERT_TRUE(watch.publish(a.topic("send"), R"({"id":"away","code":"NEC1 D=4 F=8"})"));
    EXPECT_NE(watch.wait_for(a.topic("send/result"), "krvxd is not reachable"), "");
    // And back: the bridge finds it again by itself.
    a.start_service();
    const auto devices = watch.on(a.topic("device")).size();
    eventually([&] { return watch.on(a.topic("device")).size() > devices; }, 15s);
    EXPECT_NE(watch.on(a.topic("device")).back().payload.find("\"connected\":true"),
              std::string::npos);
}

TEST_F(BridgeTest, LearnsWhatIsHeldInFrontOfTheDeviceAndSavesItAsAKey) {
    const std::string codes = dir_.path() + "/codes";
    std::filesystem::create_directory(codes);
    std::ofstream(codes + "/tv.pronto") << "MUTE: 0000 006D 0000 0002 0020 0010 0010 0400\n";
    Node a(dir_, broker_, "a", {"--codes", codes});
    Client watch(broker_.port());
    ASSERT_TRUE(watch.subscribe("krvx/#"));
    ASSERT_TRUE(watch.subscribe("homeassistant/button/a/#"));
    ASSERT_NE(watch.wait_for(a.topic("device"), "\"connected\":true"), "");
    // Saves that cannot be done are refused before the learn starts.
    const std::pair<std::string, std::string> bad_saves[] = {
        {R"({"file":"../tv.pronto","key":"POWER"})", "hidden files"},
        {R"({"file":"tv.pronto","key":"MUTE"})", "already has a key MUTE"},
        {R"({"file":"tv","key":"POWER"})", "extension"},
    };
    for (const auto &[save, reason] : bad_saves) {
        ASSERT_TRUE(watch.publish(a.topic("learn"), R"({"id":"bad","save":)" + save + "}"));
        const std::string refused = watch.wait_for(a.topic("learn/result"), reason);
        EXPECT_EQ(field(refused, "ok"), "false") << save << " -> " << refused;
    }
    ASSERT_TRUE(watch.publish(a.topic("learn"),
                              R"({"id":"L1","save":{"file":"tv.pronto","key":"POWER"}})"));
    ASSERT_TRUE(watch.publish(a.topic("learn"), R"({"id":"L2"})"));
    // One learn at a time: the second is refused while the first runs.
    EXPECT_NE(watch.wait_for(a.topic("learn/result"), "already running"), "");
    ASSERT_TRUE(a.press("NEC1 D=4 F=8", 1000));  // long enough for a learn's frames
    const std::string result = watch.wait_for(a.topic("learn/result"), "\"L1\"");
    ASSERT_EQ(field(result, "ok"), "true") << result;
    EXPECT_TRUE(field(result, "code").starts_with("\"0000 ")) << result;
    const auto decodes = krvx::mqtt::parse_json(field(result, "decode"));
    ASSERT_TRUE(decodes.ok() && decodes.value.v.index() == 4) << result;  // an array
    const auto &best = *std::get<krvx::mqtt::JsonArray>(decodes.value.v).at(0).object();
    EXPECT_EQ(krvx::mqtt::to_json(best.at("protocol")), "\"NEC1\"") << result;
    EXPECT_EQ(best.at("params").object()->at("F").integer(), 8) << result;
    EXPECT_FALSE(watch.on(a.topic("learn/progress")).empty());
    // The learned code sends.
    ASSERT_TRUE(
        watch.publish(a.topic("send"), R"({"id":"again","code":)" + field(result, "code") + "}"));
    EXPECT_NE(watch.wait_for(a.topic("send/result"), R"("again","ok":true)"), "");

    // Saved: the file has it next to the key it had, it is a button, and it sends by name.
    EXPECT_EQ(field(result, "saved"), R"({"file":"tv.pronto","key":"POWER","remote":"tv"})");
    const auto saved = krvx::mqtt::key_code(codes, {"tv.pronto", "tv", "POWER"});
    EXPECT_EQ(json_text(saved.pronto), field(result, "code")) << saved.error;
    EXPECT_EQ(krvx::mqtt::key_code(codes, {"tv.pronto", "tv", "MUTE"}).error, "");
    const std::string button = "homeassistant/button/a/" +
                               krvx::mqtt::button_object_id({"tv.pronto", "tv", "POWER"}) +
                               "/config";
    EXPECT_NE(watch.wait_for(button, "POWER"), "");
    ASSERT_TRUE(watch.publish(a.topic("send"),
                              R"({"id":"named","file":"tv.pronto","remote":"tv","key":"POWER"})"));
    const std::string sent = watch.wait_for(a.topic("send/result"), R"("named")");
    EXPECT_EQ(field(sent, "ok"), "true") << sent;
    EXPECT_EQ(field(sent, "code"), field(result, "code")) << sent;
}

TEST_F(BridgeTest, KeysOfTheCodeFolderAreSentByNameAndAreButtonsWhileThere) {
    const std::string codes = dir_.path() + "/codes";
    std::filesystem::create_directory(codes);
    std::ofstream(codes + "/tv.pronto") << "POWER: 0000 006D 0000 0002 0010 0020 0010 0400\n"
                                        << "MUTE: 0000 006D 0000 0002 0020 0010 0010 0400\n";
    Node a(dir_, broker_, "a", {"--codes", codes});
    Client watch(broker_.port());
    ASSERT_TRUE(watch.subscribe("krvx/#"));
    ASSERT_TRUE(watch.subscribe("homeassistant/button/a/#"));
    ASSERT_NE(watch.wait_for(a.topic("device"), "\"connected\":true"), "");

    // A button per key, whose press is the send command of its key.
    std::map<std::string, std::string> buttons;  // topic -> payload_press
    eventually([&] {
        for (const auto &m : watch.on_prefix("homeassistant/button/a/key_"))
            buttons[m.topic] = field(m.payload, "payload_press");
        return buttons.size() == 2;
    });
    ASSERT_EQ(buttons.size(), 2u);
    for (const auto &[topic, press] : buttons) {
        const auto command = krvx::mqtt::parse_json(
            object_of(watch.last(topic)).at("payload_press").string()->c_str());
        ASSERT_TRUE(command.ok()) << press;
        EXPECT_EQ(field(watch.last(topic), "command_topic"), "\"krvx/a/send\"");
    }
    ASSERT_TRUE(watch.publish(a.topic("send"), R"({"id":"k","file":"tv.pronto","key":"MUTE"})"));
    EXPECT_NE(watch.wait_for(a.topic("send/result"), R"("k","ok":true)"), "");
    ASSERT_TRUE(watch.publish(a.topic("send"), R"({"id":"n","file":"../tv.pronto","key":"MUTE"})"));
    EXPECT_NE(watch.wait_for(a.topic("send/result"), R"("n","ok":false)"), "");
    ASSERT_TRUE(watch.publish(a.topic("send"), R"({"id":"m","file":"tv.pronto","key":"EJECT"})"));
    EXPECT_NE(watch.wait_for(a.topic("send/result"), R"("m","ok":false)"), "");

    // A key leaves the folder: its button goes (an empty retained config), the other stays.
    std::ofstream(codes + "/tv.pronto", std::ios::trunc)
        << "POWER: 0000 006D 0000 0002 0010 0020 0010 0400\n";
    std::string removed;
    eventually([&] {
        for (const auto &[topic, press] : buttons)
            if (watch.last(topic).empty())
                removed = press;
        return !removed.empty();
    });
    EXPECT_NE(removed.find("MUTE"), std::string::npos) << removed;
    for (const auto &[topic, press] : buttons)
        if (press.find("POWER") != std::string::npos) {
            EXPECT_FALSE(watch.last(topic).empty());
        }
}

TEST_F(BridgeTest, KeepsReceivedCodesWhileTheBrokerIsAwayUpToItsBound) {
    Node a(dir_, broker_, "a", {"--queue", "4"});
    {
        Client watch(broker_.port());
        ASSERT_TRUE(watch.subscribe("krvx/a/device"));
        ASSERT_NE(watch.wait_for(a.topic("device"), "\"connected\":true"), "");
    }
    // A persistent session: what the broker queued for it survives the restart.
    auto observer = std::make_unique<Client>(broker_.port(), "observer");
    ASSERT_TRUE(observer->subscribe(a.topic("received")));
    std::this_thread::sleep_for(200ms);
    observer.reset();

    // Within the bound: nothing is lost. (Codes received before the bridge sees the broker
    // go are handed to libmosquitto, which resends them itself; the outbox is for after.)
    broker_.stop();
    ASSERT_TRUE(a.logged("broker: connection lost"));
    const std::vector<std::string> codes = {"NEC1 D=4 F=1", "NEC1 D=4 F=2", "NEC1 D=4 F=3"};
    for (const auto &code : codes)
        ASSERT_TRUE(a.press(code));
    std::this_thread::sleep_for(300ms);
    broker_.start();
    ASSERT_TRUE(broker_.ready());
    observer = std::make_unique<Client>(broker_.port(), "observer");
    auto got = observer->wait(a.topic("received"), codes.size(), 20s);
    ASSERT_EQ(got.size(), codes.size());
    std::set<std::string> fingerprints;
    for (const auto &m : got) {
        fingerprints.insert(field(m.payload, "fingerprint"));
        EXPECT_EQ(field(m.payload, "dropped"), "<none>") << m.payload;
    }
    EXPECT_EQ(fingerprints.size(), codes.size());
    const std::string round_one_end = field(got.back().payload, "time");

    // Beyond it: the newest four, the first of them counting the two dropped.
    broker_.stop();
    ASSERT_TRUE(a.logged("broker: connection lost", 2));
    for (int f = 10; f < 16; ++f)
        ASSERT_TRUE(a.press("NEC1 D=4 F=" + std::to_string(f)));
    std::this_thread::sleep_for(300ms);
    broker_.start();
    ASSERT_TRUE(broker_.ready());
    observer = std::make_unique<Client>(broker_.port(), "observer");
    observer->wait(a.topic("received"), 4, 20s);
    std::this_thread::sleep_for(300ms);  // nothing more comes
    got = observer->on(a.topic("received"));
    // QoS 1 is at least once: a message of the first round whose acknowledgement the broker
    // had not yet seen when it stopped comes again. Only the second round's count here.
    std::erase_if(got, [&](const Message &m) { return field(m.payload, "time") <= round_one_end; });
    std::string all;
    for (const auto &m : got)
        all += m.payload + "\n";
    ASSERT_EQ(got.size(), 4u) << all;
    EXPECT_EQ(field(got[0].payload, "dropped"), "2") << got[0].payload;
    for (std::size_t i = 1; i < got.size(); ++i)
        EXPECT_EQ(field(got[i].payload, "dropped"), "<none>") << got[i].payload;
}

/// A throwaway CA (twice: `ca` signs the server's certificate, `other` does not) and the
/// broker's certificate for localhost and 127.0.0.1, in `d`.
bool make_certificates(const std::string &d) {
    const auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), OPENSSL_PATH);
        return testing_support::run_program(args) == 0;
    };
    const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt",
                                         "ec_paramgen_curve:prime256v1", "-nodes"};
    const auto self_signed = [&](const std::string &name) {
        std::vector<std::string> args = {"req", "-x509", "-days", "2", "-subj", "/CN=" + name};
        args.insert(args.end(), ec.begin(), ec.end());
        args.insert(args.end(),
                    {"-keyout", d + "/" + name + ".key", "-out", d + "/" + name + ".pem"});
        return run(args);
    };
    std::vector<std::string> request = {"req", "-subj", "/CN=localhost"};
    request.insert(request.end(), ec.begin(), ec.end());
    request.insert(request.end(), {"-keyout", d + "/server.key", "-out", d + "/server.csr"});
    std::ofstream(d + "/server.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    return self_signed("ca") && self_signed("other") && run(request) &&
           run({"x509", "-req", "-days", "2", "-in", d + "/server.csr", "-CA", d + "/ca.pem",
                "-CAkey", d + "/ca.key", "-CAcreateserial", "-extfile", d + "/server.ext", "-out",
                d + "/server.pem"});
}

std::string password_file(const std::string &path, const std::string &password) {
    std::ofstream(path) << password << "\n";
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    return path;
}

TEST(BridgeTls, ConnectsWithItsCaAndPasswordOnlyAndSpeaksMqtt311) {
    TempDir dir;
    const std::string d = dir.path();
    ASSERT_TRUE(make_certificates(d));
    const std::string good = "good-Pa55word", wrong = "wrong-Pa55word";
    ASSERT_EQ(testing_support::run_program(
                  {MOSQUITTO_PASSWD_PATH, "-b", "-c", d + "/passwd", "krvx", good}),
              0);
    const int tls_port = free_port();
    std::ostringstream tls;
    tls << "listener " << tls_port << " 127.0.0.1\ncafile " << d << "/ca.pem\ncertfile " << d
        << "/server.pem\nkeyfile " << d << "/server.key\nallow_anonymous false\npassword_file " << d
        << "/passwd\n";
    Broker broker(d, tls.str());
    ASSERT_TRUE(broker.ready());
    ASSERT_TRUE(eventually([&] { return can_connect_tcp(tls_port); }));
    Client watch(broker.port());  // on the plain listener
    ASSERT_TRUE(watch.subscribe("krvx/#"));

    const std::string url = "mqtts://localhost:" + std::to_string(tls_port);
    const std::string good_file = password_file(d + "/good.pw", good);
    const std::string wrong_file = password_file(d + "/wrong.pw", wrong);
    Node ok(dir, url, "ok",
            {"--ca", d + "/ca.pem", "--user", "krvx", "--password-file", good_file,
             "--mqtt-version", "3.1.1"});
    Node refused(dir, url, "refused",
                 {"--ca", d + "/ca.pem", "--user", "krvx", "--password-file", wrong_file});
    Node stranger(dir, url, "stranger",
                  {"--ca", d + "/other.pem", "--user", "krvx", "--password-file", good_file});

    // With the CA and the password: online, and commands work over MQTT 3.1.1.
    EXPECT_EQ(watch.wait_for(ok.topic("status"), "online"), "online");
    ASSERT_NE(watch.wait_for(ok.topic("device"), "\"connected\":true"), "");
    ASSERT_TRUE(watch.publish(ok.topic("send"), R"({"id":"t","code":"NEC1 D=4 F=8"})"));
    EXPECT_NE(watch.wait_for(ok.topic("send/result"), R"("t","ok":true)"), "");
    EXPECT_NE(watch.wait_for(ok.topic("received"), "\"NEC1\""), "");

    // A wrong password or a broker certificate of another CA: never online, and the log
    // says why.
    EXPECT_TRUE(refused.logged("broker: the broker refused the connection: Not authorized"));
    EXPECT_TRUE(stranger.logged("certificate verify failed"));
    for (const Node *n : {&refused, &stranger})
        for (const auto &m : watch.on(n->topic("status")))
            EXPECT_NE(m.payload, "online") << n->topic("status");

    // No log has a password: the bridges' nor the broker's.
    for (const auto &e : std::filesystem::directory_iterator(d)) {
        if (e.path().extension() != ".log")
            continue;
        std::ifstream in(e.path());
        const std::string text{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(text.find(good), std::string::npos) << e.path();
        EXPECT_EQ(text.find(wrong), std::string::npos) << e.path();
    }
}

}  // namespace
