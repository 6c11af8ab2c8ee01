// SPDX-License-Identifier: MIT
// krvxd's command line.
//
// Threads: main thread, before the loop starts.
#pragma once

#include <optional>
#include <string>

#include "server.h"
#include "sim/sim_backend.h"

namespace krvxd {

struct Options {
    std::string socket_path;  ///< empty: the default path rules
    std::string backend = "sim";
    bool verbose = false;
    SimSettings sim;
    ServerLimits limits;
    std::string lirc_device;  ///< --device for --backend lirc; empty: the first receiver
};

struct ParsedOptions {
    std::optional<Options> options;  ///< empty: exit with `exit_code` after printing `text`
    int exit_code = 0;
    std::string text;  ///< help or an error message
};

ParsedOptions parse_options(int argc, const char *const *argv);

/// "1.7" -> 0x0107 (major and minor 0..255); nullopt for anything else.
std::optional<uint32_t> parse_version(const std::string &text);

/// "2024-03-15" -> day, month, years after 2000 (2000..2255); false for anything else.
bool parse_date(const std::string &text, DeviceInfo &info);

}  // namespace krvxd
