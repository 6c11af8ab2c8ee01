// SPDX-License-Identifier: MIT
#include "vintrel/platform/error_report.h"

#include "vintrel/platform/message_box.h"

#include <cstdio>

namespace vintrel::platform {

QString runtimeErrorText(const RuntimeError &error) {
    return QStringLiteral("Run-time error '%1':\n\n%2")
        .arg(error.number())
        .arg(QString::fromStdString(error.description()));
}

void reportRuntimeError(const RuntimeError &error) {
    messageBox(runtimeErrorText(error), QStringLiteral("vintrel"));
}

void tellStandardError(const std::string &line) {
    std::fprintf(stderr, "vintrel: %s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace vintrel::platform
