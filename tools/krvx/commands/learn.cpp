// SPDX-License-Identifier: MIT
// krvx learn: learns a remote's button; progress on standard error, the code on standard
// output.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <memory>

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

int learn(const Context &ctx, const LearnOptions &o) {
    if (const std::string why = save_refusal(o.save); !why.empty())
        return fail(ctx, kRefused, "not learning: " + why);
    stop::install();
    const int32_t h = open_device(ctx);
    if (h < 0)
        return kNoService;
    // The library keeps using the buffer and the abort word until the learn ends.
    static char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) static int32_t abort_word = 0;
    LearnWatch watch;
    KRVXLearnIR(h, FMT_PRONTO, buffer, on_learn_report, &watch, &abort_word, 0, -1, 0);
    if (errno != ERROR_IO_PENDING) {
        const int e = errno;
        KRVXClose(h);
        return fail(ctx, kRefused, std::string("cannot learn: ") + KRVXErrorText(e));
    }
    const bool tty = ::isatty(2) != 0;
    std::fprintf(stderr, "krvx: learning: hold the remote's button in front of the device%s\n",
                 tty ? " (Ctrl-C stops)" : "");
    const auto start = std::chrono::steady_clock::now();
    bool stopped = false, timed_out = false;
    int shown = 0;
    while (!watch.ended) {
        const bool signalled = stop::wait(50);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!stopped && (signalled || elapsed > o.timeout_s)) {
            // Stop: the learn finishes with what it captured, or ends without a code.
            timed_out = !signalled;
            std::atomic_ref<int32_t>(abort_word).store(-1, std::memory_order_release);
            stopped = true;
        }
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
    const int32_t result = watch.progress;
    KRVXClose(h);
    if (result != LEARN_PROGRESS_DONE) {
        std::string why = KRVXErrorText(result);
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
    if (ctx.json)
        print_line(JsonObject(true)
                       .text("code", buffer)
                       .number("quality", static_cast<long long>(watch.quality.load()))
                       .number("carrier_hz", static_cast<long long>(watch.carrier.load()))
                       .raw("decodes", decodes_json(decodes))
                       .str());
    else
        std::printf("%s\n", buffer);
    std::fprintf(stderr, "krvx: learned, quality %d, carrier %d Hz: %s\n", watch.quality.load(),
                 watch.carrier.load(), decode_line(decodes).c_str());
    return kDone;
}

}  // namespace

Command add_learn(CLI::App &parent) {
    auto o = std::make_shared<LearnOptions>();
    auto *cmd = parent.add_subcommand(
        "learn",
        "Learn a remote's button: progress on standard error, the code on standard output");
    cmd->add_option("--timeout", o->timeout_s,
                    "Seconds to wait; then the learn finishes with what it captured, if usable")
        ->check(seconds_between(0.1, 3600.0))
        ->capture_default_str();
    add_save_options(*cmd, o->save);
    return {cmd, [o](const Context &ctx) { return learn(ctx, *o); }};
}

}  // namespace krvx::cli
