// SPDX-License-Identifier: MIT
// The run-time error: what a failing operation raises to its caller. It carries a number,
// a description and a source, and a procedure that traps errors catches it per step.
// Thread: any; the object is a plain value.
#pragma once

#include <stdexcept>
#include <string>

namespace vintrel::platform {

class RuntimeError : public std::runtime_error {
  public:
    RuntimeError(int number, std::string description, std::string source = {})
        : std::runtime_error(description),
          number_(number),
          description_(std::move(description)),
          source_(std::move(source)) {}

    int number() const noexcept { return number_; }
    const std::string &description() const noexcept { return description_; }
    const std::string &source() const noexcept { return source_; }

  private:
    int number_;
    std::string description_;
    std::string source_;
};

/// Error numbers raised by vintrel's own layers.
inline constexpr int kErrInvalidProcedureCall = 5;  // a service is not available
inline constexpr int kErrDllLoad = 48;              // the driver library is not loaded
inline constexpr int kErrDllEntryPoint = 453;       // the library lacks an entry point
inline constexpr int kErrNoDefaultWndProc = 51;     // the window has no procedure to replace

}  // namespace vintrel::platform
