// SPDX-License-Identifier: MIT
#include "vintrel/platform/window_system.h"

#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <new>

#include "vintrel/platform/error_report.h"
#include "vintrel/platform/last_error.h"
#include "vintrel/platform/runtime_error.h"

namespace vintrel::platform {

namespace {

// The posted message: the only allocation a post makes.
class PostedMessage final : public QEvent {
  public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 0x140);
    explicit PostedMessage(const WindowMessage &message) : QEvent(kType), message_(message) {}
    const WindowMessage &message() const noexcept { return message_; }

  private:
    WindowMessage message_;
};

std::atomic<WindowSystem *> g_current{nullptr};

// Orders each post before its delivery in a way ThreadSanitizer can see: Qt's posted-event
// queue already does, but under a lock that uninstrumented Qt takes with raw futexes. A post
// adds to this counter (release) before the queue takes the event; delivery reads it
// (acquire) before the procedure runs. The increments form one release sequence, so a read
// that comes after the queue handed over an event synchronises with that event's post.
std::atomic<std::uint64_t> g_posts{0};

bool isStaticClass(std::string_view name) {
    constexpr std::string_view kStatic = "STATIC";
    if (name.size() != kStatic.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != kStatic[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

WindowSystem::WindowSystem(QObject *parent) : QObject(parent) {
    g_current.store(this, std::memory_order_release);
}

WindowSystem::~WindowSystem() {
    WindowSystem *self = this;
    g_current.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

WindowSystem *WindowSystem::current() noexcept {
    return g_current.load(std::memory_order_acquire);
}

Hwnd WindowSystem::createWindow(std::string_view className, std::string_view windowName,
                                std::uint32_t style, int /*x*/, int /*y*/, int /*width*/,
                                int /*height*/) {
    if (failNextCreate_) {
        failNextCreate_ = false;
        setLastError(failNextCreateError_);
        return 0;
    }
    if (!isStaticClass(className)) {
        setLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return 0;
    }
    const Hwnd handle = nextHandle_++;
    windows_.emplace(handle, Window{std::string(windowName), style, createdProc_});
    setLastError(0);
    return handle;
}

bool WindowSystem::destroyWindow(Hwnd window) {
    if (windows_.erase(window) == 0) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    return true;
}

bool WindowSystem::isWindow(Hwnd window) const {
    return windows_.count(window) != 0;
}

std::string WindowSystem::windowName(Hwnd window) const {
    const auto it = windows_.find(window);
    return it == windows_.end() ? std::string() : it->second.name;
}

std::uint32_t WindowSystem::windowStyle(Hwnd window) const {
    const auto it = windows_.find(window);
    return it == windows_.end() ? 0 : it->second.style;
}

WindowProc WindowSystem::windowProc(Hwnd window) const {
    const auto it = windows_.find(window);
    if (it == windows_.end()) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    return it->second.procedure;
}

WindowProc WindowSystem::setWindowProc(Hwnd window, WindowProc procedure) {
    const auto it = windows_.find(window);
    if (it == windows_.end()) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    WindowProc previous = it->second.procedure;
    it->second.procedure = procedure;
    return previous;
}

std::intptr_t WindowSystem::sendMessage(const WindowMessage &message) {
    const auto it = windows_.find(message.window);
    if (it == windows_.end()) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // Copy the procedure: the call may replace it or destroy the window.
    const WindowProc procedure = it->second.procedure;
    return callWindowProc(procedure, message);
}

void WindowSystem::failNextCreateWindow(std::uint32_t lastError) noexcept {
    failNextCreate_ = true;
    failNextCreateError_ = lastError;
}

void WindowSystem::setCreatedWindowProc(WindowProc procedure) noexcept {
    createdProc_ = procedure;
}

std::intptr_t WindowSystem::staticWindowProc(const WindowMessage &message) {
    return defWindowProc(message);
}

bool WindowSystem::event(QEvent *event) {
    // Pairs with the post's increment; before the type is read, as the event was built on
    // the posting thread.
    static_cast<void>(g_posts.load(std::memory_order_acquire));
    if (event->type() == PostedMessage::kType) {
        // The top of the message loop: a run-time error no procedure trapped is reported
        // here and the loop goes on.
        try {
            sendMessage(static_cast<PostedMessage *>(event)->message());
        } catch (const RuntimeError &error) {
            reportRuntimeError(error);
        }
        return true;
    }
    return QObject::event(event);
}

bool postMessage(Hwnd window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                 const MessagePayload *payload) noexcept {
    WindowSystem *system = WindowSystem::current();
    if (window == 0 || system == nullptr) {
        setLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    WindowMessage posted;
    posted.window = window;
    posted.message = message;
    posted.wParam = wParam;
    posted.lParam = lParam;
    if (payload != nullptr) {
        posted.payload = *payload;
    }
    auto *event = new (std::nothrow) PostedMessage(posted);
    if (event == nullptr) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    g_posts.fetch_add(1, std::memory_order_release);  // publishes the message and its data
    try {
        QCoreApplication::postEvent(system, event);  // takes the event in every case
    } catch (...) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    return true;
}

std::intptr_t callWindowProc(WindowProc procedure, const WindowMessage &message) {
    return procedure == nullptr ? 0 : procedure(message);
}

std::intptr_t defWindowProc(const WindowMessage &message) {
    if (message.message == WM_CLOSE) {
        if (WindowSystem *system = WindowSystem::current()) {
            system->destroyWindow(message.window);
        }
    }
    return 0;
}

}  // namespace vintrel::platform
