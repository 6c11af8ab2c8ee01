#include "vintrel/platform/error_report.h"

#include "vintrel/platform/message_box.h"

namespace vintrel::platform {

QString runtimeErrorText(const RuntimeError &error) {
    return QStringLiteral("Run-time error '%1':\n\n%2")
        .arg(error.number())
        .arg(QString::fromStdString(error.description()));
}

void reportRuntimeError(const RuntimeError &error) {
    messageBox(runtimeErrorText(error), QStringLiteral("vintrel"));
}

}  // namespace vintrel::platform
