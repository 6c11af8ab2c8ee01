// SPDX-License-Identifier: MIT
// SIGTERM, SIGINT and SIGHUP while vintrel runs close the main window as its close box
// would: the unload sequence runs (the device is closed) and the process ends with status 0.
// The signal handler only writes one byte to a pipe; the user-interface thread reads it.
// Threads: construct and destroy on the user-interface thread; one instance at a time.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class QSocketNotifier;

namespace vintrel::app {

class TerminationWatcher : public QObject {
    Q_OBJECT
  public:
    /// Installs the handlers; a signal closes window. The previous handlers come back when
    /// the watcher goes away.
    explicit TerminationWatcher(QWidget *window);
    ~TerminationWatcher() override;
    TerminationWatcher(const TerminationWatcher &) = delete;
    TerminationWatcher &operator=(const TerminationWatcher &) = delete;

    /// False when the pipe or the handlers could not be set up (signals then keep their
    /// default effect).
    bool active() const noexcept { return notifier_ != nullptr; }

  private:
    void onSignal();

    QPointer<QWidget> window_;
    QSocketNotifier *notifier_ = nullptr;
};

}  // namespace vintrel::app
