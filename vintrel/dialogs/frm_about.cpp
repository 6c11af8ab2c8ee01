// SPDX-License-Identifier: MIT
#include "frm_about.h"

#include "line_control.h"
#include "program_info.h"
#include "vintrel/platform/caption_fit.h"
#include "vintrel/platform/launcher.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/runtime_error.h"
#include "vintrel/platform/screen.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QtDebug>

#include <algorithm>
#include <array>
#include <exception>

namespace vintrel::dialogs {

namespace {

constexpr int kClientWidthTwips = 5865;
constexpr int kClientHeightTwips = 3615;
constexpr int kDialogFontPoints = 8;

const char *const kDescription =
    "This simple applet can be used to aid in the learn process and allows you to interject "
    "pre-learned codes for any third-party application which is asking the Korvex to learn an "
    "IR code. It may also be used as a simple receive/transmit test application.";

const char *const kDisclaimer =
    "vintrel comes with no warranty of any kind. Korvex is a trademark of its owner, who "
    "neither made nor endorses this program.";

const char *const kUnavailable = "System Information Is Unavailable At This Time";

void name(QWidget *widget, const char *objectName) {
    widget->setObjectName(QString::fromLatin1(objectName));
    widget->setAccessibleDescription(QString::fromLatin1(objectName));
}

QLabel *makeLabel(QWidget *parent, const char *objectName, const char *caption, QRect place,
                  bool blackText) {
    auto *label = new QLabel(QString::fromLatin1(caption), parent);
    name(label, objectName);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setWordWrap(true);
    label->setGeometry(place);
    if (blackText) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(palette);
    }
    return label;
}

QPushButton *makeButton(QWidget *parent, const char *objectName, const char *caption, QRect place) {
    auto *button = new QPushButton(QString::fromLatin1(caption), parent);
    name(button, objectName);
    button->setGeometry(place);
    button->setAutoDefault(true);
    return button;
}

// REG_DWORD data as "&h" and the number in upper-case hex, no leading zeros.
std::string dwordText(const std::uint8_t *data, std::uint32_t size) {
    if (size != 4) {
        throw platform::RuntimeError(frmAbout::kErrTypeMismatch, "Type mismatch",
                                     "frmAbout.GetKeyValue");
    }
    const std::uint32_t value = std::uint32_t{data[0]} | (std::uint32_t{data[1]} << 8) |
                                (std::uint32_t{data[2]} << 16) | (std::uint32_t{data[3]} << 24);
    return "&h" + QString::number(value, 16).toUpper().toStdString();
}

// Closes an opened key when it goes out of scope, whatever the way out.
class KeyCloser {
  public:
    KeyCloser(platform::Registry &registry, platform::HKEY key) : registry_(registry), key_(key) {}
    KeyCloser(const KeyCloser &) = delete;
    KeyCloser &operator=(const KeyCloser &) = delete;
    ~KeyCloser() { registry_.RegCloseKey(key_); }

  private:
    platform::Registry &registry_;
    platform::HKEY key_;
};

}  // namespace

frmAbout::frmAbout(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    name(this, "frmAbout");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About Vintrel"));
    setFont(platform::sansSerifFont(kDialogFontPoints));
    setFixedSize(platform::twipsToPixelsX(kClientWidthTwips),
                 platform::twipsToPixelsY(kClientHeightTwips));
    setSizeGripEnabled(false);

    // Created in tab order, so the focus chain is cmdOK, cmdSysInfo.
    cmdOK_ = makeButton(this, "cmdOK", "OK", platform::twipsRect(4245, 2625, 1467, 345));
    cmdOK_->setDefault(true);
    cmdSysInfo_ = makeButton(this, "cmdSysInfo", "&System Info...",
                             platform::twipsRect(4260, 3075, 1452, 345));

    // The picture box sizes itself to its 32 x 32 picture.
    picIcon_ = new QLabel(this);
    name(picIcon_, "picIcon");
    const QPixmap icon(QStringLiteral(":/vintrel/dialogs/about_icon.xpm"));
    picIcon_->setPixmap(icon);
    picIcon_->setGeometry(QRect(platform::twipsRect(240, 240, 540, 540).topLeft(), icon.size()));

    lblDisclaimer_ = makeLabel(this, "lblDisclaimer", kDisclaimer,
                               platform::twipsRect(255, 2625, 3870, 825), true);
    lblVersion_ = makeLabel(this, "lblVersion", "Version 0.1b",
                            platform::twipsRect(1050, 780, 4092, 225), false);
    lblTitle_ = makeLabel(this, "lblTitle", "Korvex Vintrel Applet",
                          platform::twipsRect(1050, 240, 4092, 480), true);
    lblDescription_ = makeLabel(this, "lblDescription", kDescription,
                                platform::twipsRect(1050, 1125, 4092, 1170), true);

    // The etched separator: a grey line with a white one just below it.
    auto *shadow = new LineControl(this, {225, 2430}, {5657, 2430}, QColor(128, 128, 128), 1);
    name(shadow, "Line1(1)");
    auto *light = new LineControl(this, {240, 2445}, {5657, 2445}, Qt::white, 2);
    name(light, "Line1(0)");

    connect(cmdOK_, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo_, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    cmdOK_->setFocus();

    Form_Load();
}

void frmAbout::Form_Load() {
    lblVersion_->setText(QStringLiteral("Version %1.%2.%3")
                             .arg(kVersionMajor)
                             .arg(kVersionMinor)
                             .arg(kVersionRevision));
    lblTitle_->setText(QString::fromLatin1(kProgramTitle));
    platform::fitCaptions(this);
}

void frmAbout::cmdOK_Click() {
    done(QDialog::Accepted);
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::keyPressEvent(QKeyEvent *event) {
    // Esc presses the cancel button, which is cmdOK.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        cmdOK_->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmAbout::StartSysInfo() {
    try {
        std::string path;
        if (!GetKeyValue(platform::HKEY_LOCAL_MACHINE, kMsInfoKey, kMsInfoValue, path)) {
            std::string folder;
            if (!GetKeyValue(platform::HKEY_LOCAL_MACHINE, kToolsLocationKey, kToolsLocationValue,
                             folder)) {
                showUnavailable();
                return;
            }
            path = folder + kMsInfoFile;
            if (!platform::isNormalFile(path)) {
                showUnavailable();
                return;
            }
        }
        std::string error;
        if (platform::startProgram(path, &error)) {
            return;
        }
        qWarning("vintrel: system information: %s", error.c_str());
    } catch (const platform::RuntimeError &e) {
        qWarning("vintrel: system information: error %d: %s", e.number(), e.description().c_str());
    } catch (const std::exception &e) {
        qWarning("vintrel: system information: %s", e.what());
    }
    showUnavailable();
}

bool frmAbout::GetKeyValue(platform::HKEY root, const std::string &keyPath,
                           const std::string &valueName, std::string &valueText) {
    platform::HKEY key = 0;
    const platform::LSTATUS opened =
        registry_.RegOpenKeyExA(root, keyPath.c_str(), 0, kKeyAccess, &key);
    for (const std::string &line : registry_.diagnostics()) {
        qWarning("vintrel: registry: %s", line.c_str());
    }
    if (opened != platform::ERROR_SUCCESS) {
        valueText.clear();
        return false;
    }
    const KeyCloser closer(registry_, key);

    std::array<std::uint8_t, kValueBufferBytes> buffer{};
    std::uint32_t size = kValueBufferBytes;
    std::uint32_t type = 0;
    if (registry_.RegQueryValueExA(key, valueName.c_str(), nullptr, &type, buffer.data(), &size) !=
        platform::ERROR_SUCCESS) {
        valueText.clear();
        return false;
    }
    const auto nul = std::find(buffer.begin(), buffer.end(), std::uint8_t{0});
    if (nul == buffer.end()) {
        throw platform::RuntimeError(kErrInvalidArgument, "Invalid procedure call or argument",
                                     "frmAbout.GetKeyValue");
    }
    if (type == platform::REG_SZ) {
        valueText.assign(buffer.begin(), nul);
    } else if (type == platform::REG_DWORD) {
        valueText = dwordText(buffer.data(), size);
    }
    return true;
}

void frmAbout::showUnavailable() {
    platform::messageBox(QString::fromLatin1(kUnavailable), QString::fromLatin1(kProgramTitle),
                         this);
}

void showAboutDialog(QWidget *owner) {
    auto *dialog = new frmAbout(owner);
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->exec();  // deletes the dialog when it closes (WA_DeleteOnClose)
}

}  // namespace vintrel::dialogs
