// SPDX-License-Identifier: MIT
#include "controls.h"

#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>

#include "vintrel/platform/screen.h"

namespace vintrel::app {

void nameControl(QWidget *control, const QString &name) {
    control->setObjectName(name);
    control->setAccessibleDescription(name);
}

void placeTwips(QWidget *control, int left, int top, int width, int height) {
    control->setGeometry(platform::twipsRect(left, top, width, height));
}

QGroupBox *makeFrame(QWidget *container, const QString &name, const QString &caption, int left,
                     int top, int width, int height) {
    auto *frame = new QGroupBox(caption, container);
    nameControl(frame, name);
    placeTwips(frame, left, top, width, height);
    return frame;
}

QLabel *makeLabel(QWidget *container, const QString &name, const QString &caption, int left,
                  int top, int width, int height) {
    auto *label = new QLabel(caption, container);
    nameControl(label, name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFrameShape(QFrame::NoFrame);
    placeTwips(label, left, top, width, height);
    return label;
}

QPushButton *makeButton(QWidget *container, const QString &name, const QString &caption, int left,
                        int top, int width, int height) {
    auto *button = new QPushButton(caption, container);
    nameControl(button, name);
    button->setAutoDefault(false);
    button->setDefault(false);
    placeTwips(button, left, top, width, height);
    return button;
}

PictureBox::PictureBox(QWidget *parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);
}

void PictureBox::fillRectangle(int x1, int y1, int x2, int y2, const QColor &colour) {
    if (surface_.isNull()) {
        return;
    }
    const QRect wanted(QPoint(std::min(x1, x2), std::min(y1, y2)),
                       QPoint(std::max(x1, x2), std::max(y1, y2)));
    const QRect clipped = wanted.intersected(surface_.rect());
    if (clipped.isEmpty()) {
        return;
    }
    QPainter painter(&surface_);
    painter.fillRect(clipped, colour);
    update();
}

void PictureBox::clear() {
    surface_.fill(palette().color(QPalette::Button));
    update();
}

void PictureBox::paintEvent(QPaintEvent *event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(contentsRect().topLeft(), surface_);
}

void PictureBox::resizeEvent(QResizeEvent *event) {
    QFrame::resizeEvent(event);
    const QSize size = contentsRect().size();
    if (size != surface_.size()) {
        QImage resized(size.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
        resized.fill(palette().color(QPalette::Button));
        if (!surface_.isNull()) {
            QPainter painter(&resized);
            painter.drawImage(0, 0, surface_);
        }
        surface_ = resized;
    }
}

}  // namespace vintrel::app
