// SPDX-License-Identifier: MIT
// The learn meters: the segmented progress bar (pbLearnProgress3, left to right, 3 values
// a segment) and the signal quality bar (pbSigQuality, bottom to top, 10 values a
// segment), and the carrier frequency caption. Each draw clears its box and draws every
// lit segment again, so nothing of an earlier report stays behind.
// Threads: the user-interface thread only (the canvases are widgets).
#pragma once

#include <QString>

#include <cstdint>

#include "vintrel/learn/learn_view.h"

namespace vintrel::learn {

/// Nearest integer, a tie (exactly .5) to the even neighbour; saturates at the int64 range.
std::int64_t roundHalfEven(double value) noexcept;

/// Most segments either meter draws; further ones would lie far outside any box.
inline constexpr std::int64_t kMaxSegments = 256;

/// Clears canvas and lights the segments of value (0 lights none, 1..3 one, 100 lights 34).
void drawLearnProgressMeter(MeterCanvas &canvas, std::int16_t value);
/// Clears canvas and lights the segments of value (0..10 light one, 100 lights 11,
/// a negative value none).
void drawSigQualityMeter(MeterCanvas &canvas, std::int16_t value);

/// Clears both meter boxes as the draws do, lighting nothing: a new learn does not show
/// the last report of the one before.
void clearMeters(MeterCanvas &progress, MeterCanvas &quality);

/// The carrier in kHz with one decimal digit, cut off after it: 38000 "38.0KHz", 56999
/// "56.9KHz", -1500 "-1.5KHz" (the sign once, in front).
QString carrierText(std::int32_t carrierHz);

/// The whole pixels [first, end) a floating-point span covers: those whose centre lies in
/// it. Used to turn a meter's fractional rectangle into pixels.
struct PixelSpan {
    int first;
    int end;
};
PixelSpan pixelSpan(double a, double b) noexcept;

}  // namespace vintrel::learn
