// SPDX-License-Identifier: MIT
// What every krvx subcommand shares: the exit statuses, the context a command runs in, its
// output (plain text, or one JSON object per line under --json), opening the device, and
// Ctrl-C.
//
// Output rule: under --json every line on standard output is one JSON object whose "ok" is
// true exactly when the program ends with status 0 (streams of events print "ok":true per
// event and end with an "ok":false object when they fail). Messages for people go to
// standard error in both modes.
//
// Threads: everything here runs on the main thread, except json_string(), JsonObject and
// print_line(), which library callbacks may call too (print_line() writes one whole line).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace krvx::cli {

/// Exit statuses, the same for every subcommand.
enum Exit : int {
    kDone = 0,       ///< done (check: the code is valid)
    kRefused = 1,    ///< the code, the device or the service refused, or the work failed
    kUsage = 2,      ///< bad usage: unknown command or option, a value out of range
    kNoService = 3,  ///< the service is not running, or it has no device
};

/// What a subcommand runs with, from the global options.
struct Context {
    std::string socket;  ///< the service's socket path, resolved
    bool json = false;   ///< --json: one JSON object per output line
};

/// `s` as a JSON string literal, quotes included; control bytes become \u00XX escapes and
/// bytes of 0x80 and above pass through unchanged.
std::string json_string(std::string_view s);

/// Builds one JSON object, field by field, in the order added.
class JsonObject {
  public:
    /// Starts the object with "ok":ok.
    explicit JsonObject(bool ok);
    JsonObject &text(std::string_view key, std::string_view value);
    JsonObject &number(std::string_view key, long long value);
    JsonObject &number(std::string_view key, double value, int decimals);
    JsonObject &boolean(std::string_view key, bool value);
    /// A value that is JSON text already (an array, an object, null).
    JsonObject &raw(std::string_view key, std::string_view json);
    /// The object, closed.
    std::string str() const { return body_ + "}"; }

  private:
    JsonObject &key(std::string_view key);
    std::string body_;
};

/// Writes `line` and a line break to standard output at once, and flushes.
void print_line(const std::string &line);

/// Reports a failure and returns `status`: "krvx: message" on standard error, and under
/// --json also {"ok":false,"error":message,"exit":status} on standard output.
int fail(const Context &ctx, int status, const std::string &message);

/// Opens the device through the service at ctx.socket. On failure reports why (with how to
/// start the service when it is not running) and returns -1; the caller exits kNoService.
int32_t open_device(const Context &ctx);

/// "0x%08X" of an error code, for messages.
std::string hex_code(int32_t value);

/// Ctrl-C and SIGTERM for commands that run until stopped. install() once per process,
/// before the command starts waiting; the handler only sets a flag and wakes wait().
namespace stop {
/// Installs the handlers. Without a wake-up pipe (no descriptors left) wait() still ends
/// early on a signal, which interrupts its sleep.
void install();
/// Waits up to timeout_ms; true once a stop was asked for (then at once on every call).
bool wait(int timeout_ms);
}  // namespace stop

}  // namespace krvx::cli
