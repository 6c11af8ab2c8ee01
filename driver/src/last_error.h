// SPDX-License-Identifier: MIT
// The calling thread's last failure and the sentence that says why, for KRVXErrorText().
//
// A failing call notes its sentence (note_failure) where it knows more than the code; the
// exported function then fails with fail(), which keeps that sentence and forgets any
// older one. Thread-local: each thread reads only its own.
#pragma once

#include <cstdint>

#include "wire/status.h"

namespace krvxdrv {

/// Keeps `outcome.why` as the reason of the failure now being reported on this thread.
void note_failure(const wire::Outcome &outcome);

/// errno = code; returns 0, the failed result of the yes/no calls.
int32_t fail(int32_t code);

/// The sentence of this thread's last failure when it failed with `code`; null otherwise.
const char *failure_text(int32_t code);

}  // namespace krvxdrv
