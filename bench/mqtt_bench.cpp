// SPDX-License-Identifier: MIT
// krvx-mqtt's latency through a private local Mosquitto broker and a simulated krvxd
// (time scale 0, loopback):
//   Received: a code held in front of the device (krvx press) -> its `received` message at
//             a subscriber;
//   Send:     a `send` command published -> its `send/result` at a subscriber (the result
//             is published once the device has sent the code, so it includes the air time);
//   BrokerEcho: the broker's own round trip, the floor under both.
// Each reports p50 and p99 of the single round trips as counters (µs).
#include <benchmark/benchmark.h>

#include <algorithm>

#include "../tools/krvx/press.h"
#include "mqtt_processes.h"

namespace {

using namespace mqtt_testing;
using Clock = std::chrono::steady_clock;

struct Rig {
    TempDir dir;
    Broker broker{dir.path()};
    std::string socket = dir.path() + "/krvxd.sock";
    Process service{{KRVXD_PATH, "--socket", socket, "--loopback", "--time-scale", "0"}};
    Process bridge;
    std::unique_ptr<Client> watch;

    Rig() {
        eventually([&] { return testing_support::can_connect(socket); });
        bridge = Process({KRVX_MQTT_PATH, "--socket", socket, "--broker", broker.url(), "--node",
                          "bench", "--rate", "1000", "--burst", "1000"});
        watch = std::make_unique<Client>(broker.port());
        watch->subscribe("krvx/bench/#");
        watch->wait_for("krvx/bench/device", "\"connected\":true");
    }
};

void percentiles(benchmark::State &state, std::vector<double> &us) {
    if (us.empty())
        return;
    std::sort(us.begin(), us.end());
    state.counters["p50_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[std::min(us.size() - 1, us.size() * 99 / 100)];
}

void BM_Received(benchmark::State &state) {
    Rig rig;
    std::vector<double> us;
    for (auto _ : state) {
        const std::size_t before = rig.watch->on("krvx/bench/received").size();
        const auto t0 = Clock::now();
        if (!krvx::press(rig.socket, "NEC1 D=4 F=8", 0, 100).opened) {
            state.SkipWithError("krvx press failed");
            break;
        }
        if (rig.watch->wait("krvx/bench/received", before + 1, std::chrono::seconds(5)).size() <=
            before) {
            state.SkipWithError("no received message");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    percentiles(state, us);
}

// The codes sent: one mark and space (about 1.3 ms on air), and NEC1 (108 ms on air): the
// result comes when the device has sent the code, so the air time is part of the figure.
const char *const kSendCodes[] = {"0000 006D 0000 0001 0010 0020", "NEC1 D=4 F=8"};

void BM_Send(benchmark::State &state) {
    const std::string code = kSendCodes[state.range(0)];
    state.SetLabel(code);
    Rig rig;
    std::vector<double> us;
    int id = 0;
    for (auto _ : state) {
        const std::string tag = "\"id\":" + std::to_string(++id) + ",";
        const auto t0 = Clock::now();
        rig.watch->publish("krvx/bench/send", "{" + tag + "\"code\":\"" + code + "\"}");
        if (rig.watch->wait_for("krvx/bench/send/result", "{" + tag, std::chrono::seconds(5))
                .empty()) {
            state.SkipWithError("no send result");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    percentiles(state, us);
}

// The broker alone, for comparison: a message published -> the same client has it back
// (no bridge, no krvxd). What the two above take beyond this is the bridge's and krvxd's.
void BM_BrokerEcho(benchmark::State &state) {
    Rig rig;
    std::vector<double> us;
    rig.watch->subscribe("krvx/bench/echo");
    int id = 0;
    for (auto _ : state) {
        const std::string tag = "{\"id\":" + std::to_string(++id) + "}";
        const auto t0 = Clock::now();
        rig.watch->publish("krvx/bench/echo", tag);
        if (rig.watch->wait_for("krvx/bench/echo", tag, std::chrono::seconds(5)).empty()) {
            state.SkipWithError("no echo");
            break;
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    percentiles(state, us);
}

BENCHMARK(BM_BrokerEcho)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Received)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Send)->Arg(0)->Iterations(500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Send)->Arg(1)->Iterations(50)->Unit(benchmark::kMicrosecond);

}  // namespace
