// SPDX-License-Identifier: MIT
// Files other tools wrote: ir-keytable's keymaps, pronto2lirc's lircd.conf and Flipper-IRDB's
// .ir files, read here and compared with what those tools mean by them. The tests that need
// a Debian package skip where it is not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ir/files.h"
#include "ir/pronto.h"
#include "peer.h"
#include "protocol_test_util.h"

namespace {

using namespace ir::files;

// Every keymap ir-keytable ships: read without error, and every key that decodes to a kernel
// protocol decodes back to the scancode the keymap gives it (the others are BPF protocols).
TEST(Peers, KeytableKeymapsReadAndDecodeToTheirScancodes) {
    const std::string folder = "/lib/udev/rc_keymaps";
    if (!std::filesystem::is_directory(folder)) {
        GTEST_SKIP() << "needs Debian's ir-keytable";
    }
    int files = 0, keys = 0, timed = 0, kernel = 0;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        const std::string text = peer::slurp(entry.path().string());
        ReadResult r = read(text, Format::Keymap, entry.path().string());
        ASSERT_TRUE(r.ok()) << r.error;
        ++files;
        decode_keys(r.file);
        for (const Remote &remote : r.file.remotes) {
            for (const Key &k : remote.keys) {
                ++keys;
                if (!k.has_signal()) {
                    continue;
                }
                ++timed;
                if (!k.decode || !k.decode->kernel) {
                    continue;
                }
                ++kernel;
                std::istringstream in(text);
                std::string line;
                for (int n = 0; n < k.line; ++n) {
                    std::getline(in, line);
                }
                EXPECT_EQ(std::strtoull(line.c_str(), nullptr, 0), k.decode->kernel->scancode)
                    << entry.path() << ":" << k.line << " " << k.name << " "
                    << k.decode->kernel->text();
            }
        }
    }
    std::printf("read %d keymaps, %d keys (%d with timings, %d of a kernel protocol)\n", files,
                keys, timed, kernel);
    EXPECT_GT(kernel, 500);
}

// pronto2lirc turns "NAME:CODE" lines into a raw lircd.conf: read here, its keys send what
// the Pronto codes hold (pronto2lirc drops fractions of a µs and the carrier, and gives the
// remote one gap: the last gap is left out of the comparison).
TEST(Peers, Pronto2lircWritesWhatTheProntoCodesHold) {
    if (!peer::installed("/usr/bin/pronto2lirc")) {
        GTEST_SKIP() << "needs Debian's lirc";
    }
    CodeFile codes;
    codes.remotes.push_back({"", nullptr, 0, {}});
    for (std::size_t i = 0; i < ir::protocols::all().size(); ++i) {
        const ir::protocols::ProtocolInfo &p = ir::protocols::all()[i];
        std::vector<ir::protocols::Param> params;
        for (const ir::protocols::ParamInfo &info : p.params) {
            params.push_back(
                {info.name, info.fixed ? std::stoull(std::string(info.fallback)) : info.max / 3});
        }
        const auto e = ir::protocols::encode(p, params);
        ASSERT_TRUE(e.ok()) << p.name << ": " << e.error;
        codes.remotes.front().keys.push_back({prototest::test_name(i), e.signal, {}, {}, 0});
    }
    peer::TempDir dir;
    const WriteResult pronto = write(codes, Format::Pronto);
    ASSERT_TRUE(pronto.ok()) << pronto.error;
    std::ofstream(dir.file("codes.txt")) << pronto.text;
    const ReadResult ours = read(pronto.text, Format::Pronto, "codes.txt");
    ASSERT_TRUE(ours.ok()) << ours.error;
    const peer::Run run = peer::run({"/usr/bin/pronto2lirc", "codes.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << peer::slurp(dir.file("out.txt"));
    const ReadResult theirs = read_file(dir.file("lircd.conf"));
    ASSERT_TRUE(theirs.ok()) << theirs.error;
    int compared = 0;
    for (const Key &want : ours.file.remotes.front().keys) {
        std::string why;
        const Key *got = find_key(theirs.file, "", want.name, why);
        ASSERT_NE(got, nullptr) << why;
        std::vector<uint32_t> a, b;
        for (const auto *s : {&want.signal, &got->signal}) {
            auto &d = s == &want.signal ? a : b;
            for (const auto *part : {&s->once, &s->repeat}) {
                for (const ir::Burst &burst : *part) {
                    d.push_back(burst.on_us);
                    d.push_back(burst.off_us);
                }
            }
            d.pop_back();
        }
        ASSERT_EQ(a.size(), b.size()) << want.name;
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_LE(std::abs(int64_t(a[i]) - int64_t(b[i])), 1) << want.name << " duration " << i;
        }
        ++compared;
    }
    EXPECT_EQ(compared, int(ir::protocols::all().size()));
}

// A sample of Flipper-IRDB (tests/data/flipper_sample.ir): every entry reads; written again,
// the parsed entries of protocols known here come back with the same protocol, address and
// command, and raw ones with the same timings.
TEST(Peers, FlipperEntriesWriteBackAsTheFirmwareStoresThem) {
    const std::string path = std::string(KRVX_FILES_TEST_DATA) + "/flipper_sample.ir";
    const std::string text = peer::slurp(path);
    const ReadResult r = read(text, Format::Flipper, path);
    ASSERT_TRUE(r.ok()) << r.error;
    const WriteResult w = write(r.file, Format::Flipper);
    ASSERT_TRUE(w.ok()) << w.error;
    // Each entry as its lines after "name:", entry by entry.
    auto entries = [](const std::string &t) {
        std::vector<std::string> out;
        std::istringstream in(t);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("name: ", 0) == 0) {
                out.push_back("");
            }
            if (!out.empty() && line.rfind("#", 0) != 0) {
                out.back() += line + "\n";
            }
        }
        return out;
    };
    const std::vector<std::string> read_entries = entries(text), written = entries(w.text);
    std::size_t usable = 0, same = 0;
    for (const Key &k : r.file.remotes.front().keys) {
        usable += k.has_signal() ? 1 : 0;
    }
    for (const std::string &e : read_entries) {
        same += std::find(written.begin(), written.end(), e) != written.end() ? 1 : 0;
    }
    EXPECT_EQ(written.size(), usable);
    EXPECT_EQ(same, usable) << w.text;
}

}  // namespace
