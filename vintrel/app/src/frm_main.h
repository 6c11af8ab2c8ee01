// SPDX-License-Identifier: MIT
// frmMain, the main window: the code box with its learn and transmit buttons, the device
// information line, the last received code, the learn-status area and the menu bar, laid
// out in twips without layouts (nothing follows the window's size). Every control's object
// name is its name, also set as its accessible description.
//
// Life: the start-up procedure creates it and calls formLoad() (the load sequence) before
// showing it; closing it (File > Exit or the close box) runs formUnload() (the unload
// sequence) and unloads it. Threads: the user-interface thread only.
#pragma once

#include <QMainWindow>

#include <cstdint>
#include <memory>

#include "vintrel/device/process_state.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace vintrel::learn {
class LearnController;
}

namespace vintrel::app {

class MainLearnView;
class PictureBox;

class FrmMain : public QMainWindow, public MainForm {
    Q_OBJECT
  public:
    /// Creates the window hidden with every control in its design state, adds it to the
    /// loaded windows and makes it processState().mainForm.
    FrmMain();
    ~FrmMain() override;

    /// The load sequence: checks the driver library, opens the device and wires it up.
    /// Returns false after a fatal error, whose box has been shown and closed; the caller
    /// then ends the process without unloading. A run-time error of the first two steps
    /// (before the error trap) leaves as platform::RuntimeError.
    bool formLoad();
    /// The unload sequence: restores and closes the message window, unhooks and closes
    /// the device, unloads every other loaded window, newest first.
    void formUnload();
    /// Shows the window centred on the screen.
    void showCentred();

    // MainForm
    QWidget *widget() override { return this; }
    void beginLearn() override;
    void endLearn() override;
    void onReceivedCode(const platform::MessagePayload &code) override;
    void onLearnProgress(std::uintptr_t wParam, std::intptr_t lParam) override;

  protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

  private:
    void buildControls(QWidget *client);
    void buildMenus();
    void wireEvents();

    // Handlers.
    void mnuFileExit_Click();
    void mnuHelpAbout_Click();
    void tbCurCode_Change();
    void mnuTransmitTXBlock_Click();
    void cbTransmitIRCode_Click();
    void Timer1_Timer();
    /// Runs handler for a control event: a run-time error it raises is reported, since
    /// an event has no caller to fail to. Every control event goes through here.
    void runEvent(void (FrmMain::*handler)());
    /// Connects the learn buttons and menu entries to the learn controller.
    void wireLearnEvents();

    // Operations the load and unload sequences call.
    void hookDriver();
    void unhookDriver();
    void showDeviceInfo();

    std::unique_ptr<MainLearnView> learnView_;
    std::unique_ptr<learn::LearnController> learn_;

    bool shownOnce_ = false;
    bool unloading_ = false;

    QGroupBox *Frame1_ = nullptr;
    QGroupBox *Frame2_ = nullptr;
    QGroupBox *Frame3_ = nullptr;
    QGroupBox *Frame4_ = nullptr;
    QTimer *Timer1_ = nullptr;
    QLabel *lblInfo_ = nullptr;
    QLabel *lblKXRCode_ = nullptr;
    QPlainTextEdit *tbCurCode_ = nullptr;
    QPushButton *cbLearnIRCode_ = nullptr;
    QPushButton *cbTransmitIRCode_ = nullptr;
    QLabel *lblLrnStatus_ = nullptr;
    QLabel *lblInstruct1_ = nullptr;
    QLabel *lblInstruct2_ = nullptr;
    QLabel *lblSigQuality_ = nullptr;
    PictureBox *pbSigQuality_ = nullptr;
    QLabel *lblLrnProgress_ = nullptr;
    QLabel *lblCarrier_ = nullptr;
    QLabel *lblCarrierFreq_ = nullptr;
    PictureBox *pbLearnProgress3_ = nullptr;
    QPushButton *cbInjectIR_ = nullptr;
    QPushButton *cbLearnAsBurst_ = nullptr;
    QPushButton *cbLearnCancel_ = nullptr;

    QMenu *mnuFile_ = nullptr;
    QAction *mnuFileExit_ = nullptr;
    QMenu *mnuTransmit_ = nullptr;
    QAction *mnuTransmitTXBlock_ = nullptr;
    QMenu *mnuLearn_ = nullptr;
    QAction *mnuLearnIRLearnPronto_ = nullptr;
    QAction *mnuLrnInject_ = nullptr;
    QMenu *mnuHelp_ = nullptr;
    QAction *mnuHelpAbout_ = nullptr;
};

}  // namespace vintrel::app
