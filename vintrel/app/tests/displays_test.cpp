// SPDX-License-Identifier: MIT
// The device information line and the received-code display against the fake driver:
// the caption's numbers, the failure and no-device cases, and received codes arriving
// through the driver's receive callback and the message window.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "display_text.h"
#include "fake_driver_support.h"
#include "code_meaning.h"
#include "frm_main.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"
#include "vintrel/platform/message_box.h"

namespace vintrel::app {
namespace {

DeviceInfo info(std::uint32_t firmware, std::uint32_t protocol, int day, int month, int year) {
    DeviceInfo result{};
    result.firmwareVersion = firmware;
    result.protocolVersion = protocol;
    result.firmwareDateDay = static_cast<std::uint8_t>(day);
    result.firmwareDateMonth = static_cast<std::uint8_t>(month);
    result.firmwareDateYear = static_cast<std::uint8_t>(year);
    return result;
}

platform::MessagePayload payload(const char *bytes, std::size_t size) {
    platform::MessagePayload result{};
    std::memcpy(result.data(), bytes, size);
    return result;
}

TEST(DisplayText, DeviceInfoCaptionNumbers) {
    EXPECT_EQ(deviceInfoCaption(info(258, 259, 15, 6, 4)),
              QStringLiteral("FirmwareVer=1.2 ProtVer=1.3 FirmwareDate=6/15/2004"));
    // Minor 10 and more as it comes, minor 0 as "0"; date bytes unchecked; year byte ends.
    EXPECT_EQ(deviceInfoCaption(info(266, 256, 0, 13, 0)),
              QStringLiteral("FirmwareVer=1.10 ProtVer=1.0 FirmwareDate=13/0/2000"));
    EXPECT_EQ(deviceInfoCaption(info(0x12FF, 0x1FFFF, 31, 12, 255)),
              QStringLiteral("FirmwareVer=18.255 ProtVer=511.255 FirmwareDate=12/31/2255"));
    // A value with the top bit set is signed: quotient and remainder both negative.
    EXPECT_EQ(deviceInfoCaption(info(0xFFFFFEFEu, 0x80000000u, 1, 1, 1)),
              QStringLiteral("FirmwareVer=-1.-2 ProtVer=-8388608.0 FirmwareDate=1/1/2001"));
}

TEST(DisplayText, ReceivedCodeEndsAtItsFirstNul) {
    EXPECT_EQ(receivedCodeText(payload("ABCDEF012345\0XYZ", 16)), QStringLiteral("ABCDEF012345"));
    EXPECT_EQ(receivedCodeText(payload("0123456789ABCDEF", 16)), QStringLiteral("0123456789ABCDEF"))
        << "without a NUL all 16 bytes, nothing beyond";
    EXPECT_EQ(receivedCodeText(payload("\0ABC", 4)), QString());
    EXPECT_EQ(receivedCodeText(payload("A\xe9\xff", 3)), QStringLiteral("A\u00e9\u00ff"))
        << "one ISO-8859-1 character per byte";
}

class DisplaysTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        std::string reason;
        ASSERT_TRUE(processState().driver.load(FAKE_DRIVER, reason)) << reason;
        platform::setMessageBoxObserver(test::unexpectedBoxObserver());
    }
    void TearDown() override {
        delete form_;
        for (QWidget *other : std::vector<QWidget *>(processState().loadedForms)) {
            delete other;
        }
        processState().reset();
    }
    void load() {
        form_ = new FrmMain;
        ASSERT_TRUE(form_->formLoad());
        info_ = form_->findChild<QLabel *>(QStringLiteral("lblInfo"));
        code_ = form_->findChild<QLabel *>(QStringLiteral("lblKXRCode"));
        box_ = form_->findChild<QPlainTextEdit *>(QStringLiteral("tbCurCode"));
        timer_ = form_->findChild<QTimer *>(QStringLiteral("Timer1"));
    }
    std::size_t infoCalls() const {
        std::size_t n = 0;
        for (const std::string &line : log_.lines()) {
            n += line.rfind("KRVXGetKRVXInfo", 0) == 0 ? 1 : 0;
        }
        return n;
    }
    QColor codeColour() const { return code_->palette().color(QPalette::WindowText); }
    // The driver's side: the callback runs on a thread of its own with a buffer that is
    // overwritten as soon as it returns.
    static void deliverFromDriverThread(const char *bytes) {
        std::array<char, 32> buffer{};
        std::memcpy(buffer.data(), bytes, 16);
        std::thread([&buffer] {
            device::receiveCallback(buffer.data(), nullptr);
            buffer.fill('Z');
        }).join();
    }

    test::FakeLog log_;
    test::ScopedEnv env_;
    platform::WindowSystem windows_;
    FrmMain *form_ = nullptr;
    QLabel *info_ = nullptr;
    QLabel *code_ = nullptr;
    QPlainTextEdit *box_ = nullptr;
    QTimer *timer_ = nullptr;
};

TEST_F(DisplaysTest, DeviceInfoFromTheDriverAndTheCodeBoxSetLast) {
    env_.set("FAKE_KRVX_DEVINFO", "266,259,15,6,4");
    load();
    EXPECT_EQ(info_->text(), QStringLiteral("FirmwareVer=1.10 ProtVer=1.3 FirmwareDate=6/15/2004"));
    EXPECT_EQ(log_.count("KRVXGetKRVXInfo 7"), 1u);
    EXPECT_EQ(box_->toPlainText(), QString()) << "the design-time text is replaced by curCode";
}

TEST_F(DisplaysTest, FailedQueryShowsTheErrorLineWithoutABox) {
    env_.set("FAKE_KRVX_DEVINFO", "fail");
    load();  // an unexpected box fails the test
    EXPECT_EQ(info_->text(), QStringLiteral("*** ERROR Retrieving Korvex Information! ***"));
    EXPECT_EQ(infoCalls(), 1u) << "no retry";
    EXPECT_EQ(box_->toPlainText(), QString());
}

TEST_F(DisplaysTest, WithoutADeviceTheDriverIsNotAsked) {
    env_.set("FAKE_KRVX_OPEN", "0");
    load();
    EXPECT_EQ(info_->text(), QStringLiteral("---"));
    EXPECT_EQ(infoCalls(), 0u);
    EXPECT_EQ(box_->toPlainText(), QString());
}

TEST_F(DisplaysTest, ReceivedCodeIsRedUntilTheNextTickAndStopsAtItsNul) {
    load();
    // The timer runs from creation: its first tick blacks the placeholder and stops.
    EXPECT_EQ(code_->text(), QStringLiteral("------------"));
    ASSERT_TRUE(test::waitUntil([&] { return !timer_->isActive(); }));
    EXPECT_EQ(codeColour(), QColor(Qt::black));

    deliverFromDriverThread("ABCDEF012345\0XYZ");
    ASSERT_TRUE(test::waitUntil([&] { return code_->text() != QStringLiteral("------------"); }));
    EXPECT_EQ(code_->text(), QStringLiteral("ABCDEF012345"))
        << "bytes after the NUL are not drawn; the copy was taken during the callback";
    if (timer_->isActive()) {  // not yet ticked: still red
        EXPECT_EQ(codeColour(), QColor(255, 0, 0));
    }
    ASSERT_TRUE(test::waitUntil([&] { return !timer_->isActive(); }));
    EXPECT_EQ(codeColour(), QColor(Qt::black));
    EXPECT_EQ(code_->text(), QStringLiteral("ABCDEF012345")) << "kept until the next code";
}

TEST_F(DisplaysTest, ASecondCodeReplacesTheFirstAndMarkupIsShownAsText) {
    load();
    ASSERT_TRUE(test::waitUntil([&] { return !timer_->isActive(); }));
    form_->onReceivedCode(payload("111111111111", 12));
    form_->onReceivedCode(payload("<b>x</b>&amp;", 13));
    EXPECT_EQ(code_->text(), QStringLiteral("<b>x</b>&amp;"));
    EXPECT_EQ(code_->textFormat(), Qt::PlainText) << "received bytes are never markup";
    EXPECT_EQ(codeColour(), QColor(255, 0, 0)) << "no tick can run between the two calls";
    EXPECT_TRUE(timer_->isActive());
    ASSERT_TRUE(test::waitUntil([&] { return !timer_->isActive(); }));
    EXPECT_EQ(codeColour(), QColor(Qt::black));
}

// The code box and the received code say what they are in their tooltips.
TEST_F(DisplaysTest, TooltipsSayWhatTheCodesAre) {
    load();
    const QString nec = QStringLiteral(
        "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 "
        "0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 0041 0016 0041 0016 0041 "
        "0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 "
        "0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0041 0016 0041 0016 0041 "
        "0016 0041 0016 05F7 015B 0057 0016 0E6C");
    const struct {
        QString text;
        QString tip;
    } box[] = {
        {nec, QStringLiteral("NEC1 D=4 S=251 F=8  (nec 0x0408)")},
        {QStringLiteral("0000 006C 0000 0001 0010 0010"), QStringLiteral("Unknown protocol")},
        {QStringLiteral("0000 006C 0022"), QString()},
        {QString(), QString()},
    };
    for (const auto &c : box) {
        box_->setPlainText(c.text);
        EXPECT_EQ(box_->toolTip(), c.tip) << c.text.left(20).toStdString();
    }

    // The frame callback runs before the receive callback of the same frame.
    const uint32_t durations[] = {9024, 4512, 564};
    const KRVXReceivedFrame frame{sizeof(KRVXReceivedFrame), 0x0408, 38000, 3, "ABCDEF012345",
                                  "NEC1", "D=4 S=251 F=8", "nec", durations};
    std::thread([&frame] { app::receiveFrameCallback(&frame, nullptr); }).join();
    deliverFromDriverThread("ABCDEF012345\0\0\0\0");
    ASSERT_TRUE(test::waitUntil([&] { return code_->text() == QStringLiteral("ABCDEF012345"); }));
    EXPECT_EQ(code_->toolTip(), QStringLiteral("NEC1 D=4 S=251 F=8  (nec 0x0408)"));
    // A code without a frame told (a device that decodes itself): no tooltip.
    deliverFromDriverThread("0123456789AB\0\0\0\0");
    ASSERT_TRUE(test::waitUntil([&] { return code_->text() == QStringLiteral("0123456789AB"); }));
    EXPECT_EQ(code_->toolTip(), QString());
}

}  // namespace
}  // namespace vintrel::app
