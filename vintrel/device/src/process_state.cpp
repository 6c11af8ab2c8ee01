// SPDX-License-Identifier: MIT
#include "vintrel/device/process_state.h"

namespace vintrel {

void ProcessState::reset() {
    mainForm = nullptr;
    deviceHandle = 0;
    curCode.clear();
    curCodeFormat = 0;
    hookBuffer.fill('\0');
    storeAbortWord(learnAbort, 0);
    storeAbortWord(hookAbort, 0);
    learnMode = 0;
    inLearn = false;
    hiddenWnd.store(0, std::memory_order_release);
    lastFrame.store(nullptr);
    prevWndProc = nullptr;
    loadedForms.clear();
}

ProcessState &processState() noexcept {
    static ProcessState state;
    return state;
}

}  // namespace vintrel
