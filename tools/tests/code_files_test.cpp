// SPDX-License-Identifier: MIT
// krvx with code files, as a user runs it: convert and keys, send --file, learn --save
// (against a private krvxd where a device is needed). Exit statuses, messages, and files
// left whole when something fails.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "../../driver/tests/service_process.h"

using testing_support::ServiceProcess;

namespace {

struct Result {
    int status = -1;
    std::string out;  // standard output, then standard error
};

Result krvx(const std::string &args) {
    Result r;
    FILE *p = ::popen((std::string(KRVX_PATH) + " " + args + " 2>&1").c_str(), "r");
    char buf[4096];
    std::size_t n;
    while (p != nullptr && (n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    const int st = p == nullptr ? -1 : ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string slurp(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A folder for one test's files, removed with it.
struct Folder {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("krvx-files-" + std::to_string(::getpid()) + "-" +
                                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Folder() { std::filesystem::create_directories(path); }
    ~Folder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string &name) const { return (path / name).string(); }
};

// NEC1 D=4 F=8 and F=2 as irrecord writes such a remote.
const char *kRemote =
    "begin remote\n  name  tv\n  bits 16\n  flags SPACE_ENC|CONST_LENGTH\n  header 9024 4512\n"
    "  one 564 1692\n  zero 564 564\n  ptrail 564\n  repeat 9024 2256\n  pre_data_bits 16\n"
    "  pre_data 0x20DF\n  gap 108000\n  frequency 38400\n"
    "  begin codes\n    POWER 0x10EF\n    VOL_UP 0x40BF\n  end codes\nend remote\n";

}  // namespace

TEST(KrvxCodeFiles, ConvertAndKeysGoThroughEveryFormat) {
    Folder dir;
    std::ofstream(dir / "tv.conf") << kRemote;
    std::string from = dir / "tv.conf";
    // A Flipper file names its one remote after itself: from there on the remote is tv2.
    for (const char *ext :
         {".ir", ".json", ".gc", ".h", ".raw", ".mode2", ".toml", ".pronto", ".conf"}) {
        const std::string to = dir / (std::string("tv2") + ext);
        const Result c = krvx("convert " + from + " " + to);
        ASSERT_EQ(c.status, 0) << ext << ": " << c.out;
        EXPECT_NE(c.out.find("2 keys written to " + to), std::string::npos) << c.out;
        const Result k = krvx("keys " + to);
        ASSERT_EQ(k.status, 0) << k.out;
        EXPECT_NE(k.out.find("POWER                    NEC1 D=4 S=251 F=8 (nec:0x0408)"),
                  std::string::npos)
            << ext << "\n"
            << k.out;
        EXPECT_NE(k.out.find("VOL_UP                   NEC1 D=4 S=251 F=2 (nec:0x0402)"),
                  std::string::npos)
            << ext << "\n"
            << k.out;
        from = to;
    }
    const Result json = krvx("--json keys " + from);
    EXPECT_NE(json.out.find("{\"ok\":true,\"remote\":\"tv2\",\"key\":\"POWER\""), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("\"decode\":\"NEC1 D=4 S=251 F=8\",\"kernel\":\"nec:0x0408\""),
              std::string::npos)
        << json.out;
    const Result pronto = krvx("convert --from lircd --to pronto " + from);
    EXPECT_EQ(pronto.out.rfind("tv2/POWER: 0000 006C ", 0), 0u) << pronto.out;
}

TEST(KrvxCodeFiles, BadFilesSayWhereAndLeaveNothingHalfWritten) {
    Folder dir;
    std::ofstream(dir / "bad.conf") << "begin remote\n name tv\n flags SPACE_ENC|SIDEWAYS\n";
    const Result bad = krvx("convert " + (dir / "bad.conf") + " " + (dir / "out.ir"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("not converted: " + (dir / "bad.conf") + ":3: unknown flag 'SIDEWAYS'"),
              std::string::npos)
        << bad.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.ir"));
    std::ofstream(dir / "tv.conf") << kRemote;
    std::ofstream(dir / "out.ir") << "keep me\n";
    EXPECT_EQ(krvx("convert " + (dir / "bad.conf") + " " + (dir / "out.ir")).status, 1);
    EXPECT_EQ(slurp(dir / "out.ir"), "keep me\n");
    EXPECT_EQ(krvx("convert " + (dir / "tv.conf")).status, 2);  // no --to, standard output
    EXPECT_EQ(krvx("convert --to morse " + (dir / "tv.conf")).status, 2);
    const Result missing = krvx("keys " + (dir / "none.conf"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("No such file"), std::string::npos) << missing.out;
    const std::size_t entries = std::distance(std::filesystem::directory_iterator(dir.path), {});
    EXPECT_EQ(entries, 3u) << "a temporary file was left behind";
}

TEST(KrvxCodeFiles, SendAndPressTakeAKeyOfAFile) {
    Folder dir;
    std::ofstream(dir / "tv.conf") << kRemote;
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const std::string sock = "--socket " + service.socket() + " ";
    const Result sent = krvx(sock + "send --file " + (dir / "tv.conf") + " --remote tv POWER");
    EXPECT_EQ(sent.status, 0) << sent.out;
    EXPECT_EQ(krvx(sock + "press --file " + (dir / "tv.conf") + " VOL_UP --hold 10").status, 0);
    const Result none = krvx(sock + "send --file " + (dir / "tv.conf") + " EJECT");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("no key EJECT; the keys are: POWER VOL_UP"), std::string::npos)
        << none.out;
    EXPECT_EQ(krvx(sock + "send --remote tv POWER").status, 2);  // --remote needs --file
}

TEST(KrvxCodeFiles, LearnSavesTheKeyIntoTheFile) {
    Folder dir;
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const std::string sock = "--socket " + service.socket() + " ";
    const std::string code = "0000 0073 0000 0001 0020 0CA8";
    std::atomic<bool> hooked{false};
    std::thread hook([&] {
        FILE *p = ::popen(
            (std::string(KRVX_PATH) + " " + sock + "hook --inject '" + code + "' 2>&1").c_str(),
            "r");
        char line[4096];
        while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
            hooked = hooked || std::string(line).find("hooked") != std::string::npos;
        }
        if (p != nullptr) {
            ::pclose(p);
        }
        hooked = true;
    });
    ASSERT_TRUE(testing_support::eventually([&] { return hooked.load(); }));
    const std::string file = dir / "living.ir";
    const Result learned = krvx(sock + "learn --timeout 20 --save " + file + " --key POWER");
    hook.join();
    EXPECT_EQ(learned.status, 0) << learned.out;
    EXPECT_NE(learned.out.find("POWER saved in " + file), std::string::npos) << learned.out;
    const Result keys = krvx("keys " + file);
    EXPECT_NE(keys.out.find("living: 1 keys"), std::string::npos) << keys.out;
    EXPECT_NE(keys.out.find("POWER"), std::string::npos) << keys.out;
    const std::string before = slurp(file);
    const Result again = krvx(sock + "learn --timeout 1 --save " + file + " --key POWER");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.out.find("not learning: " + file + ": remote living already has a key POWER"),
              std::string::npos)
        << again.out;
    EXPECT_EQ(slurp(file), before);
    EXPECT_EQ(krvx(sock + "learn --save " + file).status, 2);  // --save needs --key
}
