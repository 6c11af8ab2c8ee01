// SPDX-License-Identifier: MIT
// frmLearn, the second learn window: loaded hidden the first time a learn starts and never
// shown. Its Cancel and Accept Burst buttons and its timer act on the own learn's abort
// word.
// Threads: the user-interface thread only.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class QTimer;

namespace vintrel::app {

class PictureBox;

class FrmLearn : public QWidget {
    Q_OBJECT
  public:
    /// Creates the window hidden, owned by owner, and adds it to the loaded windows.
    explicit FrmLearn(QWidget *owner = nullptr);

    QTimer *LrnTimer() const noexcept { return LrnTimer_; }

  private:
    void cbCancel_Click();
    void cbLearnAsBurst_Click();
    void LrnTimer_Timer();

    QTimer *LrnTimer_;
    PictureBox *Picture1_;
    QPushButton *cbLearnAsBurst_;
    QPushButton *cbCancel_;
};

}  // namespace vintrel::app
