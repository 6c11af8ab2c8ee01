// SPDX-License-Identifier: MIT
// krvx learn as a user runs it: its --timeout is the learn's own, a code another program
// injected is said to be one, a service that falls silent ends the learn, and Ctrl-C ends
// krvx at once whatever the service does.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../driver/tests/learn_support.h"
#include "ir/pronto.h"

using namespace learn_support;
using testing_support::ServiceProcess;
using Clock = std::chrono::steady_clock;

namespace {

// krvx in a child process with standard output and error in one file.
class Krvx {
  public:
    explicit Krvx(const std::vector<std::string> &args) {
        char name[] = "/tmp/krvx-learn-test.XXXXXX";
        const int fd = ::mkstemp(name);
        out_ = name;
        std::vector<std::string> all = {KRVX_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (auto &a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fd, 1);
        posix_spawn_file_actions_adddup2(&actions, fd, 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fd);
    }
    ~Krvx() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::unlink(out_.c_str());
    }
    std::string output() const {
        std::ifstream in(out_);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void signal(int signo) const { ::kill(pid_, signo); }
    /// The exit status once it ended within `timeout`, else -1 (it is killed then).
    int finish(std::chrono::milliseconds timeout) {
        int status = 0;
        const bool ended =
            eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
        if (!ended)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    std::string out_;
    pid_t pid_ = -1;
};

}  // namespace

TEST(KrvxLearn, TheTimeoutIsTheLearnsOwnNotTheServicesDefault) {
    ServiceProcess service({"--time-scale", "0", "--learn-timeout", "0.3"});
    ASSERT_TRUE(service.ready());
    Krvx learner({"--socket", service.socket(), "--json", "learn", "--timeout", "5"});
    ASSERT_TRUE(eventually([&] { return learner.output().find("learning") != std::string::npos; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(800));  // past the service's 0.3 s
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    EXPECT_EQ(learner.finish(std::chrono::seconds(20)), 0) << learner.output();
    const std::string out = learner.output();
    EXPECT_NE(out.find("0000 006C 0022 0002"), std::string::npos) << out;
    // The JSON and the line on standard error say the code was snapped, and to what.
    EXPECT_NE(out.find(R"("built":"snapped","decode":"NEC1 D=)"), std::string::npos) << out;
    EXPECT_NE(out.find("krvx: learned (snapped to NEC1 D="), std::string::npos) << out;
}

TEST(KrvxLearn, AnInjectedCodeIsSaidToBeAnotherProgramsWithItsCarrier) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Hook a;
    a.handle = KRVXOpen();
    ASSERT_TRUE(a.hook());
    a.prepare(kInjected);
    Krvx learner({"--socket", service.socket(), "learn", "--timeout", "20"});
    a.inject_on_begin();
    EXPECT_EQ(learner.finish(std::chrono::seconds(20)), 0) << learner.output();
    const std::string out = learner.output();
    const long carrier = std::lround(ir::parse_pronto(kInjected).signal.carrier_hz);
    EXPECT_NE(out.find(std::string(kInjected) + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("answered by another program"), std::string::npos) << out;
    EXPECT_NE(out.find("carrier " + std::to_string(carrier) + " Hz"), std::string::npos) << out;
    EXPECT_EQ(out.find("learned, quality"), std::string::npos) << out;
    KRVXClose(a.handle);
}

TEST(KrvxLearn, ASilentServiceEndsTheLearnAndCtrlCEndsKrvxAtOnce) {
    struct Row {
        const char *name;
        bool stop_before_start;  // krvx then waits in its open
        const char *timeout;
        bool interrupt;
        int limit_ms;  // from the stop (or the interrupt) to krvx's end
    };
    // A learn of 1 s whose stop the silent service never answers: 1 s, then 0.5 s to notice
    // and the 2 s every answer gets. Ctrl-C: within 1 s, also in the open.
    const Row rows[] = {{"silent after the start", false, "1", false, 1000 + 2500 + 1000},
                        {"Ctrl-C while learning", false, "30", true, 1000},
                        {"Ctrl-C while opening", true, "30", true, 1000}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ServiceProcess service({"--time-scale", "0"});
        ASSERT_TRUE(service.ready());
        if (row.stop_before_start) {
            ASSERT_EQ(::kill(service.pid(), SIGSTOP), 0);
        }
        Krvx learner({"--socket", service.socket(), "learn", "--timeout", row.timeout});
        if (row.stop_before_start) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        } else {
            ASSERT_TRUE(
                eventually([&] { return learner.output().find("learning") != std::string::npos; }));
            ASSERT_EQ(::kill(service.pid(), SIGSTOP), 0);
        }
        if (row.interrupt) {
            learner.signal(SIGINT);
        }
        const auto from = Clock::now();
        const int status = learner.finish(std::chrono::milliseconds(row.limit_ms));
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - from).count();
        ::kill(service.pid(), SIGCONT);
        EXPECT_NE(status, -1) << "still running after " << row.limit_ms
                              << " ms: " << learner.output();
        EXPECT_NE(status, 0) << learner.output();
        RecordProperty(std::string(row.name) + " ms", static_cast<int>(took));
    }
}
