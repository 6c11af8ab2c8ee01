// SPDX-License-Identifier: MIT
// Checks of option values shared by the subcommands.
#pragma once

#include <CLI/CLI.hpp>
#include <cmath>
#include <string>

namespace krvx::cli {

/// A number of seconds from lo to hi. Unlike CLI::Range it refuses "nan", which compares
/// false with every bound and would otherwise pass.
inline CLI::Validator seconds_between(double lo, double hi) {
    const std::string from = CLI::detail::to_string(lo), to = CLI::detail::to_string(hi);
    return CLI::Validator(
        [lo, hi, from, to](std::string &text) -> std::string {
            double v = 0;
            if (!CLI::detail::lexical_cast(text, v) || !std::isfinite(v) || v < lo || v > hi)
                return "Value " + text + " is not a number of seconds from " + from + " to " + to;
            return {};
        },
        "SECONDS in [" + from + " - " + to + "]");
}

}  // namespace krvx::cli
