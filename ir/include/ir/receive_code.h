// SPDX-License-Identifier: MIT
// The 12-character receive code: a stable fingerprint of a code's timings.
//
// The code depends on the frame's shape (how many durations, which are short, long or very
// long against the frame's own unit), not on exact timings: it stays the same while every
// duration is within ±10 % + 50 µs of its nominal value, for protocols whose unit is at
// least about 400 µs (NEC, RC5, RC6, Sony and their kin). receive_code.cpp has the details.
//
// A receiver frames what it sees with split_frames() (or the same rule: a space of at
// least kFrameGapUs ends a frame), and receive_code(signal) takes the first frame of a
// signal by that rule, so that the code a receiver reports for a sent code and the code
// computed from its text agree.
//
// Threads: pure functions on values; any thread, no locking.
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
/// The frame alternates pulse/space starting with a pulse, as a receiver measures it (an
/// odd count, no trailing gap); a final space, when there is one, is ignored. An empty
/// frame gives "000000000000".
std::string receive_code(const std::vector<uint32_t> &frame_durations_us);

/// Receive code of the frame a receiver sees first when the signal is sent: the once part,
/// or the repeat part for a signal without one, up to its first off time of at least
/// kFrameGapUs (the whole part when it has none).
std::string receive_code(const Signal &signal);

/// Splits durations that a receiver measured (alternating pulse/space, starting with a
/// pulse) into frames at every space of at least `gap_us`; the separating spaces and a
/// final space are dropped, so each frame ends on a pulse.
std::vector<std::vector<uint32_t>> split_frames(const std::vector<uint32_t> &durations_us,
                                                uint32_t gap_us = kFrameGapUs);

}  // namespace ir
