// SPDX-License-Identifier: MIT
// The start-up procedure: loads the driver library, creates the main window, runs its
// load sequence, shows it and runs the event loop until the last window is unloaded.
// Threads: the user-interface thread (the one that owns the QApplication).
#pragma once

#include <functional>

class QApplication;

namespace vintrel::platform {
class WindowSystem;
}

namespace vintrel::app {

class FrmMain;

/// Exit status after a normal exit and after a fatal start-up error.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitFatal = 1;

/// Points where tests reach into start-up; the program itself passes none.
struct StartupHooks {
    /// Runs once the window system exists, before the driver is loaded.
    std::function<void(platform::WindowSystem &)> beforeLoad;
    /// Runs once the main window has been shown, before the event loop starts.
    std::function<void(FrmMain &)> afterShow;
};

/// Runs vintrel in app and returns the process's exit status.
int runVintrel(QApplication &app, const StartupHooks &hooks = {});

}  // namespace vintrel::app
