// SPDX-License-Identifier: MIT
// A private krvxd for one test: started on a socket in a fresh temporary folder, stopped
// (SIGTERM, then SIGKILL) when the object goes. KRVX_SOCKET points at it meanwhile, so the
// library under test never reaches a user's service.
//
// Threads: create, use and destroy on the test's main thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace testing_support {

/// Polls `condition` until it holds or `timeout` passes; true when it held.
inline bool eventually(const std::function<bool()> &condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

/// Runs a program, waits for it, returns its exit status (or -1).
inline int run_program(const std::vector<std::string> &args) {
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool can_connect(const std::string &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

class ServiceProcess {
  public:
    /// `log_file` non-empty: the service's standard error goes there instead of the test's.
    explicit ServiceProcess(std::vector<std::string> extra_args = {"--time-scale", "0"},
                            const std::string &log_file = {}) {
        char dir_template[] = "/tmp/krvxd-test.XXXXXX";
        dir_ = ::mkdtemp(dir_template);
        socket_ = dir_ + "/krvxd.sock";
        ::setenv("KRVX_SOCKET", socket_.c_str(), 1);
        std::vector<std::string> args = {KRVXD_PATH, "--socket", socket_};
        args.insert(args.end(), extra_args.begin(), extra_args.end());
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!log_file.empty())
            posix_spawn_file_actions_addopen(&actions, 2, log_file.c_str(),
                                             O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ready_ = pid_ > 0 && eventually([this] { return can_connect(socket_); });
    }
    ~ServiceProcess() {
        stop(SIGTERM);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    bool ready() const { return ready_; }
    const std::string &socket() const { return socket_; }
    const std::string &dir() const { return dir_; }
    pid_t pid() const { return pid_; }

    /// Sends `signo` and waits for the process to end (SIGKILL after 10 s). Returns the
    /// exit status, or 128 + signal for a killed process.
    int stop(int signo) {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, signo);
        int status = 0;
        const bool ended = eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                                      std::chrono::seconds(10));
        if (!ended) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    std::string dir_;
    std::string socket_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace testing_support
