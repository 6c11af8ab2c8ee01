// SPDX-License-Identifier: MIT
// lircd.conf files written here, given to LIRC's lircd (its file driver, a private socket):
// lircd takes every remote, and irsend SEND_ONCE of every key makes lircd send what the key
// holds. Keys are codes of every protocol, and remotes of Debian's lirc-compat-remotes read
// and written again. lircd flips toggle bits from send to send; the expected durations
// follow it, and the key itself is sent as written when the toggle is as it was written.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "ir/files.h"
#include "lircd.h"
#include "peer.h"
#include "protocol_test_util.h"

namespace {

using namespace ir::files;

constexpr const char *kIrsend = "/usr/bin/irsend";
constexpr const char *kLircd = "/usr/sbin/lircd";

std::vector<uint32_t> frames_of(const lircd::Remote &r, const lircd::Code &c, uint64_t state) {
    std::vector<uint32_t> out;
    const uint64_t code = r.raw() ? 0 : c.codes.front();
    const std::size_t index = std::size_t(&c - r.codes.data());
    for (int n = 0; n <= r.min_repeat; ++n) {
        const lircd::Frame f = lircd::render(r, code, index, n > 0, state, n % 2 == 1);
        EXPECT_TRUE(f.ok) << r.name << " " << c.name << ": " << f.why;
        out.insert(out.end(), f.durations.begin(), f.durations.end());
        out.push_back(f.gap);
    }
    return out;
}

CodeFile exported_remotes() {
    CodeFile file;
    for (std::size_t i = 0; i < ir::protocols::all().size(); ++i) {
        const ir::protocols::ProtocolInfo &p = ir::protocols::all()[i];
        std::mt19937 rng(std::hash<std::string_view>{}(p.name) + i);
        Remote r;
        r.name = "v_" + prototest::test_name(i);
        for (int k = 0; k < 3; ++k) {
            const auto e = ir::protocols::encode(p, prototest::random_params(p, rng));
            r.keys.push_back({"KEY_" + std::to_string(k), e.signal, {}, {}, 0});
        }
        file.remotes.push_back(std::move(r));
    }
    for (const std::string &path : peer::compat_remotes()) {
        ReadResult read = read_file(path, Format::Lircd);
        for (Remote &r : read.file.remotes) {
            if (file.remotes.size() < ir::protocols::all().size() + 12 && !r.keys.empty() &&
                r.keys.front().has_signal()) {
                r.keys.resize(std::min<std::size_t>(r.keys.size(), 3));
                r.name = "c" + std::to_string(file.remotes.size()) + "_" + r.name;
                file.remotes.push_back(std::move(r));
            }
        }
    }
    return file;
}

TEST(LircdExport, LircdSendsEveryKeyAsWritten) {
    if (!peer::installed(kLircd) || !peer::installed(kIrsend)) {
        GTEST_SKIP() << "needs Debian's lirc";
    }
    peer::TempDir dir;
    const CodeFile file = exported_remotes();
    const WriteResult w = write(file, Format::Lircd);
    ASSERT_TRUE(w.ok()) << w.error;
    std::ofstream(dir.file("export.conf")) << w.text;
    const lircd::Parsed parsed = lircd::parse(w.text);
    ASSERT_EQ(parsed.remotes.size(), file.remotes.size());

    peer::Lircd lircd(dir.path(), dir.file("export.conf"), dir.file("sent.txt"));
    ASSERT_TRUE(lircd.ready()) << peer::slurp(dir.file("lircd.log"));
    std::vector<uint32_t> expected;
    int keys = 0, parametric = 0, as_written = 0;
    for (std::size_t i = 0; i < parsed.remotes.size(); ++i) {
        const lircd::Remote &r = parsed.remotes[i];
        parametric += r.raw() ? 0 : 1;
        uint64_t state = 0;
        if (!r.raw() && !r.codes.empty() && r.toggle_bit_mask != 0) {
            state = r.codes.front().codes.front() & r.toggle_bit_mask;
            state ^= state != 0 ? r.toggle_bit_mask : 0;
        }
        for (const lircd::Code &c : r.codes) {
            state ^= r.toggle_bit_mask;
            const peer::Run run =
                peer::run({kIrsend, "-d", lircd.socket(), "SEND_ONCE", r.name, c.name}, dir.path());
            ASSERT_EQ(run.status, 0)
                << r.name << " " << c.name << ": " << peer::slurp(dir.file("out.txt"));
            const std::vector<uint32_t> f = frames_of(r, c, state);
            expected.insert(expected.end(), f.begin(), f.end());
            ++keys;
            // The key as written: what it held before it was exported.
            const Key back = lircd::key_of(r, c);
            const Key &source = file.remotes[i].keys[std::size_t(&c - r.codes.data())];
            // (A raw remote repeats its code whole: once and repeat part as one sequence.)
            auto parts = [&](const ir::Signal &s) {
                std::vector<ir::Burst> all = s.once;
                all.insert(all.end(), s.repeat.begin(), s.repeat.end());
                return r.raw() ? std::vector<std::vector<ir::Burst>>{all}
                               : std::vector<std::vector<ir::Burst>>{s.once, s.repeat};
            };
            // (Keys of a constant length may see their gap move by the format's resolution.)
            const auto a = parts(back.signal), b = parts(source.signal);
            const uint32_t tolerance = info(Format::Lircd).resolution_us;
            bool close = a.size() == b.size();
            for (std::size_t p = 0; close && p < a.size(); ++p) {
                close =
                    a[p].size() == b[p].size() &&
                    std::equal(a[p].begin(), a[p].end(), b[p].begin(),
                               [&](const ir::Burst &x, const ir::Burst &y) {
                                   return std::max(x.on_us, y.on_us) - std::min(x.on_us, y.on_us) <=
                                              tolerance &&
                                          std::max(x.off_us, y.off_us) -
                                                  std::min(x.off_us, y.off_us) <=
                                              tolerance;
                               });
            }
            EXPECT_TRUE(close) << r.name << " " << c.name;
            as_written +=
                state == lircd::written_toggle_state(r, r.raw() ? 0 : c.codes.front()) ? 1 : 0;
        }
    }
    std::istringstream sent(peer::slurp(dir.file("sent.txt")));
    std::vector<uint32_t> got;
    std::string word;
    uint32_t value = 0;
    while (sent >> word >> value) {
        got.push_back(value);
    }
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_LE(std::max(got[i], expected[i]) - std::min(got[i], expected[i]), 1u)
            << "duration " << i;
    }
    std::printf(
        "lircd sent %d keys of %zu exported remotes (%d parametric), %zu durations; %d "
        "with the toggle as written\n",
        keys, parsed.remotes.size(), parametric, got.size(), as_written);
}

}  // namespace
