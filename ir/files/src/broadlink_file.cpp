// SPDX-License-Identifier: MIT
// Broadlink IR packets in base64, as Home Assistant learns and stores them: 0x26 (IR), a
// repeat count, the data's length (little-endian), then each duration in ticks of 32.84 µs,
// one byte, or 0x00 and two bytes (big-endian) for 256 ticks and more. Files are JSON —
// Home Assistant's storage ({"data": {"REMOTE": {"KEY": "JgB..."}}}), SmartIR's
// {"commands": {...}}, or any object of names — or one code a line ("REMOTE/KEY: JgB..."
// or a bare code, with or without "b64:").
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "formats.h"
#include "ir/timings.h"
#include "json.h"
#include "text.h"

namespace ir::files::detail {
namespace {

constexpr double kTickUs = 32.84;
constexpr uint8_t kIr = 0x26;
constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::optional<std::vector<uint8_t>> from_base64(std::string_view s) {
    if (starts_with(s, "b64:")) {
        s.remove_prefix(4);
    }
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : s) {
        if (c == '=') {
            break;
        }
        const std::size_t v = kAlphabet.find(c);
        if (v == std::string_view::npos) {
            return std::nullopt;
        }
        acc = (acc << 6) | uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(uint8_t(acc >> bits));
        }
    }
    return out;
}

std::string to_base64(const std::vector<uint8_t> &b) {
    std::string out;
    for (std::size_t i = 0; i < b.size(); i += 3) {
        const uint32_t v = uint32_t(b[i]) << 16 | (i + 1 < b.size() ? uint32_t(b[i + 1]) << 8 : 0) |
                           (i + 2 < b.size() ? b[i + 2] : 0);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < b.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < b.size() ? kAlphabet[v & 63] : '=';
    }
    return out;
}

// The packet's signal; fails with why it is not an IR packet.
Signal decode_packet(std::string_view code) {
    const auto bytes = from_base64(trim(code));
    if (!bytes || bytes->size() < 4) {
        fail(0, "not a Broadlink packet in base64");
    }
    const std::vector<uint8_t> &b = *bytes;
    if (b[0] != kIr) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "packet type 0x%02X is not IR (0x26)%s", b[0],
                      b[0] == 0xB2 || b[0] == 0xD7 ? ": a radio code" : "");
        fail(0, buf);
    }
    const std::size_t length = std::size_t(b[2]) | std::size_t(b[3]) << 8;
    if (4 + length > b.size()) {
        fail(0, "the packet claims " + std::to_string(length) + " bytes of data, has " +
                    std::to_string(b.size() - 4));
    }
    std::vector<uint32_t> d;
    for (std::size_t i = 4; i < 4 + length;) {
        uint32_t ticks = b[i++];
        if (ticks == 0) {
            if (i + 2 > 4 + length) {
                break;  // padding
            }
            ticks = uint32_t(b[i]) << 8 | b[i + 1];
            i += 2;
        }
        if (ticks == 0) {
            break;
        }
        if (d.size() >= kMaxTimings) {
            fail(0, "more than " + std::to_string(kMaxTimings) + " durations");
        }
        d.push_back(uint32_t(std::lround(ticks * kTickUs)));
    }
    if (d.empty()) {
        fail(0, "the packet has no durations");
    }
    const Signal one = signal_from_durations(d, 38000, kStoredGapUs);
    if (b[1] == 0) {
        return one;
    }
    // Sent 1 + repeat count times.
    Signal s = one;
    s.repeat = one.once;
    for (int i = 1; i < b[1]; ++i) {
        s.once.insert(s.once.end(), one.once.begin(), one.once.end());
    }
    return s;
}

std::string encode_packet(const Key &k, bool &clamped) {
    std::vector<uint8_t> b = {kIr, 0, 0, 0};
    for (const uint32_t us : stored_durations(k)) {
        long ticks = std::lround(us / kTickUs);
        clamped = clamped || ticks < 1 || ticks > 0xFFFF;
        ticks = std::clamp(ticks, 1L, 0xFFFFL);
        if (ticks < 256) {
            b.push_back(uint8_t(ticks));
        } else {
            b.insert(b.end(), {0, uint8_t(ticks >> 8), uint8_t(ticks & 0xFF)});
        }
    }
    const std::size_t length = b.size() - 4;
    b[2] = uint8_t(length & 0xFF);
    b[3] = uint8_t(length >> 8);
    return to_base64(b);
}

bool is_packet(const std::string &s) {
    const auto b = from_base64(s.substr(0, 8));
    return b && !b->empty() && (*b)[0] == kIr;
}

void collect(const json::Value &v, const std::string &remote, const std::string &path,
             CodeFile &out) {
    if (v.is(json::Value::Type::String)) {
        if (!is_packet(v.text)) {
            return;  // other text of the file ("version", a manufacturer)
        }
        Key k;
        k.name = path;
        k.line = v.line;
        try {
            k.signal = decode_packet(v.text);
        } catch (const Failure &f) {
            fail(v.line, path + ": " + f.why);
        }
        add_key(out, remote, std::move(k));
    } else if (v.is(json::Value::Type::Array)) {
        for (std::size_t i = 0; i < v.elements.size(); ++i) {
            collect(v.elements[i], remote,
                    v.elements.size() == 1 ? path : path + "#" + std::to_string(i + 1), out);
        }
    } else if (v.is(json::Value::Type::Object)) {
        for (const json::Member &m : v.members) {
            collect(m.value, remote, path.empty() ? m.name : path + "/" + m.name, out);
        }
    }
}

// Where the remotes are: Home Assistant's "data", or the whole object.
const json::Value &remotes_of(const json::Value &root) {
    const json::Value *data = root.member("data");
    return data != nullptr && data->is(json::Value::Type::Object) ? *data : root;
}

bool bare(std::string_view line) {
    return starts_with(line, "b64:") || line.find(':') == std::string_view::npos;
}

}  // namespace

void read_broadlink(std::string_view text, std::string_view remote, CodeFile &out) {
    const std::string_view t = trim(text);
    if (t.empty() || t.front() != '{') {
        add_named_codes(read_named_lines(text, bare, nullptr), remote, out, decode_packet);
        return;
    }
    const json::Value root = json::parse(text);
    if (const json::Value *commands = root.member("commands");
        commands != nullptr && commands->is(json::Value::Type::Object)) {
        collect(*commands, std::string(remote), "", out);  // SmartIR: one device a file
        return;
    }
    for (const json::Member &m : remotes_of(root).members) {
        if (m.value.is(json::Value::Type::Object)) {
            collect(m.value, m.name, "", out);
        } else {
            collect(m.value, std::string(remote), m.name, out);
        }
    }
}

namespace {

std::string entries(const Remote &r, std::vector<std::string> &warnings,
                    const std::string &indent) {
    std::string out;
    std::vector<std::string> seen;
    for (const Key &k : r.keys) {
        if (!k.has_signal()) {
            continue;
        }
        if (std::find(seen.begin(), seen.end(), k.name) != seen.end()) {
            warnings.push_back(r.name + "/" + k.name + ": left out, a second key of that name");
            continue;
        }
        seen.push_back(k.name);
        bool clamped = false;
        out += (out.empty() ? "" : ",\n") + indent + json::quoted(k.name) + ": \"" +
               encode_packet(k, clamped) + "\"";
        if (clamped) {
            warnings.push_back(r.name + "/" + k.name + ": a duration out of 1 to 65535 ticks");
        }
    }
    return out;
}

}  // namespace

void write_broadlink(const CodeFile &file, std::string &out, std::vector<std::string> &warnings) {
    out +=
        "{\n  \"version\": 1,\n  \"minor_version\": 1,\n  \"key\": \"broadlink_remote_codes\",\n"
        "  \"data\": {";
    bool first = true;
    for (const Remote &r : file.remotes) {
        const std::string body = entries(r, warnings, "      ");
        if (body.empty()) {
            continue;
        }
        out += std::string(first ? "\n" : ",\n") + "    " + json::quoted(r.name) + ": {\n" + body +
               "\n    }";
        first = false;
    }
    out += "\n  }\n}\n";
}

Insertion append_broadlink(std::string_view text, std::string_view remote, const Key &key) {
    if (trim(text).empty()) {
        std::vector<std::string> warnings;
        CodeFile one;
        one.remotes.push_back({std::string(remote), nullptr, 0, {key}});
        std::string out;
        write_broadlink(one, out, warnings);
        return {0, out};
    }
    if (trim(text).front() != '{') {
        return append_written(
            [](const CodeFile &f, std::string &out, std::vector<std::string> &w) {
                for (const Remote &r : f.remotes) {
                    for (const Key &k : r.keys) {
                        bool clamped = false;
                        out += line_name(r, k) + encode_packet(k, clamped) + "\n";
                        (void)w;
                    }
                }
            },
            text, remote, key);
    }
    const json::Value root = json::parse(text);
    if (!root.is(json::Value::Type::Object)) {
        fail(root.line, "a JSON object expected");
    }
    const json::Value &base = remotes_of(root);
    std::vector<std::string> warnings;
    const std::string entry = entries({std::string(remote), nullptr, 0, {key}}, warnings, "      ");
    auto after_last = [&](const json::Value &object, const std::string &inserted) -> Insertion {
        if (object.members.empty()) {
            return {object.begin + 1, "\n" + inserted + "\n"};
        }
        return {object.members.back().value.end, ",\n" + inserted};
    };
    if (const json::Value *r = base.member(remote);
        r != nullptr && r->is(json::Value::Type::Object)) {
        return after_last(*r, entry);
    }
    if (!base.is(json::Value::Type::Object)) {
        fail(base.line, "a JSON object expected");
    }
    return after_last(base, "    " + json::quoted(remote) + ": {\n" + entry + "\n    }");
}

}  // namespace ir::files::detail
