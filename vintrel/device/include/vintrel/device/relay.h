// The callback relay: the driver's two callbacks turn each report into one posted message
// to the hidden message window, whose procedure (installed by subclassWindow) hands it to
// the main window on the user-interface thread.
//
// Threads: learnCallback and receiveCallback run on the driver's threads; they read only
// processState().hiddenWnd, post and return at once. Everything else runs on the
// user-interface thread.
#pragma once

#include <cstdint>

#include "vintrel/platform/window_system.h"

namespace vintrel::device {

inline constexpr std::uint32_t WM_RXCODE = 0x1401;
inline constexpr std::uint32_t WM_LEARNPROGRESS = 0x1402;
inline constexpr std::uint32_t WM_LEARNBEGIN = 0x1403;
inline constexpr std::uint32_t WM_LEARNEND = 0x1404;

/// Learn callback of every learn call; userData is unused.
void learnCallback(std::int32_t progress, std::int32_t sigQuality, std::int32_t carrierHz,
                   void *userData);
/// Receive callback; copies the 16 bytes at codeText into the message. userData unused.
void receiveCallback(const char *codeText, void *userData);

/// Installs the relay's procedure on window, keeping the old one in prevWndProc.
void subclassWindow(platform::Hwnd window);
/// Puts prevWndProc back as window's procedure.
void unsubclassWindow(platform::Hwnd window);
/// Posts WM_CLOSE (0, 0) to window.
void closeWindow(platform::Hwnd window);

}  // namespace vintrel::device
