// How a run-time error that no procedure traps is reported: a box titled "vintrel" with
// the error's number and description. Threads: the user-interface thread only.
#pragma once

#include <QString>

#include "vintrel/platform/runtime_error.h"

namespace vintrel::platform {

/// "Run-time error '453':" and the description on the next line.
QString runtimeErrorText(const RuntimeError &error);
/// Shows runtimeErrorText(error) in a box titled "vintrel".
void reportRuntimeError(const RuntimeError &error);

}  // namespace vintrel::platform
