// SPDX-License-Identifier: MIT
// Latency of a learn's progress: from the moment a frame reaches the service (the device's
// event, on the service loop) to the library's learn callback in the application. The
// service runs in this process on its own thread; the library talks to it over its socket
// as always. Reports p50 and p99 (µs) as counters.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "krvxdrv.h"
#include "log.h"
#include "server.h"
#include "sim/sim_backend.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int64_t> g_callback_ns{0};

void on_progress(int32_t progress, int32_t, int32_t, void *) {
    if (progress >= 0 && progress <= 100)
        g_callback_ns.store(Clock::now().time_since_epoch().count(), std::memory_order_release);
}

void BM_LearnProgressToCallback(benchmark::State &state) {
    char dir_template[] = "/tmp/krvx-learn-bench.XXXXXX";
    const std::string dir = ::mkdtemp(dir_template);
    const std::string path = dir + "/krvxd.sock";
    asio::io_context io;
    const krvxd::Log log(false);
    krvxd::Server server(io, log);
    krvxd::SimSettings settings;
    settings.time_scale = 0;
    krvxd::SimBackend sim(io.get_executor(), server, settings);
    server.set_backend(&sim);
    if (!server.listen(path).empty()) {
        state.SkipWithError("cannot listen");
        return;
    }
    auto guard = asio::make_work_guard(io);
    std::thread loop([&] { io.run(); });
    ::setenv("KRVX_SOCKET", path.c_str(), 1);
    const int h = KRVXOpen();
    static char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) static int32_t abort_word = 0;
    krvxd::ReceivedFrame frame;
    frame.durations_us = {889, 889, 1778, 889, 889, 1778, 889, 889, 889};
    frame.trailing_gap_us = 90000;
    frame.carrier_samples_hz = {36000};
    std::vector<double> us;
    std::atomic<int64_t> sent_ns{0};  // outlives every posted handler
    for (auto _ : state) {
        // A fresh learn (superseding the last), then one frame: its first report.
        KRVXLearnIR(h, FMT_PRONTO, buffer, on_progress, nullptr, &abort_word, 0, -1, 0);
        g_callback_ns.store(0);
        sent_ns.store(0);
        asio::post(io, [&] {
            sent_ns.store(Clock::now().time_since_epoch().count());
            server.on_frame(frame);
        });
        const auto deadline = Clock::now() + std::chrono::seconds(2);
        while (g_callback_ns.load(std::memory_order_acquire) == 0 && Clock::now() < deadline) {
        }
        const int64_t got = g_callback_ns.load();
        if (got == 0) {
            state.SkipWithError("no progress report within 2 s");
            break;
        }
        const double took = double(got - sent_ns.load()) / 1000.0;
        us.push_back(took);
        state.SetIterationTime(took / 1e6);
    }
    KRVXClose(h);
    asio::post(io, [&] {
        server.stop();
        guard.reset();
    });
    loop.join();
    std::filesystem::remove_all(dir);
    if (!us.empty()) {
        std::sort(us.begin(), us.end());
        state.counters["p50_us"] = us[us.size() / 2];
        state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    }
}
BENCHMARK(BM_LearnProgressToCallback)->UseManualTime()->Iterations(3000);

}  // namespace
