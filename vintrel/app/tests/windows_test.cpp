// SPDX-License-Identifier: MIT
// The three windows as views, at 96 dpi: every control's kind, container, caption, designed
// place, size and font, visibility and enabled state; the menu tree with its access keys; the tab
// order and the first focus; Enter in the code box; resizing moves nothing.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <map>
#include <memory>

#include "controls.h"
#include "forms.h"
#include "frm_learn.h"
#include "frm_main.h"
#include "frm_tx.h"
#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/caption_fit.h"

namespace vintrel::app {
namespace {

enum class Kind { Frame, Label, TextBox, Button, Picture };

struct ControlRow {
    const char *name;
    Kind kind;
    const char *container;
    QString caption;
    QRect pixels;  // twips / 15
    bool visible;
    int pointSize;
};

QString captionOf(QWidget *control) {
    if (auto *frame = qobject_cast<QGroupBox *>(control)) {
        return frame->title();
    }
    if (auto *label = qobject_cast<QLabel *>(control)) {
        return label->text();
    }
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        return button->text();
    }
    if (auto *text = qobject_cast<QPlainTextEdit *>(control)) {
        return text->toPlainText();
    }
    return {};
}

bool isKind(QWidget *control, Kind kind) {
    switch (kind) {
        case Kind::Frame:
            return qobject_cast<QGroupBox *>(control) != nullptr;
        case Kind::Label:
            return qobject_cast<QLabel *>(control) != nullptr;
        case Kind::TextBox:
            return qobject_cast<QPlainTextEdit *>(control) != nullptr;
        case Kind::Button:
            return qobject_cast<QPushButton *>(control) != nullptr;
        case Kind::Picture:
            return qobject_cast<PictureBox *>(control) != nullptr;
    }
    return false;
}

// Checks each row against the window's controls.
void checkControls(QWidget *window, const std::vector<ControlRow> &rows) {
    for (const ControlRow &row : rows) {
        SCOPED_TRACE(row.name);
        auto *control = window->findChild<QWidget *>(QString::fromLatin1(row.name));
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(isKind(control, row.kind));
        EXPECT_EQ(control->accessibleDescription(), QString::fromLatin1(row.name));
        ASSERT_NE(control->parentWidget(), nullptr);
        const QString container = control->parentWidget()->objectName();
        EXPECT_EQ(container, QString::fromLatin1(row.container));
        EXPECT_EQ(captionOf(control), row.caption);
        // Designed there; a caption too wide for this machine's font may have made the
        // control smaller in type or larger in place (captions_test.cpp), never moved it.
        const platform::Design design = platform::designOf(control);
        EXPECT_EQ(design.rect, row.pixels);
        EXPECT_EQ(control->pos(), row.pixels.topLeft());
        EXPECT_EQ(control->isVisible(), row.visible);
        EXPECT_TRUE(control->isEnabled());
        EXPECT_EQ(design.pointSize, row.pointSize);
    }
}

QRect px(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

class WindowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        // The code box checks each text with the driver.
        std::string reason;
        ASSERT_TRUE(processState().driver.load(FAKE_DRIVER, reason)) << reason;
        form_ = new FrmMain;
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
    template <typename T>
    T *child(const char *name) {
        return form_->findChild<T *>(QString::fromLatin1(name));
    }
    FrmMain *form_ = nullptr;
};

TEST_F(WindowsTest, ScreenIs96DpiAndTheClientAreaIsItsTwipsSize) {
    ASSERT_DOUBLE_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchX(), 96.0);
    EXPECT_EQ(form_->windowTitle(), QStringLiteral("Korvex Vintrel Utility"));
    EXPECT_EQ(form_->centralWidget()->size(), QSize(478, 426));
    EXPECT_FALSE(form_->windowIcon().isNull());
    EXPECT_EQ(form_->windowIcon().availableSizes().value(0), QSize(32, 32));
    const Qt::WindowFlags flags = form_->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    // Centred on the screen.
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((form_->frameGeometry().center() - screenCentre).manhattanLength(), 4);
}

TEST_F(WindowsTest, MainWindowControlsAsDesigned) {
    const QString instruct1 =
        QStringLiteral("1. Aim Remote directly at Korvex approximately 6 inches from Korvex face.");
    const QString instruct2 = QStringLiteral(
        "2. PRESS and HOLD the desired button on your Remote until Learning is Complete...");
    checkControls(
        form_,
        {
            {"Frame3", Kind::Frame, "client", "Korvex Info:", px(120, 120, 4095, 855), true, 8},
            {"lblInfo", Kind::Label, "Frame3", "", px(120, 240, 3855, 375), true, 8},
            {"Frame1", Kind::Frame, "client", "Received KXR Event Code:", px(4320, 120, 2775, 855),
             true, 8},
            {"lblKXRCode", Kind::Label, "Frame1", "------------", px(120, 240, 2535, 495), true,
             18},
            {"Frame2", Kind::Frame, "client", "IR Code (Pronto Format):", px(120, 1080, 6975, 2535),
             true, 8},
            {"tbCurCode", Kind::TextBox, "Frame2", "Text1", px(120, 360, 6735, 1575), true, 8},
            {"cbLearnIRCode", Kind::Button, "Frame2", "Learn an IR Code", px(120, 2040, 1815, 375),
             true, 8},
            {"cbTransmitIRCode", Kind::Button, "Frame2", "Test Transmit IR Code",
             px(2040, 2040, 1815, 375), true, 8},
            {"Frame4", Kind::Frame, "client", "Learn Status:", px(120, 3720, 6975, 2535), true, 8},
            {"lblLrnStatus", Kind::Label, "Frame4", "", px(240, 480, 1335, 375), true, 8},
            {"lblInstruct1", Kind::Label, "Frame4", instruct1, px(360, 360, 3255, 735), false, 8},
            {"lblInstruct2", Kind::Label, "Frame4", instruct2, px(360, 840, 3255, 495), false, 8},
            {"lblSigQuality", Kind::Label, "Frame4", "Signal Quality:", px(5160, 240, 735, 495),
             false, 8},
            {"pbSigQuality", Kind::Picture, "Frame4", "", px(5400, 840, 375, 1575), false, 8},
            {"lblLrnProgress", Kind::Label, "Frame4", "Learn Progress:", px(240, 1440, 1575, 255),
             false, 8},
            {"lblCarrier", Kind::Label, "Frame4", "Carrier Frequency:", px(2760, 1440, 1335, 255),
             false, 8},
            {"lblCarrierFreq", Kind::Label, "Frame4", "---", px(4440, 1440, 615, 255), false, 8},
            {"pbLearnProgress3", Kind::Picture, "Frame4", "", px(240, 1680, 4935, 255), false, 8},
            {"cbInjectIR", Kind::Button, "Frame4", "Inject IR Code Above", px(240, 2040, 1815, 375),
             false, 8},
            {"cbLearnAsBurst", Kind::Button, "Frame4", "Accept Burst", px(2280, 2040, 1335, 375),
             false, 8},
            {"cbLearnCancel", Kind::Button, "Frame4", "Cancel", px(3840, 2040, 1335, 375), false,
             8},
        });

    // Alignment, wrapping and the roles no button may have.
    EXPECT_TRUE(child<QLabel>("lblKXRCode")->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_TRUE(child<QLabel>("lblSigQuality")->alignment().testFlag(Qt::AlignHCenter));
    EXPECT_FALSE(child<QLabel>("lblKXRCode")->font().bold());
    EXPECT_TRUE(child<QLabel>("lblInstruct1")->wordWrap());
    auto *code = child<QPlainTextEdit>("tbCurCode");
    EXPECT_EQ(code->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(code->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    for (QPushButton *button : form_->findChildren<QPushButton *>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
    }
    auto *timer = form_->findChild<QTimer *>(QStringLiteral("Timer1"));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_EQ(timer->parent()->objectName(), QStringLiteral("Frame3"));
    auto *meter = child<PictureBox>("pbSigQuality");
    EXPECT_EQ(meter->frameShadow(), QFrame::Sunken);
    EXPECT_EQ(meter->backgroundRole(), QPalette::Button);
}

TEST_F(WindowsTest, ReceivedCodeLabelTurnsBlackOnTheTimersFirstTick) {
    auto *timer = form_->findChild<QTimer *>(QStringLiteral("Timer1"));
    ASSERT_TRUE(test::waitUntil([timer] { return !timer->isActive(); }));
    EXPECT_EQ(child<QLabel>("lblKXRCode")->palette().color(QPalette::WindowText),
              QColor(Qt::black));
}

TEST_F(WindowsTest, MenuTreeWithAccessKeysAndNoShortcuts) {
    struct Item {
        const char *name;
        QString text;
        bool enabled;
    };
    struct Menu {
        const char *name;
        QString title;
        std::vector<Item> items;
    };
    const std::vector<Menu> expected = {
        {"mnuFile", "&File", {{"mnuFileExit", "E&xit", true}}},
        {"mnuTransmit", "&Transmit", {{"mnuTransmitTXBlock", "&IR Code in Window", true}}},
        {"mnuLearn",
         "&Learn",
         {{"mnuLearnIRLearnPronto", "in &Pronto Format", true},
          {"mnuLrnInject", "&Inject IR Code from Window", false}}},
        {"mnuHelp", "&Help", {{"mnuHelpAbout", "&About ", true}}},
    };
    const QList<QAction *> top = form_->menuBar()->actions();
    ASSERT_EQ(top.size(), static_cast<qsizetype>(expected.size()));
    const char keys[] = {'F', 'T', 'L', 'H'};
    for (std::size_t m = 0; m < expected.size(); ++m) {
        SCOPED_TRACE(expected[m].name);
        QMenu *menu = top[static_cast<qsizetype>(m)]->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName(), QString::fromLatin1(expected[m].name));
        EXPECT_EQ(menu->title(), expected[m].title);
        EXPECT_TRUE(top[static_cast<qsizetype>(m)]->isEnabled());
        EXPECT_EQ(QKeySequence::mnemonic(menu->title()),
                  QKeySequence(Qt::ALT | static_cast<Qt::Key>(keys[m])));
        const QList<QAction *> items = menu->actions();
        ASSERT_EQ(items.size(), static_cast<qsizetype>(expected[m].items.size()));
        for (std::size_t i = 0; i < expected[m].items.size(); ++i) {
            const Item &want = expected[m].items[i];
            QAction *item = items[static_cast<qsizetype>(i)];
            EXPECT_EQ(item->objectName(), QString::fromLatin1(want.name));
            EXPECT_EQ(item->text(), want.text);
            EXPECT_EQ(item->isEnabled(), want.enabled);
            EXPECT_TRUE(item->shortcut().isEmpty());
        }
    }
}

TEST_F(WindowsTest, HelpAboutOpensTheAboutDialogModallyOverTheMainWindow) {
#ifndef VINTREL_HAVE_ABOUT_DIALOG
    GTEST_SKIP() << "this build has no About dialog";
#else
    QString seen;
    QWidget *owner = nullptr;
    QTimer::singleShot(0, form_, [&seen, &owner] {
        if (QWidget *dialog = QApplication::activeModalWidget()) {
            seen = dialog->objectName();
            owner = dialog->parentWidget();
            dialog->close();
        }
    });
    child<QAction>("mnuHelpAbout")->trigger();
    test::drainEvents();
    EXPECT_EQ(seen, QStringLiteral("frmAbout"));
    EXPECT_EQ(owner, form_);
#endif
}

TEST_F(WindowsTest, TabOrderAndFirstFocus) {
    // The focus chain, restricted to the controls that take the focus by tab.
    std::vector<QString> chain;
    QWidget *start = child<QWidget>("tbCurCode");
    QWidget *widget = start;
    do {
        if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget->window() == form_ &&
            widget != form_ && !qobject_cast<QScrollBar *>(widget)) {
            chain.push_back(widget->objectName());
        }
        widget = widget->nextInFocusChain();
    } while (widget != start && chain.size() < 50);
    const std::vector<QString> expected = {"tbCurCode",    "cbTransmitIRCode", "cbLearnIRCode",
                                           "cbInjectIR",   "cbLearnAsBurst",   "cbLearnCancel",
                                           "pbSigQuality", "pbLearnProgress3"};
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(form_->focusWidget(), start);

    // With the learn area hidden, Tab walks the three visible controls and wraps.
    form_->activateWindow();
    if (!QTest::qWaitForWindowActive(form_)) {
        GTEST_SKIP() << "the platform does not activate windows";
    }
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child<QWidget>("cbTransmitIRCode"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), child<QWidget>("cbLearnIRCode"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), start);
}

TEST_F(WindowsTest, EnterInTheCodeBoxBreaksTheLineAndPressesNoButton) {
    auto *code = child<QPlainTextEdit>("tbCurCode");
    code->setPlainText(QStringLiteral("0000 006C"));
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QPushButton *button : form_->findChildren<QPushButton *>()) {
        spies.push_back(std::make_unique<QSignalSpy>(button, &QPushButton::clicked));
    }
    code->moveCursor(QTextCursor::End);
    QTest::keyClick(code, Qt::Key_Return);
    QTest::keyClick(code, Qt::Key_Enter);
    QTest::keyClicks(code, QStringLiteral("0001"));
    EXPECT_EQ(code->toPlainText(), QStringLiteral("0000 006C\n\n0001"));
    for (const auto &spy : spies) {
        EXPECT_EQ(spy->count(), 0);
    }
}

TEST_F(WindowsTest, ResizingMovesAndResizesNothing) {
    std::map<QWidget *, QRect> before;
    for (QWidget *control : form_->centralWidget()->findChildren<QWidget *>()) {
        before[control] = control->geometry();
    }
    ASSERT_GT(before.size(), 20u);
    for (const QSize size : {QSize(900, 700), QSize(200, 120), QSize(478, 426)}) {
        form_->resize(size);
        test::drainEvents();
        for (const auto &[control, rect] : before) {
            EXPECT_EQ(control->geometry(), rect) << control->objectName().toStdString();
        }
    }
    form_->showMaximized();
    test::drainEvents();
    for (const auto &[control, rect] : before) {
        EXPECT_EQ(control->geometry(), rect) << control->objectName().toStdString();
    }
}

TEST_F(WindowsTest, TransmitWindowAsDesigned) {
    FrmTX *tx = frmTX();
    EXPECT_EQ(frmTX(), tx) << "one instance, created on first use";
    EXPECT_FALSE(tx->isVisible());
    EXPECT_EQ(tx->windowTitle(), QStringLiteral("TRANSMITTING IR CODE..."));
    EXPECT_EQ(tx->size(), QSize(320, 56));
    EXPECT_EQ(tx->minimumSize(), tx->maximumSize());
    EXPECT_FALSE(tx->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(tx->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(tx->windowIcon().cacheKey() == QApplication::windowIcon().cacheKey() ||
                tx->windowIcon().isNull());
    auto *label = tx->findChild<QLabel *>(QStringLiteral("Label1"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("Transmission in Progress . . ."));
    EXPECT_EQ(platform::designOf(label).rect, px(720, 240, 3855, 375));
    EXPECT_EQ(platform::designOf(label).pointSize, 12);
    EXPECT_TRUE(label->font().bold());
    EXPECT_EQ(tx->findChildren<QWidget *>().size(), 1);

    tx->showAndPaint();
    EXPECT_TRUE(tx->isVisible());
    EXPECT_LE((tx->frameGeometry().center() - form_->frameGeometry().center()).manhattanLength(),
              4);
    tx->hide();
    EXPECT_EQ(loadedFrmTX(), tx) << "hiding does not unload";
}

TEST_F(WindowsTest, LearnWindowAsDesignedAndNeverShown) {
    FrmLearn *learn = frmLearn();
    EXPECT_EQ(frmLearn(), learn);
    EXPECT_FALSE(learn->isVisible());
    EXPECT_EQ(learn->parentWidget(), form_);
    EXPECT_EQ(learn->windowTitle(), QStringLiteral("Learn In Progress..."));
    EXPECT_EQ(learn->size(), QSize(313, 261));
    EXPECT_EQ(learn->minimumSize(), learn->maximumSize());
    EXPECT_FALSE(learn->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(learn->LrnTimer()->interval(), 10);
    EXPECT_FALSE(learn->LrnTimer()->isActive());

    const QString aim =
        QStringLiteral("1. Aim Remote directly at Korvex approximately 6 inches from Korvex face.");
    const QString press = QStringLiteral(
        "2. PRESS and HOLD the desired button on your Remote until Learning is Complete...");
    checkControls(
        learn,
        {
            {"Picture1", Kind::Picture, "frmLearn", "", px(3960, 840, 375, 1575), false, 8},
            {"cbLearnAsBurst", Kind::Button, "frmLearn", "Accept Burst", px(240, 3360, 1335, 375),
             false, 8},
            {"cbCancel", Kind::Button, "frmLearn", "Cancel", px(3120, 3360, 1335, 375), false, 8},
            {"Label5", Kind::Label, "frmLearn", press, px(240, 1320, 3255, 495), false, 8},
            {"Label4", Kind::Label, "frmLearn", aim, px(240, 600, 3255, 735), false, 8},
            {"lblCarrierFreq", Kind::Label, "frmLearn", "---", px(3240, 2400, 615, 255), false, 8},
            {"Label3", Kind::Label, "frmLearn", "Carrier Frequency:", px(1800, 2400, 1335, 255),
             false, 8},
            {"Label2", Kind::Label, "frmLearn", "Signal Quality:", px(3720, 240, 735, 495), false,
             8},
            {"Label1", Kind::Label, "frmLearn", "Learn Progress:", px(240, 2400, 1575, 255), false,
             8},
        });
    // Every control is visible inside the window: only the window is hidden.
    for (QWidget *control : learn->findChildren<QWidget *>()) {
        EXPECT_TRUE(control->isVisibleTo(learn)) << control->objectName().toStdString();
    }
}

TEST_F(WindowsTest, LearnWindowButtonsStopTheOwnLearnAndCancelUnloadsIt) {
    FrmLearn *learn = frmLearn();
    QPointer<FrmLearn> guard(learn);
    learn->findChild<QPushButton *>(QStringLiteral("cbLearnAsBurst"))->click();
    EXPECT_EQ(loadAbortWord(processState().learnAbort), -1);
    EXPECT_EQ(loadedFrmLearn(), learn);

    storeAbortWord(processState().learnAbort, 0);
    learn->findChild<QPushButton *>(QStringLiteral("cbCancel"))->click();
    EXPECT_EQ(loadAbortWord(processState().learnAbort), -1);
    EXPECT_EQ(loadedFrmLearn(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guard.isNull());
    // The next use loads a fresh one.
    EXPECT_NE(frmLearn(), nullptr);
}

}  // namespace
}  // namespace vintrel::app
