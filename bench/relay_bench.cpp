// SPDX-License-Identifier: MIT
// vintrel's callback relay: what a driver callback costs on the driver's thread, and how
// long a report takes from the callback to its handler on the idle user-interface thread.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"

namespace {

using Clock = std::chrono::steady_clock;

QCoreApplication &application() {
    static int argc = 1;
    static char name[] = "bench_relay";
    static char *argv[] = {name, nullptr};
    // The event dispatcher vintrel's main() chooses (Qt's, not GLib's); BENCH_RELAY_GLIB=1
    // keeps GLib's to compare.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB") &&
        qEnvironmentVariableIsEmpty("BENCH_RELAY_GLIB")) {
        qputenv("QT_NO_GLIB", "1");
    }
    static QCoreApplication app(argc, argv);
    return app;
}

void percentiles(benchmark::State &state, std::vector<double> &samples) {
    if (samples.empty()) {
        return;
    }
    std::sort(samples.begin(), samples.end());
    auto at = [&samples](double q) {
        return samples[std::min(samples.size() - 1, static_cast<std::size_t>(q * samples.size()))];
    };
    state.counters["p50_ns"] = at(0.50);
    state.counters["p99_ns"] = at(0.99);
    state.counters["max_ns"] = samples.back();
}

// The main window as the relay sees it: counts reports and notes their latency.
class LatencyForm : public vintrel::MainForm {
  public:
    QWidget *widget() override { return nullptr; }
    void beginLearn() override {}
    void endLearn() override {}
    void onReceivedCode(const vintrel::platform::MessagePayload &) override {}
    void onLearnProgress(std::uintptr_t, std::intptr_t lParam) override {
        const auto now =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - batchStart).count();
        samples.push_back(static_cast<double>(now - lParam));
        if (++handled == wanted && loop != nullptr) {
            loop->quit();
        }
    }
    Clock::time_point batchStart;
    std::vector<double> samples;
    int handled = 0;
    int wanted = 0;
    QEventLoop *loop = nullptr;
};

struct Relay {
    Relay() {
        application();
        vintrel::processState().reset();
        window = windows.createWindow("STATIC", "CallbackHiddenWindow",
                                      vintrel::platform::WS_MINIMIZE, 0, 0, 100, 100);
        vintrel::processState().hiddenWnd.store(window);
        vintrel::device::subclassWindow(window);
        vintrel::processState().mainForm = &form;
    }
    ~Relay() { vintrel::processState().reset(); }
    vintrel::platform::WindowSystem windows;
    vintrel::platform::Hwnd window = 0;
    LatencyForm form;
};

// One learn report on the calling (driver) thread: pack, post, return.
void BM_LearnCallbackCost(benchmark::State &state) {
    Relay relay;
    std::vector<double> samples;
    samples.reserve(1 << 20);
    std::int64_t posted = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        vintrel::device::learnCallback(40, 3, 38000, nullptr);
        const auto took = Clock::now() - start;
        samples.push_back(static_cast<double>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(took).count()));
        if (++posted % 1024 == 0) {
            QCoreApplication::sendPostedEvents();  // keep the queue short, outside the timing
        }
    }
    QCoreApplication::sendPostedEvents();
    percentiles(state, samples);
}
BENCHMARK(BM_LearnCallbackCost);

// The same for a received code: 16 bytes copied into the message.
void BM_ReceiveCallbackCost(benchmark::State &state) {
    Relay relay;
    std::vector<double> samples;
    samples.reserve(1 << 20);
    const char code[20] = "0123456789AB";
    std::int64_t posted = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        vintrel::device::receiveCallback(code, nullptr);
        const auto took = Clock::now() - start;
        samples.push_back(static_cast<double>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(took).count()));
        if (++posted % 1024 == 0) {
            QCoreApplication::sendPostedEvents();
        }
    }
    QCoreApplication::sendPostedEvents();
    percentiles(state, samples);
}
BENCHMARK(BM_ReceiveCallbackCost);

// From a callback on a driver thread to its handler, with the user-interface thread idle
// in its event loop: one report every 200 µs, 500 per iteration.
void BM_CallbackToHandler(benchmark::State &state) {
    Relay relay;
    constexpr int kBatch = 500;
    for (auto _ : state) {
        QEventLoop loop;
        relay.form.handled = 0;
        relay.form.wanted = kBatch;
        relay.form.loop = &loop;
        relay.form.batchStart = Clock::now();
        const Clock::time_point start = relay.form.batchStart;
        std::thread driver([start] {
            for (int i = 0; i < kBatch; ++i) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                const auto sent =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start)
                        .count();
                vintrel::device::learnCallback(40, 3, static_cast<std::int32_t>(sent), nullptr);
            }
        });
        loop.exec();
        driver.join();
        relay.form.loop = nullptr;
    }
    percentiles(state, relay.form.samples);
}
BENCHMARK(BM_CallbackToHandler)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace
