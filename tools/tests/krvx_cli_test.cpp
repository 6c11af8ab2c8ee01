// krvx as a user runs it: exit statuses, messages and --json output, against a private
// krvxd where a device is needed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "../../driver/tests/service_process.h"

using testing_support::ServiceProcess;

namespace {

struct Run {
    int status = -1;
    std::string out;  // standard output and standard error, in order
};

// Runs krvx through the shell with both outputs captured.
Run krvx(const std::string &args, const std::string &stdin_text = {}) {
    std::string cmd = std::string(KRVX_PATH) + " " + args + " 2>&1";
    if (!stdin_text.empty())
        cmd = "printf '%s' '" + stdin_text + "' | " + cmd;
    Run r;
    FILE *p = ::popen(cmd.c_str(), "r");
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

const char *kCode = "0000 006C 0000 0001 0010 0010";

}  // namespace

TEST(KrvxCli, CheckSaysWhyAndSetsTheStatus) {
    auto ok = krvx(std::string("check '") + "0000 006c 0000 0001 0010 0010'");
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_NE(ok.out.find("0000 006C 0000 0001 0010 0010"), std::string::npos) << ok.out;

    auto bad = krvx("check '0000 006C 0022 0002 015B'");
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("invalid: "), std::string::npos) << bad.out;

    auto json = krvx("--json check '123 456'");
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.out.find("\"valid\":false"), std::string::npos) << json.out;

    auto piped = krvx("check -", kCode);
    EXPECT_EQ(piped.status, 0) << piped.out;
}

TEST(KrvxCli, UsageErrorsAndHelp) {
    EXPECT_EQ(krvx("--help").status, 0);
    EXPECT_NE(krvx("--help").out.find("send"), std::string::npos);
    EXPECT_EQ(krvx("").status, 2);
    EXPECT_EQ(krvx("frobnicate").status, 2);
    EXPECT_EQ(krvx(std::string("send '") + kCode + "' --repeat 0").status, 2);
    EXPECT_EQ(krvx(std::string("press '") + kCode + "' --quality 101").status, 2);
}

TEST(KrvxCli, DeviceCommandsWithAndWithoutAService) {
    {
        ServiceProcess service({"--time-scale", "0", "--firmware", "3.1"});
        ASSERT_TRUE(service.ready());
        const std::string sock = "--socket " + service.socket() + " ";
        auto info = krvx(sock + "info");
        EXPECT_EQ(info.status, 0) << info.out;
        EXPECT_NE(info.out.find("3.1"), std::string::npos) << info.out;
        auto json = krvx(sock + "--json info");
        EXPECT_NE(json.out.find("\"firmware\":\"3.1\""), std::string::npos) << json.out;
        EXPECT_EQ(krvx(sock + "send '" + kCode + "' --repeat 3").status, 0);
        auto bad = krvx(sock + "send 'zz'");
        EXPECT_EQ(bad.status, 1);
        EXPECT_NE(bad.out.find("invalid code"), std::string::npos) << bad.out;
        EXPECT_EQ(krvx(sock + "press '" + kCode + "' --hold 10").status, 0);
    }
    {
        ServiceProcess failing({"--time-scale", "0", "--fail-transmit"});
        ASSERT_TRUE(failing.ready());
        auto r = krvx("--socket " + failing.socket() + " send '" + kCode + "'");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("failed to send"), std::string::npos) << r.out;
    }
    auto none = krvx("--socket /nonexistent/krvxd.sock info");
    EXPECT_EQ(none.status, 3);
    EXPECT_NE(none.out.find("krvxd is not running"), std::string::npos) << none.out;
}

TEST(KrvxCli, HookInjectsIntoAnotherApplicationsLearn) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const std::string sock = "--socket " + service.socket() + " ";
    const std::string code = "0000 0073 0000 0001 0020 0CA8";
    std::atomic<bool> hooked{false};
    std::string hook_out;
    std::thread hook([&] {
        const std::string cmd =
            std::string(KRVX_PATH) + " " + sock + "hook --inject '" + code + "' 2>&1";
        FILE *p = ::popen(cmd.c_str(), "r");
        if (p == nullptr)
            return;
        char line[4096];
        while (std::fgets(line, sizeof line, p) != nullptr) {
            hook_out += line;
            if (hook_out.find("hooked") != std::string::npos)
                hooked = true;
        }
        ::pclose(p);
        hooked = true;
    });
    ASSERT_TRUE(testing_support::eventually([&] { return hooked.load(); }));
    auto learned = krvx(sock + "learn --timeout 20");
    hook.join();
    EXPECT_EQ(learned.status, 0) << learned.out;
    EXPECT_NE(learned.out.find(code + "\n"), std::string::npos) << learned.out;
    EXPECT_NE(hook_out.find("begin\n"), std::string::npos) << hook_out;
    EXPECT_NE(hook_out.find("end " + code + "\n"), std::string::npos) << hook_out;
}
