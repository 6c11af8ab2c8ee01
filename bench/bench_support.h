// SPDX-License-Identifier: MIT
// What the service benchmarks share: a child process (krvxd, lircd) on a private socket,
// a private folder, timed KRVXGetKRVXInfo round trips and their percentiles as counters.
//
// Threads: the benchmark's thread.
#pragma once

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "krvxdrv.h"

extern char **environ;

namespace krvx_bench {

using Clock = std::chrono::steady_clock;

inline int connect_to(const std::string &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0)
        return fd;
    ::close(fd);
    return -1;
}

// A child process on a private folder, ended with SIGTERM.
class Child {
  public:
    Child(std::vector<std::string> args, const std::string &socket) {
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        const auto end = Clock::now() + std::chrono::seconds(10);
        while (pid_ > 0 && Clock::now() < end) {
            const int fd = connect_to(socket);
            if (fd >= 0) {
                ::close(fd);
                ready_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return ready_; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

inline std::string temp_dir() {
    char t[] = "/tmp/krvx-bench.XXXXXX";
    return ::mkdtemp(t);
}

/// Resident memory of a process in KiB (VmRSS), -1 when unknown.
inline long rss_kib(pid_t pid) {
    FILE *f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::atol(line + 6);
    std::fclose(f);
    return kib;
}

/// One KRVXGetKRVXInfo round trip of `handle`, its time appended to `us` (µs). False (and
/// the benchmark marked failed) when the call failed.
inline bool time_get_info(benchmark::State &state, int handle, std::vector<double> &us) {
    DeviceInfo info{};
    const auto t0 = Clock::now();
    if (!KRVXGetKRVXInfo(handle, &info)) {
        state.SkipWithError("KRVXGetKRVXInfo failed");
        return false;
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    return true;
}

inline void report(benchmark::State &state, std::vector<double> &us) {
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

}  // namespace krvx_bench
