// SPDX-License-Identifier: MIT
// frmAbout, the About dialog: the program's title, version and description, and a button
// that starts the desktop's system-information tool, found through two registry entries.
//
// Each opening is a new instance: showAboutDialog() creates it (its load handler fills the
// title and version), shows it modal over its owner and returns once OK, Esc or the close
// box has closed it; the instance then deletes itself (Qt::WA_DeleteOnClose).
//
// Controls are named as their objectName and accessible description: picIcon, lblTitle,
// lblVersion, lblDescription, "Line1(0)", "Line1(1)", lblDisclaimer, cmdOK, cmdSysInfo.
//
// Threads: the user-interface thread only.
#pragma once

#include "vintrel/platform/registry.h"

#include <QDialog>

#include <string>

class QKeyEvent;
class QLabel;
class QPushButton;

namespace vintrel::dialogs {

class frmAbout : public QDialog {
    Q_OBJECT
  public:
    /// Registry entry 1: the full path of the tool.
    static constexpr const char *kMsInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    static constexpr const char *kMsInfoValue = "PATH";
    /// Registry entry 2: the tool's folder, to which kMsInfoFile is appended.
    static constexpr const char *kToolsLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
    static constexpr const char *kToolsLocationValue = "MSINFO";
    static constexpr const char *kMsInfoFile = "\\MSINFO32.EXE";
    /// Access asked for when opening the keys: read, set value, create and enumerate
    /// subkeys, notify, create link.
    static constexpr platform::REGSAM kKeyAccess = 0x2003F;
    /// Size of the buffer a value is read into.
    static constexpr std::uint32_t kValueBufferBytes = 1024;
    /// Run-time error of a value that fills the whole buffer without a NUL byte.
    static constexpr int kErrInvalidArgument = 5;
    /// Run-time error of REG_DWORD data that is not 4 bytes long.
    static constexpr int kErrTypeMismatch = 13;

    /// Builds the dialog with owner as its parent (may be nullptr) and runs its load
    /// handler. The registry read is the one platform::Registry::defaultPath() names now.
    explicit frmAbout(QWidget *owner);

    /// Finds the system-information tool through the registry and starts it; every failure,
    /// a run-time error of GetKeyValue included, shows "System Information Is Unavailable At
    /// This Time" in a box titled with the program's title.
    void StartSysInfo();

    /// Reads value valueName of key keyPath under root into valueText and returns true. A
    /// key or value that cannot be read sets valueText to "" and returns false. REG_SZ data
    /// gives its text up to the first NUL; REG_DWORD data gives "&h" and the 32-bit
    /// little-endian number in upper-case hex without leading zeros ("&h1F", "&h0"); any
    /// other type leaves valueText as it was. Throws platform::RuntimeError
    /// kErrInvalidArgument when the 1024-byte buffer holds no NUL, kErrTypeMismatch for
    /// REG_DWORD data that is not 4 bytes. The key is closed on every path. Lines of the
    /// registry file that could not be read are written to standard error.
    bool GetKeyValue(platform::HKEY root, const std::string &keyPath, const std::string &valueName,
                     std::string &valueText);

    const platform::Registry &registry() const { return registry_; }

  protected:
    void keyPressEvent(QKeyEvent *event) override;

  private:
    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void showUnavailable();

    platform::Registry registry_;
    QPushButton *cmdOK_ = nullptr;
    QPushButton *cmdSysInfo_ = nullptr;
    QLabel *picIcon_ = nullptr;
    QLabel *lblDisclaimer_ = nullptr;
    QLabel *lblVersion_ = nullptr;
    QLabel *lblTitle_ = nullptr;
    QLabel *lblDescription_ = nullptr;
};

/// Help > About: opens a freshly loaded About dialog modal over owner and returns when it
/// has been closed.
void showAboutDialog(QWidget *owner);

}  // namespace vintrel::dialogs
