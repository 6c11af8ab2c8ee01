// SPDX-License-Identifier: MIT
// Flipper Zero .ir files: a header, then entries separated by '#' lines, each "parsed"
// (a protocol the firmware names, with address and command as little-endian byte dumps)
// or "raw" (frequency, duty cycle and µs timings starting with a mark; the firmware's own
// captures end with the gap after the last mark).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

#include "formats.h"
#include "ir/timings.h"
#include "text.h"

namespace ir::files::detail {
namespace {

using protocols::Param;
using Params = std::vector<Param>;

// A protocol as the firmware names it, and its fields as parameters. The firmware stores
// address and command as little-endian bytes. Its conventions, checked against captures of
// the same remotes (ir/protocols' reference tests): NEC: D, S = ~D. NECext: D, S = the
// address bytes; F = the command's low byte when its high byte is its complement or 0,
// else F:16 (NEC1-f16); an 8-bit command is written with the high byte 0, as Flipper-IRDB
// holds them. Samsung32: NECx1 with S = D. NEC42: D = the 13-bit address.
// RC5X: RC5 with the command's bit 6 set. SIRC20: D the low 5 address bits, S the high 8.
// Kaseikyo: address bytes genre (two nibbles), vendor low, vendor high, id; a 10-bit
// command; vendor 0x2002 is Panasonic, 0x3254 Denon-K.
struct Row {
    std::string_view flipper;
    std::string_view protocol;  // as ir::protocols names it
    // The parameters of the fields; nullopt when they are out of this protocol's range.
    std::optional<Params> (*params)(uint32_t address, uint32_t command);
    // The fields of a decode of `protocol`; reading them back must give the decode's
    // parameters, or the key is written raw.
    std::pair<uint32_t, uint32_t> (*fields)(const protocols::Decode &d);
};

uint32_t p(const protocols::Decode &d, std::string_view name) {
    return uint32_t(d.param(name).value_or(0));
}

uint32_t byte(uint32_t v, int i) {
    return (v >> (8 * i)) & 0xFF;
}

std::optional<Params> fits(bool ok, Params params) {
    return ok ? std::optional(std::move(params)) : std::nullopt;
}

const std::vector<Row> &rows() {
    static const std::vector<Row> kRows = {
        {"NEC", "NEC1",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0xFF && c <= 0xFF, {{"D", a}, {"S", ~a & 0xFF}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"NECext", "NEC1",
         [](uint32_t a, uint32_t c) {
             const bool eight = byte(c, 1) == 0 || byte(c, 1) == (~c & 0xFF);
             return fits(a <= 0xFFFF && c <= 0xFFFF && eight,
                         {{"D", byte(a, 0)}, {"S", byte(a, 1)}, {"F", byte(c, 0)}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D") | p(d, "S") << 8, p(d, "F")};
         }},
        {"NECext", "NEC1-f16",
         [](uint32_t a, uint32_t c) {
             const bool eight = byte(c, 1) == 0 || byte(c, 1) == (~c & 0xFF);
             return fits(a <= 0xFFFF && c <= 0xFFFF && !eight,
                         {{"D", byte(a, 0)}, {"S", byte(a, 1)}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D") | p(d, "S") << 8, p(d, "F")};
         }},
        {"Samsung32", "NECx1",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0xFF && c <= 0xFF, {{"D", a}, {"S", a}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"NEC42", "NEC42",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0x1FFF && c <= 0xFF, {{"D", a}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"Pioneer", "Pioneer",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0xFF && c <= 0xFF, {{"D", a}, {"S", ~a & 0xFF}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"RC5", "RC5",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0x1F && c <= 0x3F, {{"D", a}, {"F", c}, {"T", 0}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"RC5X", "RC5",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0x1F && c <= 0x3F, {{"D", a}, {"F", c | 64}, {"T", 0}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F") & 0x3F};
         }},
        {"RC6", "RC6",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0xFF && c <= 0xFF, {{"D", a}, {"F", c}, {"T", 0}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"SIRC", "Sony12",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0x1F && c <= 0x7F, {{"D", a}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"SIRC15", "Sony15",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0xFF && c <= 0x7F, {{"D", a}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"SIRC20", "Sony20",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0x1FFF && c <= 0x7F, {{"D", a & 0x1F}, {"S", a >> 5}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D") | p(d, "S") << 5, p(d, "F")};
         }},
        {"RCA", "RCA",
         [](uint32_t a, uint32_t c) {
             return fits(a <= 0xF && c <= 0xFF, {{"D", a}, {"F", c}});
         },
         [](const protocols::Decode &d) {
             return std::pair{p(d, "D"), p(d, "F")};
         }},
        {"Kaseikyo", "Panasonic",
         [](uint32_t a, uint32_t c) {
             const uint32_t genre1 = byte(a, 0) >> 4, genre2 = byte(a, 0) & 0xF;
             const bool ours = (byte(a, 1) | byte(a, 2) << 8) == 0x2002 && c <= 0x3FF;
             return fits(ours, {{"D", genre1 << 4},
                                {"S", genre2 | (c & 0xF) << 4},
                                {"F", (c >> 4) | byte(a, 3) << 6}});
         },
         [](const protocols::Decode &d) {
             const uint32_t genre = (p(d, "D") & 0xF0) | (p(d, "S") & 0xF);
             return std::pair{genre | 0x02u << 8 | 0x20u << 16 | (p(d, "F") >> 6) << 24,
                              (p(d, "S") >> 4) | (p(d, "F") & 0x3F) << 4};
         }},
        {"Kaseikyo", "Denon-K",
         [](uint32_t a, uint32_t c) {
             const bool ours = (byte(a, 1) | byte(a, 2) << 8) == 0x3254 && c <= 0x3FF;
             return fits(
                 ours,
                 {{"D", byte(a, 0) >> 4}, {"S", byte(a, 0) & 0xF}, {"F", c | byte(a, 3) << 10}});
         },
         [](const protocols::Decode &d) {
             return std::pair{(p(d, "D") << 4 | (p(d, "S") & 0xF)) | 0x54u << 8 | 0x32u << 16 |
                                  (p(d, "F") >> 10) << 24,
                              p(d, "F") & 0x3FF};
         }},
    };
    return kRows;
}

bool same_params(const Params &a, const Params &b) {
    return a.size() == b.size() && std::all_of(a.begin(), a.end(), [&](const Param &x) {
               return std::find(b.begin(), b.end(), x) != b.end();
           });
}

std::string hex2(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X %02X %02X %02X", v & 0xFF, (v >> 8) & 0xFF,
                  (v >> 16) & 0xFF, v >> 24);
    return buf;
}

uint32_t bytes_le(std::string_view value, int line) {
    const std::vector<std::string_view> w = words(value);
    if (w.empty() || w.size() > 4) {
        fail(line, shown(value) + " is not 1 to 4 hex bytes");
    }
    uint32_t v = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        const auto b = w[i].size() == 2 ? c_number("0x" + std::string(w[i])) : std::nullopt;
        if (!b) {
            fail(line, shown(w[i]) + " is not a hex byte");
        }
        v |= uint32_t(*b) << (8 * i);
    }
    return v;
}

struct Entry {
    std::string name;
    int line = 0;
    std::string type, protocol, address, command, frequency, duty_cycle;
    int address_line = 0, command_line = 0, frequency_line = 0, duty_line = 0;
    std::vector<uint32_t> data;
};

Key key_of(const Entry &e, std::vector<std::string> &warnings) {
    Key k;
    k.name = e.name;
    k.line = e.line;
    if (e.type == "parsed") {
        if (e.protocol.empty() || e.address.empty() || e.command.empty()) {
            fail(e.line, e.name + ": a parsed entry needs protocol, address and command");
        }
        const uint32_t a = bytes_le(e.address, e.address_line),
                       c = bytes_le(e.command, e.command_line);
        auto unusable = [&](std::string why) {
            k.note = why;
            warnings.push_back(std::to_string(e.line) + ": " + e.name + ": " + why);
            return k;
        };
        bool named = false;
        for (const Row &row : rows()) {
            const protocols::ProtocolInfo *info = protocols::find(row.protocol);
            if (row.flipper != e.protocol || info == nullptr) {
                continue;
            }
            named = true;
            const std::optional<Params> params = row.params(a, c);
            if (!params) {
                continue;
            }
            const protocols::EncodeResult enc = protocols::encode(*info, *params);
            if (!enc.ok()) {
                return unusable(enc.error);
            }
            k.signal = enc.signal;
            return k;
        }
        if (!named) {
            return unusable("protocol " + shown(e.protocol) + " is not known here");
        }
        return unusable(e.protocol + " address " + hex2(a) + " or command " + hex2(c) +
                        " is out of range");
    }
    if (e.type == "raw") {
        if (e.data.empty() || e.frequency.empty()) {
            fail(e.line, e.name + ": a raw entry needs frequency and data");
        }
        const auto hz = decimal(e.frequency);
        if (!hz || *hz < 1000 || *hz > 1000000) {
            fail(e.frequency_line, "frequency " + shown(e.frequency) + " is not in Hz");
        }
        k = key_from_durations(e.name, e.line, e.data, double(*hz));
        k.stored_raw = true;
        if (!e.duty_cycle.empty()) {
            const auto duty = decimal_fraction(e.duty_cycle);
            if (!duty || *duty > 1) {
                fail(e.duty_line, "duty_cycle " + shown(e.duty_cycle) + " is not from 0 to 1");
            }
            const long percent = std::lround(*duty * 100);
            if (percent >= 1 && percent <= 99) {
                k.signal.duty_cycle = uint8_t(percent);
            }
        }
        return k;
    }
    fail(e.line, e.name + ": type " + shown(e.type) + " is neither parsed nor raw");
}

}  // namespace

void read_flipper(std::string_view text, std::string_view remote, CodeFile &out) {
    require_text(text);
    Lines lines(text);
    Line l;
    bool header = false;
    Entry e;
    bool open = false;  // an entry is being read
    auto flush = [&] {
        if (open) {
            add_key(out, remote, key_of(e, out.warnings));
            e = Entry{};
            open = false;
        }
    };
    while (lines.next(l)) {
        const std::string_view t = trim(l.text);
        if (t.empty() || t.front() == '#') {
            continue;
        }
        const std::size_t colon = t.find(':');
        if (colon == std::string_view::npos) {
            fail(l.number, shown(t) + " is not 'key: value'");
        }
        const std::string_view key = trim(t.substr(0, colon)), value = trim(t.substr(colon + 1));
        if (!header) {
            if (key != "Filetype" || (value != "IR signals file" && value != "IR library file")) {
                fail(l.number,
                     "not a Flipper infrared file ('Filetype: IR signals file' expected)");
            }
            header = true;
            continue;
        }
        if (key == "Version") {
            if (value != "1") {
                fail(l.number, "version " + shown(value) + " (1 expected)");
            }
        } else if (key == "name") {
            flush();
            open = true;
            e.name = std::string(value);
            e.line = l.number;
        } else if (!open) {
            fail(l.number, shown(key) + " before the first 'name:'");
        } else if (key == "type") {
            e.type = value;
        } else if (key == "protocol") {
            e.protocol = value;
        } else if (key == "address") {
            e.address = value;
            e.address_line = l.number;
        } else if (key == "command") {
            e.command = value;
            e.command_line = l.number;
        } else if (key == "frequency") {
            e.frequency = value;
            e.frequency_line = l.number;
        } else if (key == "duty_cycle") {
            e.duty_cycle = value;
            e.duty_line = l.number;
        } else if (key == "data") {
            for (std::string_view w : words(value)) {
                const auto v = decimal(w);
                if (!v || *v == 0 || *v > kMaxDurationUs) {
                    fail(l.number, shown(w) + " is not a duration in µs");
                }
                if (e.data.size() >= kMaxTimings) {
                    fail(l.number, "more than " + std::to_string(kMaxTimings) + " timings");
                }
                e.data.push_back(uint32_t(*v));
            }
        } else {
            out.warnings.push_back(std::to_string(l.number) + ": " + shown(key) + " ignored");
        }
    }
    if (!header) {
        fail(0, "the file is empty ('Filetype: IR signals file' expected)");
    }
    flush();
}

namespace {

void write_entry(const Remote &r, const Key &k, bool several, std::string &out,
                 std::vector<std::string> &warnings) {
    out += "#\nname: " + (several ? r.name + "/" : "") + k.name + "\n";
    if (k.decode && k.decode->complete && !k.stored_raw) {
        for (const Row &row : rows()) {
            if (row.protocol != k.decode->protocol->name) {
                continue;
            }
            const auto [address, command] = row.fields(*k.decode);
            const std::optional<Params> back = row.params(address, command);
            if (back && same_params(*back, k.decode->params)) {
                out += "type: parsed\nprotocol: " + std::string(row.flipper) +
                       "\naddress: " + hex2(address) + "\ncommand: " + hex2(command) + "\n";
                return;
            }
        }
    }
    const std::vector<uint32_t> d = stored_durations(k);  // the gap too, as Flipper learns
    if (d.size() > 1024) {
        warnings.push_back(r.name + "/" + k.name + ": " + std::to_string(d.size()) +
                           " timings; Flipper's app takes at most 1024");
    }
    char duty[32];
    std::snprintf(duty, sizeof duty, "%.6f", k.signal.duty_cycle.value_or(33) / 100.0);
    out += "type: raw\nfrequency: " + std::to_string(std::lround(k.signal.carrier_hz)) +
           "\nduty_cycle: " + duty + "\ndata:";
    for (uint32_t v : d) {
        out += " " + std::to_string(v);
    }
    out += "\n";
}

}  // namespace

void write_flipper(const CodeFile &file, std::string &out, std::vector<std::string> &warnings) {
    const bool several = file.remotes.size() > 1;
    if (several) {
        warnings.push_back("a Flipper file holds one remote: keys are named REMOTE/KEY");
    }
    out += "Filetype: IR signals file\nVersion: 1\n";
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            if (k.has_signal()) {
                write_entry(r, k, several, out, warnings);
            }
        }
    }
}

Insertion append_flipper(std::string_view text, std::string_view remote, const Key &key) {
    std::vector<std::string> warnings;
    Key decoded = key;
    if (!decoded.decode) {
        std::vector<protocols::Decode> d = protocols::decode(key.signal);
        if (!d.empty() && d.front().complete) {
            decoded.decode = d.front();
        }
    }
    std::string entry = text.empty() ? "Filetype: IR signals file\nVersion: 1\n" : "";
    write_entry({std::string(remote), nullptr, 0, {}}, decoded, false, entry, warnings);
    return {text.size(), (text.empty() || text.back() == '\n' ? "" : "\n") + entry};
}

}  // namespace ir::files::detail
