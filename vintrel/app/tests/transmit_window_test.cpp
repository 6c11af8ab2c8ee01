// SPDX-License-Identifier: MIT
// The transmit window on a real X server (a private Xvfb, see with_xvfb.sh). While the
// driver sends, the user-interface thread is blocked in KRVXTransmitIR; another process
// grabs the window's pixels from the X server at once and again 300 ms into a 400 ms send,
// and the label's text, drawn offscreen in the label's own font, must be in both grabs.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fake_driver_support.h"
#include "forms.h"
#include "frm_main.h"
#include "frm_tx.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "x_grab.h"

namespace vintrel::app {
namespace {

using namespace std::chrono_literals;

constexpr auto kSend = 400ms;
constexpr auto kLateGrab = 300ms;

unsigned long g_window = 0;
std::vector<QByteArray> g_grabs;

// The fake driver's send: the grabs come from another thread (and process) while this one,
// the user-interface thread, waits inside the driver call.
void onTransmit() {
    const auto start = std::chrono::steady_clock::now();
    std::thread grabber([start] {
        g_grabs.push_back(test::grabFromXServer(g_window));
        std::this_thread::sleep_until(start + kLateGrab);
        g_grabs.push_back(test::grabFromXServer(g_window));
    });
    grabber.join();
    std::this_thread::sleep_until(start + kSend);
}

TEST(TransmitWindowOnScreen, ItsTextIsOnTheScreenWhileTheDriverSends) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"))
        << "runs on an X display (with_xvfb.sh)";
    processState().reset();
    test::FakeLog log;
    std::string reason;
    ASSERT_TRUE(processState().driver.load(FAKE_DRIVER, reason)) << reason;
    void *fake = dlopen(FAKE_DRIVER, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(fake, nullptr);
    using SetHook = void (*)(void (*)());
    const auto setHook = reinterpret_cast<SetHook>(dlsym(fake, "fakeKrvxSetTransmitHook"));
    dlclose(fake);  // still loaded by the driver object
    ASSERT_NE(setHook, nullptr);
    setHook(&onTransmit);

    platform::WindowSystem windows;
    auto *form = new FrmMain;
    ASSERT_TRUE(form->formLoad());
    form->showCentred();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    form->findChild<QPlainTextEdit *>(QStringLiteral("tbCurCode"))
        ->setPlainText(QStringLiteral("0000 006C 0000 0001 0010 0010"));

    FrmTX *tx = frmTX();
    g_window = static_cast<unsigned long>(tx->winId());
    auto *label = tx->findChild<QLabel *>(QStringLiteral("Label1"));
    ASSERT_NE(label, nullptr);
    const QImage text =
        test::croppedToInk(label->grab().toImage(), label->palette().color(QPalette::Window).rgb());
    ASSERT_GT(text.width(), label->width() / 2) << "the label draws its text";

    form->findChild<QPushButton *>(QStringLiteral("cbTransmitIRCode"))->click();
    setHook(nullptr);
    EXPECT_EQ(log.count("KRVXTransmitIR 7 0000 006C 0000 0001 0010 0010 16 10"), 1u);
    ASSERT_EQ(g_grabs.size(), 2u);
    for (std::size_t i = 0; i < g_grabs.size(); ++i) {
        SCOPED_TRACE(i == 0 ? "grab at the start of the send" : "grab 300 ms into the send");
        const QImage shot = QImage::fromData(g_grabs[i], "PNG");
        ASSERT_FALSE(shot.isNull()) << "import could not grab the window";
        EXPECT_TRUE(test::find(shot, text).has_value())
            << "\"Transmission in Progress . . .\" is not on the screen; grab saved as " << [&] {
                   const QString file = QStringLiteral("/tmp/vintrel-transmit-grab-%1.png").arg(i);
                   shot.save(file);
                   return file.toStdString();
               }();
    }

    delete form;
    for (QWidget *other : std::vector<QWidget *>(processState().loadedForms)) {
        delete other;
    }
    processState().reset();
}

}  // namespace
}  // namespace vintrel::app
