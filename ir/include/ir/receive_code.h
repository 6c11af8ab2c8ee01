// The 12-character receive code: a stable fingerprint of a code's timings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ir/signal.h"

namespace ir {

inline constexpr std::size_t kReceiveCodeLength = 12;

/// 12 upper-case hex characters identifying one frame's timings, the same for the same
/// button despite receiver jitter (durations within the tolerance documented in the
/// implementation give the same code). The carrier does not take part.
std::string receive_code(const std::vector<uint32_t> &frame_durations_us);

/// Receive code of the frame a receiver sees first when the signal is sent: the once part,
/// or the repeat part for a signal without one.
std::string receive_code(const Signal &signal);

}  // namespace ir
