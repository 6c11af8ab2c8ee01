// SPDX-License-Identifier: MIT
// Files on disk: telling a file's format, refusing what is too large or not there, finding
// a key, and adding a learned key to a file of each format without touching the rest of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "ir/files.h"
#include "peer.h"

namespace {

using namespace ir::files;

Key protocol_key(const std::string &name, const std::string &code) {
    const ir::protocols::EncodeResult e = ir::protocols::encode(code);
    EXPECT_TRUE(e.ok()) << e.error;
    return {name, e.signal, {}, {}, 0};
}

std::string decode_of(const CodeFile &file, const std::string &remote, const std::string &key) {
    CodeFile f = file;
    decode_keys(f);
    std::string why;
    const Key *k = find_key(f, remote, key, why);
    return k == nullptr ? why : k->decode ? k->decode->text() : "no decode";
}

TEST(Files, FormatFromTheNameElseFromTheFirstLines) {
    const std::pair<const char *, const char *> named[] = {{"/x/lircd.conf.samsung", "lircd"},
                                                           {"tv.conf", "lircd"},
                                                           {"tv.ir", "flipper"},
                                                           {"codes.json", "broadlink"},
                                                           {"tv.gc", "gc"},
                                                           {"tv.h", "irremote"},
                                                           {"a.raw", "raw"},
                                                           {"a.mode2", "mode2"},
                                                           {"rc6_mce.toml", "keymap"},
                                                           {"a.pronto", "pronto"}};
    for (const auto &[path, format] : named) {
        const auto f = guess_format(path, "");
        ASSERT_TRUE(f.has_value()) << path;
        EXPECT_EQ(info(*f).name, format) << path;
    }
    const std::pair<const char *, const char *> contents[] = {
        {"# x\nbegin remote\n", "lircd"},
        {"Filetype: IR signals file\n", "flipper"},
        {"\n{\"data\": {}}", "broadlink"},
        {"JgAJABAgAAEsEAANBQAAAA==\n", "broadlink"},
        {"sendir,1:1,1,38000,1,1,1,1\n", "gc"},
        {"uint16_t raw[2] = {1, 2};\n", "irremote"},
        {"+9000 -4500 +560\n", "raw"},
        {"pulse 9000\nspace 4500\n", "mode2"},
        {"[[protocols]]\n", "keymap"},
        {"power: 0000 006C 0000 0001 0010 0010\n", "pronto"}};
    for (const auto &[text, format] : contents) {
        const auto f = guess_format("codes.txt", text);
        ASSERT_TRUE(f.has_value()) << text;
        EXPECT_EQ(info(*f).name, format) << text;
    }
    EXPECT_FALSE(guess_format("notes.txt", "hello world").has_value());
}

TEST(Files, LargeMissingAndFolderPathsAreRefusedBeforeReading) {
    peer::TempDir dir;
    const std::string big = dir.file("big.conf");
    {
        std::ofstream(big) << "";
        std::filesystem::resize_file(big, 100u * 1024 * 1024);  // sparse: no disk space used
    }
    const ReadResult r = read_file(big);
    EXPECT_EQ(r.error, big + ": 104857600 bytes, more than a code file may have (16777216)");
    EXPECT_NE(read_file(dir.file("none.conf")).error.find("No such file"), std::string::npos);
    EXPECT_NE(read_file(dir.path()).error.find("a folder"), std::string::npos);
}

TEST(Files, FindKeyNamesWhatThereIs) {
    CodeFile file;
    file.remotes = {
        {"tv", nullptr, 0, {protocol_key("POWER", "NEC1 D=4 F=8")}},
        {"amp",
         nullptr,
         0,
         {protocol_key("POWER", "NEC1 D=5 F=8"), protocol_key("MUTE", "NEC1 D=5 F=9")}}};
    std::string why;
    EXPECT_EQ(find_key(file, "amp", "MUTE", why), &file.remotes[1].keys[1]);
    EXPECT_EQ(find_key(file, "", "MUTE", why), &file.remotes[1].keys[1]);
    EXPECT_EQ(find_key(file, "", "POWER", why), nullptr);
    EXPECT_EQ(why, "key POWER is in remotes tv and amp: name one with --remote");
    EXPECT_EQ(find_key(file, "amp", "EJECT", why), nullptr);
    EXPECT_EQ(why, "no key EJECT in remote amp; the keys are: POWER MUTE");
    EXPECT_EQ(find_key(file, "dvd", "POWER", why), nullptr);
    EXPECT_EQ(why, "no remote dvd; the file has: tv amp");
}

// Every format: a learned key goes into a new file, then into that file beside others, whose
// text stays as it was around the one insertion; a second key of a name, or a file that does
// not read, is refused and leaves the file byte for byte.
TEST(Files, AddingAKeyInsertsItAndLeavesTheRestOfTheFile) {
    peer::TempDir dir;
    for (const FormatInfo &f : formats()) {
        const std::string ext(f.extensions.substr(0, f.extensions.find(' ')));
        const std::string path = dir.file("tv" + ext);
        const std::string remote = f.format == Format::Flipper ? "tv"
                                   : f.format == Format::Lircd ? "living_room"
                                                               : "living room";
        // Codes that repeat whole frames, which every format keeps as they mean.
        ASSERT_EQ(add_key_to_file(path, remote, protocol_key("POWER", "RC6 D=4 F=8")), "")
            << f.name;
        ASSERT_EQ(add_key_to_file(path, remote, protocol_key("MUTE", "Sony12 D=1 F=20")), "")
            << f.name;
        const std::string before = peer::slurp(path);
        ASSERT_EQ(add_key_to_file(path, remote, protocol_key("UP", "RC5 D=0 F=16")), "") << f.name;
        const std::string after = peer::slurp(path);
        std::size_t prefix = 0, suffix = 0;
        while (prefix < before.size() && before[prefix] == after[prefix]) {
            ++prefix;
        }
        while (suffix < before.size() - prefix &&
               before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
            ++suffix;
        }
        EXPECT_EQ(prefix + suffix, before.size()) << f.name << ": the old text changed\n" << after;
        const ReadResult r = read_file(path);
        ASSERT_TRUE(r.ok()) << r.error;
        EXPECT_EQ(decode_of(r.file, remote, "POWER"), "RC6 D=4 F=8 T=0") << f.name << "\n" << after;
        EXPECT_EQ(decode_of(r.file, remote, "MUTE"), "Sony12 D=1 F=20") << f.name;
        EXPECT_EQ(decode_of(r.file, remote, "UP"), "RC5 D=0 F=16 T=0") << f.name;

        EXPECT_NE(add_key_to_file(path, remote, protocol_key("UP", "RC5 D=0 F=17"))
                      .find("already has a key UP"),
                  std::string::npos)
            << f.name;
        EXPECT_EQ(peer::slurp(path), after) << f.name;
    }
    const std::string broken = dir.file("broken.conf");
    std::ofstream(broken) << "begin remote\n name x\n flags NOPE\n";
    EXPECT_NE(add_key_to_file(broken, "x", protocol_key("A", "NEC1 D=1 F=1")).find("unknown flag"),
              std::string::npos);
    EXPECT_EQ(peer::slurp(broken), "begin remote\n name x\n flags NOPE\n");
    EXPECT_NE(add_key_to_file(dir.file("new.conf"), "x y", protocol_key("A", "NEC1 D=1 F=1"))
                  .find("no blanks"),
              std::string::npos);
    const std::string parametric = dir.file("param.conf");
    CodeFile nec;
    nec.remotes = {{"tv", nullptr, 0, {protocol_key("POWER", "NEC1 D=4 F=8")}}};
    std::ofstream(parametric) << write(nec, Format::Lircd).text;
    EXPECT_NE(
        add_key_to_file(parametric, "tv", protocol_key("A", "NEC1 D=1 F=1")).find("parametric"),
        std::string::npos);
    EXPECT_NE(
        add_key_to_file(dir.file("no/such/folder/tv.ir"), "tv", protocol_key("A", "NEC1 D=1 F=1")),
        "");
    EXPECT_NE(add_key_to_file(dir.file("tv.ir"), "kitchen", protocol_key("A", "NEC1 D=1 F=1"))
                  .find("one remote"),
              std::string::npos);
    for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().string().find(".conf."), std::string::npos)
            << "left behind: " << entry.path();
    }
}

// Whatever the cut, a written file read back whole or in part gives keys or an error that
// names the file: never a crash, never an exception.
TEST(Files, TruncatedFilesReadOrSayWhere) {
    CodeFile file;
    file.remotes = {{"tv",
                     nullptr,
                     0,
                     {protocol_key("POWER", "NEC1 D=4 F=8"), protocol_key("UP", "RC6 D=1 F=2"),
                      protocol_key("DOWN", "Sony20 D=1 S=2 F=3")}}};
    std::mt19937 rng(7);
    for (const FormatInfo &f : formats()) {
        const std::string text = write(file, f.format).text;
        for (int i = 0; i < 60; ++i) {
            const std::size_t cut = std::uniform_int_distribution<std::size_t>(0, text.size())(rng);
            const ReadResult r = read(std::string_view(text).substr(0, cut), f.format, "cut");
            EXPECT_TRUE(r.ok() || r.error.rfind("cut", 0) == 0) << f.name << ": " << r.error;
        }
    }
}

}  // namespace
