// SPDX-License-Identifier: MIT
#include "options.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <charconv>
#include <climits>
#include <cstdio>
#include <fstream>

namespace krvx::mqtt {

std::optional<BrokerUrl> parse_broker_url(std::string_view url, std::string &why) {
    BrokerUrl out;
    std::string_view rest;
    if (url.starts_with("mqtt://")) {
        rest = url.substr(7);
    } else if (url.starts_with("mqtts://")) {
        rest = url.substr(8);
        out.tls = true;
        out.port = 8883;
    } else {
        why = "expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string_view port;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos) {
            why = "']' missing after an IPv6 address";
            return std::nullopt;
        }
        out.host = std::string(rest.substr(1, close - 1));
        rest = rest.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) {
            why = "unexpected text after the host";
            return std::nullopt;
        }
        port = rest.empty() ? rest : rest.substr(1);
    } else {
        const auto colon = rest.rfind(':');
        out.host = std::string(rest.substr(0, colon));
        port = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
        if (colon != std::string_view::npos && port.empty()) {
            why = "port missing after ':'";
            return std::nullopt;
        }
    }
    if (out.host.empty() || out.host.size() > 253 ||
        out.host.find_first_of("/@?# ") != std::string::npos) {
        why = "expected a host name or address";
        return std::nullopt;
    }
    if (!port.empty()) {
        int p = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), p);
        if (ec != std::errc{} || end != port.data() + port.size() || p < 1 || p > 65535) {
            why = "the port must be a number from 1 to 65535";
            return std::nullopt;
        }
        out.port = p;
    }
    return out;
}

bool is_topic_level(std::string_view s) {
    if (s.empty() || s.size() > 64)
        return false;
    for (const char c : s)
        if (c == '+' || c == '#' || c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return false;
    return true;
}

namespace {

std::string host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "krvx";
    std::string s = name;
    s = s.substr(0, s.find('.'));  // the short name
    return is_topic_level(s) ? s : "krvx";
}

/// The first line of the password file. Refuses a file that others may read, and a
/// password longer than MQTT brokers take.
std::string read_password(const std::string &path, std::string &why) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        why = fmt::format("cannot read the password file {}", path);
        return {};
    }
    if ((st.st_mode & S_IROTH) != 0) {
        why = fmt::format("the password file {} may be read by every user: chmod o-r it", path);
        return {};
    }
    std::ifstream in(path);
    std::string line;
    if (!in || st.st_size > 4096 || !std::getline(in, line) || line.empty()) {
        why = fmt::format("the password file {} holds no password on its first line", path);
        return {};
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

}  // namespace

ParsedOptions parse_options(int argc, char **argv) {
    ParsedOptions parsed;
    Options &o = parsed.options;
    o.node = host_name();
    std::string broker = "mqtt://localhost:1883";
    std::string password_file;
    std::string version = "5";
    bool no_ha = false;

    CLI::App app{"Bridge between krvxd and an MQTT broker, for home automation", "krvx-mqtt"};
    app.add_option("--socket", o.socket,
                   "krvxd's socket (default: KRVX_SOCKET, else $XDG_RUNTIME_DIR/krvxd.sock)");
    app.add_option("--broker", broker, "Broker: mqtt://HOST[:PORT] or mqtts://HOST[:PORT]")
        ->capture_default_str();
    app.add_option("--ca", o.ca_file, "CA certificate file for mqtts://")->check(CLI::ExistingFile);
    app.add_option("--user", o.user, "User name at the broker");
    app.add_option("--password-file", password_file,
                   "File whose first line is the password (not readable by others)")
        ->check(CLI::ExistingFile);
    app.add_option("--mqtt-version", version, "MQTT protocol version: 3.1.1 or 5")
        ->check(CLI::IsMember({"3.1.1", "5"}))
        ->capture_default_str();
    app.add_option("--node", o.node, "Node name in the topics (default: the host name)");
    app.add_option("--topic-prefix", o.prefix, "First topic level")->capture_default_str();
    app.add_option("--queue", o.queue,
                   "Received codes held while the broker is away (the oldest are dropped)")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    app.add_option("--rate", o.rate_per_s, "Commands taken per second")
        ->check(CLI::Range(0.1, 1000.0))
        ->capture_default_str();
    app.add_option("--burst", o.rate_burst, "Commands taken at once before the rate applies")
        ->check(CLI::Range(1.0, 1000.0))
        ->capture_default_str();
    app.add_option("--codes", o.codes_dir,
                   "Folder of code files: their keys can be sent by name, and are Home "
                   "Assistant buttons")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--no-ha-discovery", no_ha, "Do not publish Home Assistant discovery");
    app.add_option("--ha-prefix", o.ha_prefix, "Home Assistant's discovery prefix")
        ->capture_default_str();
    app.add_flag("-v,--verbose", o.verbose, "Log every message");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        parsed.exit = app.exit(e);
        return parsed;
    }
    auto usage = [&](const std::string &why) {
        std::fprintf(stderr, "krvx-mqtt: %s\n", why.c_str());
        parsed.exit = 2;
        return parsed;
    };
    std::string why;
    const auto url = parse_broker_url(broker, why);
    if (!url)
        return usage(fmt::format("--broker {}: {}", broker, why));
    o.broker = *url;
    if (!o.ca_file.empty() && !o.broker.tls)
        return usage("--ca needs an mqtts:// broker");
    if (!is_topic_level(o.node))
        return usage("--node: 1 to 64 characters without '/', '+' or '#'");
    if (!is_topic_level(o.prefix) || !is_topic_level(o.ha_prefix))
        return usage("--topic-prefix and --ha-prefix: one topic level without '/', '+' or '#'");
    if (!password_file.empty()) {
        if (o.user.empty())
            return usage("--password-file needs --user");
        o.password = read_password(password_file, why);
        if (o.password.empty())
            return usage(why);
    }
    o.mqtt_version = version == "5" ? 5 : 3;
    o.ha_discovery = !no_ha;
    return parsed;
}

}  // namespace krvx::mqtt
