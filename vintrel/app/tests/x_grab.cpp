// SPDX-License-Identifier: MIT
#include "x_grab.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vintrel::test {

namespace {

// Runs ImageMagick's import with arguments and returns the PNG it writes.
QByteArray runImport(const std::string &arguments) {
    const std::string command = "import -silent " + arguments + " PNG24:- 2>/dev/null";
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return {};
    }
    QByteArray png;
    char chunk[16384];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        png.append(chunk, static_cast<qsizetype>(n));
    }
    return ::pclose(pipe) == 0 ? png : QByteArray();
}

}  // namespace

QByteArray grabFromXServer(unsigned long windowId) {
    return runImport("-window " + std::to_string(windowId));
}

QByteArray grabFromXServer(const QRect &area) {
    return runImport("-window root -crop " + std::to_string(area.width()) + "x" +
                     std::to_string(area.height()) + "+" + std::to_string(area.x()) + "+" +
                     std::to_string(area.y()) + " +repage");
}

QImage croppedToInk(const QImage &image, QRgb background) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QRect ink;
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            if ((rgb.pixel(x, y) & 0xFFFFFFu) != (background & 0xFFFFFFu)) {
                ink |= QRect(x, y, 1, 1);
            }
        }
    }
    return rgb.copy(ink);
}

std::optional<QPoint> find(const QImage &haystack, const QImage &needle, int tolerance,
                           double maxMismatchPercent) {
    const QImage hay = haystack.convertToFormat(QImage::Format_RGB32);
    const QImage pin = needle.convertToFormat(QImage::Format_RGB32);
    if (pin.isNull() || pin.width() > hay.width() || pin.height() > hay.height()) {
        return std::nullopt;
    }
    const auto allowed = static_cast<long>(pin.width() * pin.height() * maxMismatchPercent / 100);
    const auto close = [tolerance](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= tolerance &&
               std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
               std::abs(qBlue(a) - qBlue(b)) <= tolerance;
    };
    for (int top = 0; top + pin.height() <= hay.height(); ++top) {
        for (int left = 0; left + pin.width() <= hay.width(); ++left) {
            long mismatches = 0;
            for (int y = 0; y < pin.height() && mismatches <= allowed; ++y) {
                const auto *h = reinterpret_cast<const QRgb *>(hay.constScanLine(top + y)) + left;
                const auto *p = reinterpret_cast<const QRgb *>(pin.constScanLine(y));
                for (int x = 0; x < pin.width(); ++x) {
                    mismatches += close(h[x], p[x]) ? 0 : 1;
                }
            }
            if (mismatches <= allowed) {
                return QPoint(left, top);
            }
        }
    }
    return std::nullopt;
}

}  // namespace vintrel::test
