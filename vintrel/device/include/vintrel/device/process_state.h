// SPDX-License-Identifier: MIT
// vintrel's process-wide state, kept in one place: one instance for the whole process,
// at a fixed address, reachable from every layer above the platform (device/, learn/,
// app/) through processState().
//
// Threads: every member is read and written on the user-interface thread only, except
//   hookBuffer, learnAbort, hookAbort  shared with the driver's threads (see below);
//   hiddenWnd                          read by the driver callbacks on the driver's threads;
//   lastFrame                          written by the frame callback on a driver thread.
// The abort words are plain aligned int32_t whose addresses are handed to the driver;
// vintrel writes them with storeAbortWord() (release) and the driver reads them with
// acquire loads. Text written into hookBuffer before a release store is complete when
// the driver sees the store.
#pragma once

#include <QString>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "vintrel/device/driver.h"
#include "vintrel/platform/window_system.h"

class QWidget;

namespace vintrel {

/// What the message window's handlers and the learn parts reach through mainForm.
/// Implemented by the main window; every function runs on the user-interface thread.
class MainForm {
  public:
    virtual QWidget *widget() = 0;
    /// Another application began a learn (shown unless a learn is already shown).
    virtual void beginLearn() = 0;
    /// Leaves any learn state; does nothing when no learn is shown.
    virtual void endLearn() = 0;
    /// The 16 bytes of a code the device received.
    virtual void onReceivedCode(const platform::MessagePayload &code) = 0;
    /// A packed progress report (quality * 256 + progress) and the carrier in Hz.
    virtual void onLearnProgress(std::uintptr_t wParam, std::intptr_t lParam) = 0;

    virtual ~MainForm() = default;
};

inline constexpr std::size_t kHookBufferSize = KRVX_LEARN_BUFFER_SIZE;  // 2049: 0..2048

/// A received frame as text: its 12-character code and what it is ("" when unknown).
struct ReceivedFrameText {
    QString code;
    QString decode;
};

struct ProcessState {
    /// The one main window; nullptr before start-up created it.
    MainForm *mainForm = nullptr;
    /// 0 = no device opened yet; -1 = the open failed; else the open device. Never reset.
    std::int32_t deviceHandle = 0;
    /// The current IR code and its driver format (16 = FMT_PRONTO).
    QString curCode;
    std::int32_t curCodeFormat = 0;
    /// The buffer every learn call shares with the driver.
    alignas(16) std::array<char, kHookBufferSize> hookBuffer{};
    /// Abort word of the own learn and the unhook call: 0 run, -1 stop.
    alignas(4) std::int32_t learnAbort = 0;
    /// Abort word of the hook: 0 none, -1 accept burst, -2 inject.
    alignas(4) std::int32_t hookAbort = 0;
    /// Format of the learn on show: 16 own learn, -1 observed learn, 0 before any.
    std::int32_t learnMode = 0;
    /// A learn is shown.
    bool inLearn = false;
    /// The hidden message window; 0 until created. Written once on the UI thread.
    std::atomic<platform::Hwnd> hiddenWnd{0};
    /// What the last received frame is (its code and decode), from the driver's frame
    /// callback, which runs before the receive callback of the same frame: the received
    /// code's display reads it when that code arrives. Null until a frame came.
    std::atomic<std::shared_ptr<const ReceivedFrameText>> lastFrame;
    /// The hidden window's own procedure, kept while the relay's is installed.
    platform::WindowProc prevWndProc = nullptr;
    /// The loaded windows in load order; the main window is first. A window adds itself
    /// when it is created and leaves when it is destroyed.
    std::vector<QWidget *> loadedForms;
    /// The driver library.
    device::Driver driver;

    /// Back to the values at process start; the driver library stays loaded. For tests
    /// that run start-up more than once in one process.
    void reset();
};

/// The one instance.
ProcessState &processState() noexcept;

static_assert(std::atomic_ref<std::int32_t>::required_alignment <= alignof(std::int32_t));

/// Stores an abort word the driver reads (release ordering). Any thread.
inline void storeAbortWord(std::int32_t &word, std::int32_t value) noexcept {
    std::atomic_ref<std::int32_t>(word).store(value, std::memory_order_release);
}

/// Reads an abort word the driver may write (acquire ordering). Any thread.
inline std::int32_t loadAbortWord(std::int32_t &word) noexcept {
    return std::atomic_ref<std::int32_t>(word).load(std::memory_order_acquire);
}

}  // namespace vintrel
