// SPDX-License-Identifier: MIT
// krvxd's log: one line per event worth knowing, on standard error.
//
// Levels
//   error  the service or the device failed (cannot listen, out of file descriptors)
//   warn   a client broke the rules and was dropped, or was refused for a limit
//   info   what an operator wants to know: start, stop, device lost and back, limits
//          reached and left, clients that went away in the middle of something
//   debug  every connection and request (--verbose)
// A line below the level costs one comparison: the parts are joined only when the line is
// written, so call sites pass parts (`log.debug("client ", id, ": info")`), not a string
// built beforehand. Under systemd (JOURNAL_STREAM set) each line starts with its syslog
// priority (<3> error ... <7> debug), which the journal takes as the line's level.
//
// Rate limit: at most kBurst lines at once and kPerSecond on average. Lines over the limit
// are counted, and the next line written says how many were left out, so that thousands of
// misbehaving clients cannot fill a disk with the same line.
//
// Threads: loop thread only (the service logs nothing from elsewhere).
#pragma once

#include <chrono>
#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

namespace krvxd {

class Log {
  public:
    enum class Level { error, warn, info, debug };
    static constexpr double kBurst = 100;
    static constexpr double kPerSecond = 20;

    explicit Log(bool verbose);
    bool verbose() const { return max_ == Level::debug; }
    bool enabled(Level level) const { return level <= max_; }

    template <class... Parts>
    void error(const Parts &...parts) const {
        write(Level::error, parts...);
    }
    template <class... Parts>
    void warn(const Parts &...parts) const {
        write(Level::warn, parts...);
    }
    template <class... Parts>
    void info(const Parts &...parts) const {
        write(Level::info, parts...);
    }
    template <class... Parts>
    void debug(const Parts &...parts) const {
        write(Level::debug, parts...);
    }

    /// Lines left out by the rate limit so far (for tests and the final line).
    uint64_t left_out() const { return left_out_total_; }

  private:
    template <class... Parts>
    void write(Level level, const Parts &...parts) const {
        if (!enabled(level) || !admit())
            return;
        line_.clear();
        (append(parts), ...);
        emit(level);
    }
    void append(std::string_view text) const { line_.append(text); }
    void append(char c) const { line_.push_back(c); }
    template <std::integral T>
    requires(!std::same_as<T, char> && !std::same_as<T, bool>) void append(T value) const {
        line_.append(std::to_string(value));
    }
    bool admit() const;
    void emit(Level level) const;

    Level max_;
    bool journal_;
    mutable std::string line_;
    mutable double tokens_ = kBurst;
    mutable std::chrono::steady_clock::time_point refilled_ = std::chrono::steady_clock::now();
    mutable uint64_t left_out_ = 0;  ///< since the last line written
    mutable uint64_t left_out_total_ = 0;
};

}  // namespace krvxd
