// SPDX-License-Identifier: MIT
#include "frm_main.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <string>

#include "code_meaning.h"
#include "controls.h"
#include "display_text.h"
#include "forms.h"
#include "frm_tx.h"
#include "main_learn_view.h"
#include "vintrel/device/relay.h"
#include "vintrel/learn/learn_controller.h"
#include "vintrel/platform/caption_fit.h"
#include "vintrel/platform/error_report.h"
#include "vintrel/platform/last_error.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/mouse_pointer.h"
#include "vintrel/platform/screen.h"

#ifdef VINTREL_HAVE_ABOUT_DIALOG
#include "frm_about.h"
#endif

namespace vintrel::app {

namespace {

constexpr std::uint32_t kDriverInfo = 256;
constexpr std::uint32_t kMinimumDriverVersion = 2680;

const QString kTitle = QStringLiteral("vintrel");
const QString kErrorTitle = QStringLiteral("ERROR");

QString openErrorMessage(std::uint32_t lastError) {
    switch (lastError) {
        case ERR_DRIVER_NOT_FOUND:
            return QStringLiteral(
                "Unable to find Korvex Driver. Please make sure driver is Installed!");
        case ERR_DEVICE_NOT_FOUND:
            return QStringLiteral(
                "Unable to connect to Korvex device!  Please ensure device is connected to the "
                "computer!");
        case ERR_COMM_FAILED:
            return QStringLiteral(
                "Unable to communicate with Korvex device!  Please check connections and try "
                "again.  If you still have problems, try unplugging and reconnecting your "
                "Korvex.  If problem persists, contact Technical Support!");
        case ERR_FIRMWARE_MISMATCH:
            return QStringLiteral(
                "Your Korvex's firmware is not compatible with this API DLL. Please verify you "
                "are running the latest API DLL and that you're using the latest version of "
                "Korvex firmware!  If problem persists, contact Technical Support!");
        default:
            return QStringLiteral("Unable to initialize Korvex (unknown error)!");
    }
}

// Text for the driver: ISO-8859-1, a character outside it becomes '?'; NUL-terminated.
QByteArray toDriverText(const QString &text) {
    return text.toLatin1();
}

// A fatal start-up error: the cause, in the library's words where it has them, on standard
// error, then the box in the program's own words.
void fatal(const QString &message, const std::string &cause) {
    platform::tellStandardError(cause);
    platform::messageBox(message, kErrorTitle);
}

// "<call> failed (last error <value>): " and what the library says about the value; asked
// right after the failing call, the library tells why that call failed where it knows.
std::string failure(device::Driver &driver, const char *call, std::uint32_t lastError) {
    std::string text;
    try {
        text = driver.errorText(static_cast<std::int32_t>(lastError));
    } catch (const platform::RuntimeError &) {
        text = "the library has no text for it";
    }
    char value[16];
    std::snprintf(value, sizeof value, "%#x", lastError);
    return std::string(call) + " failed (last error " + value + "): " + text;
}

// A step under the load sequence's error trap: a run-time error abandons it silently.
void trapped(const std::function<void()> &step) {
    try {
        step();
    } catch (const platform::RuntimeError &) {
        // Skipped without a report; the sequence goes on.
    }
}

}  // namespace

FrmMain::FrmMain() {
    nameControl(this, QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Korvex Vintrel Utility"));
    setWindowIcon(QIcon(QStringLiteral(":/vintrel/app/vintrel.xpm")));
    setFont(platform::sansSerifFont(8));

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    buildControls(client);
    buildMenus();
    wireEvents();
    learnView_ = std::make_unique<MainLearnView>(this, [this] { tbCurCode_Change(); });
    learn_ = std::make_unique<learn::LearnController>(*learnView_);
    wireLearnEvents();

    resize(platform::twipsToPixelsX(7170),
           platform::twipsToPixelsY(6390) + menuBar()->sizeHint().height());
    // The status line and the first instruction share a place and are never shown together.
    platform::setShownApart(lblLrnStatus_, lblInstruct1_);
    platform::fitCaptions(client);

    processState().mainForm = this;
    registerForm(this);
    Timer1_->start();
}

FrmMain::~FrmMain() {
    if (processState().mainForm == this) {
        processState().mainForm = nullptr;
    }
}

void FrmMain::buildControls(QWidget *client) {
    Frame3_ = makeFrame(client, QStringLiteral("Frame3"), QStringLiteral("Korvex Info:"), 120, 120,
                        4095, 855);
    Timer1_ = new QTimer(Frame3_);
    Timer1_->setObjectName(QStringLiteral("Timer1"));
    Timer1_->setInterval(100);
    lblInfo_ = makeLabel(Frame3_, QStringLiteral("lblInfo"), QString(), 120, 240, 3855, 375);

    Frame1_ = makeFrame(client, QStringLiteral("Frame1"),
                        QStringLiteral("Received KXR Event Code:"), 4320, 120, 2775, 855);
    lblKXRCode_ = makeLabel(Frame1_, QStringLiteral("lblKXRCode"), QStringLiteral("------------"),
                            120, 240, 2535, 495);
    lblKXRCode_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblKXRCode_->setFont(platform::sansSerifFont(18));
    // Received bytes are never taken for markup.
    lblKXRCode_->setTextFormat(Qt::PlainText);

    Frame2_ = makeFrame(client, QStringLiteral("Frame2"),
                        QStringLiteral("IR Code (Pronto Format):"), 120, 1080, 6975, 2535);
    tbCurCode_ = new QPlainTextEdit(QStringLiteral("Text1"), Frame2_);
    nameControl(tbCurCode_, QStringLiteral("tbCurCode"));
    tbCurCode_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    tbCurCode_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    tbCurCode_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    tbCurCode_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tbCurCode_->setTabChangesFocus(true);
    placeTwips(tbCurCode_, 120, 360, 6735, 1575);
    cbLearnIRCode_ = makeButton(Frame2_, QStringLiteral("cbLearnIRCode"),
                                QStringLiteral("Learn an IR Code"), 120, 2040, 1815, 375);
    cbTransmitIRCode_ = makeButton(Frame2_, QStringLiteral("cbTransmitIRCode"),
                                   QStringLiteral("Test Transmit IR Code"), 2040, 2040, 1815, 375);

    Frame4_ = makeFrame(client, QStringLiteral("Frame4"), QStringLiteral("Learn Status:"), 120,
                        3720, 6975, 2535);
    lblLrnStatus_ =
        makeLabel(Frame4_, QStringLiteral("lblLrnStatus"), QString(), 240, 480, 1335, 375);
    lblInstruct1_ = makeLabel(
        Frame4_, QStringLiteral("lblInstruct1"),
        QStringLiteral("1. Aim Remote directly at Korvex approximately 6 inches from Korvex face."),
        360, 360, 3255, 735);
    lblInstruct2_ = makeLabel(Frame4_, QStringLiteral("lblInstruct2"),
                              QStringLiteral("2. PRESS and HOLD the desired button on your Remote "
                                             "until Learning is Complete..."),
                              360, 840, 3255, 495);
    lblSigQuality_ = makeLabel(Frame4_, QStringLiteral("lblSigQuality"),
                               QStringLiteral("Signal Quality:"), 5160, 240, 735, 495);
    lblSigQuality_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    pbSigQuality_ = new PictureBox(Frame4_);
    nameControl(pbSigQuality_, QStringLiteral("pbSigQuality"));
    placeTwips(pbSigQuality_, 5400, 840, 375, 1575);
    lblLrnProgress_ = makeLabel(Frame4_, QStringLiteral("lblLrnProgress"),
                                QStringLiteral("Learn Progress:"), 240, 1440, 1575, 255);
    lblCarrier_ = makeLabel(Frame4_, QStringLiteral("lblCarrier"),
                            QStringLiteral("Carrier Frequency:"), 2760, 1440, 1335, 255);
    lblCarrierFreq_ = makeLabel(Frame4_, QStringLiteral("lblCarrierFreq"), QStringLiteral("---"),
                                4440, 1440, 615, 255);
    pbLearnProgress3_ = new PictureBox(Frame4_);
    nameControl(pbLearnProgress3_, QStringLiteral("pbLearnProgress3"));
    placeTwips(pbLearnProgress3_, 240, 1680, 4935, 255);
    cbInjectIR_ = makeButton(Frame4_, QStringLiteral("cbInjectIR"),
                             QStringLiteral("Inject IR Code Above"), 240, 2040, 1815, 375);
    cbLearnAsBurst_ = makeButton(Frame4_, QStringLiteral("cbLearnAsBurst"),
                                 QStringLiteral("Accept Burst"), 2280, 2040, 1335, 375);
    cbLearnCancel_ = makeButton(Frame4_, QStringLiteral("cbLearnCancel"), QStringLiteral("Cancel"),
                                3840, 2040, 1335, 375);

    // The learn area shows only the status until a learn is shown. (A child is shown with
    // its parent unless hidden explicitly.)
    for (QWidget *hidden :
         {static_cast<QWidget *>(lblInstruct1_), static_cast<QWidget *>(lblInstruct2_),
          static_cast<QWidget *>(lblSigQuality_), static_cast<QWidget *>(pbSigQuality_),
          static_cast<QWidget *>(lblLrnProgress_), static_cast<QWidget *>(lblCarrier_),
          static_cast<QWidget *>(lblCarrierFreq_), static_cast<QWidget *>(pbLearnProgress3_),
          static_cast<QWidget *>(cbInjectIR_), static_cast<QWidget *>(cbLearnAsBurst_),
          static_cast<QWidget *>(cbLearnCancel_)}) {
        hidden->setVisible(false);
    }

    // Tab order: the controls that can take the focus, lowest tab index first.
    const std::array<QWidget *, 8> tabOrder = {tbCurCode_,    cbTransmitIRCode_, cbLearnIRCode_,
                                               cbInjectIR_,   cbLearnAsBurst_,   cbLearnCancel_,
                                               pbSigQuality_, pbLearnProgress3_};
    for (std::size_t i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
}

void FrmMain::buildMenus() {
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("menuBar"));
    auto addMenu = [bar](const QString &name, const QString &title) {
        QMenu *menu = bar->addMenu(title);
        nameControl(menu, name);
        menu->menuAction()->setObjectName(name);
        return menu;
    };
    auto addItem = [](QMenu *menu, const QString &name, const QString &caption) {
        QAction *action = menu->addAction(caption);
        action->setObjectName(name);
        action->setMenuRole(QAction::NoRole);
        return action;
    };
    mnuFile_ = addMenu(QStringLiteral("mnuFile"), QStringLiteral("&File"));
    mnuFileExit_ = addItem(mnuFile_, QStringLiteral("mnuFileExit"), QStringLiteral("E&xit"));
    mnuTransmit_ = addMenu(QStringLiteral("mnuTransmit"), QStringLiteral("&Transmit"));
    mnuTransmitTXBlock_ = addItem(mnuTransmit_, QStringLiteral("mnuTransmitTXBlock"),
                                  QStringLiteral("&IR Code in Window"));
    mnuLearn_ = addMenu(QStringLiteral("mnuLearn"), QStringLiteral("&Learn"));
    mnuLearnIRLearnPronto_ = addItem(mnuLearn_, QStringLiteral("mnuLearnIRLearnPronto"),
                                     QStringLiteral("in &Pronto Format"));
    mnuLrnInject_ = addItem(mnuLearn_, QStringLiteral("mnuLrnInject"),
                            QStringLiteral("&Inject IR Code from Window"));
    mnuLrnInject_->setEnabled(false);
    mnuHelp_ = addMenu(QStringLiteral("mnuHelp"), QStringLiteral("&Help"));
    mnuHelpAbout_ = addItem(mnuHelp_, QStringLiteral("mnuHelpAbout"), QStringLiteral("&About "));
}

void FrmMain::wireEvents() {
    connect(mnuFileExit_, &QAction::triggered, this,
            [this] { runEvent(&FrmMain::mnuFileExit_Click); });
    connect(tbCurCode_, &QPlainTextEdit::textChanged, this,
            [this] { runEvent(&FrmMain::tbCurCode_Change); });
    connect(mnuTransmitTXBlock_, &QAction::triggered, this,
            [this] { runEvent(&FrmMain::mnuTransmitTXBlock_Click); });
    connect(cbTransmitIRCode_, &QPushButton::clicked, this,
            [this] { runEvent(&FrmMain::cbTransmitIRCode_Click); });
    connect(Timer1_, &QTimer::timeout, this, [this] { runEvent(&FrmMain::Timer1_Timer); });
#ifdef VINTREL_HAVE_ABOUT_DIALOG
    connect(mnuHelpAbout_, &QAction::triggered, this,
            [this] { runEvent(&FrmMain::mnuHelpAbout_Click); });
#endif
}

bool FrmMain::formLoad() {
    ProcessState &state = processState();
    device::Driver &driver = state.driver;

    // The interface info, before the error trap is in force.
    std::uint32_t info = 0;
    if (driver.getDrvInfo(&info) == 0) {
        fatal(QStringLiteral("Unable to retrieve krvxdrv version!"),
              failure(driver, "KRVXGetDrvInfo", platform::lastError()));
        return false;
    }
    if (info != kDriverInfo) {
        fatal(QStringLiteral("Invalid krvxdrv version!"),
              "KRVXGetDrvInfo reports interface " + std::to_string(info) + ", vintrel needs " +
                  std::to_string(kDriverInfo));
        return false;
    }

    // From here on a step that raises a run-time error is skipped (see trapped()). The
    // library version: a call that cannot be made counts as a failed one.
    std::string versionCause;
    std::uint32_t version = 0;
    try {
        if (driver.getDrvVersion(&version) == 0) {
            versionCause = failure(driver, "KRVXGetDrvVersion", platform::lastError());
        } else if (version < kMinimumDriverVersion) {
            versionCause = "KRVXGetDrvVersion reports " + std::to_string(version) +
                           ", vintrel needs " + std::to_string(kMinimumDriverVersion) + " or later";
        }
    } catch (const platform::RuntimeError &error) {
        versionCause = "KRVXGetDrvVersion cannot be called: " + error.description();
    }
    if (!versionCause.empty()) {
        fatal(QStringLiteral(
                  "This application requires Korvex API driver DLL (KRVXDRV.DLL) version 2.6.8 "
                  "or later. Please verify you are running the latest API DLL and that you're "
                  "using the latest version of Korvex firmware!  If problem persists, contact "
                  "Technical Support!"),
              versionCause);
        return false;
    }

    // Open the device once and wire its callbacks and the hook.
    if (state.deviceHandle == 0) {
        bool openFailed = false;
        std::uint32_t openError = 0;
        trapped([&] {
            state.deviceHandle = driver.open();
            openError = platform::lastError();
            openFailed = state.deviceHandle == -1;
        });
        if (openFailed) {
            fatal(openErrorMessage(openError), failure(driver, "KRVXOpen", openError));
            return false;
        }
        if (state.deviceHandle != 0) {
            trapped([&] {
                driver.setReceiveCallback(state.deviceHandle, &device::receiveCallback,
                                          static_cast<MainForm *>(this));
            });
            // What received codes are, for lblKXRCode's tooltip; a library without the
            // extension leaves the tooltip empty.
            trapped([&] {
                driver.setReceiveFrameCallback(state.deviceHandle, &app::receiveFrameCallback,
                                               nullptr);
            });
            trapped([&] { hookDriver(); });
        }
    }

    // The idle state.
    trapped([&] {
        state.curCode.clear();
        state.curCodeFormat = FMT_PRONTO;
    });
    trapped([&] {
        lblLrnStatus_->setText(QStringLiteral("Idle"));
        platform::fitCaption(lblLrnStatus_);
    });
    trapped([&] { showDeviceInfo(); });
    trapped([&] { tbCurCode_Change(); });

    // The hidden message window that carries the driver's callbacks.
    trapped([&] {
        platform::WindowSystem *windows = platform::WindowSystem::current();
        if (windows == nullptr) {
            throw platform::RuntimeError(platform::kErrInvalidProcedureCall,
                                         "No window system to create the message window in");
        }
        const platform::Hwnd window = windows->createWindow("STATIC", "CallbackHiddenWindow",
                                                            platform::WS_MINIMIZE, 0, 0, 100, 100);
        const std::uint32_t createError = platform::lastError();
        if (window == 0) {
            platform::messageBox(
                QStringLiteral("Unable to create window, LastError = %1").arg(createError), kTitle);
            return;
        }
        state.hiddenWnd.store(window, std::memory_order_release);
        trapped([&] { device::subclassWindow(window); });
    });
    return true;
}

void FrmMain::formUnload() {
    ProcessState &state = processState();
    // No error trap here: a run-time error is reported and the sequence still completes,
    // so the device is closed and every window unloaded.
    auto reported = [](const std::function<void()> &step) {
        try {
            step();
        } catch (const platform::RuntimeError &error) {
            platform::reportRuntimeError(error);
        }
    };
    const platform::Hwnd hidden = state.hiddenWnd.load(std::memory_order_acquire);
    if (hidden != 0) {
        reported([&] { device::unsubclassWindow(hidden); });
        reported([&] { device::closeWindow(hidden); });
    }
    if (state.deviceHandle != 0) {
        reported([&] { unhookDriver(); });
        reported([&] { state.driver.close(state.deviceHandle); });
    }
    unloadOtherForms();
}

void FrmMain::showCentred() {
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

void FrmMain::closeEvent(QCloseEvent *event) {
    // The unload never cancels: File > Exit, the close box and the system all end here.
    event->accept();
    if (unloading_) {
        return;
    }
    unloading_ = true;
    formUnload();
    unloadForm(this);
}

void FrmMain::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        tbCurCode_->setFocus(Qt::OtherFocusReason);
    }
}

void FrmMain::mnuFileExit_Click() {
    // The user asked to leave: a learn that cannot be ended cleanly is reported, and the
    // window closes all the same.
    try {
        endLearn();
    } catch (const platform::RuntimeError &error) {
        platform::reportRuntimeError(error);
    }
    close();
}

void FrmMain::mnuHelpAbout_Click() {
#ifdef VINTREL_HAVE_ABOUT_DIALOG
    dialogs::showAboutDialog(this);
#endif
}

void FrmMain::Timer1_Timer() {
    QPalette palette = lblKXRCode_->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    lblKXRCode_->setPalette(palette);
    Timer1_->stop();
}

// Operations that later changes fill in.

void FrmMain::beginLearn() {
    learn_->beginLearn();
}

void FrmMain::endLearn() {
    learn_->endLearn();
}

void FrmMain::onReceivedCode(const platform::MessagePayload &code) {
    lblKXRCode_->setText(receivedCodeText(code));
    lblKXRCode_->setToolTip(app::receivedMeaning(lblKXRCode_->text()));
    platform::fitCaption(lblKXRCode_);
    QPalette palette = lblKXRCode_->palette();
    palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    lblKXRCode_->setPalette(palette);
    // A code during the red period starts a new one: each code is red for a whole tick.
    Timer1_->start();
}

void FrmMain::onLearnProgress(std::uintptr_t wParam, std::intptr_t lParam) {
    learn_->onLearnProgress(wParam, lParam);
}

void FrmMain::hookDriver() {
    learn_->hookDriver();
}

void FrmMain::unhookDriver() {
    learn_->unhookDriver();
}

void FrmMain::wireLearnEvents() {
    using learn::LearnController;
    auto wire = [this](auto *sender, auto signal, void (LearnController::*handler)()) {
        connect(sender, signal, this, [this, handler] {
            try {
                (learn_.get()->*handler)();
            } catch (const platform::RuntimeError &error) {
                platform::reportRuntimeError(error);
            }
        });
    };
    wire(cbLearnIRCode_, &QPushButton::clicked, &LearnController::cbLearnIRCode_Click);
    wire(mnuLearnIRLearnPronto_, &QAction::triggered,
         &LearnController::mnuLearnIRLearnPronto_Click);
    wire(cbLearnCancel_, &QPushButton::clicked, &LearnController::cbLearnCancel_Click);
    wire(cbLearnAsBurst_, &QPushButton::clicked, &LearnController::cbLearnAsBurst_Click);
    wire(cbInjectIR_, &QPushButton::clicked, &LearnController::cbInjectIR_Click);
    wire(mnuLrnInject_, &QAction::triggered, &LearnController::mnuLrnInject_Click);
}

void FrmMain::showDeviceInfo() {
    ProcessState &state = processState();
    lblInfo_->setText(QStringLiteral("---"));
    if (state.deviceHandle != 0) {
        DeviceInfo info{};
        if (state.driver.getKRVXInfo(state.deviceHandle, &info) == 0) {
            lblInfo_->setText(QStringLiteral("*** ERROR Retrieving Korvex Information! ***"));
        } else {
            lblInfo_->setText(deviceInfoCaption(info));
        }
    }
    platform::fitCaption(lblInfo_);
    // Last, in every case; the box's change handling runs as for any change.
    tbCurCode_->setPlainText(state.curCode);
}

void FrmMain::runEvent(void (FrmMain::*handler)()) {
    try {
        (this->*handler)();
    } catch (const platform::RuntimeError &error) {
        platform::reportRuntimeError(error);
    }
}

void FrmMain::tbCurCode_Change() {
    const QString text = tbCurCode_->toPlainText();
    tbCurCode_->setToolTip(app::codeMeaning(text));
    if (text.isEmpty()) {
        cbTransmitIRCode_->setEnabled(false);
        mnuTransmit_->menuAction()->setEnabled(false);
        return;
    }
    // Fresh scratch for every check; nothing reads what the driver writes there.
    std::array<char, KRVX_LEARN_BUFFER_SIZE> scratch{};
    std::int32_t words = 0;
    const QByteArray code = toDriverText(text);
    const bool codeValid = processState().driver.convertProntoCode(code.constData(), scratch.data(),
                                                                   &words, 0, 0) != 0;
    const bool injectShown = !cbInjectIR_->isHidden();
    cbTransmitIRCode_->setEnabled(codeValid && !injectShown);
    mnuTransmit_->menuAction()->setEnabled(codeValid && !injectShown);
    if (injectShown) {
        cbInjectIR_->setEnabled(codeValid);
    }
}

void FrmMain::cbTransmitIRCode_Click() {
    mnuTransmitTXBlock_Click();
}

void FrmMain::mnuTransmitTXBlock_Click() {
    ProcessState &state = processState();
    state.curCode = tbCurCode_->toPlainText();
    if (state.deviceHandle == 0) {
        return;
    }
    platform::setMousePointer(platform::MousePointer::Hourglass);
    FrmTX *tx = frmTX();
    tx->showAndPaint();
    std::int32_t sent = 0;
    try {
        const QByteArray code = toDriverText(state.curCode);
        sent = state.driver.transmitIR(state.deviceHandle, code.constData(), state.curCodeFormat,
                                       10, 0, nullptr, nullptr, nullptr);
        state.curCode = QString::fromLatin1(code);
    } catch (...) {
        // The window and the pointer never stay behind, whatever the driver did.
        tx->hide();
        platform::setMousePointer(platform::MousePointer::Default);
        throw;
    }
    tx->hide();
    platform::setMousePointer(platform::MousePointer::Default);
    if (sent == 0) {
        platform::messageBox(
            QStringLiteral(
                "*** ERROR calling KRVXTransmitIR! ***Verify that your IR Code is Valid!"),
            kErrorTitle, this);
    }
}

}  // namespace vintrel::app
