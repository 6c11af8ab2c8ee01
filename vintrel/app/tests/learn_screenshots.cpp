// Takes the learn screenshots of the README: the main window during an own learn (a short
// press of a virtual remote: meters lit, carrier shown, Accept Burst enabled) and during
// another program's learn (Inject IR Code Above enabled). Runs against a private krvxd
// with the simulated device; run it under Xvfb at 96 dpi:
//   xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" env QT_QPA_PLATFORM=xcb QT_FONT_DPI=96
//       vintrel_learn_screenshots docs/learn-own.png docs/learn-observed.png
// (one command line)
// Exits 0 when both images were written.
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <cstdio>
#include <memory>
#include <string>

#include "e2e_support.h"
#include "frm_main.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/window_system.h"

namespace {

using vintrel::test::e2e::KrvxProcess;
using vintrel::test::e2e::PrivateService;

const char *kNec =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 06A4 "
    "015B 0057 0016 0E6C";

int fail(const char *what) {
    std::fprintf(stderr, "learn_screenshots: %s\n", what);
    return 1;
}

bool save(QWidget *window, const char *file) {
    vintrel::test::drainEvents();
    window->repaint();
    return window->grab().save(QString::fromLocal8Bit(file), "PNG");
}

}  // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        return fail("usage: vintrel_learn_screenshots OWN.png OBSERVED.png");
    }
    PrivateService::Options options;
    options.timeScale = 0;
    PrivateService service(options);
    if (!service.ready()) {
        return fail(service.failure().c_str());
    }
    std::string reason;
    if (!vintrel::test::e2e::loadRealDriver(reason)) {
        return fail(reason.c_str());
    }
    vintrel::platform::WindowSystem windows;
    auto *form = new vintrel::app::FrmMain;
    if (!form->formLoad()) {
        return fail("the load sequence failed");
    }
    form->showCentred();
    auto *box = form->findChild<QPlainTextEdit *>(QStringLiteral("tbCurCode"));
    auto *burst = form->findChild<QPushButton *>(QStringLiteral("cbLearnAsBurst"));
    auto *inject = form->findChild<QPushButton *>(QStringLiteral("cbInjectIR"));
    auto *cancel = form->findChild<QPushButton *>(QStringLiteral("cbLearnCancel"));
    constexpr int kWait = vintrel::test::e2e::kProcessTimeoutMs;

    // An own learn that has seen one frame of a short press and waits for more.
    form->findChild<QPushButton *>(QStringLiteral("cbLearnIRCode"))->click();
    if (vintrel::test::e2e::runKrvx(service, {"press", kNec, "--hold", "0"}) != 0 ||
        !vintrel::test::waitUntil([&] { return burst->isEnabled(); }, kWait)) {
        return fail("the own learn showed no progress");
    }
    if (!save(form, argv[1])) {
        return fail("cannot write the own-learn image");
    }
    cancel->click();

    // Another program's learn, with a valid code in the box to inject.
    box->setPlainText(QString::fromLatin1(kNec));
    KrvxProcess other(service, {"learn", "--timeout", "60"});
    if (!vintrel::test::waitUntil(
            [&] { return vintrel::processState().inLearn && inject->isEnabled(); }, kWait)) {
        return fail("the other program's learn was not shown");
    }
    // One frame for it, so that its progress shows too.
    auto *carrier = form->findChild<QLabel *>(QStringLiteral("lblCarrierFreq"));
    if (vintrel::test::e2e::runKrvx(service, {"press", kNec, "--hold", "0"}) != 0 ||
        !vintrel::test::waitUntil([&] { return carrier->text() != QStringLiteral("---"); },
                                  kWait)) {
        return fail("the other program's learn showed no progress");
    }
    if (!save(form, argv[2])) {
        return fail("cannot write the observed-learn image");
    }
    inject->click();
    other.finish();
    form->close();
    vintrel::test::drainEvents();
    return 0;
}
