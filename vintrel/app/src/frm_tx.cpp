// SPDX-License-Identifier: MIT
#include "frm_tx.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "controls.h"
#include "forms.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/caption_fit.h"
#include "vintrel/platform/screen.h"
#include "vintrel/platform/window_paint.h"

namespace vintrel::app {

namespace {
void centreOn(QWidget *window, QWidget *owner) {
    QRect area;
    if (owner != nullptr && owner->isVisible()) {
        area = owner->frameGeometry();
    } else if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (!area.isNull()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(area.center());
        window->move(frame.topLeft());
    }
}
}  // namespace

FrmTX::FrmTX()
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    nameControl(this, QStringLiteral("frmTX"));
    setWindowTitle(QStringLiteral("TRANSMITTING IR CODE..."));
    setFont(platform::sansSerifFont(8));
    setFixedSize(platform::twipsToPixelsX(4800), platform::twipsToPixelsY(840));
    Label1_ = makeLabel(this, QStringLiteral("Label1"),
                        QStringLiteral("Transmission in Progress . . ."), 720, 240, 3855, 375);
    Label1_->setFont(platform::sansSerifFont(12, true));
    platform::fitCaptions(this);
    registerForm(this);
}

void FrmTX::showAndPaint(QWidget *owner) {
    if (owner == nullptr && processState().mainForm != nullptr) {
        owner = processState().mainForm->widget();
    }
    if (!isVisible()) {
        centreOn(this, owner);
    }
    platform::showPainted(this);
}

}  // namespace vintrel::app
