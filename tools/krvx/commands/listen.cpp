// SPDX-License-Identifier: MIT
// krvx listen: prints each code the device's receiver reports, until Ctrl-C.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "../commands.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

// The wall-clock time as RFC 3339 UTC with milliseconds, e.g. 2025-05-01T12:34:56.789Z.
std::string utc_now() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    ::gmtime_r(&now.tv_sec, &utc);
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03ldZ", now.tv_nsec / 1000000);
    return text;
}

// Runs on the library's thread: prints the line and returns.
extern "C" void print_received(const char *text, void *user) {
    const auto *ctx = static_cast<const Context *>(user);
    char code[KRVX_RECEIVE_CODE_LENGTH + 1] = {};
    std::memcpy(code, text, KRVX_RECEIVE_CODE_LENGTH);
    if (ctx->json)
        print_line(JsonObject(true).text("received", code).text("time", utc_now()).str());
    else
        print_line(code);
}

int listen(const Context &ctx) {
    stop::install();
    const int32_t h = open_device(ctx);
    if (h < 0)
        return kNoService;
    if (!KRVXSetReceiveCallback(h, print_received, const_cast<Context *>(&ctx))) {
        const int e = errno;
        KRVXClose(h);
        return fail(ctx, kRefused, std::string("cannot listen: ") + KRVXErrorText(e));
    }
    if (!ctx.json)
        std::fprintf(stderr, "krvx: listening on %s; Ctrl-C ends\n", ctx.socket.c_str());
    int status = kDone;
    // The service may go away: look every 2 s, and end with an error when it has.
    while (!stop::wait(2000)) {
        DeviceInfo info{};
        if (!KRVXGetKRVXInfo(h, &info)) {
            status = fail(ctx, kNoService, std::string("lost the device: ") + KRVXErrorText(errno));
            break;
        }
    }
    KRVXClose(h);
    return status;
}

}  // namespace

Command add_listen(CLI::App &parent) {
    auto *cmd =
        parent.add_subcommand("listen", "Print each code the device receives, until Ctrl-C");
    return {cmd, listen};
}

}  // namespace krvx::cli
