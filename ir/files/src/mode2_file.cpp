// SPDX-License-Identifier: MIT
// LIRC mode2 text: "pulse N" / "space N" lines (also "timeout N" and "carrier N"), as
// ir-ctl -r --mode2 and LIRC's mode2 write them. Several keys in one file are told apart
// by "# name: REMOTE/KEY" lines; a file without them is one key.
#include <cmath>
#include <cstdlib>

#include "formats.h"
#include "ir/timings.h"
#include "text.h"

namespace ir::files::detail {
namespace {

constexpr std::string_view kNameLine = "# name:";

// parse_mode2() numbers lines from its text's start; `first` is that text's first line.
[[noreturn]] void fail_in_block(const std::string &error, int first) {
    if (starts_with(error, "line ")) {
        const int n = std::atoi(error.c_str() + 5);
        const std::size_t colon = error.find(": ");
        if (n > 0 && colon != std::string::npos) {
            fail(first + n - 1, error.substr(colon + 2));
        }
    }
    fail(first, error);
}

}  // namespace

void read_mode2(std::string_view text, std::string_view remote, CodeFile &out) {
    require_text(text);
    struct Block {
        QualifiedName name;
        int body_line = 1;  // the block's samples start on this line
    };
    std::vector<Block> blocks;
    Lines lines(text);
    Line l;
    while (lines.next(l)) {
        const std::string_view t = trim(l.text);
        if (starts_with(t, kNameLine)) {
            blocks.push_back({split_name(trim(t.substr(kNameLine.size()))), l.number + 1});
        } else if (blocks.empty() && !t.empty() && t.front() != '#') {
            blocks.push_back({{"", "1"}, 1});
        }
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::size_t begin = line_offset(text, blocks[i].body_line);
        const std::size_t end =
            i + 1 < blocks.size() ? line_offset(text, blocks[i + 1].body_line - 1) : text.size();
        const Timings t = parse_mode2(text.substr(begin, end > begin ? end - begin : 0));
        if (!t.ok()) {
            fail_in_block(t.error, blocks[i].body_line);
        }
        Key k = key_from_durations(
            blocks[i].name.key.empty() ? std::to_string(i + 1) : blocks[i].name.key,
            blocks[i].body_line, t.durations_us, t.carrier_hz > 0 ? t.carrier_hz : 38000);
        const std::string &r = blocks[i].name.remote;
        add_key(out, r.empty() ? remote : std::string_view(r), std::move(k));
    }
}

void write_mode2(const CodeFile &file, std::string &out, std::vector<std::string> &) {
    for (const Remote &r : file.remotes) {
        for (const Key &k : r.keys) {
            if (!k.has_signal()) {
                continue;
            }
            out +=
                std::string(kNameLine) + " " + (r.name.empty() ? "" : r.name + "/") + k.name + "\n";
            if (k.signal.carrier_hz > 0) {
                out += "carrier " + std::to_string(std::lround(k.signal.carrier_hz)) + "\n";
            }
            const std::vector<uint32_t> d = stored_durations(k);
            for (std::size_t i = 0; i < d.size(); ++i) {
                out += (i % 2 == 0 ? "pulse " : "space ") + std::to_string(d[i]) + "\n";
            }
        }
    }
}

Insertion append_mode2(std::string_view text, std::string_view remote, const Key &key) {
    if (!text.empty() && text.find(kNameLine) == std::string_view::npos) {
        fail(0, "the file is one capture without '# name:' lines: a key cannot be added to it");
    }
    return append_written(write_mode2, text, remote, key);
}

}  // namespace ir::files::detail
