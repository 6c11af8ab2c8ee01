// SPDX-License-Identifier: MIT
// A line control: a straight horizontal or vertical line in one colour and width, placed by
// its two end points in twips in its parent's client area. It takes no input.
// Threads: the user-interface thread only.
#pragma once

#include <QColor>
#include <QPoint>
#include <QWidget>

namespace vintrel::dialogs {

class LineControl : public QWidget {
    Q_OBJECT
  public:
    /// A line from (x1, y1) to (x2, y2) in twips, widthPixels thick: a horizontal line grows
    /// downwards from y1, a vertical one rightwards from x1. The end point (x2, y2) is not
    /// drawn. A slanted line is drawn as the horizontal one through (x1, y1).
    LineControl(QWidget *parent, QPoint fromTwips, QPoint toTwips, QColor color, int widthPixels);

    QColor color() const { return color_; }
    int lineWidth() const { return width_; }

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QColor color_;
    int width_;
};

}  // namespace vintrel::dialogs
