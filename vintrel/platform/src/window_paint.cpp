// SPDX-License-Identifier: MIT
#include "vintrel/platform/window_paint.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace vintrel::platform {

namespace {

constexpr QEventLoop::ProcessEventsFlags kNoInput =
    QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;

bool exposed(const QWidget *window) {
    const QWindow *handle = window->windowHandle();
    return handle != nullptr && handle->isExposed();
}

// Ends loop at the window's first paint once the window system has exposed it.
class PaintWatch : public QObject {
  public:
    PaintWatch(QWidget *window, QEventLoop *loop) : window_(window), loop_(loop) {
        window_->installEventFilter(this);
    }
    ~PaintWatch() override { window_->removeEventFilter(this); }
    PaintWatch(const PaintWatch &) = delete;
    PaintWatch &operator=(const PaintWatch &) = delete;

    bool painted() const { return painted_; }

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == window_ && event->type() == QEvent::Paint && exposed(window_)) {
            painted_ = true;
            loop_->quit();  // once this paint and its hand-over are done
        }
        return false;
    }

  private:
    QWidget *window_;
    QEventLoop *loop_;
    bool painted_ = false;
};

}  // namespace

bool showPainted(QWidget *window, std::chrono::milliseconds bound) {
    const bool alreadyShown = window->isVisible() && exposed(window);
    window->show();
    window->raise();
    bool painted = alreadyShown;
    if (alreadyShown) {
        window->repaint();
    } else {
        QEventLoop loop;
        const PaintWatch watch(window, &loop);
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(bound);
        loop.exec(kNoInput);
        painted = watch.painted();
    }
    // Hands what was drawn to the window system before the caller blocks.
    QCoreApplication::processEvents(kNoInput);
    return painted;
}

}  // namespace vintrel::platform
