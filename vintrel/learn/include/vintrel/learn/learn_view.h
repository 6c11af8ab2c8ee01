// SPDX-License-Identifier: MIT
// What the learn controller and the meters need of the main window: the controls they
// show, hide, enable and caption, the code box, its validation, the two meter boxes and
// the error box. The main window implements it; the tests use a recording fake.
// Threads: the user-interface thread only.
#pragma once

#include <QString>

#include <cstdint>

namespace vintrel::learn {

/// The controls the learn controller drives. The last two belong to frmLearn, which the
/// view loads (hidden) when they are first touched.
enum class Control {
    cbLearnIRCode,
    mnuLearnIRLearnPronto,
    cbLearnCancel,
    cbLearnAsBurst,
    cbInjectIR,
    mnuLrnInject,
    lblInstruct1,
    lblInstruct2,
    lblLrnStatus,
    lblLrnProgress,
    pbLearnProgress3,
    lblSigQuality,
    pbSigQuality,
    lblCarrier,
    lblCarrierFreq,
    cbTransmitIRCode,
    mnuTransmit,
    frmLearn_cbLearnAsBurst,
    frmLearn_LrnTimer,
};

/// The colours a meter draws with: the button face (system colour 15) clears, the
/// selection highlight (system colour 13) lights a segment.
enum class MeterColour { ButtonFace, Highlight };

/// A meter's picture box as the drawing sees it: its outer size in twips and the screen's
/// twips per pixel, both read afresh at every call, and a pixel drawing surface whose
/// origin is the top left corner of the client area.
class MeterCanvas {
  public:
    virtual int outerWidthTwips() const = 0;
    virtual int outerHeightTwips() const = 0;
    virtual double twipsPerPixelX() const = 0;
    virtual double twipsPerPixelY() const = 0;
    /// Fills the rectangle spanned by the corners (x1, y1) and (x2, y2), in either order.
    virtual void fillRectangle(double x1, double y1, double x2, double y2, MeterColour colour) = 0;

    virtual ~MeterCanvas() = default;
};

class LearnView {
  public:
    virtual void setVisible(Control control, bool visible) = 0;
    virtual void setEnabled(Control control, bool enabled) = 0;
    /// As set, whether or not the window is on screen.
    virtual bool isVisible(Control control) const = 0;
    virtual bool isEnabled(Control control) const = 0;
    /// Captions a label (lblCarrierFreq is the only one the controller writes).
    virtual void setCaption(Control control, const QString &caption) = 0;

    /// The code box text (tbCurCode).
    virtual QString codeText() const = 0;
    /// Sets the code box text; the box's own change handling runs as for any edit.
    virtual void setCodeText(const QString &text) = 0;
    /// Runs the code box's validation (tbCurCode_Change).
    virtual void validateCode() = 0;

    /// The meter box pbLearnProgress3 or pbSigQuality.
    virtual MeterCanvas &meter(Control control) = 0;

    /// A modal box titled "ERROR" with one OK button; returns when it is closed.
    virtual void showError(const QString &text) = 0;

    virtual ~LearnView() = default;
};

}  // namespace vintrel::learn
