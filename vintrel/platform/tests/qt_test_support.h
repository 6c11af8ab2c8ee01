// Test support for vintrel's widget tests: a QApplication for the whole test program
// (offscreen, created before the first test) and waiting for a condition by running the
// event loop, never by sleeping a fixed time.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

namespace vintrel::test {

/// Runs the event loop until condition() holds or timeoutMs passed; returns condition().
inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 20000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return condition();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

/// Runs the events that are due now (posted events included).
inline void drainEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

}  // namespace vintrel::test
