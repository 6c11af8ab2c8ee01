// SPDX-License-Identifier: MIT
// The About dialog: how it finds and starts the system-information tool, how it opens and
// closes, and its layout at 96 dpi.
#include "frm_about.h"
#include "qt_test_support.h"
#include "scratch.h"
#include "vintrel/platform/caption_fit.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/runtime_error.h"
#include "vintrel/platform/screen.h"

#include <QApplication>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// Readable texts in failure messages.
void PrintTo(const QString &text, std::ostream *out);
void PrintTo(const QString &text, std::ostream *out) {
    *out << '"' << text.toStdString() << '"';
}

namespace vintrel::dialogs {
namespace {

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

std::string entry1(const std::string &valueLine) {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n" + valueLine + "\n";
}
std::string entry2(const std::string &valueLine) {
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\n" + valueLine + "\n";
}
std::string hexBytes(std::size_t count, const char *byte) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += i == 0 ? "" : ",";
        out += byte;
    }
    return out;
}

class AboutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = platform::setMessageBoxObserver(
            [this](const platform::ShownMessageBox &box) { boxes_.push_back(box); });
    }
    void TearDown() override {
        platform::setMessageBoxObserver(previous_);
        ::unsetenv("VINTREL_REGISTRY");
    }

    void useRegistry(const std::string &contents) {
        ::setenv("VINTREL_REGISTRY", scratch_.write("registry.ini", contents).c_str(), 1);
    }

    // Runs StartSysInfo on a fresh dialog.
    void startSysInfo() {
        QPointer<frmAbout> dialog = new frmAbout(nullptr);
        dialog->StartSysInfo();
        EXPECT_EQ(dialog->registry().openKeyCount(), 0u) << "every opened key is closed";
        delete dialog;
    }

    // The one box shown, checked to be the unavailable message.
    void expectUnavailableBox() {
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_EQ(boxes_[0].text, kUnavailable);
        EXPECT_EQ(boxes_[0].title, QStringLiteral("vintrel"));
        EXPECT_FALSE(boxes_[0].hasIcon);
        EXPECT_EQ(boxes_[0].buttonCount, 1);
        EXPECT_TRUE(boxes_[0].okButton);
        EXPECT_TRUE(boxes_[0].applicationModal);
    }

    bool waitStarted(const std::string &name) {
        return test::waitUntil([&] { return !scratch_.startedAs(name).empty(); }, 60000);
    }

    test::Scratch scratch_;
    std::vector<platform::ShownMessageBox> boxes_;
    platform::MessageBoxObserver previous_;
};

// ---- Finding and starting the tool ---------------------------------------------------

TEST_F(AboutTest, Entry1IsStartedAsWrittenWithoutAFileTest) {
    // A hidden file is no normal file, so only a path taken without the test starts it.
    const std::string program = scratch_.writeFakeProgram(".tool");
    const std::string tools = scratch_.path("tools");
    QDir().mkpath(QString::fromStdString(tools));
    scratch_.writeFakeProgram("tools/msinfo32");
    useRegistry(entry1("PATH = " + program) + entry2("MSINFO = " + tools));
    startSysInfo();
    ASSERT_TRUE(waitStarted(".tool"));
    EXPECT_EQ(scratch_.startedAs(".tool"), program);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(scratch_.startedAs("tools/msinfo32").empty());
}

TEST_F(AboutTest, Entry1WithoutAProgramThereGivesTheMessageNotEntry2) {
    const std::string tools = scratch_.path("tools");
    QDir().mkpath(QString::fromStdString(tools));
    scratch_.writeFakeProgram("tools/msinfo32");
    useRegistry(entry1("PATH = " + scratch_.path("absent")) + entry2("MSINFO = " + tools));
    startSysInfo();
    expectUnavailableBox();
}

TEST_F(AboutTest, Entry2StartsTheToolFromItsFolderWithTheToolNameAppended) {
    const std::string tools = scratch_.path("tools");
    QDir().mkpath(QString::fromStdString(tools));
    const std::string program = scratch_.writeFakeProgram("tools/msinfo32");
    // Entry 1's key is there without its value: it still counts as missing.
    useRegistry(entry1("Other = x") + entry2("MSINFO = " + tools));
    startSysInfo();
    ASSERT_TRUE(waitStarted("tools/msinfo32"));
    EXPECT_EQ(scratch_.startedAs("tools/msinfo32"), tools + "/msinfo32");
    EXPECT_EQ(program, tools + "/msinfo32");
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(AboutTest, Entry2FindsADesktopToolInItsFolder) {
    const std::string tools = scratch_.path("bin");
    QDir().mkpath(QString::fromStdString(tools));
    scratch_.writeFakeProgram("bin/kinfocenter");
    useRegistry(entry2("MSINFO = " + tools));
    startSysInfo();
    ASSERT_TRUE(waitStarted("bin/kinfocenter"));
    EXPECT_EQ(scratch_.startedAs("bin/kinfocenter"), tools + "/kinfocenter");
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(AboutTest, EveryOtherLookupGivesTheUnavailableMessage) {
    const std::string empty = scratch_.path("empty");
    QDir().mkpath(QString::fromStdString(empty));
    const std::string tools = scratch_.path("tools");
    QDir().mkpath(QString::fromStdString(tools));
    scratch_.writeFakeProgram("tools/msinfo32");
    struct Case {
        const char *what;
        std::string registry;
    };
    const std::vector<Case> cases = {
        {"entry 2 without the tool", entry2("MSINFO = " + empty)},
        {"both entries missing", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\nPATH = /bin/sh\n"},
        {"entries under another root",
         "[HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\nPATH = /bin/true\n"},
        {"entry 1 fills the buffer without a NUL, entry 2 not tried",
         entry1("PATH = hex(1):" + hexBytes(1024, "41")) + entry2("MSINFO = " + tools)},
        {"entry 1 longer than the buffer", entry1("PATH = " + std::string(1024, '/'))},
        {"entry 1 a number", entry1("PATH = dword:1f")},
        {"entry 1 of another type: an empty path", entry1("PATH = hex(2):2f,00")},
        {"entry 1 relative", entry1("PATH = bin/true")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boxes_.clear();
        useRegistry(c.registry);
        startSysInfo();
        expectUnavailableBox();
    }
    EXPECT_TRUE(scratch_.startedAs("tools/msinfo32").empty());
}

TEST_F(AboutTest, AnUnreadableRegistryGivesTheUnavailableMessage) {
    for (const std::string &path : {scratch_.path("absent.ini"), scratch_.path("")}) {
        SCOPED_TRACE(path);
        boxes_.clear();
        ::setenv("VINTREL_REGISTRY", path.c_str(), 1);
        startSysInfo();
        expectUnavailableBox();
    }
}

TEST_F(AboutTest, GetKeyValueReadsTextAndNumbers) {
    const char *key = "SOFTWARE\\K";
    useRegistry(
        "[HKLM\\SOFTWARE\\K]\n"
        "sz = /usr/bin/tool\n"
        "cut = hex(1):41,00,42,00\n"
        "dword = dword:1f\n"
        "zero = dword:0\n"
        "all = dword:ffffffff\n"
        "bytes = hex(4):0a,0b,00,00\n"
        "binary = hex:41,00\n"
        "expand = hex(2):41,00\n"
        "longest = hex(1):" +
        hexBytes(1023, "61") + "\n" + "fits = " + std::string(1023, 'b') + "\n" +
        "toolong = " + std::string(1024, 'c') + "\n");
    struct Case {
        const char *value;
        bool found;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"sz", true, "/usr/bin/tool"},
        {"cut", true, "A"},
        {"dword", true, "&h1F"},
        {"zero", true, "&h0"},
        {"all", true, "&hFFFFFFFF"},
        {"bytes", true, "&hB0A"},
        {"binary", true, "before"},
        {"expand", true, "before"},
        {"longest", true, std::string(1023, 'a')},
        {"fits", true, std::string(1023, 'b')},
        {"toolong", false, ""},
        {"missing", false, ""},
    };
    QPointer<frmAbout> dialog = new frmAbout(nullptr);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        std::string text = "before";
        EXPECT_EQ(dialog->GetKeyValue(platform::HKEY_LOCAL_MACHINE, key, c.value, text), c.found);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(dialog->registry().openKeyCount(), 0u);
    }
    std::string text = "before";
    EXPECT_FALSE(dialog->GetKeyValue(platform::HKEY_LOCAL_MACHINE, "SOFTWARE\\Nope", "sz", text));
    EXPECT_EQ(text, "");
    delete dialog;
}

TEST_F(AboutTest, GetKeyValueRaisesRunTimeErrorsAndStillClosesTheKey) {
    useRegistry("[HKLM\\K]\nfull = hex(1):" + hexBytes(1024, "41") + "\nshort = hex(4):01,02\n");
    QPointer<frmAbout> dialog = new frmAbout(nullptr);
    const auto errorOf = [&](const char *value) {
        std::string text;
        try {
            dialog->GetKeyValue(platform::HKEY_LOCAL_MACHINE, "K", value, text);
        } catch (const platform::RuntimeError &e) {
            EXPECT_FALSE(e.description().empty());
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(errorOf("full"), frmAbout::kErrInvalidArgument);
    EXPECT_EQ(dialog->registry().openKeyCount(), 0u);
    EXPECT_EQ(errorOf("short"), frmAbout::kErrTypeMismatch);
    EXPECT_EQ(dialog->registry().openKeyCount(), 0u);
    delete dialog;
}

TEST_F(AboutTest, TheShippedRegistryPointsEntry2AtTheProgramFolder) {
    ::setenv("VINTREL_REGISTRY", VINTREL_TEST_SHIPPED_REGISTRY, 1);
    QPointer<frmAbout> dialog = new frmAbout(nullptr);
    std::string text = "before";
    EXPECT_FALSE(dialog->GetKeyValue(platform::HKEY_LOCAL_MACHINE, frmAbout::kMsInfoKey,
                                     frmAbout::kMsInfoValue, text));
    EXPECT_TRUE(dialog->GetKeyValue(platform::HKEY_LOCAL_MACHINE, frmAbout::kToolsLocationKey,
                                    frmAbout::kToolsLocationValue, text));
    EXPECT_EQ(text, "/usr/bin");
    EXPECT_TRUE(dialog->registry().diagnostics().empty());
    delete dialog;
}

TEST(ShippedRegistry, InstallsWhereTheProgramLooksForIt) {
    // Installed to a prefix, and staged for /usr as the packages are: the file lands where
    // the installed program looks for it.
    for (const bool staged : {false, true}) {
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const std::string prefix = staged ? "/usr" : root.path().toStdString();
        QProcess install;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DESTDIR"), staged ? root.path() : QString());
        install.setProcessEnvironment(environment);
        install.start(QStringLiteral(VINTREL_TEST_CMAKE_COMMAND),
                      {QString::fromStdString("-DCMAKE_INSTALL_PREFIX=" + prefix),
                       QStringLiteral("-P"), QStringLiteral(VINTREL_TEST_DIALOGS_INSTALL_SCRIPT)});
        ASSERT_TRUE(install.waitForFinished(120000));
        ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

        const std::string looked = platform::Registry::installedPath(prefix + "/bin/vintrel");
        QFile installed((staged ? root.path() : QString()) + QString::fromStdString(looked));
        QFile shipped(QStringLiteral(VINTREL_TEST_SHIPPED_REGISTRY));
        ASSERT_TRUE(installed.open(QIODevice::ReadOnly)) << installed.fileName().toStdString();
        ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
        EXPECT_EQ(installed.readAll(), shipped.readAll());
    }
}

// ---- Opening and closing --------------------------------------------------------------

// Runs action on the About dialog once it is up, from inside its modal loop; closes the
// dialog (and fails) when the action left it open.
void whenAboutShows(std::function<void(frmAbout *)> action) {
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action = std::move(action)] {
        auto *dialog = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        QPointer<frmAbout> guard = dialog;
        action(dialog);
        if (guard && guard->isVisible()) {
            ADD_FAILURE() << "the dialog stayed open";
            guard->done(QDialog::Rejected);
        }
    });
    timer->start(10);
}

QPushButton *button(QWidget *dialog, const char *name) {
    return dialog->findChild<QPushButton *>(QString::fromLatin1(name));
}
QLabel *label(QWidget *dialog, const char *name) {
    return dialog->findChild<QLabel *>(QString::fromLatin1(name));
}

class AboutOpenTest : public AboutTest {
  protected:
    void SetUp() override {
        AboutTest::SetUp();
        owner_.setGeometry(100, 100, 700, 500);
        owner_.show();
    }
    QWidget owner_;
};

TEST_F(AboutOpenTest, EveryOpeningIsAFreshlyLoadedModalDialog) {
    QPointer<frmAbout> first;
    whenAboutShows([&](frmAbout *dialog) {
        first = dialog;
        EXPECT_EQ(dialog->parentWidget(), &owner_);
        EXPECT_TRUE(dialog->isModal());
        EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(dialog->focusWidget(), button(dialog, "cmdOK"));
        EXPECT_LE((dialog->geometry().center() - owner_.geometry().center()).manhattanLength(), 40)
            << "centred on its owner";
        EXPECT_EQ(label(dialog, "lblTitle")->text(), QStringLiteral("vintrel"));
        label(dialog, "lblTitle")->setText(QStringLiteral("left over"));
        label(dialog, "lblVersion")->setText(QStringLiteral("left over"));
        dialog->close();  // the close box
    });
    showAboutDialog(&owner_);
    EXPECT_TRUE(test::waitUntil([&] { return first.isNull(); })) << "closed means unloaded";

    bool checked = false;
    whenAboutShows([&](frmAbout *dialog) {
        checked = true;
        EXPECT_EQ(label(dialog, "lblTitle")->text(), QStringLiteral("vintrel"));
        EXPECT_EQ(label(dialog, "lblVersion")->text(),
                  QStringLiteral("Version " VINTREL_TEST_PROJECT_VERSION));
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("About Vintrel"));
        button(dialog, "cmdOK")->click();
    });
    showAboutDialog(&owner_);
    EXPECT_TRUE(checked);
}

TEST_F(AboutOpenTest, EscAndEnterCloseThroughOK) {
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        SCOPED_TRACE(static_cast<int>(key));
        int okClicks = 0;
        QPointer<frmAbout> shown;
        whenAboutShows([&](frmAbout *dialog) {
            shown = dialog;
            QObject::connect(button(dialog, "cmdOK"), &QPushButton::clicked,
                             [&okClicks] { ++okClicks; });
            QTest::keyClick(dialog->focusWidget(), key);
            test::waitUntil([&] { return shown.isNull() || !shown->isVisible(); });
        });
        showAboutDialog(&owner_);
        EXPECT_EQ(okClicks, 1);
        EXPECT_TRUE(boxes_.empty());
    }
}

TEST_F(AboutOpenTest, EnterOnSystemInfoPressesThatButtonAndTheDialogStays) {
    useRegistry("");
    int okClicks = 0;
    whenAboutShows([&](frmAbout *dialog) {
        QObject::connect(button(dialog, "cmdOK"), &QPushButton::clicked,
                         [&okClicks] { ++okClicks; });
        QPushButton *sysInfo = button(dialog, "cmdSysInfo");
        sysInfo->setFocus();
        ASSERT_TRUE(test::waitUntil([&] { return dialog->focusWidget() == sysInfo; }));
        QTest::keyClick(sysInfo, Qt::Key_Return);
        ASSERT_TRUE(test::waitUntil([&] { return !boxes_.empty(); }));
        EXPECT_TRUE(dialog->isVisible()) << "the dialog stays open after the message";
        EXPECT_EQ(okClicks, 0);
        button(dialog, "cmdOK")->click();
    });
    showAboutDialog(&owner_);
    expectUnavailableBox();
    EXPECT_EQ(okClicks, 1);
}

// ---- Layout ---------------------------------------------------------------------------

TEST_F(AboutTest, LayoutAt96Dpi) {
    ASSERT_DOUBLE_EQ(platform::twipsPerPixelX(), 15.0) << "the test runs at 96 dpi";
    ASSERT_DOUBLE_EQ(platform::twipsPerPixelY(), 15.0);
    QPointer<frmAbout> dialog = new frmAbout(nullptr);

    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("About Vintrel"));
    EXPECT_EQ(dialog->size(), QSize(391, 241));
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize()) << "fixed size";
    const Qt::WindowFlags flags = dialog->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);

    struct Control {
        const char *name;
        QRect place;
        const char *caption;  // nullptr: not checked here
    };
    const std::vector<Control> controls = {
        {"picIcon", {16, 16, 32, 32}, nullptr},
        {"lblTitle", {70, 16, 273, 32}, "vintrel"},
        {"lblVersion", {70, 52, 273, 15}, "Version " VINTREL_TEST_PROJECT_VERSION},
        {"lblDescription",
         {70, 75, 273, 78},
         "This simple applet can be used to aid in the learn process and allows you to "
         "interject pre-learned codes for any third-party application which is asking the "
         "Korvex to learn an IR code. It may also be used as a simple receive/transmit test "
         "application."},
        {"lblDisclaimer", {17, 175, 258, 55}, nullptr},
        {"cmdOK", {283, 175, 98, 23}, "OK"},
        {"cmdSysInfo", {284, 205, 97, 23}, "&System Info..."},
        {"Line1(1)", {15, 162, 362, 1}, nullptr},
        {"Line1(0)", {16, 163, 361, 2}, nullptr},
    };
    for (const Control &c : controls) {
        SCOPED_TRACE(c.name);
        auto *widget = dialog->findChild<QWidget *>(QString::fromLatin1(c.name));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), dialog.data());
        // Where it was designed; a caption too wide for the machine's font may have grown it.
        EXPECT_EQ(platform::designOf(widget).rect, c.place);
        EXPECT_EQ(widget->pos(), c.place.topLeft());
        EXPECT_EQ(widget->accessibleDescription(), QString::fromLatin1(c.name));
        if (c.caption == nullptr) {
            continue;
        }
        if (auto *l = qobject_cast<QLabel *>(widget)) {
            EXPECT_EQ(l->text(), QString::fromLatin1(c.caption));
        } else if (auto *b = qobject_cast<QAbstractButton *>(widget)) {
            EXPECT_EQ(b->text(), QString::fromLatin1(c.caption));
        }
    }
    EXPECT_FALSE(label(dialog, "lblDisclaimer")->text().isEmpty());

    // That no caption is cut off, here and at 144 dpi, is vintrel_captions_test's.
    for (const char *name : {"lblTitle", "lblVersion", "lblDescription", "lblDisclaimer"}) {
        EXPECT_EQ(label(dialog, name)->textFormat(), Qt::PlainText) << name;
    }
    for (const char *name : {"lblTitle", "lblDescription", "lblDisclaimer"}) {
        EXPECT_EQ(label(dialog, name)->palette().color(QPalette::WindowText), QColor(Qt::black))
            << name;
    }

    // The icon: 32 x 32, at most 16 colours.
    const QImage icon = label(dialog, "picIcon")->pixmap().toImage();
    ASSERT_EQ(icon.size(), QSize(32, 32));
    QSet<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            if (qAlpha(icon.pixel(x, y)) != 0) {
                colours.insert(icon.pixel(x, y));
            }
        }
    }
    EXPECT_GE(colours.size(), 2);
    EXPECT_LE(colours.size(), 16);

    // The separator: grey over white, drawn where its lines are.
    const QImage shot = dialog->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(100, 162)), QColor(128, 128, 128));
    EXPECT_EQ(QColor(shot.pixel(100, 163)), QColor(Qt::white));
    EXPECT_EQ(QColor(shot.pixel(100, 164)), QColor(Qt::white));
    EXPECT_NE(QColor(shot.pixel(100, 161)), QColor(128, 128, 128));
    EXPECT_NE(QColor(shot.pixel(100, 165)), QColor(Qt::white));

    // Buttons: OK is the default and the first stop of the focus chain, then System Info.
    QPushButton *ok = button(dialog, "cmdOK");
    QPushButton *sysInfo = button(dialog, "cmdSysInfo");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_FALSE(sysInfo->isDefault());
    EXPECT_EQ(dialog->focusWidget(), ok);
    EXPECT_EQ(ok->nextInFocusChain(), sysInfo);
    EXPECT_EQ(label(dialog, "lblTitle")->focusPolicy(), Qt::NoFocus);
    delete dialog;
}

}  // namespace
}  // namespace vintrel::dialogs
