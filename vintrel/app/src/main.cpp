// vintrel: learn, check and send infrared remote-control codes.
#include <QApplication>
#include <QByteArray>

#include "startup.h"

int main(int argc, char *argv[]) {
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
