// SPDX-License-Identifier: MIT
// The thread's last-error value, as the window services and the driver set it.
// Thread: any; each thread has its own value.
#pragma once

#include <cstdint>

namespace vintrel::platform {

/// Last-error value of the calling thread.
std::uint32_t lastError() noexcept;
/// Sets the last-error value of the calling thread.
void setLastError(std::uint32_t value) noexcept;

}  // namespace vintrel::platform
