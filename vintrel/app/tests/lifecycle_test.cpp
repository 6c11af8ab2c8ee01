// SPDX-License-Identifier: MIT
// The load and unload sequences in-process against the fake driver: what start-up leaves
// behind, and what shutdown takes down, in which order.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <string>
#include <vector>

#include "fake_driver_support.h"
#include "forms.h"
#include "frm_learn.h"
#include "frm_main.h"
#include "frm_tx.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"
#include "vintrel/platform/message_box.h"

namespace vintrel::app {
namespace {

class LifecycleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        std::string reason;
        ASSERT_TRUE(processState().driver.load(FAKE_DRIVER, reason)) << reason;
        platform::setMessageBoxObserver([this](const platform::ShownMessageBox &box) {
            boxes_.push_back(box.title + QLatin1Char('|') + box.text);
        });
        form_ = new FrmMain;
        guard_ = form_;
    }
    void TearDown() override {
        platform::setMessageBoxObserver(test::unexpectedBoxObserver());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete guard_.data();
        for (QWidget *other : std::vector<QWidget *>(processState().loadedForms)) {
            delete other;
        }
        processState().reset();
    }
    // The driver calls, without the code checks that every change of the code box makes.
    std::vector<std::string> calls() const {
        std::vector<std::string> found;
        for (const std::string &line : log_.lines()) {
            if (line.rfind("KRVXConvertProntoCode", 0) != 0) {
                found.push_back(line);
            }
        }
        return found;
    }
    std::size_t closes() const {
        std::size_t n = 0;
        for (const std::string &line : log_.lines()) {
            n += line.rfind("KRVXClose", 0) == 0 ? 1 : 0;
        }
        return n;
    }

    test::FakeLog log_;
    test::ScopedEnv env_;
    platform::WindowSystem windows_;
    std::vector<QString> boxes_;
    FrmMain *form_ = nullptr;
    QPointer<FrmMain> guard_;
};

TEST_F(LifecycleTest, LoadLeavesTheIdleStateTheDeviceAndTheHiddenWindow) {
    ASSERT_TRUE(form_->formLoad());
    EXPECT_TRUE(boxes_.empty());
    ProcessState &state = processState();
    EXPECT_EQ(state.mainForm, form_);
    EXPECT_EQ(state.deviceHandle, 7);
    EXPECT_TRUE(state.curCode.isEmpty());
    EXPECT_EQ(state.curCodeFormat, 16);
    EXPECT_EQ(form_->findChild<QLabel *>(QStringLiteral("lblLrnStatus"))->text(),
              QStringLiteral("Idle"));

    const platform::Hwnd hidden = state.hiddenWnd.load();
    ASSERT_NE(hidden, 0u);
    EXPECT_EQ(windows_.windowName(hidden), "CallbackHiddenWindow");
    EXPECT_EQ(windows_.windowStyle(hidden), platform::WS_MINIMIZE);
    EXPECT_EQ(windows_.windowStyle(hidden) & platform::WS_VISIBLE, 0u);

    const std::vector<std::string> expected = {"KRVXGetDrvInfo",
                                               "KRVXGetDrvVersion",
                                               "KRVXOpen -> 7",
                                               "KRVXSetReceiveCallback 7 set",
                                               "KRVXLearnIR 7 16 KRVX+HOOK",
                                               "KRVXGetKRVXInfo 7"};
    EXPECT_EQ(calls(), expected);
}

TEST_F(LifecycleTest, TheHiddenWindowCarriesTheRelayUntilUnload) {
    ASSERT_TRUE(form_->formLoad());
    const platform::Hwnd hidden = processState().hiddenWnd.load();
    EXPECT_EQ(windows_.windowProc(hidden), &device::hiddenWndProc);
    EXPECT_EQ(processState().prevWndProc, &platform::WindowSystem::staticWindowProc);
    form_->close();
    // The window's own procedure is back before the close request is handled.
    EXPECT_EQ(windows_.windowProc(hidden), &platform::WindowSystem::staticWindowProc);
    EXPECT_TRUE(test::waitUntil([&] { return !windows_.isWindow(hidden); }));
}

TEST_F(LifecycleTest, SubclassFailureIsSwallowedAndStartUpCompletes) {
    windows_.setCreatedWindowProc(nullptr);  // GetWindowLong would read 0
    ASSERT_TRUE(form_->formLoad());
    EXPECT_TRUE(boxes_.empty());
    const platform::Hwnd hidden = processState().hiddenWnd.load();
    EXPECT_NE(hidden, 0u);
    EXPECT_EQ(windows_.windowProc(hidden), nullptr);
    EXPECT_EQ(processState().prevWndProc, nullptr);
    form_->close();
    EXPECT_EQ(closes(), 1u);
}

TEST_F(LifecycleTest, AnOpenDeviceIsNotOpenedAgain) {
    processState().deviceHandle = 5;
    ASSERT_TRUE(form_->formLoad());
    for (const std::string &line : log_.lines()) {
        EXPECT_EQ(line.rfind("KRVXOpen", 0), std::string::npos);
        EXPECT_EQ(line.rfind("KRVXSetReceiveCallback", 0), std::string::npos);
    }
    form_->close();
    EXPECT_EQ(calls().back(), "KRVXClose 5");
}

TEST_F(LifecycleTest, WindowCreationFailureIsReportedAndLoadCompletes) {
    windows_.failNextCreateWindow(8);
    ASSERT_TRUE(form_->formLoad());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], QStringLiteral("vintrel|Unable to create window, LastError = 8"));
    EXPECT_EQ(processState().hiddenWnd.load(), 0u);
    EXPECT_EQ(windows_.windowCount(), 0u);
    // Shutdown then has no window to close but still closes the device.
    form_->close();
    EXPECT_EQ(closes(), 1u);
}

TEST_F(LifecycleTest, CloseBoxClosesTheDeviceOnceAndTheHiddenWindow) {
    ASSERT_TRUE(form_->formLoad());
    form_->showCentred();
    const platform::Hwnd hidden = processState().hiddenWnd.load();
    form_->close();
    EXPECT_EQ(closes(), 1u);
    EXPECT_EQ(calls().back(), "KRVXClose 7");
    EXPECT_TRUE(windows_.isWindow(hidden)) << "the close request is posted, not sent";
    EXPECT_TRUE(test::waitUntil([&] { return !windows_.isWindow(hidden) && guard_.isNull(); }));
    EXPECT_TRUE(processState().loadedForms.empty());
    // hiddenWnd and deviceHandle are never reset.
    EXPECT_EQ(processState().hiddenWnd.load(), hidden);
    EXPECT_EQ(processState().deviceHandle, 7);
    // A second close of the same window does not close the device again.
    if (!guard_.isNull()) {
        guard_->close();
    }
    EXPECT_EQ(closes(), 1u);
}

TEST_F(LifecycleTest, FileExitUnloadsLikeTheCloseBox) {
    ASSERT_TRUE(form_->formLoad());
    form_->showCentred();
    form_->findChild<QAction *>(QStringLiteral("mnuFileExit"))->trigger();
    EXPECT_EQ(closes(), 1u);
    EXPECT_TRUE(test::waitUntil([&] { return guard_.isNull(); }));
}

TEST_F(LifecycleTest, FileExitReportsARunTimeErrorAndClosesAllTheSame) {
    // During an own learn File > Exit registers the hook again, and by then the library
    // has lost KRVXLearnIR: the error is reported, and the window still goes.
    ASSERT_TRUE(form_->formLoad());
    form_->showCentred();
    form_->findChild<QPushButton *>(QStringLiteral("cbLearnIRCode"))->click();
    ASSERT_TRUE(processState().inLearn);
    std::string reason;
    ASSERT_TRUE(processState().driver.load(FAKE_DRIVER_NO_LEARN, reason)) << reason;
    form_->findChild<QAction *>(QStringLiteral("mnuFileExit"))->trigger();
    // One box from File > Exit, one from the unload sequence's unhook: each failing call is
    // reported, none stops the way out.
    ASSERT_EQ(boxes_.size(), 2u);
    for (const QString &box : boxes_) {
        EXPECT_TRUE(box.startsWith(QStringLiteral("vintrel|Run-time error '453':")) &&
                    box.contains(QStringLiteral("KRVXLearnIR")))
            << box.toStdString();
    }
    EXPECT_FALSE(processState().inLearn);
    EXPECT_EQ(closes(), 1u);
    EXPECT_TRUE(test::waitUntil([&] { return guard_.isNull(); }));
    EXPECT_TRUE(processState().loadedForms.empty());
}

TEST_F(LifecycleTest, ShutdownUnloadsTheOtherWindowsNewestFirst) {
    ASSERT_TRUE(form_->formLoad());
    form_->showCentred();
    FrmTX *tx = frmTX();
    tx->showAndPaint();
    tx->hide();
    FrmLearn *learn = frmLearn();
    ASSERT_EQ(processState().loadedForms.size(), 3u);
    ASSERT_EQ(processState().loadedForms[1], tx);
    std::vector<QString> destroyed;
    for (QWidget *form : {static_cast<QWidget *>(tx), static_cast<QWidget *>(learn)}) {
        const QString name = form->objectName();
        QObject::connect(form, &QObject::destroyed,
                         [&destroyed, name] { destroyed.push_back(name); });
    }
    form_->close();
    EXPECT_TRUE(processState().loadedForms.empty());
    EXPECT_EQ(loadedFrmTX(), nullptr);
    EXPECT_EQ(loadedFrmLearn(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const std::vector<QString> expected = {QStringLiteral("frmLearn"), QStringLiteral("frmTX")};
    EXPECT_EQ(destroyed, expected);
    EXPECT_EQ(closes(), 1u);
}

TEST_F(LifecycleTest, FatalStartUpLeavesNothingToUnload) {
    env_.set("FAKE_KRVX_OPEN", "-1");
    env_.set("FAKE_KRVX_OPEN_ERRNO", "0x20000003");
    EXPECT_FALSE(form_->formLoad());
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], QStringLiteral("ERROR|Unable to find Korvex Driver. Please make sure "
                                        "driver is Installed!"));
    EXPECT_EQ(processState().deviceHandle, -1);
    EXPECT_EQ(processState().hiddenWnd.load(), 0u);
    EXPECT_EQ(windows_.windowCount(), 0u);
    EXPECT_FALSE(form_->isVisible());
    delete form_;  // what start-up does after a fatal error: no unload sequence
    EXPECT_EQ(closes(), 0u);
}

}  // namespace
}  // namespace vintrel::app
