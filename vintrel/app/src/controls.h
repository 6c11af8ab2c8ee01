// SPDX-License-Identifier: MIT
// Building blocks of vintrel's windows: controls placed in twips, named (object name and
// accessible description), and the picture box that the meters draw in.
// Threads: the user-interface thread only.
#pragma once

#include <QFrame>
#include <QImage>

class QGroupBox;
class QLabel;
class QPushButton;
class QString;
class QWidget;

namespace vintrel::app {

/// Gives a control its name: object name and accessible description.
void nameControl(QWidget *control, const QString &name);

/// Places a control at left, top, width, height twips within its container.
void placeTwips(QWidget *control, int left, int top, int width, int height);

/// A frame: a captioned group box without a layout.
QGroupBox *makeFrame(QWidget *container, const QString &name, const QString &caption, int left,
                     int top, int width, int height);

/// A label without border that wraps its caption at word boundaries, top-left aligned.
QLabel *makeLabel(QWidget *container, const QString &name, const QString &caption, int left,
                  int top, int width, int height);

/// A command button that is never a default button.
QPushButton *makeButton(QWidget *container, const QString &name, const QString &caption, int left,
                        int top, int width, int height);

/// A picture box: sunken three-dimensional border, button-face background, a drawing
/// surface in pixels that keeps what is drawn until cleared. Takes the focus by tab.
class PictureBox : public QFrame {
    Q_OBJECT
  public:
    explicit PictureBox(QWidget *parent = nullptr);

    /// Fills the rectangle from (x1, y1) to (x2, y2) inclusive, in pixels of the
    /// drawing surface, with colour. Parts outside the surface are cut off.
    void fillRectangle(int x1, int y1, int x2, int y2, const QColor &colour);
    /// Clears the surface to the background colour.
    void clear();
    /// The drawing surface (the box's inside, without border).
    const QImage &surface() const noexcept { return surface_; }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    QImage surface_;
};

}  // namespace vintrel::app
