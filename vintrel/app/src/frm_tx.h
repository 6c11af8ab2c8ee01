// SPDX-License-Identifier: MIT
// frmTX, the transmit window: a small fixed window reading "Transmission in Progress . . ."
// that the test transmit shows while the driver sends. No handlers of its own.
// Threads: the user-interface thread only.
#pragma once

#include <QWidget>

class QLabel;

namespace vintrel::app {

class FrmTX : public QWidget {
    Q_OBJECT
  public:
    /// Creates the window hidden and adds it to the loaded windows.
    FrmTX();
    /// Shows it centred on owner (the main window when nullptr, else the screen) and lets
    /// the window system expose it and it paint itself (platform::showPainted), so it is
    /// on screen before the caller blocks.
    void showAndPaint(QWidget *owner = nullptr);

  private:
    QLabel *Label1_;
};

}  // namespace vintrel::app
