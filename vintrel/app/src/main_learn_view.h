// SPDX-License-Identifier: MIT
// The main window as the learn controller sees it: its controls found by name, the code
// box, its validation, the two meter boxes and the error box. frmLearn's controls are
// reached through frmLearn(), which loads it hidden on first use.
// Threads: the user-interface thread only.
#pragma once

#include <functional>
#include <memory>

#include "vintrel/learn/learn_view.h"

class QAction;
class QPlainTextEdit;
class QWidget;

namespace vintrel::app {

class PictureBox;

/// A picture box as a meter canvas: outer size in twips and twips per pixel read at each
/// call; rectangles land in the box's surface, which keeps them until the next draw.
class PictureBoxCanvas : public learn::MeterCanvas {
  public:
    explicit PictureBoxCanvas(PictureBox *box) : box_(box) {}
    int outerWidthTwips() const override;
    int outerHeightTwips() const override;
    double twipsPerPixelX() const override;
    double twipsPerPixelY() const override;
    void fillRectangle(double x1, double y1, double x2, double y2,
                       learn::MeterColour colour) override;

  private:
    PictureBox *box_;
};

class MainLearnView : public learn::LearnView {
  public:
    /// window holds the named controls; validate runs tbCurCode_Change.
    MainLearnView(QWidget *window, std::function<void()> validate);
    ~MainLearnView() override;

    void setVisible(learn::Control control, bool visible) override;
    void setEnabled(learn::Control control, bool enabled) override;
    bool isVisible(learn::Control control) const override;
    bool isEnabled(learn::Control control) const override;
    void setCaption(learn::Control control, const QString &caption) override;
    QString codeText() const override;
    void setCodeText(const QString &text) override;
    void validateCode() override;
    learn::MeterCanvas &meter(learn::Control control) override;
    void showError(const QString &text) override;

  private:
    QWidget *widget(learn::Control control) const;
    QAction *action(learn::Control control) const;

    QWidget *window_;
    std::function<void()> validate_;
    QPlainTextEdit *code_;
    std::unique_ptr<PictureBoxCanvas> progress_;
    std::unique_ptr<PictureBoxCanvas> quality_;
};

}  // namespace vintrel::app
