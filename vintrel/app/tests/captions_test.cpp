// SPDX-License-Identifier: MIT
// Every window as the user sees it, with the fonts this machine has and at this screen's
// DPI: each caption's glyphs, drawn as the control draws them but without its clipping, lie
// inside the control and over no other visible control; every visible control lies inside
// its container, below its frame's title, and over no visible sibling unless the design
// puts them so. Walks frmMain idle with received codes, in the own and the observed learn
// with the widest carrier reading, frmTX and frmAbout.
#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>

#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "fake_driver_support.h"
#include "forms.h"
#include "frm_about.h"
#include "frm_main.h"
#include "frm_tx.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"
#include "vintrel/platform/caption_fit.h"
#include "vintrel/platform/screen.h"

namespace vintrel::app {
namespace {

// Controls the design places over each other: they may share pixels, never glyphs. (The
// learn-progress row runs one twip-row into the meter below it.)
const std::set<std::pair<QString, QString>> kDesignedOverlaps = {
    {QStringLiteral("lblInstruct1"), QStringLiteral("lblInstruct2")},
    {QStringLiteral("lblLrnProgress"), QStringLiteral("pbLearnProgress3")},
    {QStringLiteral("lblCarrier"), QStringLiteral("pbLearnProgress3")},
    {QStringLiteral("lblCarrierFreq"), QStringLiteral("pbLearnProgress3")},
};

bool designedOverlap(const QWidget *a, const QWidget *b) {
    return kDesignedOverlaps.count({a->objectName(), b->objectName()}) != 0 ||
           kDesignedOverlaps.count({b->objectName(), a->objectName()}) != 0;
}

std::string nameOf(const QWidget *control) {
    return control->window()->objectName().toStdString() + "." +
           control->objectName().toStdString();
}

std::string text(const QRect &r) {
    return "(" + std::to_string(r.x()) + "," + std::to_string(r.y()) + " " +
           std::to_string(r.width()) + "x" + std::to_string(r.height()) + ")";
}

// A caption as drawn: the pixels its glyphs cover, and the lines the painter laid them out
// in (less the leading under the last one, which draws nothing).
struct Drawn {
    QRect ink;
    QRectF lines;
};

// text drawn with font and flags into layout, unclipped, at the screen's device pixel
// ratio, in the coordinates of layout; no ink for blank text. A pixel counts as ink when a
// glyph covers at least a third of it: an antialiasing fringe that a side bearing puts
// just outside the layout is no lost glyph.
Drawn draw(const QFont &font, const QString &caption, const QRect &layout, int flags, qreal dpr) {
    constexpr int kPad = 300;  // room around the layout for whatever runs over
    constexpr int kCovered = 85;
    QImage canvas((layout.size() + QSize(2 * kPad, 2 * kPad)) * dpr,
                  QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(dpr);
    canvas.fill(Qt::transparent);
    QRectF lines;
    {
        QPainter painter(&canvas);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QRectF(QPointF(kPad, kPad), layout.size()), flags | Qt::TextDontClip,
                         caption, &lines);
    }
    lines.adjust(0, 0, 0, -QFontMetricsF(font).leading());
    const QPointF origin = layout.topLeft() - QPoint(kPad, kPad);
    Drawn drawn{QRect(), lines.translated(origin)};
    int left = canvas.width(), top = canvas.height(), right = -1, bottom = -1;
    for (int y = 0; y < canvas.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        for (int x = 0; x < canvas.width(); ++x) {
            if (qAlpha(line[x]) >= kCovered) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    if (right >= 0) {
        // Device pixels back to the widget's pixels, rounding outwards.
        const auto down = [dpr](int v) { return static_cast<int>(std::floor(v / dpr)); };
        const auto up = [dpr](int v) { return static_cast<int>(std::ceil((v + 1) / dpr)) - 1; };
        drawn.ink = QRect(QPoint(down(left), down(top)), QPoint(up(right), up(bottom)))
                        .translated(origin.toPoint());
    }
    return drawn;
}

// A label's or a button's caption, drawn where the control draws it, in its container's
// coordinates; none for other controls and blank captions.
std::optional<Drawn> glyphsOf(QWidget *control) {
    const qreal dpr = control->devicePixelRatioF();
    Drawn drawn;
    if (auto *label = qobject_cast<QLabel *>(control)) {
        const int flags =
            static_cast<int>(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        drawn = draw(label->font(), label->text(), label->contentsRect(), flags, dpr);
    } else if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        drawn = draw(button->font(), button->text(), contents,
                     Qt::AlignCenter | Qt::TextShowMnemonic, dpr);
    }
    if (drawn.ink.isNull()) {
        return std::nullopt;
    }
    drawn.ink.translate(control->pos());
    drawn.lines.translate(control->pos());
    return drawn;
}

// Where a caption's glyphs must stay, in the container's coordinates: a label's contents; a
// button's inside, less the half of its margin the style keeps around a button's text.
QRect roomOf(QWidget *control) {
    QRect room = control->contentsRect();
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        const int margin =
            button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button) / 2;
        room = button->rect().adjusted(margin, margin, -margin, -margin);
    }
    return room.translated(control->pos());
}

QRect frameTitle(const QGroupBox *frame) {
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    option.textAlignment = frame->alignment();
    return frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel,
                                          frame);
}

std::vector<QWidget *> visibleControls(QWidget *container) {
    std::vector<QWidget *> controls;
    for (QWidget *child : container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow() && child->isVisibleTo(container->window())) {
            controls.push_back(child);
        }
    }
    return controls;
}

// What is wrong with one visible control among its visible siblings: outside its container
// or over its frame's title, over a sibling the design keeps it apart from, glyphs outside
// its room or over a sibling's glyphs.
std::vector<std::string> problemsOf(QWidget *control, const std::vector<QWidget *> &siblings) {
    std::vector<std::string> problems;
    QWidget *container = control->parentWidget();
    const QRect place = control->geometry();
    QRect inside = container->rect();
    if (auto *frame = qobject_cast<QGroupBox *>(container)) {
        // Within the frame's border, below its title.
        const QRect contents = frame->contentsRect();
        inside = QRect(QPoint(contents.left(), 0), contents.bottomRight());
        if (place.intersects(frameTitle(frame))) {
            problems.push_back(text(place) + " covers the frame's title");
        }
    }
    if (!inside.contains(place)) {
        problems.push_back(text(place) + " is not inside its container " + text(inside));
    }
    const std::optional<Drawn> caption = glyphsOf(control);
    if (caption && !roomOf(control).contains(caption->ink)) {
        problems.push_back("glyphs at " + text(caption->ink) + " outside " + text(roomOf(control)));
    }
    for (QWidget *other : siblings) {
        if (other == control) {
            continue;
        }
        if (!designedOverlap(control, other)) {
            if (place.intersects(other->geometry())) {
                problems.push_back(text(place) + " overlaps " + nameOf(other) + " " +
                                   text(other->geometry()));
            }
        } else if (caption) {
            // Placed over each other: the one's glyphs stay off the other's glyphs, or off
            // the whole control when it draws no text.
            const std::optional<Drawn> theirs = glyphsOf(other);
            const QRect drawn = theirs ? theirs->ink : other->geometry();
            if (caption->ink.intersects(drawn)) {
                problems.push_back("glyphs at " + text(caption->ink) + " over " + nameOf(other) +
                                   " at " + text(drawn));
            }
        }
    }
    return problems;
}

std::string joined(const std::vector<std::string> &lines) {
    std::string all;
    for (const std::string &line : lines) {
        all += "\n  " + line;
    }
    return all;
}

// Checks a container's visible controls and the insides of its frames. A control the
// fitting changed (its rectangle or its point size) must have needed it: put back to its
// design, its caption would be cut or run into another, or its lines not fit its room.
void checkContainer(QWidget *container) {
    if (auto *frame = qobject_cast<QGroupBox *>(container)) {
        EXPECT_LE(frameTitle(frame).right(), frame->contentsRect().right())
            << nameOf(frame) << ": the title runs over the frame's border";
    }
    const std::vector<QWidget *> controls = visibleControls(container);
    for (QWidget *control : controls) {
        EXPECT_TRUE(problemsOf(control, controls).empty())
            << nameOf(control) << joined(problemsOf(control, controls));
        const platform::Design design = platform::designOf(control);
        const QRect fitted = control->geometry();
        const QFont font = control->font();
        if (fitted != design.rect || font.pointSizeF() != design.pointSize) {
            std::printf("%s: %s at %.1f pt is %s at %.1f pt\n", nameOf(control).c_str(),
                        text(design.rect).c_str(), design.pointSize, text(fitted).c_str(),
                        font.pointSizeF());
            QFont designed = font;
            designed.setPointSizeF(design.pointSize);
            control->setFont(designed);
            control->setGeometry(design.rect);
            const std::optional<Drawn> caption = glyphsOf(control);
            const bool linesFit =
                !caption ||
                QRectF(roomOf(control)).adjusted(-0.01, -0.01, 0.01, 0.01).contains(caption->lines);
            EXPECT_TRUE(!problemsOf(control, controls).empty() || !linesFit)
                << nameOf(control) << " was changed though its design shows its caption whole";
            control->setFont(font);
            control->setGeometry(fitted);
        }
        if (qobject_cast<QGroupBox *>(control) != nullptr) {
            checkContainer(control);
        }
    }
}

void checkWindow(QWidget *window) {
    SCOPED_TRACE(window->objectName().toStdString());
    ASSERT_TRUE(window->isVisible());
    QWidget *client = window;
    if (auto *main = qobject_cast<QMainWindow *>(window)) {
        client = main->centralWidget();
    }
    checkContainer(client);
}

platform::MessagePayload code(const char *text) {
    platform::MessagePayload bytes{};
    std::memcpy(bytes.data(), text, std::min(std::strlen(text), bytes.size()));
    return bytes;
}

void reportFromDriverThread(std::int32_t progress, std::int32_t quality, std::int32_t carrier) {
    std::thread([=] { device::learnCallback(progress, quality, carrier, nullptr); }).join();
}

class CaptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        std::string reason;
        ASSERT_TRUE(processState().driver.load(FAKE_DRIVER, reason)) << reason;
        open();
    }
    // A fresh main window, loaded and shown.
    void open() {
        delete form_;
        form_ = new FrmMain;
        ASSERT_TRUE(form_->formLoad());
        form_->showCentred();
        ASSERT_TRUE(test::waitUntil([this] { return form_->isVisible(); }));
    }
    void TearDown() override {
        delete form_;
        for (QWidget *other : std::vector<QWidget *>(processState().loadedForms)) {
            delete other;
        }
        processState().reset();
    }
    QLabel *label(const char *name) const {
        return form_->findChild<QLabel *>(QString::fromLatin1(name));
    }
    // The own or the observed learn, with the widest carrier reading shown.
    void learnWithWidestCarrier(bool own) {
        if (own) {
            form_->findChild<QPushButton *>(QStringLiteral("cbLearnIRCode"))->click();
        } else {
            reportFromDriverThread(LEARN_PROGRESS_BEGIN, 0, 0);
        }
        ASSERT_TRUE(test::waitUntil([] { return processState().inLearn; }));
        reportFromDriverThread(40, 50, 100000);
        ASSERT_TRUE(test::waitUntil(
            [this] { return label("lblCarrierFreq")->text() == QStringLiteral("100.0KHz"); }));
    }

    test::FakeLog log_;
    platform::WindowSystem windows_;
    FrmMain *form_ = nullptr;
};

TEST_F(CaptionsTest, TheScreenIsTheOneThisRunAsksFor) {
    // 144 dpi comes either as a logical DPI of 144 or as 96 scaled by 1.5.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const double dpi = screen->logicalDotsPerInchY() * screen->devicePixelRatio();
    const double wanted = qEnvironmentVariableIntValue("VINTREL_TEST_DPI");
    ASSERT_GT(wanted, 0.0) << "VINTREL_TEST_DPI names the screen this run is for";
    EXPECT_DOUBLE_EQ(dpi, wanted);
    std::printf("screen: %.0f dpi (logical %.0f, scale %.2f); dialog font: %s\n", dpi,
                screen->logicalDotsPerInchY(), screen->devicePixelRatio(),
                QFontInfo(form_->font()).family().toUtf8().constData());
}

TEST_F(CaptionsTest, MainWindowIdleWithReceivedCodes) {
    // A code as the device reports it, and the widest twelve hexadecimal digits.
    for (const char *received : {"08A92F496344", "DDDDDDDDDDDD", "------------"}) {
        SCOPED_TRACE(received);
        form_->onReceivedCode(code(received));
        ASSERT_EQ(label("lblKXRCode")->text(), QString::fromLatin1(received));
        checkWindow(form_);
    }
}

TEST_F(CaptionsTest, MainWindowWithEachDeviceLine) {
    // The longest line the record can give, the error line, and no device.
    for (const auto &[setting, value] : std::vector<std::pair<std::string, std::string>>{
             {"FAKE_KRVX_DEVINFO", "2147483647,2147483647,255,255,255"},
             {"FAKE_KRVX_DEVINFO", "fail"},
             {"FAKE_KRVX_OPEN", "0"}}) {
        SCOPED_TRACE(setting + "=" + value);
        test::ScopedEnv env;
        env.set(setting, value);
        open();
        checkWindow(form_);
    }
}

TEST_F(CaptionsTest, MainWindowInTheOwnLearn) {
    learnWithWidestCarrier(true);
    checkWindow(form_);
}

TEST_F(CaptionsTest, MainWindowInTheObservedLearn) {
    learnWithWidestCarrier(false);
    checkWindow(form_);
    // Back to idle: the status line alone again, whole.
    reportFromDriverThread(LEARN_PROGRESS_END, 0, 0);
    ASSERT_TRUE(test::waitUntil([] { return !processState().inLearn; }));
    checkWindow(form_);
}

TEST_F(CaptionsTest, TransmitWindow) {
    FrmTX *tx = frmTX();
    tx->show();
    ASSERT_TRUE(test::waitUntil([tx] { return tx->isVisible(); }));
    checkWindow(tx);
}

TEST_F(CaptionsTest, AboutDialog) {
    auto *about = new dialogs::frmAbout(form_);
    about->show();
    ASSERT_TRUE(test::waitUntil([about] { return about->isVisible(); }));
    checkWindow(about);
    delete about;
}

}  // namespace
}  // namespace vintrel::app
