// SPDX-License-Identifier: MIT
// The meters' geometry on a recording canvas, the tie rule and the carrier caption.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "fake_learn_view.h"
#include "vintrel/learn/meters.h"

namespace vintrel::learn {
namespace {

using test::RecordingCanvas;

RecordingCanvas progressBox() {
    RecordingCanvas c;
    c.widthTwips = 4935;
    c.heightTwips = 255;
    return c;
}

RecordingCanvas qualityBox() {
    RecordingCanvas c;
    c.widthTwips = 375;
    c.heightTwips = 1575;
    return c;
}

std::size_t progressSegments(std::int16_t value) {
    RecordingCanvas c = progressBox();
    drawLearnProgressMeter(c, value);
    return c.lit().size();
}

std::size_t qualitySegments(std::int16_t value) {
    RecordingCanvas c = qualityBox();
    drawSigQualityMeter(c, value);
    return c.lit().size();
}

TEST(Rounding, TiesGoToTheEvenNeighbour) {
    EXPECT_EQ(roundHalfEven(0.5), 0);
    EXPECT_EQ(roundHalfEven(1.5), 2);
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(-0.5), 0);
    EXPECT_EQ(roundHalfEven(-1.5), -2);
    EXPECT_EQ(roundHalfEven(9.9), 10);
    EXPECT_EQ(roundHalfEven(9.7879), 10);
    EXPECT_EQ(roundHalfEven(1e300), roundHalfEven(9.2e18));  // saturates instead of UB
    EXPECT_EQ(roundHalfEven(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST(Meters, SegmentCountsFollowTheValueBands) {
    // The packed report 50 * 256 + 40: progress 40, quality 50.
    EXPECT_EQ(progressSegments(40), 14u);
    EXPECT_EQ(qualitySegments(50), 5u);
    // Quality: the tie rule makes the bands uneven.
    const std::pair<std::int16_t, std::size_t> quality[] = {
        {0, 1},  {10, 1}, {11, 2}, {19, 2},  {20, 3},   {30, 3}, {31, 4},
        {39, 4}, {40, 5}, {90, 9}, {91, 10}, {100, 11}, {-1, 0}, {-6, 0}};
    for (const auto &[value, segments] : quality) {
        EXPECT_EQ(qualitySegments(value), segments) << "quality " << value;
    }
    const std::pair<std::int16_t, std::size_t> progress[] = {
        {0, 0}, {1, 1}, {3, 1}, {4, 2}, {6, 2}, {97, 33}, {99, 33}, {100, 34}, {-1, 0}};
    for (const auto &[value, segments] : progress) {
        EXPECT_EQ(progressSegments(value), segments) << "progress " << value;
    }
}

TEST(Meters, GeometryAtFifteenTwipsPerPixel) {
    RecordingCanvas p = progressBox();
    drawLearnProgressMeter(p, 100);
    ASSERT_EQ(p.rects.size(), 35u);
    // The clear comes first and spans the width in twips, used as pixels.
    EXPECT_EQ(p.rects[0].colour, MeterColour::ButtonFace);
    EXPECT_DOUBLE_EQ(p.rects[0].x2, 4935);
    EXPECT_DOUBLE_EQ(p.rects[0].y2, 100);
    // W = 323, step 10, segments 323/40 wide from x = 10i + 2.
    EXPECT_DOUBLE_EQ(p.rects[1].x1, 2);
    EXPECT_DOUBLE_EQ(p.rects[1].x2, 10.075);
    EXPECT_DOUBLE_EQ(p.rects[33].x1, 322);
    EXPECT_DOUBLE_EQ(p.rects[34].x1, 332);
    EXPECT_DOUBLE_EQ(p.rects[34].y2, 100);

    RecordingCanvas q = qualityBox();
    drawSigQualityMeter(q, 100);
    ASSERT_EQ(q.rects.size(), 12u);
    EXPECT_DOUBLE_EQ(q.rects[0].x2, 100);
    EXPECT_DOUBLE_EQ(q.rects[0].y2, 1575);
    // H = 99, step 10, segments 99/14 high, bottom first.
    EXPECT_DOUBLE_EQ(q.rects[1].y1, 99);
    EXPECT_DOUBLE_EQ(q.rects[1].y2, 99 - 99.0 / 14);
    EXPECT_DOUBLE_EQ(q.rects[10].y1, 9);
    EXPECT_DOUBLE_EQ(q.rects[11].y1, -1);
}

TEST(Meters, SizesAndScaleAreReadAtEveryDraw) {
    RecordingCanvas p = progressBox();
    drawLearnProgressMeter(p, 4);
    EXPECT_DOUBLE_EQ(p.lit()[1].x1, 12);  // step 10 at 15 twips a pixel
    // 120 dpi: W = 4935 / 12 - 6 = 405.25 -> 405, step = 405 / 33 = 12.27 -> 12.
    p.tppX = 12.0;
    drawLearnProgressMeter(p, 4);
    EXPECT_DOUBLE_EQ(p.lit()[1].x1, 14);
    EXPECT_DOUBLE_EQ(p.lit()[1].x2, 14 + 405.0 / 40);
    // A taller box: H = 2100 / 15 - 6 = 134, step 13.4 -> 13.
    RecordingCanvas q = qualityBox();
    q.heightTwips = 2100;
    drawSigQualityMeter(q, 15);
    ASSERT_EQ(q.lit().size(), 2u);
    EXPECT_DOUBLE_EQ(q.lit()[1].y1, 134 - 13);
    EXPECT_GE(p.sizeReads + q.sizeReads, 3);
}

TEST(Meters, ALowerValueRedrawsFromACleanBox) {
    RecordingCanvas q = qualityBox();
    drawSigQualityMeter(q, 100);
    drawSigQualityMeter(q, 20);
    EXPECT_EQ(q.lit().size(), 3u);
    RecordingCanvas p = progressBox();
    drawLearnProgressMeter(p, 100);
    drawLearnProgressMeter(p, 0);
    EXPECT_TRUE(p.lit().empty());
    EXPECT_EQ(p.rects.back().colour, MeterColour::ButtonFace);
}

TEST(Meters, AbsurdValuesAndBoxesStayBounded) {
    EXPECT_EQ(qualitySegments(std::numeric_limits<std::int16_t>::max()),
              static_cast<std::size_t>(kMaxSegments));
    RecordingCanvas tiny;
    tiny.widthTwips = 0;
    tiny.heightTwips = 0;
    drawLearnProgressMeter(tiny, 100);  // step 0: every segment at x = 2, nothing breaks
    EXPECT_EQ(tiny.lit().size(), 34u);
}

TEST(CarrierText, KilohertzWithOneTruncatedDecimal) {
    const std::pair<std::int32_t, const char *> cases[] = {
        {38000, "38.0KHz"},
        {36700, "36.7KHz"},
        {56999, "56.9KHz"},
        {0, "0.0KHz"},
        {37999, "37.9KHz"},
        {999, "0.9KHz"},
        {100000, "100.0KHz"},
        {-1500, "-1.5KHz"},
        {-38000, "-38.0KHz"},
        {-500, "-0.5KHz"},
        {std::numeric_limits<std::int32_t>::min(), "-2147483.6KHz"}};
    for (const auto &[hz, text] : cases) {
        EXPECT_EQ(carrierText(hz).toStdString(), text) << hz;
    }
}

TEST(PixelSpan, PixelsWhoseCentreLiesInTheSpan) {
    EXPECT_EQ(pixelSpan(2, 10.075).first, 2);
    EXPECT_EQ(pixelSpan(2, 10.075).end, 10);
    EXPECT_EQ(pixelSpan(99, 91.9286).first, 92);  // corners in either order
    EXPECT_EQ(pixelSpan(99, 91.9286).end, 99);
    EXPECT_EQ(pixelSpan(-8.07, -1).end, -1);  // above the box: no pixel inside
    EXPECT_EQ(pixelSpan(-1e300, 1e300).first, -1000000);
}

}  // namespace
}  // namespace vintrel::learn
