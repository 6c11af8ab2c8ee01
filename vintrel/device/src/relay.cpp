// SPDX-License-Identifier: MIT
#include "vintrel/device/relay.h"

#include <krvxdrv.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "vintrel/device/process_state.h"
#include "vintrel/platform/runtime_error.h"

namespace vintrel::device {

namespace {

platform::Hwnd target() noexcept {
    return processState().hiddenWnd.load(std::memory_order_acquire);
}

platform::WindowSystem *windows() noexcept {
    return platform::WindowSystem::current();
}

}  // namespace

std::uintptr_t packProgress(std::int32_t progress, std::int32_t sigQuality) noexcept {
    // Unsigned arithmetic wraps where signed arithmetic would overflow.
    const std::uint32_t sum =
        static_cast<std::uint32_t>(sigQuality) * 256u + static_cast<std::uint32_t>(progress);
    return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(static_cast<std::int32_t>(sum)));
}

ProgressReport unpackProgress(std::uintptr_t wParam) noexcept {
    const auto packed = static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam));
    const std::int32_t progress = packed % 256;  // C++ remainder takes the dividend's sign
    const std::int32_t quality =
        std::clamp<std::int32_t>(packed / 256, std::numeric_limits<std::int16_t>::min(),
                                 std::numeric_limits<std::int16_t>::max());
    return {static_cast<std::int16_t>(progress), static_cast<std::int16_t>(quality)};
}

void learnCallback(std::int32_t progress, std::int32_t sigQuality, std::int32_t carrierHz,
                   void * /*userData*/) noexcept {
    if (progress == LEARN_PROGRESS_BEGIN) {
        platform::postMessage(target(), WM_LEARNBEGIN, 0, 0);
    } else if (progress == LEARN_PROGRESS_END) {
        platform::postMessage(target(), WM_LEARNEND, 0, 0);
    } else {
        const std::int32_t reported = progress < 0 ? LEARN_PROGRESS_DONE : progress;
        platform::postMessage(target(), WM_LEARNPROGRESS, packProgress(reported, sigQuality),
                              carrierHz);
    }
}

void receiveCallback(const char *codeText, void * /*userData*/) noexcept {
    // The driver vouches for its text only while this runs: the bytes travel in the message.
    platform::MessagePayload code{};
    if (codeText != nullptr) {
        std::memcpy(code.data(), codeText, code.size());
    }
    platform::postMessage(target(), WM_RXCODE, 0, 0, &code);
}

std::intptr_t hiddenWndProc(const platform::WindowMessage &message) {
    ProcessState &state = processState();
    MainForm *form = state.mainForm;
    switch (message.message) {
        case WM_RXCODE:
            if (form != nullptr) {
                form->onReceivedCode(message.payload);
            }
            return platform::defWindowProc(message);
        case WM_LEARNPROGRESS:
            if (form != nullptr) {
                form->onLearnProgress(message.wParam, message.lParam);
            }
            return platform::defWindowProc(message);
        case WM_LEARNBEGIN:
            if (form != nullptr && !state.inLearn) {
                form->beginLearn();
            }
            return platform::defWindowProc(message);
        case WM_LEARNEND:
            if (form != nullptr) {
                form->endLearn();
            }
            return platform::defWindowProc(message);
        default:
            return platform::callWindowProc(state.prevWndProc, message);
    }
}

void subclassWindow(platform::Hwnd window) {
    ProcessState &state = processState();
    state.prevWndProc = nullptr;
    platform::WindowSystem *system = windows();
    const platform::WindowProc previous = system != nullptr ? system->windowProc(window) : nullptr;
    if (previous == nullptr) {
        throw platform::RuntimeError(platform::kErrNoDefaultWndProc,
                                     "Unable to get default window proc handle", "");
    }
    system->setWindowProc(window, &hiddenWndProc);
    state.prevWndProc = previous;
}

void unsubclassWindow(platform::Hwnd window) {
    const platform::WindowProc previous = processState().prevWndProc;
    platform::WindowSystem *system = windows();
    if (previous != nullptr && system != nullptr) {
        system->setWindowProc(window, previous);
    }
}

void closeWindow(platform::Hwnd window) {
    platform::postMessage(window, platform::WM_CLOSE, 0, 0);
}

}  // namespace vintrel::device
