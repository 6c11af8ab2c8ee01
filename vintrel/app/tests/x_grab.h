// SPDX-License-Identifier: MIT
// Pixels of an X window as the X server holds them, taken by another process (ImageMagick's
// import), so a grab works while the program's own user-interface thread is blocked; and a
// search for a smaller image in a larger one.
// Threads: grabFromXServer() from any thread; the rest on any one thread at a time.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QRect>

#include <optional>

namespace vintrel::test {

/// The window's pixels as PNG bytes, taken by `import` from the display DISPLAY names;
/// empty when that failed.
QByteArray grabFromXServer(unsigned long windowId);
/// The same for an area of the screen: whatever windows show there, on top of each other.
QByteArray grabFromXServer(const QRect &area);

/// image cut to the pixels that differ from background.
QImage croppedToInk(const QImage &image, QRgb background);

/// Where needle lies in haystack, pixel for pixel up to tolerance in each colour channel
/// on all but maxMismatchPercent of needle's pixels; nothing when it is nowhere.
std::optional<QPoint> find(const QImage &haystack, const QImage &needle, int tolerance = 48,
                           double maxMismatchPercent = 2.0);

}  // namespace vintrel::test
