// SPDX-License-Identifier: MIT
#include "startup.h"

#include <QApplication>
#include <QIcon>

#include <memory>
#include <string>

#include "frm_main.h"
#include "termination.h"
#include "vintrel/device/process_state.h"
#include "vintrel/platform/error_report.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/window_system.h"

namespace vintrel::app {

int runVintrel(QApplication &app, const StartupHooks &hooks) {
    app.setApplicationName(QStringLiteral("vintrel"));
    app.setApplicationVersion(QStringLiteral("0.1.0"));
    app.setWindowIcon(QIcon(QStringLiteral(":/vintrel/app/vintrel.xpm")));
    // The process ends when no window is loaded (forms.h), not when none is visible.
    app.setQuitOnLastWindowClosed(false);

    platform::WindowSystem windows;
    if (hooks.beforeLoad) {
        hooks.beforeLoad(windows);
    }

    ProcessState &state = processState();
    const std::string library = device::Driver::libraryFromEnvironment();
    std::string reason;
    if (!state.driver.load(library, reason)) {
        platform::tellStandardError("cannot load the driver library " + library + ": " + reason);
        platform::messageBox(
            QStringLiteral("Unable to load the Korvex driver library %1:\n%2")
                .arg(QString::fromStdString(library), QString::fromStdString(reason)),
            QStringLiteral("ERROR"));
        return kExitFatal;
    }

    auto form = std::make_unique<FrmMain>();
    bool loaded = false;
    try {
        loaded = form->formLoad();
    } catch (const platform::RuntimeError &error) {
        // Outside the load sequence's error trap: reported, and start-up ends.
        platform::tellStandardError("run-time error " + std::to_string(error.number()) + ": " +
                                    error.description());
        platform::reportRuntimeError(error);
    }
    if (!loaded) {
        return kExitFatal;  // the unload sequence does not run
    }

    FrmMain *shown = form.release();  // from here on the window unloads itself
    int status = kExitNormal;
    {
        const TerminationWatcher watcher(shown);
        shown->showCentred();
        if (hooks.afterShow) {
            hooks.afterShow(*shown);
        }
        status = QApplication::exec();
    }
    // Windows unloaded just before the loop ended are still waiting to be deleted.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status == 0 ? kExitNormal : status;
}

}  // namespace vintrel::app
