// SPDX-License-Identifier: MIT
// krvx decode and encode as a user runs them, and protocol codes wherever krvx takes a
// code: sent, pressed, checked and learned against a private krvxd.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "../../driver/tests/service_process.h"

using testing_support::ServiceProcess;

namespace {

struct Outcome {
    int status = -1;
    std::string out;  // standard output, then standard error
};

// Runs a shell command line with both outputs captured.
Outcome shell(const std::string &cmd) {
    Outcome r;
    FILE *p = ::popen((cmd + " 2>&1").c_str(), "r");
    if (p == nullptr)
        return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        r.out.append(buf, n);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

const std::string kKrvx = KRVX_PATH;

std::string temp_file(const std::string &name, const std::string &text) {
    const std::string path = testing::TempDir() + name;
    std::ofstream(path) << text;
    return path;
}

TEST(KrvxProtocols, DecodeAndEncodeAcceptAndRefuseAsTheyShould) {
    const std::string nec = shell(kKrvx + " encode NEC1 D=4 F=8").out;
    const std::string mode2 = temp_file("sony.mode2",
                                        "# ir-ctl -r --mode2\npulse 2400\nspace 600\npulse 600\n"
                                        "space 600\npulse 1200\nspace 600\npulse 600\nspace 600\n"
                                        "pulse 600\nspace 600\npulse 1200\nspace 600\npulse 600\n"
                                        "space 600\npulse 600\nspace 600\npulse 1200\nspace 600\n"
                                        "pulse 600\nspace 600\npulse 600\nspace 600\npulse 600\n"
                                        "space 600\npulse 600\ntimeout 125000\n");
    const std::string lines =
        temp_file("codes.txt", nec + "\n+889 -889\n\n" + shell(kKrvx + " encode rc5:0x0102").out);
    const std::string big = temp_file("big.txt", std::string(1 << 20, '1'));
    const struct {
        std::string args;
        int status;
        std::string shows;
    } cases[] = {
        {"encode nec:0x0408", 0, nec},
        {"encode nec 0x0408", 1, "'0x0408' is not NAME=VALUE with a number"},
        {"encode NEC1 D=4 F=300", 1, "NEC1: F=300 is out of range (at most 255)"},
        {"encode '0000 006C 0000 0001 0010 0010'", 1, "is not a protocol code"},
        {"encode NEC1 D=4 F=8 --repeat 51", 2, "--repeat"},
        {"decode '" + nec + "'", 0, "NEC1 D=4 S=251 F=8  (nec 0x0408)\n"},
        {"decode +9024 -4512 +564 -564", 0, "unknown\n"},
        {"decode 9024 4512 564 564 564", 0, "unknown\n"},
        {"decode @" + mode2, 0, "Sony12 D=1 F=18  (sony12 0x10012)\n"},
        {"decode - < " + mode2, 0, "Sony12 D=1 F=18"},
        {"decode @" + lines, 0, "NEC1 D=4 S=251 F=8  (nec 0x0408)\nunknown\nRC5 D=1 F=2 T=0"},
        {"decode '0000 006C 0022'", 1, "invalid: at least 6 words expected, 3 found"},
        {"decode '+9024 -4512 +564 -abc'", 1, "invalid: word 4: '-abc' is not a duration"},
        {"decode hello", 1, "invalid: word 1: 'hello' is not a duration"},
        {"decode +9024 -4512 --carrier 0", 2, "--carrier"},
        {"decode +9024 -4512 --carrier -38000", 2, "--carrier"},
        {"decode @" + big, 1, "holds more than 64 KiB"},
        {"check 'RC5 D=1 F=2'", 0, "RC5 D=1 F=2 T=0  (rc5 0x0102)"},
        {"check 'RC5 D=1 F=200'", 1, "RC5: F=200 is out of range"},
    };
    for (const auto &c : cases) {
        const Outcome r = shell(kKrvx + " " + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.shows), std::string::npos) << c.args << "\n" << r.out;
    }
}

TEST(KrvxProtocols, JsonSaysWhatACodeIs) {
    const Outcome r = shell(kKrvx + " --json decode \"$(" + kKrvx + " encode nec:0x0408)\"");
    EXPECT_EQ(r.status, 0);
    // NEC1 first; NEC1-f16 reads the same 32 bits as a 16-bit F.
    EXPECT_EQ(
        r.out.find("{\"ok\":true,\"decodes\":[{\"protocol\":\"NEC1\",\"params\":{\"D\":4,"
                   "\"S\":251,\"F\":8},\"kernel\":{\"protocol\":\"nec\",\"scancode\":\"0x0408\"},"
                   "\"frames\":3,\"toggle\":null},{\"protocol\":\"NEC1-f16\""),
        0u)
        << r.out;
    const Outcome none = shell(kKrvx + " --json decode +100 -100 +100");
    EXPECT_EQ(none.out, "{\"ok\":true,\"decodes\":[]}\n");
    const Outcome rc5 = shell(kKrvx + " --json decode \"$(" + kKrvx + " encode RC5 D=1 F=2 T=1)\"");
    EXPECT_NE(rc5.out.find("\"toggle\":1}"), std::string::npos) << rc5.out;
    const Outcome bad = shell(kKrvx + " --json decode zz");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out.find("{\"ok\":false,\"error\":\"word 1: 'zz' is not a duration\"}"), 0u)
        << bad.out;
}

TEST(KrvxProtocols, ProtocolCodesAreSentPressedAndLearned) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const std::string k = kKrvx + " --socket " + service.socket();
    const Outcome sent = shell(k + " send nec:0x0408 --repeat 2");
    EXPECT_EQ(sent.status, 0) << sent.out;
    EXPECT_EQ(shell(k + " send 'NEC1 D=4 F=999'").status, 1);
    // A learn while a virtual remote's button is pressed again and again, until it ends.
    const std::string dir = testing::TempDir();
    const Outcome learned =
        shell(k + " learn --timeout 30 > " + dir + "learned.txt 2> " + dir +
              "learn.err & L=$!; for i in $(seq 1 60); do kill -0 $L 2>/dev/null "
              "|| break; " +
              k +
              " press 'Sony12 D=1 F=21' --hold 400 >/dev/null; "
              "done; wait $L; echo status $?; cat " +
              dir + "learned.txt " + dir + "learn.err");
    EXPECT_NE(learned.out.find("status 0"), std::string::npos) << learned.out;
    EXPECT_NE(learned.out.find("Sony12 D=1 F=21  (sony12 0x10015)"), std::string::npos)
        << learned.out;
    EXPECT_NE(learned.out.find("learned (snapped to Sony12 D=1 F=21), quality"), std::string::npos)
        << learned.out;
    std::ifstream code(dir + "learned.txt");
    std::string line, rest;
    std::getline(code, line);
    EXPECT_EQ(line.substr(0, 5), "0000 ") << "standard output keeps the code alone";
    EXPECT_FALSE(std::getline(code, rest));
}

TEST(KrvxProtocols, ListenSaysWhatEachReceivedCodeIs) {
    ServiceProcess service({"--time-scale", "0", "--loopback"});
    ASSERT_TRUE(service.ready());
    const std::string k = kKrvx + " --socket " + service.socket();
    const std::string out = testing::TempDir() + "listen.txt";
    // Sends until the listener, once it runs, has printed the code; then stops it.
    const Outcome r = shell(k + " listen > " + out + " & L=$!; for i in $(seq 1 100); do " + k +
                            " send 'RC5 D=1 F=2' >/dev/null; grep -q RC5 " + out +
                            " && break; sleep 0.1; done; kill -INT $L; wait $L; echo status $?; "
                            "cat " +
                            out);
    EXPECT_NE(r.out.find("status 0"), std::string::npos) << r.out;
    // Sends alternate the toggle, and the listener may miss the first ones.
    EXPECT_TRUE(std::regex_search(r.out, std::regex("  RC5 D=1 F=2 T=[01]  \\(rc5 0x0102\\)\n")))
        << r.out;
}

}  // namespace
