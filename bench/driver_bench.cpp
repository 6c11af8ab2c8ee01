// SPDX-License-Identifier: MIT
// Round trips through the device stack: KRVXGetKRVXInfo against a private krvxd (simulated
// device, instant air), and for comparison a VERSION request to LIRC's lircd (its `file`
// driver, private socket and options file) over one persistent connection, and the floor
// under both: 32 bytes to another process over a Unix stream socket and back, nothing else.
// Each benchmark reports p50 and p99 of the single round trips as counters (µs); read the
// others as ratios to the floor of the same run.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "krvxdrv.h"

namespace {

using namespace krvx_bench;

// The floor: any request and reply between two processes over a Unix socket costs at least
// this (two writes, two reads, two wake-ups).
void BM_UnixSocketFloor(benchmark::State &state) {
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    const pid_t echo = ::fork();
    if (echo == 0) {
        // Only system calls here: the parent may have had threads.
        ::close(pair[0]);
        char message[32];
        for (;;) {
            const ssize_t n = ::read(pair[1], message, sizeof message);
            if (n <= 0 || ::write(pair[1], message, static_cast<std::size_t>(n)) != n)
                ::_exit(0);
        }
    }
    ::close(pair[1]);
    if (echo < 0) {
        ::close(pair[0]);
        state.SkipWithError("fork failed");
        return;
    }
    std::vector<double> us;
    us.reserve(200000);
    char message[32] = "ping";
    for (auto _ : state) {
        const auto t0 = Clock::now();
        std::size_t got = 0;
        if (::write(pair[0], message, sizeof message) != static_cast<ssize_t>(sizeof message)) {
            state.SkipWithError("write failed");
            break;
        }
        while (got < sizeof message) {
            const ssize_t n = ::read(pair[0], message + got, sizeof message - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got != sizeof message) {
            state.SkipWithError("the echo process ended");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(pair[0]);
    ::waitpid(echo, nullptr, 0);
    report(state, us);
}
BENCHMARK(BM_UnixSocketFloor)->UseRealTime();

// KRVXGetKRVXInfo round trips through a private krvxd, with `idle_clients` others connected
// that do nothing (each with its library thread) and, with `callback`, a receive callback set
// on the handle (the reply then comes through the handle's library thread).
void time_get_info_beside(benchmark::State &state, int64_t idle_clients, bool callback) {
    const std::string dir = temp_dir(), socket = dir + "/krvxd.sock";
    Child service({KRVXD_PATH, "--socket", socket, "--time-scale", "0"}, socket);
    ::setenv("KRVX_SOCKET", socket.c_str(), 1);
    std::vector<int> idle;
    for (int64_t i = 0; service.ready() && i < idle_clients; ++i)
        idle.push_back(KRVXOpen());
    const int h = service.ready() ? KRVXOpen() : -1;
    if (h <= 0 || std::count_if(idle.begin(), idle.end(), [](int i) { return i <= 0; }) > 0 ||
        (callback && !KRVXSetReceiveCallback(
                         h, [](const char *, void *) {}, nullptr))) {
        state.SkipWithError("krvxd did not start or refused a client");
        return;
    }
    std::vector<double> us;
    us.reserve(200000);
    for (auto _ : state) {
        if (!time_get_info(state, h, us))
            break;
    }
    KRVXClose(h);
    for (int i : idle)
        KRVXClose(i);
    report(state, us);
    std::filesystem::remove_all(dir);
}

void BM_KrvxGetInfoRoundTrip(benchmark::State &state) {
    time_get_info_beside(state, 0, false);
}
BENCHMARK(BM_KrvxGetInfoRoundTrip)->UseRealTime();

// The same with range(0) idle clients, or range(1) = 1: with a receive callback.
void BM_KrvxGetInfoBeside(benchmark::State &state) {
    time_get_info_beside(state, state.range(0), state.range(1) != 0);
}
BENCHMARK(BM_KrvxGetInfoBeside)
    ->ArgNames({"idle", "callback"})
    ->Args({50, 0})
    ->Args({0, 1})
    ->UseRealTime();

// The same round trip while another client's send is on air the whole time (real air time).
void BM_KrvxGetInfoDuringSend(benchmark::State &state) {
    const std::string dir = temp_dir(), socket = dir + "/krvxd.sock";
    Child service({KRVXD_PATH, "--socket", socket, "--time-scale", "1"}, socket);
    ::setenv("KRVX_SOCKET", socket.c_str(), 1);
    const int h = service.ready() ? KRVXOpen() : -1;
    const int sender = service.ready() ? KRVXOpen() : -1;
    if (h <= 0 || sender <= 0) {
        state.SkipWithError("krvxd did not start");
        return;
    }
    // 0.5 s codes back to back on a thread of their own.
    std::atomic<bool> stop{false};
    std::atomic<int> sends{0};
    std::thread air([&] {
        const char *code = "0000 006D 0000 0001 0010 2000";  // one long space: ~218 ms
        while (!stop) {
            if (KRVXTransmitIR(sender, code, FMT_PRONTO, 2, 0, nullptr, nullptr, nullptr))
                ++sends;
        }
    });
    std::vector<double> us;
    for (auto _ : state) {
        if (!time_get_info(state, h, us))
            break;
    }
    stop = true;
    air.join();
    state.counters["sends"] = sends.load();
    KRVXClose(h);
    KRVXClose(sender);
    report(state, us);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_KrvxGetInfoDuringSend)->UseRealTime()->MinTime(2.0);

void BM_LircdVersionRoundTrip(benchmark::State &state) {
    if (::access("/usr/sbin/lircd", X_OK) != 0) {
        state.SkipWithError(
            "lircd is not installed: no comparison (scripts/install-deps --bench installs it)");
        return;
    }
    const std::string dir = temp_dir(), socket = dir + "/lircd.sock";
    // Its own options file and an empty configuration keep lircd away from /etc/lirc.
    std::ofstream(dir + "/lirc_options.conf") << "[lircd]\nnodaemon = True\n";
    std::ofstream(dir + "/lircd.conf") << "";
    Child lircd(
        {"/usr/sbin/lircd", "-O", dir + "/lirc_options.conf", "-n", "-H", "file", "-d", "/dev/null",
         "-o", socket, "-P", dir + "/lircd.pid", "-L", dir + "/lircd.log", dir + "/lircd.conf"},
        socket);
    const int fd = lircd.ready() ? connect_to(socket) : -1;
    if (fd < 0) {
        state.SkipWithError("lircd did not start (Debian package lirc)");
        return;
    }
    std::vector<double> us;
    us.reserve(200000);
    char buf[512];
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (::send(fd, "VERSION\n", 8, MSG_NOSIGNAL) != 8) {
            state.SkipWithError("send failed");
            break;
        }
        std::string reply;
        while (reply.find("END\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            reply.append(buf, static_cast<std::size_t>(n));
        }
        if (reply.find("SUCCESS") == std::string::npos) {
            state.SkipWithError("lircd did not answer VERSION");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    ::close(fd);
    report(state, us);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_LircdVersionRoundTrip)->UseRealTime();

}  // namespace
