// SPDX-License-Identifier: MIT
#include "cli.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "krvxdrv.h"

namespace krvx::cli {

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

JsonObject::JsonObject(bool ok) : body_(ok ? "{\"ok\":true" : "{\"ok\":false") {}

JsonObject &JsonObject::key(std::string_view key) {
    body_ += ',';
    body_ += json_string(key);
    body_ += ':';
    return *this;
}

JsonObject &JsonObject::text(std::string_view k, std::string_view value) {
    key(k).body_ += json_string(value);
    return *this;
}

JsonObject &JsonObject::number(std::string_view k, long long value) {
    key(k).body_ += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::number(std::string_view k, double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    key(k).body_ += buf;
    return *this;
}

JsonObject &JsonObject::boolean(std::string_view k, bool value) {
    key(k).body_ += value ? "true" : "false";
    return *this;
}

JsonObject &JsonObject::raw(std::string_view k, std::string_view json) {
    key(k).body_ += json;
    return *this;
}

void print_line(const std::string &line) {
    const std::string whole = line + "\n";
    std::fwrite(whole.data(), 1, whole.size(), stdout);
    std::fflush(stdout);
}

int fail(const Context &ctx, int status, const std::string &message) {
    if (ctx.json)
        print_line(JsonObject(false).text("error", message).number("exit", status).str());
    std::fprintf(stderr, "krvx: %s\n", message.c_str());
    return status;
}

std::string hex_code(int32_t value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

int32_t open_device(const Context &ctx) {
    const int32_t handle = KRVXOpen();
    if (handle > 0)
        return handle;
    const int e = errno;
    std::string hint;
    if (e == ERR_DRIVER_NOT_FOUND)
        hint = " (start it with: krvxd &)";
    fail(ctx, kNoService,
         "cannot open the device at " + ctx.socket + ": " + KRVXErrorText(e) + hint);
    return -1;
}

namespace stop {
namespace {

// The process-wide stop state: set by the signal handler, read by wait().
std::atomic<bool> g_stopped{false};
int g_pipe[2] = {-1, -1};

extern "C" void on_signal(int) {
    g_stopped.store(true);
    const char c = 1;
    if (g_pipe[1] >= 0)
        (void)!::write(g_pipe[1], &c, 1);
}

}  // namespace

void install() {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool wait(int timeout_ms) {
    if (g_stopped.load())
        return true;
    pollfd p{g_pipe[0], POLLIN, 0};  // a negative descriptor is ignored: a plain sleep
    ::poll(&p, 1, timeout_ms);
    return g_stopped.load();
}

}  // namespace stop

}  // namespace krvx::cli
