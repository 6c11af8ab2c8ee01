// SPDX-License-Identifier: MIT
// Takes the pictures of the README from the X server's screen, against a private krvxd with
// the simulated device (in real time) and the build tree's driver library:
//   main-window.png     idle, after a press of a virtual remote was received
//   tooltip.png         the code box's tooltip: what the code in it is
//   learn-own.png       an own learn after one frame of a short press
//   learn-observed.png  `krvx learn` observed, a code in the box to inject
//   about-dialog.png    the About dialog
//   transmit.png        the transmit window over the main window during a send, grabbed by
//                       another thread and process while the user-interface thread is blocked
// Run it through screenshots.sh, which offers only the fonts scripts/install-deps installs
// and a private Xvfb. Usage: vintrel_screenshots OUTPUT_DIR. Exits 0 when all are written.
#include <QToolTip>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "e2e_support.h"
#include "forms.h"
#include "frm_about.h"
#include "frm_main.h"
#include "frm_tx.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/window_system.h"
#include "x_grab.h"

namespace {

using vintrel::test::e2e::kNec;
using vintrel::test::e2e::KrvxProcess;
using vintrel::test::e2e::PrivateService;
using namespace std::chrono_literals;

constexpr int kWait = vintrel::test::e2e::kProcessTimeoutMs;

[[noreturn]] void fail(const std::string &what) {
    std::fprintf(stderr, "vintrel_screenshots: %s\n", what.c_str());
    std::exit(1);
}

// The screen where window is, once everything due has been drawn.
void shoot(QWidget *window, const QString &file) {
    vintrel::test::drainEvents();
    QTest::qWait(200);  // the window system shows what was handed to it
    const QImage shot = QImage::fromData(vintrel::test::grabFromXServer(window->geometry()), "PNG");
    if (shot.isNull() || !shot.save(file, "PNG")) {
        fail("cannot grab or write " + file.toStdString());
    }
}

void press(const PrivateService &service) {
    if (vintrel::test::e2e::runKrvx(service, {"press", kNec, "--hold", "0"}) != 0) {
        fail("krvx press failed");
    }
}

bool viewable(unsigned long window) {
    const std::string command =
        "xwininfo -id " + std::to_string(window) + " 2>/dev/null | grep -q IsViewable";
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        fail("usage: vintrel_screenshots OUTPUT_DIR");
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    PrivateService::Options options;
    options.timeScale = 1;  // a send takes as long as on the air
    options.loopback = false;
    PrivateService service(options);
    if (!service.ready()) {
        fail(service.failure());
    }
    std::string reason;
    if (!vintrel::test::e2e::loadRealDriver(reason)) {
        fail(reason);
    }
    vintrel::platform::WindowSystem windows;
    auto *form = new vintrel::app::FrmMain;
    if (!form->formLoad()) {
        fail("the load sequence failed");
    }
    form->showCentred();
    if (!QTest::qWaitForWindowExposed(form)) {
        fail("the main window was not shown");
    }
    auto *box = form->findChild<QPlainTextEdit *>(QStringLiteral("tbCurCode"));
    auto *received = form->findChild<QLabel *>(QStringLiteral("lblKXRCode"));
    auto *burst = form->findChild<QPushButton *>(QStringLiteral("cbLearnAsBurst"));
    auto *inject = form->findChild<QPushButton *>(QStringLiteral("cbInjectIR"));
    auto *cancel = form->findChild<QPushButton *>(QStringLiteral("cbLearnCancel"));
    auto *carrier = form->findChild<QLabel *>(QStringLiteral("lblCarrierFreq"));
    auto *timer = form->findChild<QTimer *>(QStringLiteral("Timer1"));

    // Idle, with the code the device received from a press, red turned black.
    press(service);
    if (!vintrel::test::waitUntil(
            [&] {
                return received->text() != QStringLiteral("------------") && !timer->isActive();
            },
            kWait)) {
        fail("no received code was shown");
    }
    shoot(form, out.filePath(QStringLiteral("main-window.png")));

    // The code box's tooltip says what its code is.
    box->setPlainText(QString::fromLatin1(kNec));
    QToolTip::showText(box->mapToGlobal(QPoint(box->width() / 3, box->height() / 2)),
                       box->toolTip(), box);
    QWidget *tip = nullptr;
    if (!vintrel::test::waitUntil(
            [&] {
                for (QWidget *w : QApplication::topLevelWidgets()) {
                    if (w->inherits("QTipLabel") && w->isVisible()) {
                        tip = w;
                    }
                }
                return tip != nullptr && QTest::qWaitForWindowExposed(tip, 50);
            },
            kWait)) {
        fail("the code box's tooltip was not shown");
    }
    QTest::qWait(200);  // the tooltip's fade-in
    const QImage tipShot = QImage::fromData(
        vintrel::test::grabFromXServer(form->geometry().united(tip->geometry())), "PNG");
    if (tipShot.isNull() || !tipShot.save(out.filePath(QStringLiteral("tooltip.png")), "PNG")) {
        fail("cannot grab or write tooltip.png");
    }
    QToolTip::hideText();
    box->clear();

    // An own learn that has seen one frame of a short press and waits for more.
    form->findChild<QPushButton *>(QStringLiteral("cbLearnIRCode"))->click();
    press(service);
    if (!vintrel::test::waitUntil([&] { return burst->isEnabled(); }, kWait)) {
        fail("the own learn showed no progress");
    }
    shoot(form, out.filePath(QStringLiteral("learn-own.png")));
    cancel->click();

    // Another program's learn, with a valid code in the box to inject, after one frame.
    box->setPlainText(QString::fromLatin1(kNec));
    KrvxProcess other(service, {"learn", "--timeout", "60"});
    if (!vintrel::test::waitUntil(
            [&] { return vintrel::processState().inLearn && inject->isEnabled(); }, kWait)) {
        fail("the other program's learn was not shown");
    }
    press(service);
    if (!vintrel::test::waitUntil([&] { return carrier->text() != QStringLiteral("---"); },
                                  kWait)) {
        fail("the other program's learn showed no progress");
    }
    shoot(form, out.filePath(QStringLiteral("learn-observed.png")));
    inject->click();
    other.finish();
    if (!vintrel::test::waitUntil([] { return !vintrel::processState().inLearn; }, kWait)) {
        fail("the observed learn did not end");
    }

    // The About dialog over the main window.
    auto *about = new vintrel::dialogs::frmAbout(form);
    about->show();
    if (!QTest::qWaitForWindowExposed(about)) {
        fail("the About dialog was not shown");
    }
    shoot(about, out.filePath(QStringLiteral("about-dialog.png")));
    delete about;

    // The transmit window during a send: the user-interface thread is blocked in the
    // driver, so another thread waits for the window to be mapped and has it grabbed.
    vintrel::app::FrmTX *tx = vintrel::app::frmTX();
    const unsigned long txWindow = tx->winId();
    const QRect area = form->geometry();
    QByteArray sending;
    std::atomic<bool> done = false;
    std::thread grabber([&] {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!viewable(txWindow) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        std::this_thread::sleep_for(200ms);
        sending = vintrel::test::grabFromXServer(area);
        done = true;
    });
    form->findChild<QPushButton *>(QStringLiteral("cbTransmitIRCode"))->click();
    const bool grabbedDuringSend = done;
    grabber.join();
    if (!grabbedDuringSend) {
        fail("the send ended before the transmit window was grabbed");
    }
    const QImage shot = QImage::fromData(sending, "PNG");
    if (shot.isNull() || !shot.save(out.filePath(QStringLiteral("transmit.png")), "PNG")) {
        fail("cannot grab or write transmit.png");
    }

    form->close();
    vintrel::test::drainEvents();
    return 0;
}
