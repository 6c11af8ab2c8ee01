// SPDX-License-Identifier: MIT
// The callback relay: the driver's two callbacks turn each report into one message posted
// to the hidden message window (processState().hiddenWnd); the relay's window procedure,
// installed there by subclassWindow(), hands each message to the main window on the
// user-interface thread.
//
//   WM_RXCODE        wParam 0, lParam 0, payload: the 16 bytes at the received code text
//   WM_LEARNPROGRESS wParam packProgress(progress, quality), lParam the carrier in Hz
//   WM_LEARNBEGIN    0, 0: another application began a learn
//   WM_LEARNEND      0, 0: the learn ended
//
// Threads: learnCallback and receiveCallback run on the driver's threads. They read only
// hiddenWnd, copy their arguments into one posted message and return: no wait, no state
// change, no allocation beyond the message (Qt's post queue takes its own short lock).
// Before the hidden window exists (hiddenWnd 0) their posts go nowhere. Everything else
// runs on the user-interface thread.
#pragma once

#include <cstdint>

#include "vintrel/platform/window_system.h"

namespace vintrel::device {

inline constexpr std::uint32_t WM_RXCODE = 0x1401;
inline constexpr std::uint32_t WM_LEARNPROGRESS = 0x1402;
inline constexpr std::uint32_t WM_LEARNBEGIN = 0x1403;
inline constexpr std::uint32_t WM_LEARNEND = 0x1404;

/// quality * 256 + progress in 32-bit two's complement arithmetic: the sum of values that
/// fit (quality below 8388608) is exact; a larger sum wraps modulo 2^32 instead of
/// overflowing, so a driver's wild value can never fail on its thread. Progress above
/// 255 is not clamped and spills into the quality bits. Sign-extended into the wParam.
std::uintptr_t packProgress(std::int32_t progress, std::int32_t sigQuality) noexcept;

struct ProgressReport {
    std::int16_t progress;    // wParam mod 256, with wParam's sign
    std::int16_t sigQuality;  // wParam div 256, truncated toward zero
};
/// The receiving side: decodes a packed wParam. A quality outside the 16-bit range (only
/// from a wrapped or absurd report) is saturated to -32768 or 32767.
ProgressReport unpackProgress(std::uintptr_t wParam) noexcept;

/// Learn callback of every learn call; userData is unused.
void learnCallback(std::int32_t progress, std::int32_t sigQuality, std::int32_t carrierHz,
                   void *userData) noexcept;
/// Receive callback; copies the 16 bytes at codeText into the message. userData unused.
void receiveCallback(const char *codeText, void *userData) noexcept;

/// The relay's window procedure: the four private messages go to the main window (and
/// then to defWindowProc), every other message only to prevWndProc, whose result it returns.
std::intptr_t hiddenWndProc(const platform::WindowMessage &message);

/// Installs hiddenWndProc on window and keeps the window's procedure in prevWndProc.
/// Raises platform::RuntimeError 51 "Unable to get default window proc handle" (empty
/// source) when the window has no procedure to read; prevWndProc is then 0 and the window
/// keeps its procedure.
void subclassWindow(platform::Hwnd window);
/// Puts prevWndProc back as window's procedure; prevWndProc keeps its value. Does nothing
/// when prevWndProc is 0 (the subclassing failed): a window without any procedure could
/// not even be closed.
void unsubclassWindow(platform::Hwnd window);
/// Posts WM_CLOSE (0, 0) to window.
void closeWindow(platform::Hwnd window);

}  // namespace vintrel::device
