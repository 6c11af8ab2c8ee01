// SPDX-License-Identifier: MIT
// ir-keytable keymaps (rc_keymap TOML): [[protocols]] entries, each a protocol with its
// scancodes and key names, or "raw" with the timings of each key; the kernel's decoders and
// ir-ctl take them. An entry's name names its remote; entries of one name are one remote.
#include <algorithm>
#include <cctype>
#include <map>

#include "formats.h"
#include "ir/timings.h"
#include "json.h"
#include "text.h"
#include "toml.h"

namespace ir::files::detail {
namespace {

// Gap after keys of protocols the keymap gives no frame period for (ir-ctl's own default).
constexpr uint32_t kKeymapGapUs = 125000;

struct RawItem {
    std::string keycode, raw;
    std::vector<int64_t> raw_numbers;
    bool numbers = false;
    int line = 0;
};

struct Entry {
    int line = 0;
    std::string name, protocol, variant;
    std::vector<std::pair<std::pair<uint64_t, int>, std::string>> scancodes;  // (code, line), key
    std::vector<RawItem> raw;
    std::map<std::string, int64_t> params;
};

std::string folded(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c != '-' && c != '_' && c != ' ') {
            out += char(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

// The kernel protocols a keymap protocol may mean, widest last.
std::vector<std::string_view> family(std::string_view protocol, uint64_t scancode) {
    const std::string f = folded(protocol);
    if (f == "nec") {
        return {"nec", "necx", "nec32"};
    }
    if (f == "rc5") {
        return {"rc5", "rc5x_20"};
    }
    if (f == "rc6") {
        if ((scancode >> 16) == 0x800F) {
            return {"rc6_mce", "rc6_6a_32"};
        }
        return {"rc6_0", "rc6_6a_20", "rc6_6a_24", "rc6_6a_32", "rc6_mce"};
    }
    if (f == "sony") {
        return {"sony12", "sony15", "sony20"};
    }
    if (f == "rcmm") {
        return {"rc-mm-12", "rc-mm-24", "rc-mm-32"};
    }
    return {protocol};
}

// A key of a kernel protocol: the signal ir-ctl would send.
Key kernel_key(const Entry &e, uint64_t scancode, int line, const std::string &name) {
    Key k;
    k.name = name;
    k.line = line;
    std::string tried;
    const std::vector<std::string_view> candidates =
        e.variant.empty() ? family(e.protocol, scancode) : std::vector<std::string_view>{e.variant};
    for (std::string_view c : candidates) {
        const protocols::KernelProtocolInfo *kp = protocols::find_kernel(c);
        if (kp == nullptr || (scancode & ~uint64_t(kp->scancode_mask)) != 0) {
            continue;
        }
        const protocols::EncodeResult enc = protocols::encode(*kp, scancode);
        if (enc.ok()) {
            k.signal = enc.signal;
            return k;
        }
        tried = enc.error;
    }
    k.note = tried.empty()
                 ? "no timings: protocol '" + (e.variant.empty() ? e.protocol : e.variant) +
                       "' is decoded by receivers, not known here"
                 : "no timings: " + tried;
    return k;
}

// The BPF pulse_distance decoder's parameters, as its documentation defaults them.
Signal pulse_distance(const Entry &e, uint64_t scancode) {
    auto p = [&](const char *name, int64_t fallback) {
        const auto it = e.params.find(name);
        return it == e.params.end() ? fallback : it->second;
    };
    const int bits = int(std::clamp<int64_t>(p("bits", 4), 1, 64));
    std::vector<uint32_t> d = {uint32_t(p("header_pulse", 2125)),
                               uint32_t(p("header_space", 1875))};
    for (int i = 0; i < bits; ++i) {
        const int bit = p("reverse", 0) != 0 ? i : bits - 1 - i;
        d.push_back(uint32_t(p("bit_pulse", 625)));
        d.push_back(uint32_t(((scancode >> bit) & 1) != 0 ? p("bit_1_space", 1625)
                                                          : p("bit_0_space", 375)));
    }
    d.push_back(uint32_t(p("trailer_pulse", 625)));
    for (uint32_t v : d) {
        if (v == 0 || v > kMaxDurationUs) {
            fail(e.line, "pulse_distance: a timing parameter is 0 or out of range");
        }
    }
    Signal s = signal_from_durations(d, 38000, kKeymapGapUs);
    s.repeat = s.once;
    s.once.clear();
    return s;
}

std::vector<Entry> entries(std::string_view text) {
    std::vector<Entry> out;
    enum class Section { Top, Entry, Scancodes, Raw, Other } section = Section::Top;
    std::size_t keys = 0;
    for (toml::Item &item : toml::parse(text)) {
        if (item.kind != toml::Item::Kind::Pair) {
            if (item.kind == toml::Item::Kind::ArrayTable && item.path == "protocols") {
                out.emplace_back();
                out.back().line = item.line;
                section = Section::Entry;
            } else if (!out.empty() && item.kind == toml::Item::Kind::Table &&
                       item.path == "protocols.scancodes") {
                section = Section::Scancodes;
            } else if (!out.empty() && item.kind == toml::Item::Kind::ArrayTable &&
                       item.path == "protocols.raw") {
                out.back().raw.push_back({});
                out.back().raw.back().line = item.line;
                section = Section::Raw;
            } else {
                section = Section::Other;
            }
            continue;
        }
        if (++keys > kMaxKeys) {
            fail(item.line, "more than " + std::to_string(kMaxKeys) + " keys");
        }
        const toml::Value &v = item.value;
        const bool str = v.type == toml::Value::Type::String;
        switch (section) {
            case Section::Top:
            case Section::Other:
                break;
            case Section::Entry: {
                Entry &e = out.back();
                if (item.path == "name" || item.path == "protocol" || item.path == "variant") {
                    if (!str) {
                        fail(item.line, item.path + " is not a string");
                    }
                    (item.path == "name"       ? e.name
                     : item.path == "protocol" ? e.protocol
                                               : e.variant) = v.text;
                } else if (v.type == toml::Value::Type::Integer) {
                    e.params[item.path] = v.integer;
                }
                break;
            }
            case Section::Scancodes: {
                const auto code = c_number(item.path);
                if (!code) {
                    fail(item.line, "scancode " + shown(item.path) + " is not a number");
                }
                if (!str) {
                    fail(item.line, "the key of scancode " + item.path + " is not a string");
                }
                for (const auto &[c, name] : out.back().scancodes) {
                    if (c.first == *code) {
                        fail(item.line, "scancode " + item.path + " appears twice (line " +
                                            std::to_string(c.second) + ")");
                    }
                }
                out.back().scancodes.push_back({{*code, item.line}, v.text});
                break;
            }
            case Section::Raw: {
                RawItem &r = out.back().raw.back();
                if (item.path == "keycode" && str) {
                    r.keycode = v.text;
                } else if (item.path == "raw" && str) {
                    r.raw = v.text;
                    r.line = item.line;
                } else if (item.path == "raw" && v.type == toml::Value::Type::Array) {
                    r.numbers = true;
                    r.line = item.line;
                    for (const toml::Value &n : v.elements) {
                        if (n.type != toml::Value::Type::Integer) {
                            fail(item.line, "raw holds something other than numbers");
                        }
                        r.raw_numbers.push_back(n.integer);
                    }
                } else {
                    fail(item.line,
                         shown(item.path) + " in a raw entry (keycode and raw expected)");
                }
                break;
            }
        }
    }
    return out;
}

}  // namespace

void read_keymap(std::string_view text, std::string_view remote, CodeFile &out) {
    for (const Entry &e : entries(text)) {
        const std::string_view r = e.name.empty() ? remote : std::string_view(e.name);
        if (e.protocol.empty()) {
            fail(e.line, "a protocols entry without a protocol");
        }
        const std::string p = folded(e.protocol);
        if (p == "raw") {
            for (const RawItem &item : e.raw) {
                if (item.keycode.empty()) {
                    fail(item.line, "a raw entry without its keycode");
                }
                std::string timings = item.raw;
                if (item.numbers) {
                    timings.clear();
                    for (int64_t n : item.raw_numbers) {
                        timings += std::to_string(n < 0 ? -n : n) + " ";
                    }
                }
                const Timings t = parse_raw_timings(timings);
                if (!t.ok()) {
                    fail(item.line, item.keycode + ": " + t.error);
                }
                Key k = key_from_durations(item.keycode, item.line, t.durations_us, 38000);
                add_key(out, r, std::move(k));
            }
            continue;
        }
        for (const auto &[code, name] : e.scancodes) {
            Key k;
            if (p == "pulsedistance") {
                k.name = name;
                k.line = code.second;
                k.signal = pulse_distance(e, code.first);
            } else {
                k = kernel_key(e, code.first, code.second, name);
            }
            add_key(out, r, std::move(k));
        }
    }
}

namespace {

// The keymap protocol and variant of a kernel protocol.
std::pair<std::string, std::string> keymap_protocol(std::string_view kernel) {
    for (std::string_view fam : {"nec", "rc5", "rc6", "sony", "rcmm"}) {
        for (std::string_view member : family(fam, 0)) {
            if (member == kernel && !(fam == "rc5" && kernel == "rc5_sz")) {
                return {fam == "rcmm" ? "rc-mm" : std::string(fam), std::string(kernel)};
            }
        }
    }
    return {std::string(kernel), ""};
}

// The kernel's form keeps the key when it sends what the key means (a toggle it cannot
// carry, for one, it does not).
bool same_meaning(const Signal &sent, const protocols::Decode &d) {
    const std::vector<protocols::Decode> back = protocols::decode(sent);
    return !back.empty() && back.front().protocol == d.protocol && back.front().params == d.params;
}

void write_remote(const Remote &r, std::string &out, std::vector<std::string> &warnings) {
    std::map<std::string_view, std::vector<std::pair<uint32_t, const Key *>>> by_kernel;
    std::vector<const Key *> raw;
    for (const Key &k : r.keys) {
        if (!k.has_signal()) {
            continue;
        }
        if (k.decode && k.decode->kernel) {
            const protocols::KernelProtocolInfo *kp =
                protocols::find_kernel(k.decode->kernel->protocol);
            const protocols::EncodeResult enc =
                kp != nullptr ? protocols::encode(*kp, k.decode->kernel->scancode)
                              : protocols::EncodeResult{};
            if (kp != nullptr && enc.ok() && same_meaning(enc.signal, *k.decode)) {
                auto &codes = by_kernel[kp->name];
                const auto dup = std::find_if(codes.begin(), codes.end(), [&](const auto &c) {
                    return c.first == k.decode->kernel->scancode;
                });
                if (dup == codes.end()) {
                    codes.push_back({k.decode->kernel->scancode, &k});
                    continue;
                }
            }
        }
        raw.push_back(&k);
    }
    for (const auto &[kernel, codes] : by_kernel) {
        const auto [protocol, variant] = keymap_protocol(kernel);
        out += "[[protocols]]\nname = " + json::quoted(r.name) +
               "\nprotocol = " + json::quoted(protocol) + "\n";
        if (!variant.empty()) {
            out += "variant = " + json::quoted(variant) + "\n";
        }
        out += "[protocols.scancodes]\n";
        for (const auto &[code, key] : codes) {
            out += protocols::KernelCode{kernel, code}.text().substr(kernel.size() + 1) + " = " +
                   json::quoted(key->name) + "\n";
        }
    }
    if (!raw.empty()) {
        out += "[[protocols]]\nname = " + json::quoted(r.name) + "\nprotocol = \"raw\"\n";
        for (const Key *k : raw) {
            std::vector<uint32_t> d = sent_once(k->signal);
            d.pop_back();  // raw keys end on a pulse
            out += "[[protocols.raw]]\nkeycode = " + json::quoted(k->name) + "\nraw = \"";
            for (std::size_t i = 0; i < d.size(); ++i) {
                out += (i == 0 ? "+" : i % 2 == 0 ? " +" : " -") + std::to_string(d[i]);
            }
            out += "\"\n";
        }
    }
    (void)warnings;
}

}  // namespace

void write_keymap(const CodeFile &file, std::string &out, std::vector<std::string> &warnings) {
    for (const Remote &r : file.remotes) {
        write_remote(r, out, warnings);
    }
}

Insertion append_keymap(std::string_view text, std::string_view remote, const Key &key) {
    Key decoded = key;
    if (!decoded.decode) {
        std::vector<protocols::Decode> d = protocols::decode(key.signal);
        if (!d.empty() && d.front().complete) {
            decoded.decode = d.front();
        }
    }
    return append_written(write_keymap, text, remote, decoded);
}

}  // namespace ir::files::detail
