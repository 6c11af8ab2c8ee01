#include "error_report.h"

#include "vintrel/platform/message_box.h"

namespace vintrel::app {

QString runtimeErrorText(const platform::RuntimeError &error) {
    return QStringLiteral("Run-time error '%1':\n\n%2")
        .arg(error.number())
        .arg(QString::fromStdString(error.description()));
}

void reportRuntimeError(const platform::RuntimeError &error) {
    platform::messageBox(runtimeErrorText(error), QStringLiteral("vintrel"));
}

}  // namespace vintrel::app
