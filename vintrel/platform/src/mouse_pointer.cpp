// SPDX-License-Identifier: MIT
#include "vintrel/platform/mouse_pointer.h"

#include <QCursor>
#include <QGuiApplication>

namespace vintrel::platform {

void setMousePointer(MousePointer pointer) {
    if (pointer == MousePointer::Hourglass) {
        if (QGuiApplication::overrideCursor() == nullptr) {
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        } else {
            QGuiApplication::changeOverrideCursor(QCursor(Qt::WaitCursor));
        }
        return;
    }
    while (QGuiApplication::overrideCursor() != nullptr) {
        QGuiApplication::restoreOverrideCursor();
    }
}

MousePointer mousePointer() {
    const QCursor *cursor = QGuiApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor ? MousePointer::Hourglass
                                                                  : MousePointer::Default;
}

}  // namespace vintrel::platform
