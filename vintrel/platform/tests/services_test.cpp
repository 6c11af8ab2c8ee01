// SPDX-License-Identifier: MIT
// Message boxes, the mouse pointer, twips and fonts.
#include <gtest/gtest.h>

#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QScreen>

#include <vector>

#include "qt_test_support.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/mouse_pointer.h"
#include "vintrel/platform/screen.h"

namespace vintrel::platform {
namespace {

TEST(MessageBox, ShowsTitleAndExactTextModalWithOnlyOkAndNoIcon) {
    std::vector<ShownMessageBox> shown;
    setMessageBoxObserver([&shown](const ShownMessageBox &box) { shown.push_back(box); });
    // Two blanks, a markup-like part and a line break must all come through as given.
    const QString text = QStringLiteral("Unable to connect!  Please <b>check</b>\nnow");
    messageBox(text, QStringLiteral("ERROR"));
    messageBox(QStringLiteral("second"), QStringLiteral("vintrel"));
    setMessageBoxObserver(test::unexpectedBoxObserver());

    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, QStringLiteral("ERROR"));
    EXPECT_EQ(shown[0].text, text);
    EXPECT_FALSE(shown[0].hasIcon);
    EXPECT_EQ(shown[0].buttonCount, 1);
    EXPECT_TRUE(shown[0].okButton);
    EXPECT_TRUE(shown[0].applicationModal);
    EXPECT_EQ(shown[1].title, QStringLiteral("vintrel"));
}

TEST(MessageBox, ObserverCanBeSwappedAndRestored) {
    int first = 0;
    int second = 0;
    setMessageBoxObserver([&first](const ShownMessageBox &) { ++first; });
    MessageBoxObserver previous =
        setMessageBoxObserver([&second](const ShownMessageBox &) { ++second; });
    messageBox(QStringLiteral("a"), QStringLiteral("b"));
    setMessageBoxObserver(previous);
    messageBox(QStringLiteral("a"), QStringLiteral("b"));
    setMessageBoxObserver(test::unexpectedBoxObserver());
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
}

TEST(MousePointer, HourglassAndBackWithoutStacking) {
    EXPECT_EQ(mousePointer(), MousePointer::Default);
    setMousePointer(MousePointer::Hourglass);
    setMousePointer(MousePointer::Hourglass);
    EXPECT_EQ(mousePointer(), MousePointer::Hourglass);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    // One reset undoes any number of hourglass settings.
    setMousePointer(MousePointer::Default);
    EXPECT_EQ(mousePointer(), MousePointer::Default);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    setMousePointer(MousePointer::Default);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(Screen, FifteenTwipsAPixelAt96Dpi) {
    // The test runs with QT_FONT_DPI=96 on the offscreen platform.
    ASSERT_DOUBLE_EQ(QGuiApplication::primaryScreen()->logicalDotsPerInchX(), 96.0);
    EXPECT_DOUBLE_EQ(twipsPerPixelX(), 15.0);
    EXPECT_DOUBLE_EQ(twipsPerPixelY(), 15.0);
    EXPECT_EQ(twipsToPixelsX(7170), 478);
    EXPECT_EQ(twipsToPixelsY(6390), 426);
    EXPECT_EQ(twipsToPixelsX(7), 0);  // below half a pixel
    EXPECT_EQ(twipsToPixelsX(8), 1);  // above half a pixel
    EXPECT_EQ(twipsToPixelsX(-15), -1);
    EXPECT_EQ(twipsRect(120, 240, 3855, 375), QRect(8, 16, 257, 25));
}

TEST(Screen, SansSerifFontsAtTheRequestedSizes) {
    const QFont regular = sansSerifFont(18);
    EXPECT_EQ(regular.pointSize(), 18);
    EXPECT_FALSE(regular.bold());
    const QFont bold = sansSerifFont(12, true);
    EXPECT_EQ(bold.pointSize(), 12);
    EXPECT_TRUE(bold.bold());
    // The family asked for is the one the system draws with, and a sans-serif one.
    const QFontInfo info(regular);
    EXPECT_EQ(info.family().section(QStringLiteral(" ["), 0, 0).toStdString(),
              regular.family().toStdString());
    EXPECT_TRUE(info.family().contains(QStringLiteral("Sans")) ||
                info.family().contains(QStringLiteral("Arial")) ||
                info.family().contains(QStringLiteral("Helvetica")))
        << info.family().toStdString();
    // The closest installed family wins over the generic default.
    QStringList installed;
    for (const QString &family : QFontDatabase::families()) {
        installed << family.section(QStringLiteral(" ["), 0, 0);
    }
    if (installed.contains(QStringLiteral("Liberation Sans")) &&
        !installed.contains(QStringLiteral("MS Sans Serif")) &&
        !installed.contains(QStringLiteral("Microsoft Sans Serif"))) {
        EXPECT_EQ(regular.family().toStdString(), "Liberation Sans");
    }
    if (installed.contains(QStringLiteral("Nimbus Sans")) &&
        !installed.contains(QStringLiteral("Arial")) &&
        !installed.contains(QStringLiteral("Liberation Sans"))) {
        EXPECT_EQ(regular.family().toStdString(), "Nimbus Sans");
    }
}

}  // namespace
}  // namespace vintrel::platform
