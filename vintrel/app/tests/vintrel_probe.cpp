// SPDX-License-Identifier: MIT
// vintrel as the start-up tests run it: the real start-up procedure, with every message box
// written to standard output ("BOX|title|text", line breaks as \n) and closed at once.
//   PROBE_FAIL_CREATE_WINDOW=N  window creation fails with last error N
//   PROBE_QUIT=close|exit       once shown, close the main window by its close box or by
//                               File > Exit
//   PROBE_LOAD_FORMS=1          load frmTX and frmLearn before quitting
// Prints "SHOWN|<visible>|<title>" once the main window is shown.
#include <QAction>
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "forms.h"
#include "frm_main.h"
#include "startup.h"
#include "vintrel/platform/message_box.h"
#include "vintrel/platform/window_system.h"

namespace {

std::string env(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

void print(const QString &line) {
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    vintrel::platform::setMessageBoxObserver([](const vintrel::platform::ShownMessageBox &box) {
        QString text = box.text;
        text.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
        print(QStringLiteral("BOX|%1|%2").arg(box.title, text));
        if (box.hasIcon || box.buttonCount != 1 || !box.okButton || !box.applicationModal) {
            print(QStringLiteral("BADBOX"));
        }
    });

    vintrel::app::StartupHooks hooks;
    hooks.beforeLoad = [](vintrel::platform::WindowSystem &windows) {
        const std::string failure = env("PROBE_FAIL_CREATE_WINDOW");
        if (!failure.empty()) {
            windows.failNextCreateWindow(static_cast<std::uint32_t>(std::stoul(failure)));
        }
    };
    hooks.afterShow = [](vintrel::app::FrmMain &form) {
        print(QStringLiteral("SHOWN|%1|%2").arg(form.isVisible() ? 1 : 0).arg(form.windowTitle()));
        if (env("PROBE_LOAD_FORMS") == "1") {
            vintrel::app::frmTX();
            vintrel::app::frmLearn();
        }
        const std::string quit = env("PROBE_QUIT");
        QTimer::singleShot(0, &form, [&form, quit] {
            if (quit == "exit") {
                form.findChild<QAction *>(QStringLiteral("mnuFileExit"))->trigger();
            } else if (quit == "close") {
                form.close();
            }
        });
    };
    return vintrel::app::runVintrel(app, hooks);
}
