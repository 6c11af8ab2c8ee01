// SPDX-License-Identifier: MIT
// `krvx press`: the simulated device's virtual remote. The public C API has no such call,
// so this speaks the service's private protocol through wire::Client (handshake, one Press
// request), with the same checks and deadlines as the library's open.
//
// Threads: blocking; the calling thread only.
#pragma once

#include <cstdint>
#include <string>

namespace krvx {

struct PressResult {
    bool opened = false;  ///< the service was reached and took the handshake
    int32_t status = 0;   ///< 0, or an ERR_* value of krvxdrv.h
    std::string detail;   ///< why, when the service or the connection said more
};

/// Holds `code` in front of the device's receiver for hold_ms with the given quality.
/// Connect, handshake and request each end within 2 s (the service answers at once).
PressResult press(const std::string &socket_path, const std::string &code, uint32_t hold_ms,
                  uint8_t quality);

}  // namespace krvx
