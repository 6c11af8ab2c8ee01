// SPDX-License-Identifier: MIT
// The main window in this process with the real driver library and a private krvxd with
// the simulated device: what the learning end-to-end tests share.
//
// Threads: the test's main thread is vintrel's user-interface thread; waiting runs its
// event loop, so the window handles the driver's reports meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../../../ir/tests/pronto_codes.h"
#include "e2e_support.h"
#include "forms.h"
#include "frm_main.h"
#include "ir/pronto.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/message_box.h"

namespace vintrel::app {

class LearnEndToEnd : public ::testing::Test {
  protected:
    /// The simulated device's time scale (0: instant).
    virtual double timeScale() const { return 0; }

    void SetUp() override {
        test::e2e::PrivateService::Options options;
        options.timeScale = timeScale();
        service_ = std::make_unique<test::e2e::PrivateService>(options);
        ASSERT_TRUE(service_->ready()) << service_->failure();
        processState().reset();
        std::string reason;
        ASSERT_TRUE(test::e2e::loadRealDriver(reason)) << reason;
        platform::setMessageBoxObserver([this](const platform::ShownMessageBox &box) {
            boxes_.push_back(box.title + QLatin1Char('|') + box.text);
        });
        form_ = new FrmMain;
        ASSERT_TRUE(form_->formLoad());
        form_->showCentred();
        ASSERT_GT(processState().deviceHandle, 0);
        box_ = child<QPlainTextEdit>("tbCurCode");
        learn_ = child<QPushButton>("cbLearnIRCode");
        transmit_ = child<QPushButton>("cbTransmitIRCode");
        burst_ = child<QPushButton>("cbLearnAsBurst");
        inject_ = child<QPushButton>("cbInjectIR");
        cancel_ = child<QPushButton>("cbLearnCancel");
    }
    void TearDown() override {
        if (form_) {
            form_->close();  // unhooks and closes the device before krvxd goes
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
    template <typename T>
    T *child(const char *name) const {
        T *found = form_->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool waitFor(const std::function<bool()> &condition) const {
        return test::waitUntil(condition, test::e2e::kProcessTimeoutMs);
    }
    int press(const char *holdMs) {
        return test::e2e::runKrvx(*service_, {"press", test_codes::kNec, "--hold", holdMs});
    }
    // Bursts of the code in the box, or -1 when it is no valid code.
    int bursts() const {
        const auto parsed = ir::parse_pronto(box_->toPlainText().toStdString());
        return parsed.ok() ? static_cast<int>(parsed.signal.once.size()) : -1;
    }
    bool observing() const { return processState().inLearn && processState().learnMode < 0; }

    std::unique_ptr<test::e2e::PrivateService> service_;  // declared first: outlives the window
    platform::WindowSystem windows_;
    std::vector<QString> boxes_;
    QPointer<FrmMain> form_;
    QPlainTextEdit *box_ = nullptr;
    QPushButton *learn_ = nullptr;
    QPushButton *transmit_ = nullptr;
    QPushButton *burst_ = nullptr;
    QPushButton *inject_ = nullptr;
    QPushButton *cancel_ = nullptr;
};

}  // namespace vintrel::app
