// krvx: the command line of the Korvex IR transceiver. Uses libkrvxdrv's public C API like
// any other application; only `press` speaks the service's private protocol (press.h).
//
// Exit status: 0 done; 1 the code or the device refused (also `check` of an invalid code);
// 2 bad usage; 3 the service or device could not be opened.
#include <poll.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "ir/pronto.h"
#include "krvxdrv.h"
#include "press.h"
#include "wire/socket_path.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoDevice = 3;

bool g_json = false;

std::string json_string(const std::string &s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int error(int status, const std::string &message) {
    if (g_json)
        std::printf("{\"ok\":false,\"error\":%s}\n", json_string(message).c_str());
    std::fprintf(stderr, "krvx: %s\n", message.c_str());
    return status;
}

std::string hex_error(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(value));
    return buf;
}

// Reads the code: the argument, or standard input for "-" (at most 64 KiB).
bool read_code(const std::string &arg, std::string &code) {
    if (arg != "-") {
        code = arg;
        return true;
    }
    code.clear();
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) {
        code.append(buf, n);
        if (code.size() > 65536)
            return false;
    }
    return true;
}

int open_device(const std::string &socket) {
    const int32_t handle = KRVXOpen();
    if (handle > 0)
        return handle;
    const int e = errno;
    std::string hint;
    if (e == ERR_DRIVER_NOT_FOUND)
        hint = " (start it with: krvxd &)";
    error(kExitNoDevice, "cannot open the device at " + socket + ": " + KRVXErrorText(e) + hint);
    return -1;
}

int cmd_info(const std::string &socket) {
    const int h = open_device(socket);
    if (h < 0)
        return kExitNoDevice;
    DeviceInfo info{};
    const int ok = KRVXGetKRVXInfo(h, &info);
    const int e = errno;
    KRVXClose(h);
    if (!ok)
        return error(kExitRefused, std::string("device information: ") + KRVXErrorText(e));
    char date[16];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u", 2000u + info.firmwareDateYear,
                  info.firmwareDateMonth, info.firmwareDateDay);
    uint32_t version = 0;
    KRVXGetDrvVersion(&version);
    if (g_json) {
        std::printf(
            "{\"ok\":true,\"firmware\":\"%u.%u\",\"protocol\":\"%u.%u\",\"firmware_date\":\"%s\","
            "\"library_version\":%u,\"socket\":%s}\n",
            info.firmwareVersion / 256, info.firmwareVersion % 256, info.protocolVersion / 256,
            info.protocolVersion % 256, date, version, json_string(socket).c_str());
    } else {
        std::printf(
            "Firmware version:  %u.%u\nProtocol version:  %u.%u\nFirmware date:     %s\n"
            "Library version:   %u\nService socket:    %s\n",
            info.firmwareVersion / 256, info.firmwareVersion % 256, info.protocolVersion / 256,
            info.protocolVersion % 256, date, version, socket.c_str());
    }
    return 0;
}

int cmd_check(const std::string &arg) {
    std::string code;
    if (!read_code(arg, code))
        return error(kExitRefused, "the code is longer than 64 KiB");
    char canonical[KRVX_LEARN_BUFFER_SIZE];
    int32_t words = 0;
    const bool valid = code.find('\0') == std::string::npos &&
                       KRVXConvertProntoCode(code.c_str(), canonical, &words, 0, 0) != 0;
    if (!valid) {
        std::string why = code.size() > ir::kMaxProntoChars
                              ? "longer than " + std::to_string(ir::kMaxProntoChars) + " characters"
                              : ir::parse_pronto(code).error;
        if (why.empty())
            why = "not a valid Pronto code";
        if (g_json) {
            std::printf("{\"ok\":true,\"valid\":false,\"reason\":%s}\n", json_string(why).c_str());
        } else {
            std::printf("invalid: %s\n", why.c_str());
        }
        return kExitRefused;
    }
    const auto parsed = ir::parse_pronto(code);
    const double carrier = parsed.signal.carrier_hz;
    if (g_json) {
        std::printf(
            "{\"ok\":true,\"valid\":true,\"canonical\":%s,\"words\":%d,\"carrier_hz\":%.0f,"
            "\"once_pairs\":%zu,\"repeat_pairs\":%zu}\n",
            json_string(canonical).c_str(), words, carrier, parsed.signal.once.size(),
            parsed.signal.repeat.size());
    } else {
        std::printf("valid: %d words, carrier %.0f Hz, %zu once pairs, %zu repeat pairs\n%s\n",
                    words, carrier, parsed.signal.once.size(), parsed.signal.repeat.size(),
                    canonical);
    }
    return 0;
}

int cmd_send(const std::string &socket, const std::string &arg, int repeat) {
    std::string code;
    if (!read_code(arg, code))
        return error(kExitRefused, "the code is longer than 64 KiB");
    if (KRVXConvertProntoCode(code.c_str(), nullptr, nullptr, 0, 0) == 0) {
        const std::string why = ir::parse_pronto(code).error;
        return error(kExitRefused, "not sent: invalid code: " + (why.empty() ? "too long" : why));
    }
    const int h = open_device(socket);
    if (h < 0)
        return kExitNoDevice;
    const int ok =
        KRVXTransmitIR(h, code.c_str(), FMT_PRONTO, repeat, 0, nullptr, nullptr, nullptr);
    const int e = errno;
    KRVXClose(h);
    if (!ok)
        return error(kExitRefused,
                     std::string("not sent: ") + KRVXErrorText(e) + " (" + hex_error(e) + ")");
    if (g_json)
        std::printf("{\"ok\":true,\"sent\":true,\"repeat\":%d}\n", repeat);
    else
        std::printf("sent\n");
    return 0;
}

std::atomic<bool> g_stop{false};
int g_stop_pipe[2] = {-1, -1};

extern "C" void on_stop_signal(int) {
    g_stop.store(true);
    const char c = 1;
    (void)!::write(g_stop_pipe[1], &c, 1);
}

extern "C" void print_received(const char *text, void *) {
    // Runs on the library's thread: print the line and return.
    char code[KRVX_RECEIVE_CODE_LENGTH + 1] = {};
    std::memcpy(code, text, KRVX_RECEIVE_CODE_LENGTH);
    if (g_json)
        std::printf("{\"received\":\"%s\"}\n", code);
    else
        std::printf("%s\n", code);
    std::fflush(stdout);
}

int cmd_listen(const std::string &socket) {
    if (::pipe(g_stop_pipe) != 0)
        return error(kExitRefused, "cannot create a pipe");
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    const int h = open_device(socket);
    if (h < 0)
        return kExitNoDevice;
    if (!KRVXSetReceiveCallback(h, print_received, nullptr)) {
        const int e = errno;
        KRVXClose(h);
        return error(kExitRefused, std::string("cannot listen: ") + KRVXErrorText(e));
    }
    if (!g_json)
        std::fprintf(stderr, "krvx: listening on %s; Ctrl-C ends\n", socket.c_str());
    int status = 0;
    while (!g_stop.load()) {
        // The service may go away: look every 2 s, and end with an error when it has.
        pollfd p{g_stop_pipe[0], POLLIN, 0};
        if (::poll(&p, 1, 2000) > 0)
            break;
        DeviceInfo info{};
        if (!KRVXGetKRVXInfo(h, &info)) {
            status = error(kExitRefused, std::string("lost the device: ") + KRVXErrorText(errno));
            break;
        }
    }
    KRVXClose(h);
    return status;
}

// Own learn: reports from the library's thread, handed to the main thread through atomics.
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

int cmd_learn(const std::string &socket, double timeout_s) {
    if (::pipe(g_stop_pipe) != 0)
        return error(kExitRefused, "cannot create a pipe");
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    const int h = open_device(socket);
    if (h < 0)
        return kExitNoDevice;
    static char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) static int32_t abort_word = 0;
    LearnWatch watch;
    KRVXLearnIR(h, FMT_PRONTO, buffer, on_learn_report, &watch, &abort_word, 0, -1, 0);
    if (errno != ERROR_IO_PENDING) {
        const int e = errno;
        KRVXClose(h);
        return error(kExitRefused, std::string("cannot learn: ") + KRVXErrorText(e));
    }
    const bool tty = ::isatty(2) != 0;
    std::fprintf(stderr, "krvx: learning: hold the remote's button in front of the device%s\n",
                 tty ? " (Ctrl-C stops)" : "");
    const auto start = std::chrono::steady_clock::now();
    bool stopped = false, timed_out = false;
    int shown = 0;
    while (!watch.ended) {
        pollfd p{g_stop_pipe[0], POLLIN, 0};
        const bool signalled = ::poll(&p, 1, 50) > 0;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!stopped && (signalled || elapsed > timeout_s)) {
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
        return error(kExitRefused, "nothing learned: " + why);
    }
    if (g_json)
        std::printf("{\"ok\":true,\"code\":%s,\"quality\":%d,\"carrier_hz\":%d}\n",
                    json_string(buffer).c_str(), watch.quality.load(), watch.carrier.load());
    else
        std::printf("%s\n", buffer);
    std::fprintf(stderr, "krvx: learned, quality %d, carrier %d Hz\n", watch.quality.load(),
                 watch.carrier.load());
    return 0;
}

// Hook: prints every report of other clients' learns; may answer the first one it sees.
struct HookWatch {
    std::mutex mutex;
    std::vector<std::array<int32_t, 3>> reports;  // progress, quality, carrier
};

extern "C" void on_hook_report(int32_t progress, int32_t quality, int32_t carrier, void *user) {
    auto *w = static_cast<HookWatch *>(user);
    std::lock_guard lock(w->mutex);
    if (w->reports.size() < 100000)  // the main thread drains it every 50 ms
        w->reports.push_back({progress, quality, carrier});
}

int cmd_hook(const std::string &socket, const std::string &inject, bool accept_burst) {
    if (!inject.empty() && KRVXConvertProntoCode(inject.c_str(), nullptr, nullptr, 0, 0) == 0)
        return error(kExitRefused, "--inject: invalid code: " + ir::parse_pronto(inject).error);
    if (::pipe(g_stop_pipe) != 0)
        return error(kExitRefused, "cannot create a pipe");
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    const int h = open_device(socket);
    if (h < 0)
        return kExitNoDevice;
    static char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) static int32_t abort_word = 0;
    static HookWatch watch;
    std::memcpy(buffer, HOOK_COMMAND, sizeof HOOK_COMMAND);
    if (!KRVXLearnIR(h, FMT_PRONTO, buffer, on_hook_report, &watch, &abort_word, 0, -1, 0)) {
        const int e = errno;
        KRVXClose(h);
        return error(kExitRefused, std::string("cannot hook: ") + KRVXErrorText(e));
    }
    // The injected text sits in the buffer before any learn begins; -2 is stored on BEGIN.
    if (!inject.empty())
        std::snprintf(buffer, sizeof buffer, "%s", inject.c_str());
    std::fprintf(stderr, "krvx: hooked; waiting for other applications' learns (Ctrl-C ends)\n");
    bool answered = false;
    int status = 0;
    while (!g_stop.load()) {
        pollfd p{g_stop_pipe[0], POLLIN, 0};
        if (::poll(&p, 1, 50) > 0)
            break;
        std::vector<std::array<int32_t, 3>> reports;
        {
            std::lock_guard lock(watch.mutex);
            reports.swap(watch.reports);
        }
        bool done = false;
        for (const auto &[progress, quality, carrier] : reports) {
            if (progress == LEARN_PROGRESS_BEGIN) {
                std::printf(g_json ? "{\"event\":\"begin\"}\n" : "begin\n");
                if (!answered && (!inject.empty() || accept_burst)) {
                    std::atomic_ref<int32_t>(abort_word)
                        .store(inject.empty() ? -1 : -2, std::memory_order_release);
                    answered = true;
                }
            } else if (progress == LEARN_PROGRESS_END) {
                if (g_json)
                    std::printf("{\"event\":\"end\",\"code\":%s}\n", json_string(buffer).c_str());
                else
                    std::printf("end %s\n", buffer[0] != '\0' ? buffer : "(no code)");
                std::atomic_ref<int32_t>(abort_word).store(0, std::memory_order_release);
                done = answered;
            } else if (progress < 0) {
                std::printf(g_json ? "{\"event\":\"failed\",\"reason\":%s}\n" : "failed: %s\n",
                            g_json ? json_string(KRVXErrorText(progress)).c_str()
                                   : KRVXErrorText(progress));
                status = kExitRefused;
                done = true;
            } else if (g_json) {
                std::printf(
                    "{\"event\":\"progress\",\"progress\":%d,\"quality\":%d,"
                    "\"carrier_hz\":%d}\n",
                    progress, quality, carrier);
            } else {
                std::printf("progress %d quality %d carrier %d\n", progress, quality, carrier);
            }
        }
        std::fflush(stdout);
        if (done)
            break;  // answered one learn, or the service went away
    }
    char unhook[KRVX_LEARN_BUFFER_SIZE] = UNHOOK_COMMAND;
    KRVXLearnIR(h, FMT_UNHOOK, unhook, nullptr, nullptr, &abort_word, 0, -1, 0);
    KRVXClose(h);
    return status;
}

int cmd_press(const std::string &socket, const std::string &arg, uint32_t hold_ms,
              unsigned quality) {
    std::string code;
    if (!read_code(arg, code))
        return error(kExitRefused, "the code is longer than 64 KiB");
    if (KRVXConvertProntoCode(code.c_str(), nullptr, nullptr, 0, 0) == 0) {
        const std::string why = ir::parse_pronto(code).error;
        return error(kExitRefused,
                     "not pressed: invalid code: " + (why.empty() ? "too long" : why));
    }
    const auto r = krvx::press(socket, code, hold_ms, static_cast<uint8_t>(quality));
    if (r.status != 0) {
        std::string message = std::string("not pressed: ") + KRVXErrorText(r.status);
        if (r.status == ERR_NOT_SUPPORTED)
            message += " (only the simulated device has a virtual remote)";
        if (!r.detail.empty())
            message += ": " + r.detail;
        return error(r.status == ERR_DRIVER_NOT_FOUND ? kExitNoDevice : kExitRefused, message);
    }
    if (g_json)
        std::printf("{\"ok\":true,\"pressed\":true,\"hold_ms\":%u}\n", hold_ms);
    else
        std::printf("pressed for %u ms\n", hold_ms);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{
        "krvx: learn, check and send infrared remote-control codes with a Korvex transceiver.\n"
        "Talks to the device service krvxd (start it first: krvxd &). Codes are Pronto hex\n"
        "text such as '0000 006C 0000 0001 0010 0010'; give - to read a code from standard "
        "input.",
        "krvx"};
    app.require_subcommand(1);
    app.fallthrough();  // --socket and --json also after the command
    std::string socket;
    app.add_option("--socket", socket,
                   "Service socket (default: $KRVX_SOCKET, else $XDG_RUNTIME_DIR/krvxd.sock, "
                   "else /tmp/krvxd-<uid>.sock)");
    app.add_flag("--json", g_json, "Print one JSON object per result, for scripts");
    app.footer("Exit status: 0 done, 1 refused or failed, 2 bad usage, 3 no service or device.");

    auto *info = app.add_subcommand("info", "Show the device's firmware, protocol and date");
    std::string code_arg;
    auto *check = app.add_subcommand(
        "check", "Check a Pronto code and say why it is refused (no device needed)");
    check->add_option("CODE", code_arg, "Pronto hex text, or - for standard input")->required();
    int repeat = 1;
    auto *send = app.add_subcommand("send", "Send a code through the device");
    send->add_option("CODE", code_arg, "Pronto hex text, or - for standard input")->required();
    send->add_option("-r,--repeat", repeat,
                     "Send the once part, then the repeat part N times (a code without a "
                     "repeat part: the whole code N times)")
        ->check(CLI::Range(1, 1000))
        ->capture_default_str();
    auto *listen =
        app.add_subcommand("listen", "Print each code the device receives, until Ctrl-C");
    double learn_timeout = 30;
    auto *learn = app.add_subcommand(
        "learn",
        "Learn a remote's button: progress on standard error, the code on standard output");
    learn
        ->add_option("--timeout", learn_timeout,
                     "Seconds to wait; then the learn finishes with what it captured, if usable")
        ->check(CLI::Range(0.1, 3600.0))
        ->capture_default_str();
    std::string inject;
    bool accept_burst = false;
    auto *hook = app.add_subcommand(
        "hook", "Watch other applications' learns; --inject or --accept-burst answers the first");
    hook->add_option("--inject", inject, "Answer the first learn seen with this Pronto code");
    hook->add_flag("--accept-burst", accept_burst,
                   "Answer the first learn seen by taking the burst captured so far");
    hook->get_option("--accept-burst")->excludes("--inject");
    uint32_t hold_ms = 200;
    unsigned quality = 100;
    auto *press = app.add_subcommand(
        "press", "Hold a virtual remote's button in front of the simulated device");
    press->add_option("CODE", code_arg, "Pronto hex text, or - for standard input")->required();
    press->add_option("--hold", hold_ms, "How long the button is held, in ms")
        ->check(CLI::Range(0u, 60000u))
        ->capture_default_str();
    press->add_option("--quality", quality, "Signal quality 0..100")
        ->check(CLI::Range(0u, 100u))
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kExitUsage;
    }
    if (!socket.empty()) {
        if (socket.size() > wire::max_socket_path())
            return error(kExitUsage, "--socket: the path is longer than " +
                                         std::to_string(wire::max_socket_path()) + " bytes");
        ::setenv("KRVX_SOCKET", socket.c_str(), 1);
    }
    const std::string path = wire::default_socket_path();
    std::signal(SIGPIPE, SIG_IGN);
    if (*info)
        return cmd_info(path);
    if (*check)
        return cmd_check(code_arg);
    if (*send)
        return cmd_send(path, code_arg, repeat);
    if (*listen)
        return cmd_listen(path);
    if (*learn)
        return cmd_learn(path, learn_timeout);
    if (*hook)
        return cmd_hook(path, inject, accept_burst);
    if (*press)
        return cmd_press(path, code_arg, hold_ms, quality);
    return kExitUsage;
}
