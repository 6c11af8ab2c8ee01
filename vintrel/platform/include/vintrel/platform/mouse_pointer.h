// SPDX-License-Identifier: MIT
// The application-wide mouse pointer: the hourglass while the user-interface thread is
// busy in a blocking call, the default otherwise. Threads: the user-interface thread.
#pragma once

namespace vintrel::platform {

enum class MousePointer { Default = 0, Hourglass = 11 };

/// Sets the pointer over every window of the application. Setting the value it already
/// has changes nothing (the pointer is one value, not a stack).
void setMousePointer(MousePointer pointer);
MousePointer mousePointer();

}  // namespace vintrel::platform
