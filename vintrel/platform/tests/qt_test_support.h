// SPDX-License-Identifier: MIT
// Test support for vintrel's widget tests: a QApplication for the whole test program
// (offscreen, created before the first test) and waiting for a condition by running the
// event loop, never by sleeping a fixed time.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <functional>

#include "vintrel/platform/message_box.h"

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

/// The observer every test program starts with: a box nobody expected fails the test and
/// is closed, instead of waiting for a human.
inline platform::MessageBoxObserver unexpectedBoxObserver() {
    return [](const platform::ShownMessageBox &box) {
        ADD_FAILURE() << "unexpected message box: " << box.title.toStdString() << ": "
                      << box.text.toStdString();
    };
}

/// Runs the events that are due now (posted events included).
inline void drainEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

}  // namespace vintrel::test
