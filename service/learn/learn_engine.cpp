#include "learn/learn_engine.h"

#include <algorithm>
#include <cmath>

#include "ir/capture.h"
#include "ir/pronto.h"
#include "krvxdrv.h"

namespace krvxd {

namespace {

// A remote's frame: a few pulses, none shorter than a receiver can tell from a glitch.
constexpr uint32_t kShortestUs = 50;
constexpr std::size_t kFewestDurations = 3;

bool looks_like_remote(const ReceivedFrame &f) {
    if (f.durations_us.size() < kFewestDurations || f.durations_us.size() % 2 == 0)
        return false;
    return std::all_of(f.durations_us.begin(), f.durations_us.end(),
                       [](uint32_t d) { return d >= kShortestUs; });
}

bool equal_within_tolerance(uint32_t a, uint32_t b) {
    const uint32_t lo = std::min(a, b), hi = std::max(a, b);
    const uint64_t diff = hi - lo;
    return diff <= ir::kRepeatToleranceUs ||
           diff * 100 <= uint64_t{hi} * ir::kRepeatTolerancePercent;
}

// Mean deviation in percent when `b` has `a`'s shape; negative when it does not.
double deviation_percent(const ReceivedFrame &a, const ReceivedFrame &b) {
    if (a.durations_us.size() != b.durations_us.size())
        return -1;
    double sum = 0;
    for (std::size_t i = 0; i < a.durations_us.size(); ++i) {
        const uint32_t x = a.durations_us[i], y = b.durations_us[i];
        if (!equal_within_tolerance(x, y))
            return -1;
        sum += std::abs(double(x) - double(y)) * 100.0 / std::max<double>(std::max(x, y), 1);
    }
    return sum / double(a.durations_us.size());
}

}  // namespace

LearnReport LearnEngine::add(const ReceivedFrame &frame) {
    if (!looks_like_remote(frame)) {
        ++noise_frames_;
        return report_;
    }
    ++good_frames_;
    for (auto it = frames_.rbegin(); it != frames_.rend(); ++it) {
        const double dev = deviation_percent(*it, frame);
        if (dev >= 0) {
            ++repeats_;
            deviation_sum_ += dev;
            break;
        }
    }
    if (frames_.size() < kMaxFrames) {
        frames_.push_back(frame);
        carrier_samples_.insert(carrier_samples_.end(), frame.carrier_samples_hz.begin(),
                                frame.carrier_samples_hz.end());
    }
    report_.progress = std::min(100, good_frames_ * 100 / kFramesNeeded);
    if (repeats_ > 0) {
        const double q = 100.0 - 5.0 * deviation_sum_ / repeats_;
        report_.quality = static_cast<int32_t>(std::clamp(std::lround(q), 0L, 100L));
    }
    if (!carrier_samples_.empty()) {
        double sum = 0;
        for (uint32_t c : carrier_samples_)
            sum += c;
        report_.carrier_hz =
            static_cast<int32_t>(std::lround(sum / double(carrier_samples_.size()) / 100) * 100);
    }
    return report_;
}

bool LearnEngine::complete() const {
    return good_frames_ >= kFramesNeeded && repeats_ > 0;
}

int32_t LearnEngine::failure_reason() const {
    if (good_frames_ > 0)
        return LEARN_FAIL_PARTIAL;
    if (noise_frames_ > 0)
        return LEARN_FAIL_NOISE;
    return LEARN_FAIL_NOTHING_SEEN;
}

LearnOutcome LearnEngine::finish() const {
    if (frames_.empty())
        return {failure_reason(), {}};
    if (report_.carrier_hz != 0 && (report_.carrier_hz < 20000 || report_.carrier_hz > 500000))
        return {LEARN_FAIL_CARRIER, {}};
    ir::Capture capture;
    for (std::size_t i = 0; i < frames_.size(); ++i) {
        const ReceivedFrame &f = frames_[i];
        capture.durations_us.insert(capture.durations_us.end(), f.durations_us.begin(),
                                    f.durations_us.end());
        if (i + 1 < frames_.size())
            capture.durations_us.push_back(f.trailing_gap_us != 0 ? f.trailing_gap_us
                                                                  : ir::kDefaultTrailingGapUs);
    }
    capture.trailing_gap_us = frames_.back().trailing_gap_us;
    capture.carrier_samples_hz = carrier_samples_;
    const ir::CaptureResult result = ir::from_capture(capture);
    const ir::EncodeResult encoded = ir::encode_pronto(result.signal);
    // A capture too long for a Pronto code is not a remote's button.
    if (encoded.text.empty() || encoded.text.size() > ir::kMaxProntoChars)
        return {LEARN_FAIL_NOISE, {}};
    return {LEARN_PROGRESS_DONE, encoded.text};
}

}  // namespace krvxd
