// SPDX-License-Identifier: MIT
// krvx-mqtt's command line.
//
// Threads: main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace krvx::mqtt {

/// A broker address: mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (IPv6 hosts in brackets).
struct BrokerUrl {
    std::string host;
    int port = 1883;
    bool tls = false;
};

/// The broker address `url` names, or nullopt with `why` set.
std::optional<BrokerUrl> parse_broker_url(std::string_view url, std::string &why);

/// Whether `s` may stand in a topic as one level (the node name, the prefix's levels):
/// 1 to 64 characters, none of '+', '#', '/', NUL or a control character.
bool is_topic_level(std::string_view s);

struct Options {
    std::string socket;  ///< krvxd's socket; empty: the library's default
    BrokerUrl broker;
    std::string ca_file;
    std::string user;
    std::string password;  ///< read from --password-file; never logged
    std::string node;
    std::string prefix = "krvx";
    int mqtt_version = 5;  ///< 3 (3.1.1) or 5
    std::size_t queue = 1000;
    double rate_per_s = 5;
    double rate_burst = 10;
    bool ha_discovery = true;
    std::string ha_prefix = "homeassistant";
    std::string codes_dir;  ///< --codes: code files whose keys are sent by name and are buttons
    bool verbose = false;
};

struct ParsedOptions {
    Options options;
    int exit = -1;  ///< >= 0: exit now with this status (help, or a usage error reported)
};

ParsedOptions parse_options(int argc, char **argv);

}  // namespace krvx::mqtt
