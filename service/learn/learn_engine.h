// What a learn makes of the frames the receiver reports: progress, signal quality, the
// measured carrier, and at the end the code or the reason there is none. Works from the
// captured frames only (never from how they were produced), so every backend learns alike.
//
// Progress: each frame that looks like a remote's adds 100 / kFramesNeeded; the learn is
// complete when kFramesNeeded such frames were seen and at least one repeated an earlier
// frame's shape (same length, every duration equal within the repeat tolerance).
// Quality: 100 minus five times the mean deviation in percent between a frame and the
// earlier frame of its shape; 0 until some frame repeated.
//
// Threads: plain data; one thread at a time (the service loop).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "backend.h"

namespace krvxd {

struct LearnReport {
    int32_t progress = 0;    ///< 0..100
    int32_t quality = 0;     ///< 0..100
    int32_t carrier_hz = 0;  ///< mean reading to the nearest 100 Hz; 0 while none
};

struct LearnOutcome {
    int32_t result = 0;  ///< LEARN_PROGRESS_DONE or a LEARN_FAIL_* value
    std::string code;    ///< canonical Pronto text when result is DONE
};

class LearnEngine {
  public:
    static constexpr int kFramesNeeded = 4;
    /// Frames kept for the code; later ones only count for progress.
    static constexpr std::size_t kMaxFrames = 64;

    /// Takes one frame; returns the report after it.
    LearnReport add(const ReceivedFrame &frame);

    LearnReport report() const { return report_; }
    bool complete() const;
    /// At least one frame that looks like a remote's.
    bool usable() const { return good_frames_ > 0; }

    /// The code of what was captured (complete or not), or why there is none.
    LearnOutcome finish() const;
    /// Why a learn that ends now without a code failed (timeout, cancel).
    int32_t failure_reason() const;

  private:
    std::vector<ReceivedFrame> frames_;
    std::vector<uint32_t> carrier_samples_;
    int good_frames_ = 0;
    int noise_frames_ = 0;
    int repeats_ = 0;
    double deviation_sum_ = 0;
    LearnReport report_;
};

}  // namespace krvxd
