// SPDX-License-Identifier: MIT
// krvxd under hostile load: the round trip of a well-behaved client while hundreds of
// clients flood requests and never read, and the service's memory meanwhile, after they
// left, and with a thousand presses asked for at once.
// Counters: p50_us/p99_us of the single KRVXGetKRVXInfo round trips, krvxd's peak RSS during
// the run and its RSS once the flooders have left (KiB).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <optional>

#include "bench_support.h"
#include "flood.h"
#include "ir/pronto.h"
#include "krvxdrv.h"
#include "wire/client.h"

namespace {

using namespace krvx_bench;
using namespace std::chrono_literals;

void BM_InfoDuringFlood(benchmark::State &state) {
    const auto flooders = static_cast<std::size_t>(state.range(0));
    const std::string dir = temp_dir(), socket = dir + "/krvxd.sock";
    Child service({KRVXD_PATH, "--socket", socket, "--time-scale", "0"}, socket);
    ::setenv("KRVX_SOCKET", socket.c_str(), 1);
    const int h = service.ready() ? KRVXOpen() : -1;
    if (h <= 0) {
        state.SkipWithError("krvxd did not start");
        return;
    }
    std::optional<krvxd::testing::Flood> flood;
    if (flooders > 0)
        flood.emplace(socket, flooders);
    std::vector<double> us;
    long peak = 0;
    for (auto _ : state) {
        if (!time_get_info(state, h, us))
            break;
        if (us.size() % 16 == 0)
            peak = std::max(peak, rss_kib(service.pid()));
        std::this_thread::sleep_for(1ms);  // a client's pace, not a loop's
    }
    flood.reset();
    std::this_thread::sleep_for(1s);
    state.counters["peak_rss_kib"] = static_cast<double>(peak);
    state.counters["rss_after_kib"] = static_cast<double>(rss_kib(service.pid()));
    KRVXClose(h);
    report(state, us);
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_InfoDuringFlood)->Arg(0)->Arg(250)->Arg(500)->UseRealTime()->MinTime(3.0);

void BM_ThousandPresses(benchmark::State &state) {
    const std::string dir = temp_dir(), socket = dir + "/krvxd.sock";
    Child service({KRVXD_PATH, "--socket", socket, "--time-scale", "1"}, socket);
    ir::Signal s;
    s.carrier_hz = 38000;
    s.once.assign(1, ir::Burst{600, 600});
    const std::string code = ir::encode_pronto(s).text;
    for (auto _ : state) {
        wire::Client c;
        if (!service.ready() || !c.connect(socket, Clock::now() + 2s).ok() ||
            !c.hello(Clock::now() + 2s).ok()) {
            state.SkipWithError("krvxd did not start");
            return;
        }
        int held = 0;
        for (uint32_t id = 2; id < 1002; ++id)
            c.send({id, wire::Press{60000, 100, code}}, Clock::now() + 5s);
        for (int i = 0; i < 1000; ++i)
            if (auto m = c.next(Clock::now() + 5s);
                m && std::holds_alternative<wire::Reply>(m->body))
                ++held;
        state.counters["held"] = held;
        state.counters["rss_kib"] = static_cast<double>(rss_kib(service.pid()));
    }
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ThousandPresses)->Iterations(1)->UseRealTime();

}  // namespace
