// SPDX-License-Identifier: MIT
// Raw signed microseconds: "+9024 -4512 ... +564 -40000", a key a line ("REMOTE/KEY: ..."),
// or a capture over several lines (until a blank line).
#include <cctype>

#include "formats.h"
#include "ir/timings.h"
#include "text.h"

namespace ir::files::detail {
namespace {

bool bare(std::string_view line) {
    const char c = line.front();
    return c == '+' || c == '-' || std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool continues(std::string_view, std::string_view line) {
    return bare(line);
}

}  // namespace

void read_raw(std::string_view text, std::string_view remote, CodeFile &out) {
    add_named_codes(read_named_lines(text, bare, continues), remote, out,
                    [](const std::string &code) {
                        const Timings t = parse_raw_timings(code);
                        if (!t.ok()) {
                            fail(0, t.error);
                        }
                        return key_from_durations({}, 0, t.durations_us, 38000);
                    });
}

void write_raw(const CodeFile &file, std::string &out, std::vector<std::string> &) {
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            if (!k.has_signal()) {
                continue;
            }
            out += line_name(r, k);
            const std::vector<uint32_t> d = stored_durations(k);
            for (std::size_t i = 0; i < d.size(); ++i) {
                out += (i == 0 ? "+" : i % 2 == 0 ? " +" : " -") + std::to_string(d[i]);
            }
            out += "\n";
        }
    }
}

Insertion append_raw(std::string_view text, std::string_view remote, const Key &key) {
    return append_written(write_raw, text, remote, key);
}

}  // namespace ir::files::detail
