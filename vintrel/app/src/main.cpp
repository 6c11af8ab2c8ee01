// SPDX-License-Identifier: MIT
// vintrel: learn, check and send infrared remote-control codes.
#include <QApplication>
#include <QByteArray>
#include <cstdio>
#include <string_view>

#include "krvx_version.h"
#include "startup.h"

int main(int argc, char *argv[]) {
    // --version and --help answer before any window-system connection; every other
    // argument is Qt's (-platform, -display, -style ...).
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("vintrel %s\n", KRVX_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::printf(
                "Usage: vintrel [Qt options]\n"
                "Learn, check and send infrared remote-control codes with a Korvex "
                "transceiver,\nthrough the device service krvxd. See vintrel(1).\n");
            return 0;
        }
    }
    // Qt's own event dispatcher, not GLib's: with GLib every posted event (each driver
    // callback) costs a wake-up system call on the driver's thread; Qt's wakes the loop once
    // per batch. QT_NO_GLIB set by the user is kept; programs vintrel starts do not inherit it.
    const bool chooseDispatcher = qEnvironmentVariableIsEmpty("QT_NO_GLIB");
    if (chooseDispatcher) {
        qputenv("QT_NO_GLIB", "1");
    }
    QApplication app(argc, argv);
    if (chooseDispatcher) {
        qunsetenv("QT_NO_GLIB");
    }
    return vintrel::app::runVintrel(app);
}
