// SPDX-License-Identifier: MIT
// Drawing a window before the user-interface thread blocks. A window shown just before a
// long blocking call would stay blank, or show whatever lay beneath it, for the whole call:
// a window is drawn only once the window system has exposed it, and that news arrives as
// an event which the blocked thread never handles (a repaint before it draws nothing).
// Threads: the user-interface thread.
#pragma once

#include <chrono>

class QWidget;

namespace vintrel::platform {

/// How long showPainted() waits at most for the window system.
inline constexpr std::chrono::milliseconds kPaintWait{1000};

/// Shows window (a top-level one) and raises it, then runs the event loop, without user
/// input and socket notifiers, until the window system has exposed it and it has painted
/// itself, at most for bound; the drawing is then handed on to the window system. A window
/// already on screen is repainted at once. Returns whether it was painted on screen.
/// Events posted meanwhile (timers, messages) are handled as in any event loop.
bool showPainted(QWidget *window, std::chrono::milliseconds bound = kPaintWait);

}  // namespace vintrel::platform
