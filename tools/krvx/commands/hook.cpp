// SPDX-License-Identifier: MIT
// krvx hook: prints every report of other applications' learns; may answer the first one it
// sees with a code (--inject) or by taking the burst captured so far (--accept-burst).
#include <CLI/CLI.hpp>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "../code_input.h"
#include "../commands.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

struct HookOptions {
    std::string inject;
    bool accept_burst = false;
};

// Reports from the library's thread; the main thread drains them every 50 ms.
struct HookWatch {
    std::mutex mutex;
    std::vector<std::array<int32_t, 3>> reports;  // progress, quality, carrier
};

extern "C" void on_hook_report(int32_t progress, int32_t quality, int32_t carrier, void *user) {
    auto *w = static_cast<HookWatch *>(user);
    std::lock_guard lock(w->mutex);
    if (w->reports.size() < 100000)
        w->reports.push_back({progress, quality, carrier});
}

void print_event(const Context &ctx, const JsonObject &json, const std::string &text) {
    print_line(ctx.json ? json.str() : text);
}

int hook(const Context &ctx, const HookOptions &o) {
    std::string inject;
    if (!o.inject.empty()) {
        const CodeInput in = read_code({o.inject});
        if (!in.ok())
            return fail(ctx, kRefused, "--inject: " + in.error);
        const std::string why = pronto_refusal(in.code);
        if (!why.empty())
            return fail(ctx, kRefused, "--inject: invalid code: " + why);
        inject = in.code;
    }
    stop::install();
    const int32_t h = open_device(ctx);
    if (h < 0)
        return kNoService;
    // The library keeps using the buffer, the abort word and the watch while hooked.
    static char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) static int32_t abort_word = 0;
    static HookWatch watch;
    std::memcpy(buffer, HOOK_COMMAND, sizeof HOOK_COMMAND);
    if (!KRVXLearnIR(h, FMT_PRONTO, buffer, on_hook_report, &watch, &abort_word, 0, -1, 0)) {
        const int e = errno;
        KRVXClose(h);
        return fail(ctx, kRefused, std::string("cannot hook: ") + KRVXErrorText(e));
    }
    // The injected text sits in the buffer before any learn begins; -2 is stored on BEGIN.
    if (!inject.empty())
        std::snprintf(buffer, sizeof buffer, "%s", inject.c_str());
    std::fprintf(stderr, "krvx: hooked; waiting for other applications' learns (Ctrl-C ends)\n");
    bool answered = false;
    int status = kDone;
    while (!stop::wait(50)) {
        std::vector<std::array<int32_t, 3>> reports;
        {
            std::lock_guard lock(watch.mutex);
            reports.swap(watch.reports);
        }
        bool done = false;
        for (const auto &[progress, quality, carrier] : reports) {
            if (progress == LEARN_PROGRESS_BEGIN) {
                print_event(ctx, JsonObject(true).text("event", "begin"), "begin");
                if (!answered && (!inject.empty() || o.accept_burst)) {
                    std::atomic_ref<int32_t>(abort_word)
                        .store(inject.empty() ? -1 : -2, std::memory_order_release);
                    answered = true;
                }
            } else if (progress == LEARN_PROGRESS_END) {
                print_event(ctx, JsonObject(true).text("event", "end").text("code", buffer),
                            std::string("end ") + (buffer[0] != '\0' ? buffer : "(no code)"));
                std::atomic_ref<int32_t>(abort_word).store(0, std::memory_order_release);
                done = answered;
            } else if (progress < 0) {
                const char *why = KRVXErrorText(progress);
                print_event(ctx, JsonObject(false).text("event", "failed").text("reason", why),
                            std::string("failed: ") + why);
                status = kRefused;
                done = true;
            } else {
                char line[96];
                std::snprintf(line, sizeof line, "progress %d quality %d carrier %d", progress,
                              quality, carrier);
                print_event(ctx,
                            JsonObject(true)
                                .text("event", "progress")
                                .number("progress", static_cast<long long>(progress))
                                .number("quality", static_cast<long long>(quality))
                                .number("carrier_hz", static_cast<long long>(carrier)),
                            line);
            }
        }
        if (done)
            break;  // answered one learn, or the service went away
    }
    // A hook the service still holds would keep answering learns for nobody: say so.
    char unhook[KRVX_LEARN_BUFFER_SIZE] = UNHOOK_COMMAND;
    if (!KRVXLearnIR(h, FMT_UNHOOK, unhook, nullptr, nullptr, &abort_word, 0, -1, 0) &&
        status == kDone) {
        status = fail(ctx, kRefused, std::string("cannot unhook: ") + KRVXErrorText(errno));
    }
    KRVXClose(h);
    return status;
}

}  // namespace

Command add_hook(CLI::App &parent) {
    auto o = std::make_shared<HookOptions>();
    auto *cmd = parent.add_subcommand(
        "hook", "Watch other applications' learns; --inject or --accept-burst answers the first");
    auto *inject = cmd->add_option(
        "--inject", o->inject,
        "Answer the first learn seen with this Pronto code (or @FILE, or - for standard input)");
    cmd->add_flag("--accept-burst", o->accept_burst,
                  "Answer the first learn seen by taking the burst captured so far")
        ->excludes(inject);
    return {cmd, [o](const Context &ctx) { return hook(ctx, *o); }};
}

}  // namespace krvx::cli
