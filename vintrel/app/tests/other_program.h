// SPDX-License-Identifier: MIT
// Another program that learns through the same driver library, in the test's own process: a
// handle of its own (two handles behave like two applications), its learns' memory kept at
// fixed addresses until the test ends, their reports recorded from the library's thread.
//
// Threads: calls on the test's main thread (vintrel's user-interface thread); the learn
// callback on the library's thread only stores into atomics.
#pragma once

#include <krvxdrv.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vintrel/device/process_state.h"
#include "vintrel/platform/last_error.h"

namespace vintrel::test::e2e {

class OtherProgram {
  public:
    struct Learn {
        char buffer[KRVX_LEARN_BUFFER_SIZE] = {};
        alignas(4) std::int32_t abortWord = 0;
        std::atomic<std::int32_t> result{0};  // DONE or a LEARN_FAIL_*, once ended
        std::atomic<bool> ended{false};
        std::atomic<int> reports{0};

        static void callback(std::int32_t progress, std::int32_t, std::int32_t, void *user) {
            auto *self = static_cast<Learn *>(user);
            ++self->reports;
            if (progress == LEARN_PROGRESS_DONE || progress < 0) {
                self->result = progress;
                self->ended = true;
            }
        }
        std::string code() const { return ended ? std::string(buffer) : std::string(); }
    };

    OtherProgram() : handle_(driver().open()) {}
    ~OtherProgram() {
        if (handle_ > 0) {
            driver().close(handle_);
        }
    }
    OtherProgram(const OtherProgram &) = delete;
    OtherProgram &operator=(const OtherProgram &) = delete;

    bool opened() const { return handle_ > 0; }

    /// Starts a learn with fresh memory; returns the errno the call left (997 when it runs).
    std::uint32_t learn() {
        learns_.push_back(std::make_unique<Learn>());
        Learn &l = *learns_.back();
        platform::setLastError(0);
        driver().learnIR(handle_, FMT_PRONTO, l.buffer, &Learn::callback, &l, &l.abortWord, 0, -1,
                         0);
        return platform::lastError();
    }
    /// The latest learn (learn() was called at least once).
    Learn &current() { return *learns_.back(); }

    /// Gives up its learn the way a program does that quits learning: a later call on its
    /// handle ends it, without a code.
    void giveUp() {
        char command[sizeof UNHOOK_COMMAND];
        std::memcpy(command, UNHOOK_COMMAND, sizeof command);
        driver().learnIR(handle_, FMT_UNHOOK, command, nullptr, nullptr, &unhookWord_, 0, -1, 0);
    }

  private:
    static device::Driver &driver() { return processState().driver; }

    std::int32_t handle_;
    alignas(4) std::int32_t unhookWord_ = 0;
    std::vector<std::unique_ptr<Learn>> learns_;
};

}  // namespace vintrel::test::e2e
