// SPDX-License-Identifier: MIT
#include "vintrel/platform/last_error.h"

namespace vintrel::platform {

namespace {
thread_local std::uint32_t t_lastError = 0;
}

std::uint32_t lastError() noexcept {
    return t_lastError;
}

void setLastError(std::uint32_t value) noexcept {
    t_lastError = value;
}

}  // namespace vintrel::platform
