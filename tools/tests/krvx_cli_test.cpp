// SPDX-License-Identifier: MIT
// krvx as a user runs it: exit statuses, messages and --json output, against a private
// krvxd where a device is needed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../driver/tests/service_process.h"
#include "krvx_version.h"

using testing_support::ServiceProcess;

namespace {

struct Run {
    int status = -1;
    std::string out;  // standard output and standard error, in order (or standard output only)
};

// Runs a shell command line with its output captured.
Run shell(const std::string &cmd) {
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

// Runs krvx through the shell with both outputs captured.
Run krvx(const std::string &args, const std::string &stdin_text = {}) {
    std::string cmd = std::string(KRVX_PATH) + " " + args + " 2>&1";
    if (!stdin_text.empty())
        cmd = "printf '%s' '" + stdin_text + "' | " + cmd;
    return shell(cmd);
}

// krvx started in the background with its standard output on a pipe, for commands that run
// until stopped.
class Background {
  public:
    explicit Background(const std::string &args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        const std::string cmd = std::string("exec ") + KRVX_PATH + " " + args + " 2>/dev/null";
        const char *argv[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char **>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = ::fdopen(fds[0], "r");
        reader_ = std::thread([this] {
            char line[4096];
            while (out_ != nullptr && std::fgets(line, sizeof line, out_) != nullptr) {
                std::lock_guard lock(mutex_);
                lines_.emplace_back(line);
            }
        });
    }
    ~Background() {
        if (pid_ > 0)
            ::kill(pid_, SIGKILL);
        finish();
    }
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Sends `signo` and waits for the exit status (-1 when killed by a signal).
    int stop(int signo) {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, signo);
        return finish();
    }

  private:
    int finish() {
        int status = -1;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_)
            status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        if (reader_.joinable())
            reader_.join();
        if (out_ != nullptr)
            std::fclose(out_);
        out_ = nullptr;
        return status;
    }
    pid_t pid_ = -1;
    FILE *out_ = nullptr;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A file with `text`, removed with the object.
struct CodeFile {
    std::string path;
    explicit CodeFile(const std::string &text)
        : path(std::filesystem::temp_directory_path() /
               ("krvx-cli-" + std::to_string(::getpid()) + ".txt")) {
        std::ofstream(path) << text;
    }
    ~CodeFile() { std::filesystem::remove(path); }
};

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

TEST(KrvxCli, EveryProgramSaysItsVersion) {
    const struct {
        const char *path, *name;
    } programs[] = {
        {KRVX_PATH, "krvx"},
        {KRVXD_PATH, "krvxd"},
#ifdef VINTREL_PATH
        {VINTREL_PATH, "vintrel"},
#endif
    };
    for (const auto &p : programs) {
        const auto r = shell(std::string(p.path) + " --version 2>&1");
        EXPECT_EQ(r.status, 0) << p.name;
        EXPECT_EQ(r.out, std::string(p.name) + " " + KRVX_VERSION + "\n");
    }
}

TEST(KrvxCli, ACodeReadsTheSameAsWordsQuotedFromAFileOrStandardInput) {
    CodeFile file(std::string(kCode) + "\n");
    const auto quoted = krvx(std::string("check '") + kCode + "'");
    ASSERT_EQ(quoted.status, 0) << quoted.out;
    for (const auto &[args, stdin_text] : std::vector<std::pair<std::string, std::string>>{
             {std::string("check ") + kCode, ""},
             {"check @" + file.path, ""},
             {"check -", kCode},
         }) {
        EXPECT_EQ(krvx(args, stdin_text).out, quoted.out) << args;
    }
    // What is not one whole code is refused with the reason, before any device is asked.
    for (const std::string args : {"check @/nonexistent/code.txt", "send @/nonexistent/code.txt",
                                   "check 0000 -", "press @"}) {
        const auto r = krvx("--socket /nonexistent/s.sock " + args);
        EXPECT_EQ(r.status, 1) << args << ": " << r.out;
        EXPECT_NE(r.out.find("krvx: "), std::string::npos) << args << ": " << r.out;
    }
}

TEST(KrvxCli, UnknownCommandsAndBadValuesAreUsageErrors) {
    const auto unknown = krvx("bogus");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.out.find("unknown command 'bogus'"), std::string::npos) << unknown.out;
    for (const char *name : {"info", "check", "send", "listen", "learn", "hook", "press"})
        EXPECT_NE(unknown.out.find(name), std::string::npos) << name << " not listed";
    for (const std::string &args : std::vector<std::string>{
             "", "--socket ''", "--socket '' info", std::string("send ") + kCode + " --repeat -1",
             std::string("send ") + kCode + " --repeat=-5", "learn --timeout nan",
             "learn --timeout inf", "learn --timeout -1", "info --frobnicate"}) {
        const auto r = krvx("--socket /nonexistent/s.sock " + args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.out;
    }
}

// Every line on standard output under --json is one object whose "ok" is true exactly when
// krvx exits 0, for results, refusals and usage errors alike.
TEST(KrvxCli, JsonLinesSayOkExactlyWhenTheExitStatusIsZero) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    CodeFile file(kCode);
    const std::string svc = "--socket " + service.socket() + " ";
    const struct {
        std::string args;
        int status;
    } rows[] = {
        {svc + "info", 0},
        {svc + "--version", 0},
        {svc + "--help", 0},
        {svc + "send --help", 0},
        {svc + std::string("check ") + kCode, 0},
        {svc + "send @" + file.path, 0},
        {svc + "press @" + file.path + " --hold 10", 0},
        {svc + "check zz", 1},
        {svc + "send zz", 1},
        {svc + "send @/nonexistent/code.txt", 1},
        {svc + "bogus", 2},
        {svc + "", 2},
        {svc + "send", 2},
        {svc + "send --repeat 0 " + std::string(kCode), 2},
        {svc + "learn --timeout nan", 2},
        {"--socket /nonexistent/s.sock info", 3},
        {"--socket /nonexistent/s.sock press @" + file.path, 3},
    };
    for (const auto &r : rows) {
        const auto run = shell(std::string(KRVX_PATH) + " --json " + r.args + " 2>/dev/null");
        EXPECT_EQ(run.status, r.status) << r.args << ": " << run.out;
        std::istringstream lines(run.out);
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            ++count;
            EXPECT_TRUE(line.starts_with('{') && line.ends_with('}')) << r.args << ": " << line;
            EXPECT_TRUE(line.starts_with(run.status == 0 ? "{\"ok\":true" : "{\"ok\":false"))
                << r.args << ": " << line;
        }
        EXPECT_EQ(count, 1) << r.args << ": " << run.out;
    }
}

TEST(KrvxCli, ACodeWithANulByteIsNotSent) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const std::string tail = std::string(KRVX_PATH) + " --socket " + service.socket();
    for (const char *command : {"check", "send", "press"}) {
        const auto r = shell("printf '" + std::string(kCode) + "\\0junk' | " + tail + " " +
                             command + " - 2>&1");
        EXPECT_EQ(r.status, 1) << command << ": " << r.out;
        EXPECT_NE(r.out.find("NUL"), std::string::npos) << command << ": " << r.out;
    }
}

TEST(KrvxCli, ListenJsonPrintsEachReceivedCodeWithItsTime) {
    ServiceProcess service({"--time-scale", "0", "--loopback"});
    ASSERT_TRUE(service.ready());
    const std::string sock = "--socket " + service.socket() + " ";
    Background listen(sock + "--json listen");
    // The listener prints nothing until a code arrives: send until one does.
    ASSERT_TRUE(testing_support::eventually([&] {
        krvx(sock + "send '" + kCode + "'");
        return !listen.lines().empty();
    }));
    EXPECT_EQ(listen.stop(SIGINT), 0);
    // What check calls the code's fingerprint is what the receiver reports for it.
    const std::string check = krvx(std::string("--json check '") + kCode + "'").out;
    const auto fingerprint = check.find("\"fingerprint\":\"");
    ASSERT_NE(fingerprint, std::string::npos) << check;
    const std::string received =
        "{\"ok\":true,\"received\":\"" + check.substr(fingerprint + 15, 12) + "\"";
    for (const auto &line : listen.lines()) {
        EXPECT_TRUE(line.starts_with(received)) << line << " vs " << received;
        // RFC 3339 UTC with milliseconds: "time":"YYYY-MM-DDTHH:MM:SS.mmmZ"
        const auto at = line.find("\"time\":\"");
        ASSERT_NE(at, std::string::npos) << line;
        const std::string time = line.substr(at + 8, 24);
        EXPECT_EQ(time.size(), 24u) << line;
        EXPECT_EQ(time[10], 'T') << line;
        EXPECT_EQ(time.substr(19, 1) + time.substr(23, 1), ".Z") << line;
    }
}

TEST(KrvxCli, HookSaysWhenItsUnhookFailed) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Background hook("--socket " + service.socket() + " --json hook");
    // Hooked once the service counts it: a learn of another client then reports "begin".
    ASSERT_TRUE(testing_support::eventually([&] {
        krvx("--socket " + service.socket() + " learn --timeout 0.1");
        return !hook.lines().empty();
    }));
    ::kill(service.pid(), SIGSTOP);  // the unhook now goes unanswered
    const int status = hook.stop(SIGINT);
    ::kill(service.pid(), SIGCONT);
    EXPECT_EQ(status, 1);
    const auto lines = hook.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().starts_with("{\"ok\":false")) << lines.back();
    EXPECT_NE(lines.back().find("unhook"), std::string::npos) << lines.back();
}
