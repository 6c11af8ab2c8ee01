// SPDX-License-Identifier: MIT
// krvx listen: prints each code the device's receiver reports and what it is, until Ctrl-C.
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

// What listen knows on the library's thread, where both callbacks run one after the
// other: the frame callback notes what a frame is, the receive callback of the same frame
// prints it. A device that decodes codes itself reports codes without frames.
struct Listener {
    const Context *ctx = nullptr;
    std::string frame_code;  // the code of the frame noted last
    std::string decode;      // "NEC1 D=4 S=251 F=8", "" when unknown
    std::string kernel;      // "nec 0x0408", "" when none
    std::string params_json;  // {"D":4,"S":251,"F":8}
};

extern "C" void note_frame(const KRVXReceivedFrame *f, void *user) {
    auto *l = static_cast<Listener *>(user);
    l->frame_code = f->code;
    const std::string protocol = f->protocol;
    const std::string params = f->params;
    l->decode = protocol.empty() ? "" : params.empty() ? protocol : protocol + " " + params;
    l->kernel.clear();
    if (f->kernelProtocol[0] != '\0') {
        char scancode[16];
        std::snprintf(scancode, sizeof scancode, "0x%04x", f->kernelScancode);
        l->kernel = std::string(f->kernelProtocol) + " " + scancode;
    }
    l->params_json = "{";
    std::size_t i = 0;
    while (i < params.size()) {
        const std::size_t end = std::min(params.find(' ', i), params.size());
        const std::size_t eq = params.find('=', i);
        if (eq < end)
            l->params_json += (l->params_json.size() > 1 ? "," : "") +
                              json_string(params.substr(i, eq - i)) + ":" +
                              params.substr(eq + 1, end - eq - 1);
        i = end + 1;
    }
    l->params_json += "}";
}

// Prints the code's line (with what its frame is, when known) and returns.
extern "C" void print_received(const char *text, void *user) {
    auto *l = static_cast<Listener *>(user);
    char code[KRVX_RECEIVE_CODE_LENGTH + 1] = {};
    std::memcpy(code, text, KRVX_RECEIVE_CODE_LENGTH);
    const bool described = l->frame_code == code;
    l->frame_code.clear();
    if (l->ctx->json) {
        JsonObject line(true);
        line.text("received", code).text("time", utc_now());
        if (described && !l->decode.empty()) {
            std::string decode = "{\"protocol\":" +
                                 json_string(l->decode.substr(0, l->decode.find(' '))) +
                                 ",\"params\":" + l->params_json;
            if (!l->kernel.empty())
                decode += ",\"kernel\":{\"protocol\":" +
                          json_string(l->kernel.substr(0, l->kernel.find(' '))) +
                          ",\"scancode\":" + json_string(l->kernel.substr(l->kernel.find(' ') + 1)) +
                          "}";
            line.raw("decode", decode + "}");
        } else if (described) {
            line.raw("decode", "null");
        }
        print_line(line.str());
    } else if (described) {
        print_line(std::string(code) + "  " + (l->decode.empty() ? "unknown" : l->decode) +
                   (l->kernel.empty() ? "" : "  (" + l->kernel + ")"));
    } else {
        print_line(code);
    }
}

int listen(const Context &ctx) {
    stop::install();
    const int32_t h = open_device(ctx);
    if (h < 0)
        return kNoService;
    Listener listener;
    listener.ctx = &ctx;
    if (!KRVXSetReceiveFrameCallback(h, note_frame, &listener) ||
        !KRVXSetReceiveCallback(h, print_received, &listener)) {
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
        parent.add_subcommand("listen",
                              "Print each code the device receives and what it is, until Ctrl-C");
    return {cmd, listen};
}

}  // namespace krvx::cli
