// SPDX-License-Identifier: MIT
#include "termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <array>
#include <atomic>
#include <cerrno>

namespace vintrel::app {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end as the signal handler sees it; -1 while no watcher exists.
std::atomic<int> g_writeEnd{-1};
int g_readEnd = -1;
std::array<struct sigaction, kSignals.size()> g_previous{};

extern "C" void onTerminationSignal(int /*signal*/) {
    const int savedErrno = errno;
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);  // full pipe: already told
    }
    errno = savedErrno;
}

}  // namespace

TerminationWatcher::TerminationWatcher(QWidget *window) : window_(window) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    g_readEnd = fds[0];
    g_writeEnd.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &action, &g_previous[i]);
    }
    notifier_ = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationWatcher::onSignal);
}

TerminationWatcher::~TerminationWatcher() {
    if (notifier_ == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    delete notifier_;
    const int writeEnd = g_writeEnd.exchange(-1);
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

void TerminationWatcher::onSignal() {
    char bytes[16];
    while (::read(g_readEnd, bytes, sizeof bytes) > 0) {
    }
    if (!window_.isNull()) {
        window_->close();  // the unload sequence; the process ends when no window is left
    }
}

}  // namespace vintrel::app
