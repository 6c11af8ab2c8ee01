// SPDX-License-Identifier: MIT
#include "options.h"

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>

#include "krvx_version.h"

namespace krvxd {

namespace {

bool parse_uint(std::string_view text, unsigned max, unsigned &out) {
    if (text.empty() || text.size() > 4)
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out <= max;
}

// A number from lo to hi. Unlike CLI::Range it refuses "nan" (which compares false with
// every bound and would pass) and infinities.
CLI::Validator finite_between(double lo, double hi) {
    const std::string from = CLI::detail::to_string(lo), to = CLI::detail::to_string(hi);
    return CLI::Validator(
        [lo, hi, from, to](std::string &text) -> std::string {
            double v = 0;
            if (!CLI::detail::lexical_cast(text, v) || !std::isfinite(v) || v < lo || v > hi)
                return "Value " + text + " is not a number from " + from + " to " + to;
            return {};
        },
        "NUMBER in [" + from + " - " + to + "]");
}

}  // namespace

std::optional<uint32_t> parse_version(const std::string &text) {
    const auto dot = text.find('.');
    if (dot == std::string::npos)
        return std::nullopt;
    unsigned major = 0, minor = 0;
    if (!parse_uint(std::string_view(text).substr(0, dot), 255, major) ||
        !parse_uint(std::string_view(text).substr(dot + 1), 255, minor))
        return std::nullopt;
    return major * 256 + minor;
}

bool parse_date(const std::string &text, DeviceInfo &info) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return false;
    unsigned y = 0, m = 0, d = 0;
    const std::string_view v(text);
    if (!parse_uint(v.substr(0, 4), 2255, y) || !parse_uint(v.substr(5, 2), 12, m) ||
        !parse_uint(v.substr(8, 2), 31, d) || y < 2000 || m < 1 || d < 1)
        return false;
    info.year = static_cast<uint8_t>(y - 2000);
    info.month = static_cast<uint8_t>(m);
    info.day = static_cast<uint8_t>(d);
    return true;
}

ParsedOptions parse_options(int argc, const char *const *argv) {
    Options o;
    CLI::App app{
        "krvxd: the Korvex IR transceiver service. Owns one device and serves every "
        "application (libkrvxdrv, krvx) over a Unix socket.",
        "krvxd"};
    app.set_version_flag("--version", "krvxd " KRVX_VERSION);
    std::string firmware = "1.7", protocol = "1.3", date = "2024-03-15", fail_open;
    app.add_option("--socket", o.socket_path,
                   "Socket path (default: $KRVX_SOCKET, else $XDG_RUNTIME_DIR/krvxd.sock, "
                   "else /tmp/krvxd-<uid>/krvxd.sock)")
        ->check([](const std::string &v) {
            return v.empty() ? std::string("the socket path is empty") : std::string();
        });
    app.add_option("--backend", o.backend, "Device backend")
        ->check(CLI::IsMember({"sim", "lirc"}))
        ->capture_default_str();
    app.add_flag("-v,--verbose", o.verbose, "Log every request");
    double learn_timeout_s = 10;
    app.add_option("--learn-timeout", learn_timeout_s,
                   "Seconds a learn waits for a complete burst before it fails")
        ->check(finite_between(0.1, 3600.0))
        ->capture_default_str();
    int max_clients = static_cast<int>(o.limits.max_clients);
    app.add_option("--max-clients", max_clients,
                   "Clients served at once; one more is refused (or replaces a client that has "
                   "not read its answers for a while)")
        ->check(CLI::Range(1, 4096))
        ->capture_default_str();
    auto *sim = app.add_option_group("Simulated device (--backend sim)");
    sim->add_option("--time-scale", o.sim.time_scale,
                    "Air time factor: 1 real time, 0 instant (tests)")
        ->check(finite_between(0.0, 1.0))
        ->capture_default_str();
    sim->add_flag("--loopback", o.sim.loopback, "What the device sends reaches its own receiver");
    sim->add_option("--firmware", firmware, "Firmware version MAJOR.MINOR")->capture_default_str();
    sim->add_option("--protocol", protocol, "Protocol version MAJOR.MINOR")->capture_default_str();
    sim->add_option("--firmware-date", date, "Firmware date YYYY-MM-DD")->capture_default_str();
    sim->add_option("--fail-open", fail_open, "Make every open fail this way")
        ->check(CLI::IsMember({"device-not-found", "comm-failed", "firmware-mismatch"}));
    sim->add_flag("--fail-transmit", o.sim.fail_transmit, "Make every send fail");
    auto *lirc = app.add_option_group("Kernel IR device (--backend lirc)");
    lirc->add_option("--device", o.lirc_device,
                     "Device node, e.g. /dev/lirc0 (default: the first that can receive)")
        ->check([](const std::string &v) {
            return v.size() > 0 && v.size() < 256 && v.front() == '/'
                       ? std::string()
                       : std::string("an absolute device path is expected, e.g. /dev/lirc0");
        });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        std::ostringstream out, err;
        // Help and --version end with 0, every usage error with 2.
        const int code = app.exit(e, out, err) == 0 ? 0 : 2;
        return {std::nullopt, code, out.str() + err.str()};
    }
    o.limits.learn_timeout =
        std::chrono::milliseconds(static_cast<int64_t>(learn_timeout_s * 1000));
    o.limits.max_clients = static_cast<std::size_t>(max_clients);
    const auto fw = parse_version(firmware), pv = parse_version(protocol);
    if (!fw)
        return {std::nullopt, 2, "krvxd: --firmware wants MAJOR.MINOR, e.g. 1.7\n"};
    if (!pv)
        return {std::nullopt, 2, "krvxd: --protocol wants MAJOR.MINOR, e.g. 1.3\n"};
    o.sim.info.firmware = *fw;
    o.sim.info.protocol = *pv;
    if (!parse_date(date, o.sim.info))
        return {std::nullopt, 2, "krvxd: --firmware-date wants YYYY-MM-DD (2000..2255)\n"};
    if (fail_open == "device-not-found")
        o.sim.open_status = wire::Status::DeviceNotFound;
    if (fail_open == "comm-failed")
        o.sim.open_status = wire::Status::CommFailed;
    if (fail_open == "firmware-mismatch")
        o.sim.open_status = wire::Status::FirmwareMismatch;
    return {o, 0, {}};
}

}  // namespace krvxd
