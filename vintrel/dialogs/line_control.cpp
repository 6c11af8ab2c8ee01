// SPDX-License-Identifier: MIT
#include "line_control.h"

#include "vintrel/platform/screen.h"

#include <QPainter>

#include <algorithm>

namespace vintrel::dialogs {

LineControl::LineControl(QWidget *parent, QPoint fromTwips, QPoint toTwips, QColor color,
                         int widthPixels)
    : QWidget(parent), color_(color), width_(std::max(1, widthPixels)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    const int x1 = platform::twipsToPixelsX(fromTwips.x());
    const int y1 = platform::twipsToPixelsY(fromTwips.y());
    const int x2 = platform::twipsToPixelsX(toTwips.x());
    const int y2 = platform::twipsToPixelsY(toTwips.y());
    if (x1 == x2 && y1 != y2) {
        setGeometry(x1, std::min(y1, y2), width_, std::abs(y2 - y1));
    } else {
        setGeometry(std::min(x1, x2), y1, std::max(1, std::abs(x2 - x1)), width_);
    }
}

void LineControl::paintEvent(QPaintEvent * /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), color_);
}

}  // namespace vintrel::dialogs
