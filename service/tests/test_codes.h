// SPDX-License-Identifier: MIT
// Codes for the service's tests, made to measure rather than pasted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ir/pronto.h"

namespace krvxd::testing {

/// A Pronto code (38 kHz, once part only) of `pairs` burst pairs of `us` on and `us` off:
/// its air time is pairs * 2 * us, and each pair is a frame of its own when us >= 20 ms.
inline std::string code_of(std::size_t pairs, uint32_t us) {
    ir::Signal s;
    s.carrier_hz = 38000;
    s.once.assign(pairs, ir::Burst{us, us});
    return ir::encode_pronto(s).text;
}

}  // namespace krvxd::testing
