// SPDX-License-Identifier: MIT
// Global Caché sendir commands: "sendir,MODULE:CONNECTOR,ID,FREQUENCY,REPEAT,OFFSET,ON,OFF,..."
// with durations in carrier periods; the sequence is sent once, then from OFFSET (the
// 1-based index of an on time) to its end REPEAT - 1 more times. One a line, bare or as
// "REMOTE/KEY: sendir,...".
#include <algorithm>
#include <cmath>

#include "formats.h"
#include "ir/timings.h"
#include "text.h"

namespace ir::files::detail {
namespace {

constexpr std::string_view kCommand = "sendir,";

bool bare(std::string_view line) {
    return starts_with(line, kCommand);
}

uint64_t field(std::string_view token, std::string_view what, uint64_t min, uint64_t max) {
    const auto v = decimal(trim(token));
    if (!v || *v < min || *v > max) {
        fail(0, std::string(what) + " " + shown(token) + " is not a number from " +
                    std::to_string(min) + " to " + std::to_string(max));
    }
    return *v;
}

Signal parse(const std::string &code) {
    if (!starts_with(code, kCommand)) {
        fail(0, shown(code.substr(0, 16)) + " is not a sendir command");
    }
    std::vector<std::string_view> f;
    std::string_view rest(code);
    while (true) {
        const std::size_t comma = rest.find(',');
        f.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(comma + 1);
    }
    if (f.size() < 8) {
        fail(0, "sendir needs module:connector, id, frequency, repeat, offset and durations");
    }
    const uint64_t hz = field(f[3], "frequency", 15000, 500000);
    const uint64_t repeat = field(f[4], "repeat", 1, 50);
    const std::size_t count = f.size() - 6;
    if (count % 2 != 0) {
        fail(0, std::to_string(count) + " durations: on and off times come in pairs");
    }
    if (count > kMaxTimings) {
        fail(0, "more than " + std::to_string(kMaxTimings) + " durations");
    }
    const uint64_t offset = field(f[5], "offset", 1, count - 1);
    if (offset % 2 == 0) {
        fail(0, "offset " + std::to_string(offset) + " is not an on time (odd) index");
    }
    Signal s;
    s.carrier_hz = double(hz);
    std::vector<Burst> all;
    for (std::size_t i = 6; i < f.size(); i += 2) {
        const auto us = [&](std::string_view t) {
            return uint32_t(std::lround(double(field(t, "duration", 1, 65535)) * 1e6 / double(hz)));
        };
        all.push_back({us(f[i]), us(f[i + 1])});
    }
    // Offset 1 with one send is how most sendir codes are written: nothing is told apart
    // for holding, the code is sent whole (as a signal of only a once part is).
    const std::size_t intro = offset == 1 && repeat == 1 ? all.size() : std::size_t(offset - 1) / 2;
    s.once.assign(all.begin(), all.begin() + long(intro));
    s.repeat.assign(all.begin() + long(intro), all.end());
    // REPEAT sends: the intro once, the repeat part REPEAT times at least.
    for (uint64_t i = 1; i < repeat; ++i) {
        s.once.insert(s.once.end(), s.repeat.begin(), s.repeat.end());
    }
    return s;
}

}  // namespace

void read_gc(std::string_view text, std::string_view remote, CodeFile &out) {
    add_named_codes(read_named_lines(text, bare, nullptr), remote, out, parse);
}

void write_gc(const CodeFile &file, std::string &out, std::vector<std::string> &warnings) {
    int id = 0;
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            if (!k.has_signal()) {
                continue;
            }
            double hz = k.signal.carrier_hz;
            if (hz < 15000 || hz > 500000) {
                warnings.push_back(r.name + "/" + k.name + ": carrier " + number_text(hz) +
                                   " Hz is outside Global Caché's 15 to 500 kHz: sent at 38 kHz");
                hz = 38000;
            }
            const long freq = std::lround(hz);
            std::string line = line_name(r, k) + "sendir,1:1," + std::to_string(++id % 65536) +
                               "," + std::to_string(freq) + ",1," +
                               std::to_string(k.signal.once.empty() || k.signal.repeat.empty()
                                                  ? 1
                                                  : 2 * k.signal.once.size() + 1);
            bool clamped = false;
            for (const uint32_t us : sent_once(k.signal)) {
                long periods = std::lround(double(us) * double(freq) / 1e6);
                clamped = clamped || periods < 1 || periods > 65535;
                periods = std::clamp(periods, 1L, 65535L);
                line += "," + std::to_string(periods);
            }
            if (clamped) {
                warnings.push_back(r.name + "/" + k.name +
                                   ": a duration out of sendir's 1 to 65535 periods");
            }
            out += line + "\n";
        }
    }
}

Insertion append_gc(std::string_view text, std::string_view remote, const Key &key) {
    return append_written(write_gc, text, remote, key);
}

}  // namespace ir::files::detail
