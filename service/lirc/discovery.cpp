// SPDX-License-Identifier: MIT
#include "lirc/discovery.h"

#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <system_error>

namespace krvxd::lirc {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxSysfsFile = 4096;

// Reads at most kMaxSysfsFile bytes of a small text file; empty when unreadable.
std::string read_small_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    std::string text(kMaxSysfsFile, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// "<prefix><digits>" -> the number; nullopt for anything else.
std::optional<unsigned> numbered(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix ||
        name.size() > prefix.size() + 6) {
        return std::nullopt;
    }
    unsigned n = 0;
    const char *first = name.data() + prefix.size();
    const char *last = name.data() + name.size();
    auto [ptr, ec] = std::from_chars(first, last, n);
    if (ec != std::errc{} || ptr != last) {
        return std::nullopt;
    }
    return n;
}

// Directory entries named <prefix>N, ordered by N.
std::vector<std::pair<unsigned, std::string>> numbered_entries(const fs::path &dir,
                                                               std::string_view prefix) {
    std::vector<std::pair<unsigned, std::string>> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (auto n = numbered(name, prefix)) {
            out.emplace_back(*n, name);
        }
        if (out.size() > 1024) {
            break;  // a sane machine has a handful
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string trim(std::string_view s) {
    const auto ws = " \t\r\n";
    const auto b = s.find_first_not_of(ws);
    if (b == std::string_view::npos) {
        return {};
    }
    const auto e = s.find_last_not_of(ws);
    return std::string(s.substr(b, e - b + 1));
}

}  // namespace

std::map<std::string, std::string> parse_uevent(std::string_view text) {
    std::map<std::string, std::string> out;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        const auto eq = line.find('=');
        if (eq == std::string_view::npos || eq == 0) {
            continue;
        }
        out[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    return out;
}

void parse_protocols(std::string_view text, std::vector<std::string> &all,
                     std::vector<std::string> &enabled) {
    all.clear();
    enabled.clear();
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n')) {
            ++i;
        }
        std::size_t j = i;
        while (j < text.size() && text[j] != ' ' && text[j] != '\t' && text[j] != '\n') {
            ++j;
        }
        if (j > i) {
            std::string_view word = text.substr(i, j - i);
            const bool on = word.size() > 2 && word.front() == '[' && word.back() == ']';
            if (on) {
                word = word.substr(1, word.size() - 2);
            }
            all.emplace_back(word);
            if (on) {
                enabled.emplace_back(word);
            }
        }
        i = j;
    }
}

std::vector<RcDevice> scan_rc_devices(const fs::path &sys_class_rc, const fs::path &dev_dir) {
    std::vector<RcDevice> out;
    for (const auto &[n, name] : numbered_entries(sys_class_rc, "rc")) {
        (void)n;
        const fs::path dir = sys_class_rc / name;
        RcDevice d;
        d.rc_name = name;
        const auto uevent = parse_uevent(read_small_file(dir / "uevent"));
        if (auto it = uevent.find("DRV_NAME"); it != uevent.end()) {
            d.driver = it->second;
        }
        if (auto it = uevent.find("DEV_NAME"); it != uevent.end()) {
            d.device_name = it->second;
        }
        if (auto it = uevent.find("NAME"); it != uevent.end()) {
            d.keymap = it->second;
        }
        if (d.driver.empty()) {
            std::error_code ec;
            const fs::path target = fs::read_symlink(dir / "device" / "driver", ec);
            if (!ec) {
                d.driver = target.filename().string();
            }
        }
        parse_protocols(read_small_file(dir / "protocols"), d.protocols, d.enabled_protocols);
        const auto lircs = numbered_entries(dir, "lirc");
        if (!lircs.empty()) {
            d.lirc_name = lircs.front().second;
            d.node = (dev_dir / d.lirc_name).string();
        }
        out.push_back(std::move(d));
    }
    return out;
}

std::vector<std::string> list_lirc_nodes(const fs::path &dev_dir) {
    std::vector<std::string> out;
    for (const auto &[n, name] : numbered_entries(dev_dir, "lirc")) {
        (void)n;
        out.push_back((dev_dir / name).string());
    }
    return out;
}

std::optional<RcDevice> find_by_node(const std::vector<RcDevice> &devices,
                                     const std::string &node) {
    const std::string name = fs::path(node).filename().string();
    for (const RcDevice &d : devices) {
        if (!d.lirc_name.empty() && d.lirc_name == name) {
            return d;
        }
    }
    return std::nullopt;
}

std::vector<std::string> candidate_nodes(const fs::path &sys_class_rc, const fs::path &dev_dir) {
    std::vector<std::string> out;
    for (const RcDevice &d : scan_rc_devices(sys_class_rc, dev_dir)) {
        if (!d.node.empty()) {
            out.push_back(d.node);
        }
    }
    for (std::string &node : list_lirc_nodes(dev_dir)) {
        if (std::find(out.begin(), out.end(), node) == out.end()) {
            out.push_back(std::move(node));
        }
    }
    return out;
}

std::optional<Choice> first_mode2_device(const std::vector<std::string> &nodes,
                                         const DeviceIoFactory &factory,
                                         std::vector<std::string> *skipped) {
    for (const std::string &node : nodes) {
        std::unique_ptr<DeviceIo> io = factory();
        if (const int err = io->open(node); err != 0) {
            if (skipped) {
                skipped->push_back(node + ": cannot open: " + error_text(err));
            }
            continue;
        }
        ProbeResult p = probe(*io);
        io->close();
        if (!p.ok()) {
            if (skipped) {
                skipped->push_back(node + ": " + p.message);
            }
            continue;
        }
        if (!p.caps.can_receive_mode2()) {
            if (skipped) {
                skipped->push_back(node + ": cannot receive raw (mode2) IR");
            }
            continue;
        }
        return Choice{node, p.caps};
    }
    return std::nullopt;
}

namespace {

// Finds "(YYYY-MM-DD)" or "Mon DD hh:mm:ss ZONE YYYY"-style dates in uname's version text.
bool parse_kernel_date(std::string_view v, unsigned &year, unsigned &month, unsigned &day) {
    auto num = [](std::string_view s, unsigned &out) {
        auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
        return ec == std::errc{} && p == s.data() + s.size();
    };
    for (std::size_t open = v.find('('); open != std::string_view::npos;
         open = v.find('(', open + 1)) {
        const std::string_view s = v.substr(open + 1);
        if (s.size() >= 11 && s[4] == '-' && s[7] == '-' && s[10] == ')' &&
            num(s.substr(0, 4), year) && num(s.substr(5, 2), month) && num(s.substr(8, 2), day) &&
            month >= 1 && month <= 12 && day >= 1 && day <= 31) {
            return true;
        }
    }
    static constexpr std::array<std::string_view, 12> months{
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // Words: ... Mon DD hh:mm:ss [ZONE] YYYY
    std::vector<std::string_view> words;
    for (std::size_t i = 0; i < v.size() && words.size() < 64;) {
        while (i < v.size() && v[i] == ' ') {
            ++i;
        }
        std::size_t j = i;
        while (j < v.size() && v[j] != ' ') {
            ++j;
        }
        if (j > i) {
            words.push_back(v.substr(i, j - i));
        }
        i = j;
    }
    for (std::size_t w = 0; w + 2 < words.size(); ++w) {
        const auto m = std::find(months.begin(), months.end(), words[w]);
        if (m == months.end() || !num(words[w + 1], day) || day < 1 || day > 31) {
            continue;
        }
        for (std::size_t k = w + 2; k < words.size() && k < w + 5; ++k) {
            if (words[k].size() == 4 && num(words[k], year)) {
                month = static_cast<unsigned>(m - months.begin()) + 1;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

::DeviceInfo device_info_from_kernel(std::string_view release, std::string_view version) {
    ::DeviceInfo info{};
    unsigned major = 0;
    unsigned minor = 0;
    const char *p = release.data();
    const char *end = release.data() + release.size();
    auto r1 = std::from_chars(p, end, major);
    if (r1.ec == std::errc{} && r1.ptr != end && *r1.ptr == '.') {
        auto r2 = std::from_chars(r1.ptr + 1, end, minor);
        if (r2.ec != std::errc{}) {
            minor = 0;
        }
    }
    info.firmwareVersion = std::min(major, 0xFFFFFFu / 256) * 256 + std::min(minor, 255u);
    info.protocolVersion = 0x0100;
    unsigned year = 0;
    unsigned month = 0;
    unsigned day = 0;
    if (parse_kernel_date(version, year, month, day) && year >= 2000 && year <= 2255) {
        info.firmwareDateDay = static_cast<uint8_t>(day);
        info.firmwareDateMonth = static_cast<uint8_t>(month);
        info.firmwareDateYear = static_cast<uint8_t>(year - 2000);
    }
    return info;
}

::DeviceInfo device_info_for_running_kernel() {
    utsname u{};
    if (::uname(&u) != 0) {
        return device_info_from_kernel("", "");
    }
    return device_info_from_kernel(u.release, u.version);
}

std::string describe(const RcDevice &device) {
    std::string out = device.node.empty() ? device.rc_name : device.node;
    out += " (" + device.rc_name;
    if (!device.driver.empty()) {
        out += ", driver " + device.driver;
    }
    if (!device.device_name.empty()) {
        out += ", \"" + device.device_name + "\"";
    }
    if (!device.protocols.empty()) {
        out += ", protocols";
        for (const std::string &p : device.protocols) {
            const bool on =
                std::find(device.enabled_protocols.begin(), device.enabled_protocols.end(), p) !=
                device.enabled_protocols.end();
            out += on ? " [" + p + "]" : " " + p;
        }
    }
    out += ")";
    return out;
}

}  // namespace krvxd::lirc
