// SPDX-License-Identifier: MIT
// A LearnView for tests: remembers every control's state and caption, the code box, the
// error boxes and each meter's rectangles. Its validation mimics the main window's: a
// code is accepted exactly when it starts with "0000 " (as the fake driver does).
#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

#include "vintrel/learn/learn_view.h"

namespace vintrel::learn::test {

struct Rect {
    double x1, y1, x2, y2;
    MeterColour colour;
};

class RecordingCanvas : public MeterCanvas {
  public:
    int widthTwips = 4935;
    int heightTwips = 255;
    double tppX = 15.0;
    double tppY = 15.0;
    std::vector<Rect> rects;
    int sizeReads = 0;

    int outerWidthTwips() const override {
        ++const_cast<RecordingCanvas *>(this)->sizeReads;
        return widthTwips;
    }
    int outerHeightTwips() const override {
        ++const_cast<RecordingCanvas *>(this)->sizeReads;
        return heightTwips;
    }
    double twipsPerPixelX() const override { return tppX; }
    double twipsPerPixelY() const override { return tppY; }
    void fillRectangle(double x1, double y1, double x2, double y2, MeterColour colour) override {
        rects.push_back({x1, y1, x2, y2, colour});
    }
    /// Segments lit since the last clear.
    std::vector<Rect> lit() const {
        std::vector<Rect> result;
        for (const Rect &r : rects) {
            if (r.colour == MeterColour::ButtonFace) {
                result.clear();
            } else {
                result.push_back(r);
            }
        }
        return result;
    }
};

class FakeLearnView : public LearnView {
  public:
    FakeLearnView() {
        // The window's design state.
        for (Control c : {Control::cbLearnCancel, Control::cbInjectIR, Control::cbLearnAsBurst,
                          Control::lblInstruct1, Control::lblInstruct2, Control::lblLrnProgress,
                          Control::pbLearnProgress3, Control::lblSigQuality, Control::pbSigQuality,
                          Control::lblCarrier, Control::lblCarrierFreq}) {
            visible[c] = false;
        }
        enabled[Control::mnuLrnInject] = false;
        progress.widthTwips = 4935;
        progress.heightTwips = 255;
        quality.widthTwips = 375;
        quality.heightTwips = 1575;
    }

    std::map<Control, bool> visible;
    std::map<Control, bool> enabled;
    std::map<Control, QString> captions;
    QString code;
    QStringList errors;
    RecordingCanvas progress;
    RecordingCanvas quality;
    int validations = 0;

    void setVisible(Control c, bool v) override { visible[c] = v; }
    void setEnabled(Control c, bool e) override { enabled[c] = e; }
    bool isVisible(Control c) const override {
        const auto it = visible.find(c);
        return it == visible.end() || it->second;
    }
    bool isEnabled(Control c) const override {
        const auto it = enabled.find(c);
        return it == enabled.end() || it->second;
    }
    void setCaption(Control c, const QString &caption) override { captions[c] = caption; }
    QString codeText() const override { return code; }
    void setCodeText(const QString &text) override {
        code = text;
        validateCode();
    }
    void validateCode() override {
        ++validations;
        const bool injectShown = isVisible(Control::cbInjectIR);
        if (code.isEmpty()) {
            enabled[Control::cbTransmitIRCode] = false;
            enabled[Control::mnuTransmit] = false;
            return;
        }
        const bool valid = code.startsWith(QStringLiteral("0000 "));
        enabled[Control::cbTransmitIRCode] = valid && !injectShown;
        enabled[Control::mnuTransmit] = valid && !injectShown;
        if (injectShown) {
            enabled[Control::cbInjectIR] = valid;
        }
    }
    MeterCanvas &meter(Control c) override {
        return c == Control::pbSigQuality ? static_cast<MeterCanvas &>(quality) : progress;
    }
    void showError(const QString &text) override { errors.push_back(text); }
};

}  // namespace vintrel::learn::test
