// SPDX-License-Identifier: MIT
#include "vintrel/learn/meters.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vintrel::learn {

namespace {

// Segment index n of the last lit segment, bounded so that an absurd value cannot make
// the loop run long; every segment past the bound lies outside any real box anyway.
std::int64_t lastSegment(double exactIndex) {
    return std::min(roundHalfEven(exactIndex), kMaxSegments - 1);
}

}  // namespace

std::int64_t roundHalfEven(double value) noexcept {
    if (std::isnan(value)) {
        return 0;
    }
    constexpr double kLimit = 9.2e18;  // inside int64 range, far beyond any pixel count
    const double clamped = std::clamp(value, -kLimit, kLimit);
    return static_cast<std::int64_t>(std::nearbyint(clamped));  // default mode: ties to even
}

void drawLearnProgressMeter(MeterCanvas &canvas, std::int16_t value) {
    const int outerTwips = canvas.outerWidthTwips();
    const double extent = static_cast<double>(outerTwips) / canvas.twipsPerPixelX() - 6.0;
    const std::int64_t width = roundHalfEven(extent);
    const std::int64_t step = roundHalfEven(static_cast<double>(width) / 33.0);
    canvas.fillRectangle(0, 0, outerTwips, 100, MeterColour::ButtonFace);
    const std::int64_t n = lastSegment((static_cast<double>(value) + 1.0) / 3.0 - 1.0);
    const double thickness = static_cast<double>(width) / 40.0;
    for (std::int64_t i = 0; i <= n; ++i) {
        const auto x = static_cast<double>(step * i + 2);
        canvas.fillRectangle(x, 0, x + thickness, 100, MeterColour::Highlight);
    }
}

void drawSigQualityMeter(MeterCanvas &canvas, std::int16_t value) {
    const int outerTwips = canvas.outerHeightTwips();
    const double extent = static_cast<double>(outerTwips) / canvas.twipsPerPixelY() - 6.0;
    const std::int64_t height = roundHalfEven(extent);
    const std::int64_t step = roundHalfEven(static_cast<double>(height) / 10.0);
    canvas.fillRectangle(0, 0, 100, outerTwips, MeterColour::ButtonFace);
    const std::int64_t n = lastSegment((static_cast<double>(value) + 5.0) / 10.0 - 1.0);
    const double thickness = static_cast<double>(height) / 14.0;
    for (std::int64_t i = 0; i <= n; ++i) {
        const auto y = static_cast<double>(height - step * i);
        canvas.fillRectangle(0, y, 100, y - thickness, MeterColour::Highlight);
    }
}

void clearMeters(MeterCanvas &progress, MeterCanvas &quality) {
    progress.fillRectangle(0, 0, progress.outerWidthTwips(), 100, MeterColour::ButtonFace);
    quality.fillRectangle(0, 0, 100, quality.outerHeightTwips(), MeterColour::ButtonFace);
}

QString carrierText(std::int32_t carrierHz) {
    // Whole and tenth kHz of the magnitude, the sign once in front: -1500 is "-1.5KHz",
    // not "-1.-5KHz". 64-bit so that the most negative value has a magnitude.
    const std::int64_t magnitude = std::llabs(static_cast<std::int64_t>(carrierHz));
    const QString sign = carrierHz < 0 ? QStringLiteral("-") : QString();
    return sign + QString::number(magnitude / 1000) + QLatin1Char('.') +
           QString::number((magnitude % 1000) / 100) + QStringLiteral("KHz");
}

PixelSpan pixelSpan(double a, double b) noexcept {
    const double low = std::min(a, b);
    const double high = std::max(a, b);
    static constexpr double kBound = 1.0e6;  // far outside any box; keeps int conversion safe
    const auto edge = [](double v) {
        return static_cast<int>(std::ceil(std::clamp(v, -kBound, kBound) - 0.5));
    };
    return {edge(low), edge(high)};
}

}  // namespace vintrel::learn
