// SPDX-License-Identifier: MIT
// Message windows: invisible windows that have a replaceable window procedure and receive
// posted messages, in the shape of the classic window API the rest of vintrel is written
// against. A window is a small record keyed by a handle (a number that is never reused);
// it has a class name ("STATIC" is the only class), a name, a style and a procedure.
//
// Creation and destruction: one WindowSystem lives on the user-interface thread for as
// long as anything may post; while it exists it is current() and postMessage() targets
// it. It must be destroyed only when no other thread can post any more (after the device
// handle is closed); posts after that are dropped.
//
// Threads:
//   postMessage()          any thread; never blocks, allocates only the posted event.
//   everything else        the user-interface thread (the one that created the system).
// Delivery: posted messages reach the target's current procedure on the user-interface
// thread, one at a time, in the order each posting thread posted them; what the posting
// thread wrote before postMessage() is visible to the procedure (an acquire/release pair
// of vintrel's own, so ThreadSanitizer sees it too). A message whose
// window no longer exists is dropped. A RuntimeError a procedure raises for a posted
// message is reported (reportRuntimeError) and delivery goes on.
#pragma once

#include <QObject>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace vintrel::platform {

/// A window handle; 0 is no window.
using Hwnd = std::uintptr_t;

inline constexpr std::uint32_t WM_CLOSE = 0x0010;
inline constexpr std::uint32_t WS_MINIMIZE = 0x20000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;

/// Last-error values set by the window services.
inline constexpr std::uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr std::uint32_t ERROR_INVALID_WINDOW_HANDLE = 1400;
inline constexpr std::uint32_t ERROR_CANNOT_FIND_WND_CLASS = 1407;

/// Bytes a message can carry besides its two parameters (a received code's 16 bytes).
inline constexpr std::size_t kMessagePayloadSize = 16;
using MessagePayload = std::array<char, kMessagePayloadSize>;

struct WindowMessage {
    Hwnd window = 0;
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    MessagePayload payload{};  // zero unless the poster gave bytes
};

/// A window procedure. Runs on the user-interface thread.
using WindowProc = std::intptr_t (*)(const WindowMessage &message);

class WindowSystem : public QObject {
    Q_OBJECT
  public:
    /// Becomes current(); there is at most one at a time.
    explicit WindowSystem(QObject *parent = nullptr);
    ~WindowSystem() override;
    WindowSystem(const WindowSystem &) = delete;
    WindowSystem &operator=(const WindowSystem &) = delete;

    /// The system posts go to, or nullptr. Any thread.
    static WindowSystem *current() noexcept;

    /// Creates a window of class "STATIC" (the only class; case-insensitive) whose
    /// procedure is the class's own, which passes everything to defWindowProc. The window
    /// is never put on screen. Returns 0 and sets the last-error value on failure.
    Hwnd createWindow(std::string_view className, std::string_view windowName, std::uint32_t style,
                      int x, int y, int width, int height);
    /// Removes the window; its queued messages are dropped. False for an unknown handle.
    bool destroyWindow(Hwnd window);
    bool isWindow(Hwnd window) const;
    std::string windowName(Hwnd window) const;
    std::uint32_t windowStyle(Hwnd window) const;
    std::size_t windowCount() const noexcept { return windows_.size(); }

    /// The window's current procedure; nullptr (last error 1400) for an unknown handle.
    WindowProc windowProc(Hwnd window) const;
    /// Replaces the procedure and returns the previous one; nullptr (last error 1400)
    /// for an unknown handle, which then stays unknown.
    WindowProc setWindowProc(Hwnd window, WindowProc procedure);

    /// Calls the window's procedure at once and returns its result (0 if unknown).
    std::intptr_t sendMessage(const WindowMessage &message);

    /// For tests: the next createWindow() fails with this last-error value.
    void failNextCreateWindow(std::uint32_t lastError) noexcept;
    /// For tests: windows created from now on get this procedure instead of the class's
    /// own (nullptr: a window without a procedure; messages to it are dropped).
    void setCreatedWindowProc(WindowProc procedure) noexcept;

    /// The procedure of the "STATIC" class.
    static std::intptr_t staticWindowProc(const WindowMessage &message);

  protected:
    bool event(QEvent *event) override;

  private:
    struct Window {
        std::string name;
        std::uint32_t style = 0;
        WindowProc procedure = nullptr;
    };
    std::map<Hwnd, Window> windows_;
    Hwnd nextHandle_ = 0x10;
    WindowProc createdProc_ = &staticWindowProc;
    bool failNextCreate_ = false;
    std::uint32_t failNextCreateError_ = 0;
};

/// Posts a message to a window of the current system. Safe from any thread; returns at
/// once. False (last error 1400) when the handle is 0 or no system exists; a handle that
/// does not name a live window is accepted here and its message dropped on delivery.
/// payload, when given, is copied into the message.
bool postMessage(Hwnd window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                 const MessagePayload *payload = nullptr) noexcept;

/// Calls procedure with the message; 0 when procedure is nullptr. UI thread.
std::intptr_t callWindowProc(WindowProc procedure, const WindowMessage &message);

/// Default handling: WM_CLOSE destroys the window; everything else is ignored. Returns 0.
/// UI thread.
std::intptr_t defWindowProc(const WindowMessage &message);

}  // namespace vintrel::platform
