// SPDX-License-Identifier: MIT
// Learning in the real main window against the fake driver: driver reports arrive from
// another thread through the relay, the meters are checked on the drawn pixels, and the
// menu entries and File > Exit reach the learn controller.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "controls.h"
#include "fake_driver_support.h"
#include "forms.h"
#include "frm_learn.h"
#include "frm_main.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"
#include "vintrel/platform/message_box.h"

namespace vintrel::app {
namespace {

const QString kValid = QStringLiteral("0000 006C 0000 0001 0010 0010");

// Reports the way the driver makes them: from a thread of its own.
void reportFromDriverThread(std::int32_t progress, std::int32_t quality, std::int32_t carrier) {
    std::thread driver([=] { device::learnCallback(progress, quality, carrier, nullptr); });
    driver.join();
}

// Lit segments on one line of a picture box: runs of the highlight colour.
int runs(const PictureBox *box, bool horizontal) {
    const QImage &image = box->surface();
    const QRgb lit = box->palette().color(QPalette::Highlight).rgb();
    int count = 0;
    bool inside = false;
    const int length = horizontal ? image.width() : image.height();
    for (int i = 0; i < length; ++i) {
        const QRgb pixel =
            horizontal ? image.pixel(i, image.height() / 2) : image.pixel(image.width() / 2, i);
        const bool on = pixel == lit;
        count += on && !inside ? 1 : 0;
        inside = on;
    }
    return count;
}

class LearnWindowTest : public ::testing::Test {
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
        ASSERT_TRUE(form_->formLoad());
        form_->showCentred();
        code_ = child<QPlainTextEdit>("tbCurCode");
        progress_ = child<PictureBox>("pbLearnProgress3");
        quality_ = child<PictureBox>("pbSigQuality");
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
    template <typename T>
    T *child(const char *name) const {
        T *found = form_->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString carrier() const { return child<QLabel>("lblCarrierFreq")->text(); }

    test::FakeLog log_;
    platform::WindowSystem windows_;
    std::vector<QString> boxes_;
    FrmMain *form_ = nullptr;
    QPointer<FrmMain> guard_;
    QPlainTextEdit *code_ = nullptr;
    PictureBox *progress_ = nullptr;
    PictureBox *quality_ = nullptr;
};

TEST_F(LearnWindowTest, OwnLearnDrawsTheMetersAndLandsTheCode) {
    child<QPushButton>("cbLearnIRCode")->click();
    EXPECT_TRUE(processState().inLearn);
    EXPECT_TRUE(child<QPushButton>("cbLearnCancel")->isVisible());
    FrmLearn *second = loadedFrmLearn();
    ASSERT_NE(second, nullptr);  // loaded by the learn, never shown
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(log_.lines().back(), "KRVXLearnIR 7 16 ");

    reportFromDriverThread(40, 50, 38000);
    ASSERT_TRUE(test::waitUntil([&] { return carrier() == QStringLiteral("38.0KHz"); }));
    EXPECT_EQ(runs(progress_, true), 14);
    EXPECT_EQ(runs(quality_, false), 5);
    EXPECT_TRUE(child<QPushButton>("cbLearnAsBurst")->isEnabled());

    // Lower values: the earlier segments are gone.
    reportFromDriverThread(1, 0, 0);
    ASSERT_TRUE(test::waitUntil([&] { return carrier() == QStringLiteral("0.0KHz"); }));
    EXPECT_EQ(runs(progress_, true), 1);
    EXPECT_EQ(runs(quality_, false), 1);
    EXPECT_FALSE(child<QPushButton>("cbLearnAsBurst")->isEnabled());
    reportFromDriverThread(0, 20, 36700);
    ASSERT_TRUE(test::waitUntil([&] { return carrier() == QStringLiteral("36.7KHz"); }));
    EXPECT_EQ(runs(progress_, true), 0);
    EXPECT_EQ(runs(quality_, false), 3);

    std::memcpy(processState().hookBuffer.data(), kValid.toLatin1().constData(),
                static_cast<std::size_t>(kValid.size()) + 1);
    reportFromDriverThread(LEARN_PROGRESS_DONE, 0, 0);
    ASSERT_TRUE(test::waitUntil([&] { return !processState().inLearn; }));
    EXPECT_EQ(code_->toPlainText(), kValid);
    EXPECT_TRUE(child<QPushButton>("cbTransmitIRCode")->isEnabled());
    EXPECT_FALSE(progress_->isVisible());
    EXPECT_EQ(log_.lines().back(), "KRVXLearnIR 7 16 KRVX+HOOK");
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(LearnWindowTest, ObservedLearnAnsweredFromTheMenuAndRefusedTexts) {
    code_->setPlainText(kValid);
    reportFromDriverThread(LEARN_PROGRESS_BEGIN, 0, 0);
    ASSERT_TRUE(test::waitUntil([&] { return processState().inLearn; }));
    auto *inject = child<QPushButton>("cbInjectIR");
    EXPECT_TRUE(inject->isVisible());
    EXPECT_TRUE(inject->isEnabled());
    EXPECT_FALSE(child<QPushButton>("cbLearnCancel")->isVisible());
    EXPECT_EQ(processState().learnMode, -1);

    // A second begin while the learn is shown changes nothing.
    processState().learnMode = -7;
    reportFromDriverThread(LEARN_PROGRESS_BEGIN, 0, 0);
    test::drainEvents();
    EXPECT_EQ(processState().learnMode, -7);
    processState().learnMode = -1;

    child<QAction>("mnuLrnInject")->trigger();
    EXPECT_EQ(loadAbortWord(processState().hookAbort), -2);
    EXPECT_EQ(QString::fromLatin1(processState().hookBuffer.data()), kValid);

    storeAbortWord(processState().hookAbort, 0);
    code_->setPlainText(QStringLiteral("0000 ") + QString(2044, QLatin1Char('1')));
    inject->click();
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_TRUE(boxes_[0].startsWith(QStringLiteral("ERROR|"))) << boxes_[0].toStdString();
    EXPECT_EQ(loadAbortWord(processState().hookAbort), 0);

    reportFromDriverThread(LEARN_PROGRESS_END, 0, 0);
    ASSERT_TRUE(test::waitUntil([&] { return !processState().inLearn; }));
    EXPECT_EQ(code_->toPlainText(), kValid);  // the injected text is still in the buffer
    EXPECT_FALSE(inject->isVisible());
}

TEST_F(LearnWindowTest, FileExitEndsTheLearnBeforeTheWindowCloses) {
    child<QAction>("mnuLearnIRLearnPronto")->trigger();
    ASSERT_TRUE(processState().inLearn);
    processState().hookBuffer[0] = '\0';
    child<QAction>("mnuFileExit")->trigger();
    EXPECT_FALSE(processState().inLearn);
    std::vector<std::string> tail;
    for (const std::string &line : log_.lines()) {
        if (line.rfind("KRVXConvertProntoCode", 0) != 0) {
            tail.push_back(line);
        }
    }
    // The learn is ended at the driver (the unhook call) before the hook is registered again.
    ASSERT_GE(tail.size(), 5u);
    const std::vector<std::string> last(tail.end() - 5, tail.end());
    const std::vector<std::string> expected = {"KRVXLearnIR 7 16 ", "KRVXLearnIR 7 5 KRVX-HOOK",
                                               "KRVXLearnIR 7 16 KRVX+HOOK",
                                               "KRVXLearnIR 7 5 KRVX-HOOK", "KRVXClose 7"};
    EXPECT_EQ(last, expected);
}

}  // namespace
}  // namespace vintrel::app
