// SPDX-License-Identifier: MIT
#include "frm_learn.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "controls.h"
#include "forms.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/screen.h"

namespace vintrel::app {

FrmLearn::FrmLearn(QWidget *owner)
    : QWidget(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint) {
    nameControl(this, QStringLiteral("frmLearn"));
    setWindowTitle(QStringLiteral("Learn In Progress..."));
    setFont(platform::sansSerifFont(8));
    setFixedSize(platform::twipsToPixelsX(4695), platform::twipsToPixelsY(3915));

    LrnTimer_ = new QTimer(this);
    LrnTimer_->setObjectName(QStringLiteral("LrnTimer"));
    LrnTimer_->setInterval(10);
    connect(LrnTimer_, &QTimer::timeout, this, &FrmLearn::LrnTimer_Timer);

    // Created in tab-index order, so the focus chain follows the tab indexes.
    cbCancel_ = makeButton(this, QStringLiteral("cbCancel"), QStringLiteral("Cancel"), 3120, 3360,
                           1335, 375);
    makeLabel(this, QStringLiteral("Label1"), QStringLiteral("Learn Progress:"), 240, 2400, 1575,
              255);
    makeLabel(this, QStringLiteral("Label2"), QStringLiteral("Signal Quality:"), 3720, 240, 735,
              495)
        ->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    makeLabel(this, QStringLiteral("Label3"), QStringLiteral("Carrier Frequency:"), 1800, 2400,
              1335, 255);
    makeLabel(this, QStringLiteral("lblCarrierFreq"), QStringLiteral("---"), 3240, 2400, 615, 255);
    makeLabel(
        this, QStringLiteral("Label4"),
        QStringLiteral("1. Aim Remote directly at Korvex approximately 6 inches from Korvex face."),
        240, 600, 3255, 735);
    makeLabel(this, QStringLiteral("Label5"),
              QStringLiteral("2. PRESS and HOLD the desired button on your Remote until "
                             "Learning is Complete..."),
              240, 1320, 3255, 495);
    cbLearnAsBurst_ = makeButton(this, QStringLiteral("cbLearnAsBurst"),
                                 QStringLiteral("Accept Burst"), 240, 3360, 1335, 375);
    Picture1_ = new PictureBox(this);
    nameControl(Picture1_, QStringLiteral("Picture1"));
    placeTwips(Picture1_, 3960, 840, 375, 1575);
    setTabOrder(cbCancel_, cbLearnAsBurst_);
    setTabOrder(cbLearnAsBurst_, Picture1_);

    connect(cbCancel_, &QPushButton::clicked, this, &FrmLearn::cbCancel_Click);
    connect(cbLearnAsBurst_, &QPushButton::clicked, this, &FrmLearn::cbLearnAsBurst_Click);
    registerForm(this);
}

void FrmLearn::cbCancel_Click() {
    storeAbortWord(processState().learnAbort, -1);
    unloadForm(this);
}

void FrmLearn::cbLearnAsBurst_Click() {
    storeAbortWord(processState().learnAbort, -1);
}

void FrmLearn::LrnTimer_Timer() {
    LrnTimer_->stop();
    unloadForm(this);
}

}  // namespace vintrel::app
