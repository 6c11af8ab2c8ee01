// SPDX-License-Identifier: MIT
// Screen units and fonts. Layouts are given in twips (1440 to the inch) and converted to
// pixels at the primary screen's logical DPI (15 twips a pixel at 96 dpi).
// Threads: the user-interface thread (needs the application's screens).
#pragma once

#include <QFont>
#include <QRect>

namespace vintrel::platform {

double twipsPerPixelX();
double twipsPerPixelY();

/// Twips to pixels, rounded to the nearest pixel.
int twipsToPixelsX(int twips);
int twipsToPixelsY(int twips);
/// A rectangle given in twips (left, top, width, height), in pixels.
QRect twipsRect(int left, int top, int width, int height);

/// The closest sans-serif family the system has to the classic dialog font, at pointSize.
QFont sansSerifFont(int pointSize, bool bold = false);

}  // namespace vintrel::platform
