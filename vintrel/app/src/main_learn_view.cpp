// SPDX-License-Identifier: MIT
#include "main_learn_view.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>

#include <cmath>
#include <stdexcept>

#include "controls.h"
#include "forms.h"
#include "frm_learn.h"
#include "vintrel/learn/meters.h"
#include "vintrel/platform/caption_fit.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/screen.h"

namespace vintrel::app {

using learn::Control;

namespace {

const char *controlName(Control control) {
    switch (control) {
        case Control::cbLearnIRCode:
            return "cbLearnIRCode";
        case Control::mnuLearnIRLearnPronto:
            return "mnuLearnIRLearnPronto";
        case Control::cbLearnCancel:
            return "cbLearnCancel";
        case Control::cbLearnAsBurst:
            return "cbLearnAsBurst";
        case Control::cbInjectIR:
            return "cbInjectIR";
        case Control::mnuLrnInject:
            return "mnuLrnInject";
        case Control::lblInstruct1:
            return "lblInstruct1";
        case Control::lblInstruct2:
            return "lblInstruct2";
        case Control::lblLrnStatus:
            return "lblLrnStatus";
        case Control::lblLrnProgress:
            return "lblLrnProgress";
        case Control::pbLearnProgress3:
            return "pbLearnProgress3";
        case Control::lblSigQuality:
            return "lblSigQuality";
        case Control::pbSigQuality:
            return "pbSigQuality";
        case Control::lblCarrier:
            return "lblCarrier";
        case Control::lblCarrierFreq:
            return "lblCarrierFreq";
        case Control::cbTransmitIRCode:
            return "cbTransmitIRCode";
        case Control::mnuTransmit:
            return "mnuTransmit";
        case Control::frmLearn_cbLearnAsBurst:
            return "cbLearnAsBurst";
        case Control::frmLearn_LrnTimer:
            return "LrnTimer";
    }
    return "";
}

bool isMenu(Control control) {
    return control == Control::mnuLearnIRLearnPronto || control == Control::mnuLrnInject ||
           control == Control::mnuTransmit;
}

template <typename T>
T *required(QObject *parent, const char *name) {
    T *found = parent->findChild<T *>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::logic_error(std::string("no control ") + name);
    }
    return found;
}

}  // namespace

int PictureBoxCanvas::outerWidthTwips() const {
    return static_cast<int>(std::lround(box_->width() * twipsPerPixelX()));
}
int PictureBoxCanvas::outerHeightTwips() const {
    return static_cast<int>(std::lround(box_->height() * twipsPerPixelY()));
}
double PictureBoxCanvas::twipsPerPixelX() const {
    return platform::twipsPerPixelX();
}
double PictureBoxCanvas::twipsPerPixelY() const {
    return platform::twipsPerPixelY();
}

void PictureBoxCanvas::fillRectangle(double x1, double y1, double x2, double y2,
                                     learn::MeterColour colour) {
    const learn::PixelSpan xs = learn::pixelSpan(x1, x2);
    const learn::PixelSpan ys = learn::pixelSpan(y1, y2);
    if (xs.end <= xs.first || ys.end <= ys.first) {
        return;  // covers no pixel centre
    }
    const QColor fill = box_->palette().color(
        colour == learn::MeterColour::Highlight ? QPalette::Highlight : QPalette::Button);
    box_->fillRectangle(xs.first, ys.first, xs.end - 1, ys.end - 1, fill);
}

MainLearnView::MainLearnView(QWidget *window, std::function<void()> validate)
    : window_(window),
      validate_(std::move(validate)),
      code_(required<QPlainTextEdit>(window, "tbCurCode")),
      progress_(
          std::make_unique<PictureBoxCanvas>(required<PictureBox>(window, "pbLearnProgress3"))),
      quality_(std::make_unique<PictureBoxCanvas>(required<PictureBox>(window, "pbSigQuality"))) {}

MainLearnView::~MainLearnView() = default;

QWidget *MainLearnView::widget(Control control) const {
    if (control == Control::frmLearn_cbLearnAsBurst) {
        return required<QWidget>(frmLearn(), controlName(control));
    }
    return required<QWidget>(window_, controlName(control));
}

QAction *MainLearnView::action(Control control) const {
    if (control == Control::mnuTransmit) {
        return required<QMenu>(window_, controlName(control))->menuAction();
    }
    return required<QAction>(window_, controlName(control));
}

void MainLearnView::setVisible(Control control, bool visible) {
    if (isMenu(control)) {
        action(control)->setVisible(visible);
    } else if (control != Control::frmLearn_LrnTimer) {
        widget(control)->setVisible(visible);
    }
}

void MainLearnView::setEnabled(Control control, bool enabled) {
    if (control == Control::frmLearn_LrnTimer) {
        QTimer *timer = frmLearn()->LrnTimer();
        if (enabled) {
            timer->start();
        } else {
            timer->stop();
        }
    } else if (isMenu(control)) {
        action(control)->setEnabled(enabled);
    } else {
        widget(control)->setEnabled(enabled);
    }
}

bool MainLearnView::isVisible(Control control) const {
    if (control == Control::frmLearn_LrnTimer) {
        return false;
    }
    return isMenu(control) ? action(control)->isVisible() : !widget(control)->isHidden();
}

bool MainLearnView::isEnabled(Control control) const {
    if (control == Control::frmLearn_LrnTimer) {
        FrmLearn *loaded = loadedFrmLearn();
        return loaded != nullptr && loaded->LrnTimer()->isActive();
    }
    // The control's own setting, as the window would show it once on screen.
    return isMenu(control) ? action(control)->isEnabled()
                           : widget(control)->isEnabledTo(widget(control)->parentWidget());
}

void MainLearnView::setCaption(Control control, const QString &caption) {
    auto *label = required<QLabel>(window_, controlName(control));
    label->setText(caption);
    platform::fitCaption(label);
}

QString MainLearnView::codeText() const {
    return code_->toPlainText();
}

void MainLearnView::setCodeText(const QString &text) {
    code_->setPlainText(text);
}

void MainLearnView::validateCode() {
    validate_();
}

learn::MeterCanvas &MainLearnView::meter(Control control) {
    return control == Control::pbSigQuality ? *quality_ : *progress_;
}

void MainLearnView::showError(const QString &text) {
    platform::messageBox(text, QStringLiteral("ERROR"), window_);
}

}  // namespace vintrel::app
