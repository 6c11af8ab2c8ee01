// SPDX-License-Identifier: MIT
// What a learn makes of the frames the receiver reports: progress, signal quality, the
// measured carrier, and at the end the code or the reason there is none. Works from the
// captured frames only (never from how they were produced), so every backend learns alike.
// service/learn/README.md describes the method and the quality formula.
//
// Threads: plain data; one thread at a time (the service loop).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "backend.h"
#include "ir/signal.h"
#include "learn/layout.h"
#include "learn/shapes.h"

namespace krvxd {

struct LearnReport {
    int32_t progress = 0;    ///< 0..100; 100 exactly when the code is confirmed
    int32_t quality = 0;     ///< 0..100
    int32_t carrier_hz = 0;  ///< mean reading to the nearest 100 Hz; 0 while none
};

struct LearnOutcome {
    LearnOutcome(int32_t result_ = 0, std::string code_ = {}, bool snapped_ = false,
                 std::string decode_ = {})
        : result(result_), code(std::move(code_)), snapped(snapped_), decode(std::move(decode_)) {}
    int32_t result = 0;    ///< LEARN_PROGRESS_DONE or a LEARN_FAIL_* value
    std::string code;      ///< canonical Pronto text when result is DONE
    bool snapped = false;  ///< the code is its protocol's own encoding of `decode`
    std::string decode;    ///< "RC5 D=0 F=12 T=1" when snapped, else empty
};

class LearnEngine {
  public:
    /// Frames kept; later ones only count as seen.
    static constexpr std::size_t kMaxFrames = 128;
    /// A frame of more durations is no remote's (a Pronto code holds about 200 pairs).
    static constexpr std::size_t kMaxFrameDurations = 1024;
    /// Repeat units that confirm a code that decodes as no protocol: with nothing to snap
    /// to, the code is the average, and a third frame halves a lone outlier's weight.
    static constexpr int kRawUnitsNeeded = 3;

    /// Takes one frame; returns the report after it.
    LearnReport add(const ReceivedFrame &frame);

    LearnReport report() const { return report_; }
    /// The code is confirmed: see README.md.
    bool complete() const { return confirmed_; }
    /// At least one frame that looks like a remote's.
    bool usable() const { return !frames_.empty(); }

    /// The code of what was captured (complete or not), or why there is none.
    LearnOutcome finish() const;
    /// Why a learn that ends now without a code failed (timeout, cancel).
    int32_t failure_reason() const;

  private:
    struct Result {
        learn::Fit fit;
        ir::Signal signal;
        bool snapped = false;
        std::string decode;
        bool confirmed = false;
        int evidence = 0;  ///< frames seen towards confirmation
        int needed = 1;    ///< frames that confirm
        double quality = 0;
    };
    std::optional<Result> evaluate() const;
    /// The carrier of the code: the mean reading at the Pronto word's resolution; 0 when
    /// nothing was measured.
    double code_carrier_hz() const;
    double quality_of(const learn::Fit &fit,
                      const std::vector<learn::Shapes::Median> &reference) const;

    std::vector<learn::Frame> frames_;
    learn::Shapes shapes_;
    double carrier_sum_ = 0;
    int carrier_readings_ = 0;
    int noise_frames_ = 0;
    bool confirmed_ = false;
    LearnReport report_;
};

}  // namespace krvxd
