#include "vintrel/device/relay.h"

#include <cstring>

#include "vintrel/device/process_state.h"

namespace vintrel::device {

namespace {
platform::Hwnd target() noexcept {
    return processState().hiddenWnd.load(std::memory_order_acquire);
}
}  // namespace

void learnCallback(std::int32_t /*progress*/, std::int32_t /*sigQuality*/,
                   std::int32_t /*carrierHz*/, void * /*userData*/) {
    // Posting the learn reports comes with the relay's window procedure.
}

void receiveCallback(const char *codeText, void * /*userData*/) {
    // The driver vouches for its text only while this runs: the bytes travel in the message.
    platform::MessagePayload code{};
    if (codeText != nullptr) {
        std::memcpy(code.data(), codeText, code.size());
    }
    platform::postMessage(target(), WM_RXCODE, 0, 0, &code);
}

void subclassWindow(platform::Hwnd /*window*/) {
    // Installing the relay's window procedure comes with the relay itself.
}

void unsubclassWindow(platform::Hwnd /*window*/) {
    // Restoring the window's own procedure comes with the relay itself.
}

void closeWindow(platform::Hwnd window) {
    platform::postMessage(window, platform::WM_CLOSE, 0, 0);
}

}  // namespace vintrel::device
