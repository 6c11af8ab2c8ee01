// SPDX-License-Identifier: MIT
// Turning a raw receiver capture into a Signal: carrier estimate, trailing gap and the
// split into once and repeat part.
//
// Threads: pure functions on values; any thread, no locking.
#pragma once

#include <cstdint>
#include <vector>

#include "ir/signal.h"

namespace ir {

/// What a receiver saw: alternating pulse/space durations in µs starting with a pulse
/// (an odd count: a capture ends on a pulse), the carrier readings it took, and the
/// silence measured after the last pulse (0 when unknown).
struct Capture {
    std::vector<uint32_t> durations_us;
    std::vector<uint32_t> carrier_samples_hz;
    uint32_t trailing_gap_us = 0;
};

struct CaptureResult {
    Signal signal;
    bool carrier_measured = false;  ///< false: no samples, 38000 Hz assumed
};

/// Gap appended after the last pulse when the capture did not measure one.
inline constexpr uint32_t kDefaultTrailingGapUs = 45000;

/// Two durations are equal for repeat finding when they differ by at most this many µs
/// or by at most kRepeatTolerancePercent of the larger.
inline constexpr uint32_t kRepeatToleranceUs = 60;
inline constexpr uint32_t kRepeatTolerancePercent = 20;

/// Builds the signal: carrier = mean of the samples (or 38000 Hz), the trailing gap
/// appended, then split_repeat(). Readings of 0 Hz (a receiver that could not measure)
/// are left out of the mean; with none left the carrier counts as not measured. An even
/// duration count already ends on a gap and keeps it. No durations give an empty signal.
CaptureResult from_capture(const Capture &capture);

/// Splits a pair sequence into once and repeat part: the largest run of >= 2 consecutive
/// copies of a block (ending in a gap > 20 ms) becomes one repeat copy, what precedes it
/// the once part, later copies are dropped. Without such a run everything is the once part.
/// Blocks are 2 to n/2 pairs long; "largest" is the total duration of the copies (ties:
/// the shorter block, then the earlier one). Each copy is compared with the one before it
/// (kRepeatTolerance*); the sequence's very last gap, which is only the silence measured or
/// assumed after the capture, matches any gap of at least kFrameGapUs. Quadratic in the
/// pairs: only the first 2048 pairs are searched (when no repeat is found among them,
/// every pair is the once part).
Signal split_repeat(std::vector<Burst> bursts, double carrier_hz);

}  // namespace ir
