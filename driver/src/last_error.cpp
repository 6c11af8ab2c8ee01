// SPDX-License-Identifier: MIT
#include "last_error.h"

#include <cerrno>
#include <string>

namespace krvxdrv {

namespace {

struct LastFailure {
    int32_t code = 0;
    std::string why;
    bool noted = false;  ///< noted for the call that has not reported it yet
};

thread_local LastFailure t_last;

}  // namespace

void note_failure(const wire::Outcome &outcome) {
    t_last.code = wire::to_int(outcome.status);
    t_last.why = outcome.why;
    t_last.noted = !outcome.why.empty();
}

int32_t fail(int32_t code) {
    if (!t_last.noted || t_last.code != code) {
        t_last.code = code;
        t_last.why.clear();
    }
    t_last.noted = false;
    errno = code;
    return 0;
}

const char *failure_text(int32_t code) {
    if (t_last.code != code || t_last.why.empty())
        return nullptr;
    return t_last.why.c_str();
}

}  // namespace krvxdrv
