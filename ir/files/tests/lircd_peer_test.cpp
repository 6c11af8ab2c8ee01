// SPDX-License-Identifier: MIT
// Every remote of Debian's lirc-compat-remotes: read here without error, and every key sent
// here as LIRC's irsimsend sends it (first press and one repeat), within 1 µs a duration.
// irsimsend flips toggle bits from key to key; the expected stream follows it.
#include <gtest/gtest.h>

#include <bit>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ir/files.h"
#include "lircd.h"
#include "peer.h"

namespace {

using namespace ir::files;

constexpr const char *kIrsimsend = "/usr/bin/irsimsend";
constexpr uint32_t kEofBit = 0x08000000;  // irsimsend ends the process on a value with it

struct Item {
    char kind;  // 'p', 's', 'c' (code)
    int64_t value;
    std::string key;
};

// What irsimsend -c 2 writes for a remote: per key the first press and one repeat.
std::vector<Item> expected_stream(const lircd::Remote &r, int &skipped) {
    std::vector<Item> out;
    uint64_t state = 0;
    if (!r.raw() && !r.codes.empty() && r.toggle_bit_mask != 0) {
        state = r.codes.front().codes.front() & r.toggle_bit_mask;
        if (state != 0) {
            state ^= r.toggle_bit_mask;
        }
    }
    std::string last;
    for (std::size_t i = 0; i < r.codes.size(); ++i) {
        const lircd::Code &c = r.codes[i];
        state ^= r.toggle_bit_mask;
        if (r.code_only()) {
            for (int n = 0; n < 2; ++n) {
                const auto v = int32_t(uint32_t(c.codes.front()));
                out.push_back({'c', v, c.name});
                if ((uint32_t(v) & kEofBit) != 0) {
                    return out;
                }
            }
            last = c.name;
            continue;
        }
        const uint64_t first = r.raw() ? 0 : c.codes.front();
        const uint64_t second = r.raw() || c.codes.size() < 2 ? first : c.codes[1];
        const lircd::Frame f = lircd::render(r, first, i, c.name == last, state, false);
        if (c.codes.size() > 1 && f.ok && f.gap < 10000) {
            ++skipped;  // lircd joins such codes into one send
            return out;
        }
        const lircd::Frame again = lircd::render(r, second, i, true, state, true);
        for (const lircd::Frame *frame : {&f, &again}) {
            if (!frame->ok) {
                continue;
            }
            for (std::size_t d = 0; d < frame->durations.size(); ++d) {
                out.push_back({d % 2 == 0 ? 'p' : 's', frame->durations[d], c.name});
            }
            out.push_back({'s', frame->gap, c.name});
        }
        last = c.name;
    }
    return out;
}

std::vector<Item> simsend_output(const std::string &text) {
    std::vector<Item> out;
    std::istringstream in(text);
    std::string word;
    long long value = 0;
    while (in >> word >> value) {
        out.push_back({word == "pulse" ? 'p' : word == "space" ? 's' : 'c', value, {}});
    }
    return out;
}

std::string lines_of(const std::string &text, int from, int to) {
    std::istringstream in(text);
    std::string line, out;
    for (int n = 1; std::getline(in, line); ++n) {
        if (n >= from && n <= to) {
            out += line + "\n";
        }
    }
    return out;
}

TEST(LircdPeer, CompatRemotesSendAsIrsimsendSendsThem) {
    const std::vector<std::string> paths = peer::compat_remotes();
    if (paths.empty() || !peer::installed(kIrsimsend)) {
        GTEST_SKIP() << "needs Debian's lirc and lirc-compat-remotes";
    }
    peer::TempDir dir;
    int remotes = 0, keys = 0, timed = 0, code_only = 0, durations = 0, skipped = 0;
    for (const std::string &path : paths) {
        const std::string text = peer::slurp(path);
        const ReadResult read_back = read(text, Format::Lircd, path);
        ASSERT_TRUE(read_back.ok()) << read_back.error;
        const lircd::Parsed parsed = lircd::parse(text);
        for (const lircd::Remote &r : parsed.remotes) {
            ++remotes;
            std::ofstream(dir.file("remote.conf")) << lines_of(text, r.line, r.end_line);
            std::filesystem::remove(dir.file("simsend.out"));
            const peer::Run run = peer::run({kIrsimsend, "-c", "2", "remote.conf"}, dir.path());
            ASSERT_FALSE(run.timed_out) << path << " " << r.name;
            const std::vector<Item> got = simsend_output(peer::slurp(dir.file("simsend.out")));
            const std::vector<Item> want = expected_stream(r, skipped);
            const std::size_t n = std::min(got.size(), want.size());
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_TRUE(got[i].kind == want[i].kind &&
                            std::llabs(got[i].value - want[i].value) <= 1)
                    << path << " remote " << r.name << " key " << want[i].key << " item " << i
                    << ": irsimsend " << got[i].kind << " " << got[i].value << ", here "
                    << want[i].kind << " " << want[i].value;
            }
            ASSERT_EQ(got.size(), want.size()) << path << " remote " << r.name;
            std::string seen;
            for (const Item &item : want) {
                if (item.key != seen) {
                    ++keys;
                    seen = item.key;
                    ++(item.kind == 'c' ? code_only : timed);
                }
                durations += item.kind == 'c' ? 0 : 1;
            }
        }
    }
    std::printf(
        "compared %zu files, %d remotes, %d keys (%d with timings, %d code only), "
        "%d durations; %d keys not compared\n",
        paths.size(), remotes, keys, timed, code_only, durations, skipped);
    EXPECT_GT(timed, 1000);
}

}  // namespace
