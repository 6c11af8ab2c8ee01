// SPDX-License-Identifier: MIT
// Modal message boxes with one OK button and no icon: how vintrel reports what the user
// must see. Tests install an observer that sees each box while it is shown (title, text,
// icon, buttons, modality) and closes it, so no human is needed.
// Threads: the user-interface thread only.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace vintrel::platform {

/// The box as it stood on screen when the observer saw it.
struct ShownMessageBox {
    QString title;
    QString text;
    bool hasIcon = false;
    int buttonCount = 0;
    bool okButton = false;
    bool applicationModal = false;
};

/// Called once per box, while it is shown; the box is closed (OK) right after.
using MessageBoxObserver = std::function<void(const ShownMessageBox &box)>;

/// Installs the observer (an empty function removes it) and returns the previous one.
MessageBoxObserver setMessageBoxObserver(MessageBoxObserver observer);

/// Shows text in a modal box titled title, with one OK button and no icon, and returns
/// when it is closed. owner may be nullptr: the box is then centred on the screen.
/// text is shown as plain text, exactly as given.
void messageBox(const QString &text, const QString &title, QWidget *owner = nullptr);

}  // namespace vintrel::platform
