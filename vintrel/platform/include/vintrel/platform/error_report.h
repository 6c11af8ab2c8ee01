// SPDX-License-Identifier: MIT
// How a run-time error that no procedure traps is reported: a box titled "vintrel" with
// the error's number and description; and one line on standard error for whoever started
// the program (a terminal, a journal), where a box cannot say everything.
// Threads: the user-interface thread only.
#pragma once

#include <QString>

#include <string>

#include "vintrel/platform/runtime_error.h"

namespace vintrel::platform {

/// "Run-time error '453':" and the description on the next line.
QString runtimeErrorText(const RuntimeError &error);
/// Shows runtimeErrorText(error) in a box titled "vintrel".
void reportRuntimeError(const RuntimeError &error);
/// Writes "vintrel: ", line and a line break to standard error.
void tellStandardError(const std::string &line);

}  // namespace vintrel::platform
