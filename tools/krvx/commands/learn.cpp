// SPDX-License-Identifier: MIT
// krvx learn: learns a remote's button; progress on standard error, the code on standard
// output.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "../code_file.h"
#include "../code_forms.h"
#include "../commands.h"
#include "../validators.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

struct LearnOptions {
    double timeout_s = 30;
    SaveOptions save;
};

// The longest --timeout: the service ends any learn after ten minutes, and is asked to keep
// this one kServiceMarginMs longer than krvx waits.
constexpr double kMaxTimeoutS = 590;
constexpr double kServiceMarginMs = 10000;

// Reports from the library's thread, handed to the main thread through atomics.
struct LearnWatch {
    std::atomic<int32_t> progress{0};
    std::atomic<int32_t> quality{0};
    std::atomic<int32_t> carrier{0};
    std::atomic<int> reports{0};
    std::atomic<bool> ended{false};
};

extern "C" void on_learn_report(int32_t progress, int32_t quality, int32_t carrier, void *user) {
    auto *w = static_cast<LearnWatch *>(user);
    w->quality = quality;
    w->carrier = carrier;
    w->progress = progress;
    ++w->reports;
    if (progress == LEARN_PROGRESS_DONE || progress < 0)
        w->ended = true;
}

// Ctrl-C ends krvx within a second, also while a call waits for a silent service (the open
// and the learn call may each wait up to 2 s for an answer): once a stop is asked for, the
// main thread has kStopGrace to finish; then the process ends from here.
constexpr auto kStopGrace = std::chrono::milliseconds(800);
// After a stop, how long the learn loop waits for the learn's end before it gives up.
constexpr auto kEndGrace = std::chrono::milliseconds(400);

class StopDeadline {
  public:
    explicit StopDeadline(const Context &ctx) : ctx_(ctx), thread_([this] { watch(); }) {}
    ~StopDeadline() {
        done_ = true;
        thread_.join();
    }
    StopDeadline(const StopDeadline &) = delete;
    StopDeadline &operator=(const StopDeadline &) = delete;

  private:
    void watch() {
        while (!done_) {
            if (!stop::wait(50))
                continue;
            const auto until = std::chrono::steady_clock::now() + kStopGrace;
            while (!done_ && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!done_) {
                fail(ctx_, kRefused, "nothing learned: interrupted (the service did not answer)");
                std::fflush(stdout);
                std::fflush(stderr);
                std::_Exit(kRefused);
            }
            return;
        }
    }
    const Context &ctx_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// How the service built the learned code, for --json and the line on standard error.
const char *built_name(int32_t shape) {
    return shape == KRVX_SHAPE_SNAPPED ? "snapped" : shape == KRVX_SHAPE_AVERAGED ? "averaged" : "";
}
std::string built_words(const KRVXLearnReport &r) {
    if (r.shape == KRVX_SHAPE_SNAPPED)
        return std::string(" (snapped to ") + r.decode + ")";
    if (r.shape == KRVX_SHAPE_AVERAGED)
        return " (an average of its frames: no protocol)";
    return {};
}

int learn(const Context &ctx, const LearnOptions &o) {
    if (const std::string why = save_refusal(o.save); !why.empty())
        return fail(ctx, kRefused, "not learning: " + why);
    stop::install();
    const StopDeadline deadline(ctx);
    const int32_t h = open_device(ctx);
    if (h < 0)
        return kNoService;
    // The library keeps using the buffer and the abort word until the learn ends.
    static char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) static int32_t abort_word = 0;
    LearnWatch watch;
    // The service keeps the learn a little longer than krvx waits, so that krvx's own stop
    // finishes it with what it captured.
    const auto service_ms = static_cast<int32_t>(
        std::min<double>(o.timeout_s * 1000 + kServiceMarginMs, KRVX_MAX_LEARN_TIMEOUT_MS));
    KRVXLearnIR(h, FMT_PRONTO, buffer, on_learn_report, &watch, &abort_word, service_ms, -1, 0);
    if (errno != ERROR_IO_PENDING) {
        const int e = errno;
        KRVXClose(h);
        return fail(ctx, kRefused, std::string("cannot learn: ") + KRVXErrorText(e));
    }
    const bool tty = ::isatty(2) != 0;
    std::fprintf(stderr, "krvx: learning: hold the remote's button in front of the device%s\n",
                 tty ? " (Ctrl-C stops)" : "");
    const auto start = std::chrono::steady_clock::now();
    auto stopped_at = start;
    bool stopped = false, timed_out = false, signalled = false;
    int shown = 0;
    while (!watch.ended) {
        signalled = stop::wait(50) || signalled;
        const auto now = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(now - start).count();
        if (!stopped && (signalled || elapsed > o.timeout_s)) {
            // Stop: the learn finishes with what it captured, or ends without a code.
            timed_out = !signalled;
            std::atomic_ref<int32_t>(abort_word).store(-1, std::memory_order_release);
            stopped = true;
            stopped_at = now;
        }
        if (signalled && now - stopped_at > kEndGrace)
            break;  // interrupted, and the service does not end the learn: do not wait
        if (watch.reports != shown && !watch.ended) {
            shown = watch.reports;
            const int32_t pr = watch.progress;
            if (tty) {
                const int bar = pr / 5;
                std::fprintf(stderr, "\r[%.*s%.*s] %3d%%  quality %3d  carrier %6d Hz", bar,
                             "####################", 20 - bar, "                    ", pr,
                             watch.quality.load(), watch.carrier.load());
            } else {
                std::fprintf(stderr, "progress %d quality %d carrier %d\n", pr,
                             watch.quality.load(), watch.carrier.load());
            }
        }
    }
    if (tty)
        std::fputc('\n', stderr);
    const bool ended = watch.ended;
    const int32_t result = watch.progress;
    KRVXLearnReport report{};
    if (ended)
        KRVXGetLearnReport(h, &report);
    const int32_t origin = report.origin;
    KRVXClose(h);
    if (!ended || result != LEARN_PROGRESS_DONE) {
        std::string why = ended ? KRVXErrorText(result) : "the service did not end the learn";
        if (timed_out)
            why = "timed out: " + why;
        if (stopped && !timed_out)
            why = "interrupted: " + why;
        return fail(ctx, kRefused, "nothing learned: " + why);
    }
    if (!o.save.file.empty()) {
        if (const std::string e = save_learned(o.save, buffer); !e.empty())
            return fail(ctx, kRefused, "learned, not saved: " + e + "; the code: " + buffer);
        std::fprintf(stderr, "krvx: %s saved in %s\n", o.save.key.c_str(), o.save.file.c_str());
    }
    const std::vector<ir::protocols::Decode> decodes = shown_decodes(buffer);
    const char *origin_name = origin == KRVX_CODE_INJECTED         ? "injected"
                              : origin == KRVX_CODE_BURST_ACCEPTED ? "burst accepted"
                                                                   : "learned";
    if (ctx.json)
        print_line(JsonObject(true)
                       .text("code", buffer)
                       .number("quality", static_cast<long long>(watch.quality.load()))
                       .number("carrier_hz", static_cast<long long>(watch.carrier.load()))
                       .raw("decodes", decodes_json(decodes))
                       .text("origin", origin_name)
                       .text("built", built_name(report.shape))
                       .text("decode", report.decode)
                       .str());
    else
        std::printf("%s\n", buffer);
    const std::string what = decode_line(decodes);
    if (origin == KRVX_CODE_INJECTED)
        std::fprintf(stderr, "krvx: answered by another program with its code, carrier %d Hz: %s\n",
                     watch.carrier.load(), what.c_str());
    else if (origin == KRVX_CODE_BURST_ACCEPTED)
        std::fprintf(stderr,
                     "krvx: learned the burst another program accepted%s, quality %d, carrier "
                     "%d Hz: %s\n",
                     built_words(report).c_str(), watch.quality.load(), watch.carrier.load(),
                     what.c_str());
    else
        std::fprintf(stderr, "krvx: learned%s, quality %d, carrier %d Hz: %s\n",
                     built_words(report).c_str(), watch.quality.load(), watch.carrier.load(),
                     what.c_str());
    return kDone;
}

}  // namespace

Command add_learn(CLI::App &parent) {
    auto o = std::make_shared<LearnOptions>();
    auto *cmd = parent.add_subcommand(
        "learn",
        "Learn a remote's button: progress on standard error, the code on standard output");
    cmd->add_option("--timeout", o->timeout_s,
                    "Seconds to wait (at most 590); then the learn finishes with what it "
                    "captured, if usable")
        ->check(seconds_between(0.1, kMaxTimeoutS))
        ->capture_default_str();
    add_save_options(*cmd, o->save);
    return {cmd, [o](const Context &ctx) { return learn(ctx, *o); }};
}

}  // namespace krvx::cli
