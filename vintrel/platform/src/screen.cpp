// SPDX-License-Identifier: MIT
#include "vintrel/platform/screen.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QScreen>

#include <array>
#include <cmath>

namespace vintrel::platform {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kFallbackDpi = 96.0;

double dpi(bool horizontal) {
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return kFallbackDpi;
    }
    const double value = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    return value > 0.0 ? value : kFallbackDpi;
}

int toPixels(int twips, double twipsPerPixel) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / twipsPerPixel));
}

}  // namespace

double twipsPerPixelX() {
    return kTwipsPerInch / dpi(true);
}
double twipsPerPixelY() {
    return kTwipsPerInch / dpi(false);
}

int twipsToPixelsX(int twips) {
    return toPixels(twips, twipsPerPixelX());
}
int twipsToPixelsY(int twips) {
    return toPixels(twips, twipsPerPixelY());
}

QRect twipsRect(int left, int top, int width, int height) {
    return {twipsToPixelsX(left), twipsToPixelsY(top), twipsToPixelsX(width),
            twipsToPixelsY(height)};
}

QFont sansSerifFont(int pointSize, bool bold) {
    // Families close in shape and width to the classic dialog font, best first. Liberation
    // Sans, which scripts/install-deps installs, has Arial's metrics; the wider DejaVu Sans
    // comes last.
    static constexpr std::array<const char *, 9> kPreferred = {
        "MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial",
        "Arimo",         "Nimbus Sans",          "Helvetica",       "FreeSans",
        "DejaVu Sans"};
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    // Families may come as "Nimbus Sans [urw]": the foundry in brackets is not part of it.
    QStringList families;
    for (const QString &family : QFontDatabase::families()) {
        families << family.section(QStringLiteral(" ["), 0, 0);
    }
    for (const char *family : kPreferred) {
        if (families.contains(QString::fromLatin1(family), Qt::CaseInsensitive)) {
            font.setFamily(QString::fromLatin1(family));
            break;
        }
    }
    font.setPointSize(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace vintrel::platform
