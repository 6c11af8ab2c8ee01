// SPDX-License-Identifier: MIT
#include "vintrel/platform/message_box.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <utility>

namespace vintrel::platform {

namespace {
// Tests' observer; empty in the shipped program.
MessageBoxObserver &observerSlot() {
    static MessageBoxObserver observer;
    return observer;
}
}  // namespace

MessageBoxObserver setMessageBoxObserver(MessageBoxObserver observer) {
    return std::exchange(observerSlot(), std::move(observer));
}

void messageBox(const QString &text, const QString &title, QWidget *owner) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.setEscapeButton(QMessageBox::Ok);
    if (const MessageBoxObserver &observer = observerSlot()) {
        // Runs once the box's own event loop is up, i.e. while it is shown.
        QTimer::singleShot(0, &box, [&box, observer] {
            ShownMessageBox shown;
            shown.title = box.windowTitle();
            shown.text = box.text();
            shown.hasIcon = box.icon() != QMessageBox::NoIcon;
            shown.buttonCount = static_cast<int>(box.buttons().size());
            shown.okButton = box.button(QMessageBox::Ok) != nullptr;
            shown.applicationModal =
                box.isVisible() && box.windowModality() == Qt::ApplicationModal;
            observer(shown);
            box.done(QMessageBox::Ok);
        });
    }
    box.exec();
}

}  // namespace vintrel::platform
