// SPDX-License-Identifier: MIT
// vintrel end to end: the main window in this process with the real driver library, a
// private krvxd with the simulated device (loopback: what is sent is also received) and
// krvx as another application. Shows what a user sees: the device line, the code box
// enabling Test Transmit, frmTX around a send, the error box after it, received codes in
// red turning black.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "forms.h"
#include "frm_main.h"
#include "frm_tx.h"
#include "ir/pronto.h"
#include "ir/receive_code.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/message_box.h"

namespace vintrel::app {
namespace {

using test::e2e::kNec;
using test::e2e::KrvxProcess;
using test::e2e::PrivateService;

QString receiveCodeOf(const char *pronto) {
    return QString::fromStdString(ir::receive_code(ir::parse_pronto(pronto).signal));
}

// What the user sees over time: frmTX shown and hidden, each colour change of the received
// code ("<text> red" / "<text> black"), each message box ("box <text>").
class Timeline : public QObject {
  public:
    std::vector<QString> entries;

    bool eventFilter(QObject *watched, QEvent *event) override {
        const QString name = watched->objectName();
        if (name == QLatin1String("frmTX") &&
            (event->type() == QEvent::Show || event->type() == QEvent::Hide)) {
            entries.push_back(event->type() == QEvent::Show ? QStringLiteral("tx shown")
                                                            : QStringLiteral("tx hidden"));
        } else if (name == QLatin1String("lblKXRCode") && event->type() == QEvent::PaletteChange) {
            const auto *label = static_cast<QLabel *>(watched);
            const QColor colour = label->palette().color(QPalette::WindowText);
            entries.push_back(label->text() + (colour == QColor(255, 0, 0) ? QStringLiteral(" red")
                                               : colour == QColor(Qt::black)
                                                   ? QStringLiteral(" black")
                                                   : QStringLiteral(" other")));
        }
        return false;
    }
    // Index of the first entry equal to what, at or after from; -1 when none.
    int find(const QString &what, int from = 0) const {
        for (int i = std::max(from, 0); i < static_cast<int>(entries.size()); ++i) {
            if (entries[static_cast<std::size_t>(i)] == what) {
                return i;
            }
        }
        return -1;
    }
    std::string dump() const {
        std::string text;
        for (const QString &entry : entries) {
            text += entry.toStdString() + "; ";
        }
        return text;
    }
};

class EndToEndTest : public ::testing::Test {
  protected:
    void TearDown() override {
        qApp->removeEventFilter(&timeline_);
        if (form_) {
            form_->close();  // the unload sequence closes the device before krvxd goes
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        delete form_.data();
        for (QWidget *other : std::vector<QWidget *>(processState().loadedForms)) {
            delete other;
        }
        platform::setMessageBoxObserver(test::unexpectedBoxObserver());
        processState().reset();
        service_.reset();
    }

    // Starts krvxd and vintrel's main window against it.
    void start(PrivateService::Options options = {}) {
        service_ = std::make_unique<PrivateService>(std::move(options));
        ASSERT_TRUE(service_->ready()) << service_->failure();
        processState().reset();
        std::string reason;
        ASSERT_TRUE(test::e2e::loadRealDriver(reason)) << reason;
        platform::setMessageBoxObserver([this](const platform::ShownMessageBox &box) {
            timeline_.entries.push_back(QStringLiteral("box ") + box.title + QLatin1Char('|') +
                                        box.text);
            boxTxVisible_ = loadedFrmTX() != nullptr && loadedFrmTX()->isVisible();
        });
        qApp->installEventFilter(&timeline_);
        form_ = new FrmMain;
        ASSERT_TRUE(form_->formLoad());
        form_->showCentred();
        ASSERT_GT(processState().deviceHandle, 0);
        info_ = form_->findChild<QLabel *>(QStringLiteral("lblInfo"));
        received_ = form_->findChild<QLabel *>(QStringLiteral("lblKXRCode"));
        box_ = form_->findChild<QPlainTextEdit *>(QStringLiteral("tbCurCode"));
        transmit_ = form_->findChild<QPushButton *>(QStringLiteral("cbTransmitIRCode"));
    }

    // Waits until the code was shown red and, later, black.
    void expectRedThenBlack(const QString &code) {
        const QString red = code + QStringLiteral(" red");
        const QString black = code + QStringLiteral(" black");
        EXPECT_TRUE(test::waitUntil(
            [&] {
                const int at = timeline_.find(red);
                return at >= 0 && timeline_.find(black, at) >= 0;
            },
            test::e2e::kProcessTimeoutMs))
            << timeline_.dump();
        EXPECT_EQ(received_->text(), code);
    }

    // Declared first: krvxd outlives the window and the driver's connection.
    std::unique_ptr<PrivateService> service_;
    platform::WindowSystem windows_;
    Timeline timeline_;
    bool boxTxVisible_ = true;
    QPointer<FrmMain> form_;
    QLabel *info_ = nullptr;
    QLabel *received_ = nullptr;
    QPlainTextEdit *box_ = nullptr;
    QPushButton *transmit_ = nullptr;
};

TEST_F(EndToEndTest, DeviceLineComesFromTheService) {
    start({.extraArgs = {"--firmware", "1.10", "--protocol", "2.0", "--firmware-date",
                         "2031-01-05"}});
    EXPECT_EQ(info_->text(), QStringLiteral("FirmwareVer=1.10 ProtVer=2.0 FirmwareDate=1/5/2031"));
    EXPECT_EQ(box_->toPlainText(), QString());
    EXPECT_FALSE(transmit_->isEnabled());
}

TEST_F(EndToEndTest, TypedCodeEnablesTransmitAndTheSentCodeComesBackRed) {
    start();
    const QString nec = QString::fromLatin1(kNec);
    box_->setFocus();
    QTest::keyClicks(box_, nec.left(20));
    EXPECT_FALSE(transmit_->isEnabled()) << "a partial code is not valid";
    QTest::keyClicks(box_, nec.mid(20));
    ASSERT_EQ(box_->toPlainText(), nec);
    EXPECT_TRUE(transmit_->isEnabled());

    QTest::mouseClick(transmit_, Qt::LeftButton);  // returns after the blocking send
    const int shown = timeline_.find(QStringLiteral("tx shown"));
    EXPECT_GE(shown, 0) << timeline_.dump();
    EXPECT_GT(timeline_.find(QStringLiteral("tx hidden"), shown), shown) << timeline_.dump();
    EXPECT_EQ(processState().curCode, nec);
    expectRedThenBlack(receiveCodeOf(kNec));
}

TEST_F(EndToEndTest, FailedSendShowsTheBoxOnlyAfterFrmTXIsHidden) {
    start({.extraArgs = {"--fail-transmit"}});
    box_->setPlainText(QString::fromLatin1(kNec));
    ASSERT_TRUE(transmit_->isEnabled());
    QTest::mouseClick(transmit_, Qt::LeftButton);
    const int box = timeline_.find(QStringLiteral(
        "box ERROR|*** ERROR calling KRVXTransmitIR! ***Verify that your IR Code is Valid!"));
    ASSERT_GE(box, 0) << timeline_.dump();
    const int hidden = timeline_.find(QStringLiteral("tx hidden"));
    EXPECT_GE(hidden, 0) << timeline_.dump();
    EXPECT_LT(hidden, box) << timeline_.dump();
    EXPECT_LT(timeline_.find(QStringLiteral("tx shown")), hidden);
    EXPECT_FALSE(boxTxVisible_);
}

TEST_F(EndToEndTest, CodePressedInAnotherProcessIsShownRed) {
    start();
    KrvxProcess press(*service_, {"press", kNec, "--hold", "0"});
    ASSERT_TRUE(press.started());
    EXPECT_EQ(press.finish(), 0) << press.output();
    expectRedThenBlack(receiveCodeOf(kNec));
}

}  // namespace
}  // namespace vintrel::app
