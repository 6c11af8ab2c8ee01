// krvxd's log: one line per event worth knowing, on standard error.
//
// Threads: loop thread only (the service logs nothing from elsewhere).
#pragma once

#include <string_view>

namespace krvxd {

class Log {
  public:
    explicit Log(bool verbose) : verbose_(verbose) {}
    bool verbose() const { return verbose_; }
    /// Always written.
    void info(std::string_view line) const;
    /// Written with --verbose only.
    void debug(std::string_view line) const;

  private:
    bool verbose_;
};

}  // namespace krvxd
