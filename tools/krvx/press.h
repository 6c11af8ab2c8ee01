// `krvx press`: the simulated device's virtual remote. The public C API has no such call,
// so this speaks the service's private protocol directly (handshake, one Press request).
//
// Threads: blocking; the calling thread only.
#pragma once

#include <cstdint>
#include <string>

namespace krvx {

struct PressResult {
    int32_t status = 0;  ///< 0, or an ERR_* value of krvxdrv.h
    std::string detail;  ///< what went wrong, for the message
};

/// Holds `code` in front of the device's receiver for hold_ms with the given quality.
/// Every step is bounded by a 2 s deadline (the service answers at once).
PressResult press(const std::string &socket_path, const std::string &code, uint32_t hold_ms,
                  uint8_t quality);

}  // namespace krvx
