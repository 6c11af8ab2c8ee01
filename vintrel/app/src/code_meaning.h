// SPDX-License-Identifier: MIT
// What the codes on show are, for the tooltips of the code box and the received code.
//
// Threads: receiveFrameCallback() runs on the driver's thread (it only stores a copy in
// processState().lastFrame); the rest on the user-interface thread.
#pragma once

#include <krvxdrv.h>
#include <QString>

namespace vintrel::app {

/// The frame callback: keeps what the frame is for the received code's display.
void receiveFrameCallback(const KRVXReceivedFrame *frame, void *userData) noexcept;

/// What a Pronto code is, "NEC1 D=4 S=251 F=8  (nec 0x0408)"; "Unknown protocol" for a
/// valid code no protocol fits; "" for text that is not a valid code.
QString codeMeaning(const QString &prontoText);

/// What the received code `code` is when its frame was described; "" when it was not
/// (a device that decodes codes itself, or a library without frame callbacks).
QString receivedMeaning(const QString &code);

}  // namespace vintrel::app
