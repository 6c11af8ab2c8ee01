// SPDX-License-Identifier: MIT
// Code validation and the test transmit against the fake driver, which accepts exactly the
// texts that start with "0000 ".
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>

#include <string>
#include <vector>

#include "fake_driver_support.h"
#include "forms.h"
#include "frm_main.h"
#include "frm_tx.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/mouse_pointer.h"

namespace vintrel::app {
namespace {

const QString kValid = QStringLiteral("0000 006C 0000 0001 0010 0010");

// What the fake driver saw of the window and the pointer while it was sending.
struct DuringSend {
    bool txVisible = false;
    bool hourglass = false;
    int calls = 0;
};
DuringSend g_during;

void onTransmit() {
    ++g_during.calls;
    FrmTX *tx = loadedFrmTX();
    g_during.txVisible = tx != nullptr && tx->isVisible();
    g_during.hourglass = platform::mousePointer() == platform::MousePointer::Hourglass;
}

class TransmitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        std::string reason;
        ASSERT_TRUE(processState().driver.load(FAKE_DRIVER, reason)) << reason;
        void *fake = dlopen(FAKE_DRIVER, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(fake, nullptr);
        using SetHook = void (*)(void (*)());
        setHook_ = reinterpret_cast<SetHook>(dlsym(fake, "fakeKrvxSetTransmitHook"));
        dlclose(fake);  // still loaded by the driver object
        ASSERT_NE(setHook_, nullptr);
        setHook_(&onTransmit);
        g_during = {};
        platform::setMessageBoxObserver([this](const platform::ShownMessageBox &box) {
            boxes_.push_back(box.title + QLatin1Char('|') + box.text);
            boxTxVisible_ = loadedFrmTX() != nullptr && loadedFrmTX()->isVisible();
            boxHourglass_ = platform::mousePointer() == platform::MousePointer::Hourglass;
        });
        form_ = new FrmMain;
        ASSERT_TRUE(form_->formLoad());
        form_->showCentred();
        code_ = form_->findChild<QPlainTextEdit *>(QStringLiteral("tbCurCode"));
        transmit_ = form_->findChild<QPushButton *>(QStringLiteral("cbTransmitIRCode"));
        inject_ = form_->findChild<QPushButton *>(QStringLiteral("cbInjectIR"));
        transmitMenu_ = form_->findChild<QMenu *>(QStringLiteral("mnuTransmit"))->menuAction();
        transmitItem_ = form_->findChild<QAction *>(QStringLiteral("mnuTransmitTXBlock"));
    }
    void TearDown() override {
        setHook_(nullptr);
        platform::setMessageBoxObserver(test::unexpectedBoxObserver());
        platform::setMousePointer(platform::MousePointer::Default);
        delete form_;
        for (QWidget *other : std::vector<QWidget *>(processState().loadedForms)) {
            delete other;
        }
        processState().reset();
    }
    std::size_t converts() const {
        std::size_t n = 0;
        for (const std::string &line : log_.lines()) {
            n += line.rfind("KRVXConvertProntoCode", 0) == 0 ? 1 : 0;
        }
        return n;
    }
    std::vector<std::string> transmits() const {
        std::vector<std::string> found;
        for (const std::string &line : log_.lines()) {
            if (line.rfind("KRVXTransmitIR", 0) == 0) {
                found.push_back(line);
            }
        }
        return found;
    }

    test::FakeLog log_;
    test::ScopedEnv env_;
    platform::WindowSystem windows_;
    void (*setHook_)(void (*)()) = nullptr;
    std::vector<QString> boxes_;
    bool boxTxVisible_ = true;
    bool boxHourglass_ = true;
    FrmMain *form_ = nullptr;
    QPlainTextEdit *code_ = nullptr;
    QPushButton *transmit_ = nullptr;
    QPushButton *inject_ = nullptr;
    QAction *transmitMenu_ = nullptr;
    QAction *transmitItem_ = nullptr;
};

TEST_F(TransmitTest, ValidationStatesCaseByCase) {
    // Start-up validated the text the box holds (no code): both commands disabled.
    EXPECT_FALSE(transmit_->isEnabled());
    EXPECT_FALSE(transmitMenu_->isEnabled());

    struct Row {
        const char *name;
        QString text;
        bool injectShown;
        bool injectBefore;
        bool transmitAfter;
        bool injectAfter;
    };
    const Row rows[] = {
        {"valid, no learn", kValid, false, false, true, false},
        {"invalid, no learn", QStringLiteral("0000"), false, false, false, false},
        {"valid, learn shown", kValid, true, false, false, true},
        {"invalid, learn shown", QStringLiteral("junk"), true, true, false, false},
        {"empty, learn shown, inject was enabled", QString(), true, true, false, true},
        {"empty, learn shown, inject was disabled", QString(), true, false, false, false},
        {"empty, no learn", QString(), false, false, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        code_->setPlainText(kValid == row.text ? QStringLiteral("x") : kValid);  // a change
        inject_->setVisible(row.injectShown);
        inject_->setEnabled(row.injectBefore);
        const std::size_t before = converts();
        code_->setPlainText(row.text);
        EXPECT_EQ(transmit_->isEnabled(), row.transmitAfter);
        EXPECT_EQ(transmitMenu_->isEnabled(), row.transmitAfter);
        EXPECT_EQ(inject_->isEnabled(), row.injectAfter);
        EXPECT_EQ(converts() - before, row.text.isEmpty() ? 0u : 1u)
            << "an empty box is not sent to the driver";
        EXPECT_TRUE(transmitItem_->isEnabled()) << "the menu, not its item, is switched";
    }
}

TEST_F(TransmitTest, TypingValidatesOnEveryChangeAndNonLatin1BecomesAQuestionMark) {
    code_->setPlainText(QStringLiteral("0000"));
    const std::size_t before = converts();
    code_->setFocus();
    code_->moveCursor(QTextCursor::End);
    code_->insertPlainText(QStringLiteral(" "));
    EXPECT_EQ(converts(), before + 1);
    EXPECT_TRUE(transmit_->isEnabled());
    code_->setPlainText(QStringLiteral("0000 \u00e9\u20ac"));
    EXPECT_EQ(log_.lines().back(), "KRVXConvertProntoCode 0000 \xe9? -> 1");
}

TEST_F(TransmitTest, ButtonAndMenuItemSendTheBoxTextWithWindowAndHourglass) {
    code_->setPlainText(kValid);
    transmit_->click();
    transmitItem_->trigger();
    const std::string expected =
        "KRVXTransmitIR 7 " + kValid.toStdString() + " 16 10";  // format 16, repeat count 10
    EXPECT_EQ(transmits(), (std::vector<std::string>{expected, expected}));
    EXPECT_EQ(processState().curCode, kValid);
    EXPECT_EQ(g_during.calls, 2);
    EXPECT_TRUE(g_during.txVisible) << "frmTX is shown while the driver sends";
    EXPECT_TRUE(g_during.hourglass);
    ASSERT_NE(loadedFrmTX(), nullptr);
    EXPECT_FALSE(loadedFrmTX()->isVisible()) << "hidden again, but still loaded";
    EXPECT_EQ(platform::mousePointer(), platform::MousePointer::Default);
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(TransmitTest, FailedSendIsReportedAfterTheWindowAndHourglassAreGone) {
    env_.set("FAKE_KRVX_TRANSMIT_RESULT", "0");
    code_->setPlainText(kValid);
    transmit_->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0], QStringLiteral("ERROR|*** ERROR calling KRVXTransmitIR! ***Verify that "
                                        "your IR Code is Valid!"));
    EXPECT_FALSE(boxTxVisible_);
    EXPECT_FALSE(boxHourglass_);
    EXPECT_EQ(processState().curCode, kValid);
}

TEST_F(TransmitTest, WithoutADeviceTransmitOnlyStoresTheCode) {
    processState().deviceHandle = 0;
    code_->setPlainText(kValid);
    EXPECT_TRUE(transmit_->isEnabled()) << "validation needs no device";
    code_->setPlainText(QStringLiteral("0000 0001"));
    transmitItem_->trigger();
    EXPECT_EQ(processState().curCode, QStringLiteral("0000 0001"));
    EXPECT_TRUE(transmits().empty());
    EXPECT_EQ(loadedFrmTX(), nullptr);
    EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace vintrel::app
