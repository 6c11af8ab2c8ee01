// SPDX-License-Identifier: MIT
// What the learn and hook tests share: a learn's memory as an application keeps it, a log
// of the reports its callback got, a hooked handle, and krvx press as the virtual remote.
//
// Threads: the callbacks run on the library's threads and only lock and append; everything
// else on the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "../../ir/tests/pronto_codes.h"
#include "krvxdrv.h"
#include "service_process.h"

namespace learn_support {

using test_codes::kInjected;
using test_codes::kNec;
using testing_support::eventually;

/// A learn's memory: fixed addresses, an aligned abort word the application stores with
/// release ordering.
struct LearnMemory {
    char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) int32_t abort_word = 0;
    LearnMemory() { std::memset(buffer, 'Q', sizeof buffer); }
    int32_t abort_value() { return std::atomic_ref<int32_t>(abort_word).load(); }
    void set_abort(int32_t v) { std::atomic_ref<int32_t>(abort_word).store(v); }
};

/// One report as the callback got it, with the abort word's value at that moment.
struct Report {
    int32_t progress, quality, carrier, word;
};

/// The reports of one learn (or hook), from the library's thread.
struct LearnLog {
    std::mutex mutex;
    std::vector<Report> reports;
    int32_t *word = nullptr;  ///< the abort word read at each report; may stay null
    std::atomic<bool> ended{false};

    static void callback(int32_t progress, int32_t quality, int32_t carrier, void *user) {
        auto *self = static_cast<LearnLog *>(user);
        EXPECT_GE(quality, 0);
        EXPECT_LE(quality, 100);
        const int32_t word =
            self->word ? std::atomic_ref<int32_t>(*self->word).load(std::memory_order_acquire) : 0;
        std::lock_guard lock(self->mutex);
        self->reports.push_back({progress, quality, carrier, word});
        if (progress == LEARN_PROGRESS_DONE || progress < 0)
            self->ended = true;
    }
    std::vector<Report> snapshot() {
        std::lock_guard lock(mutex);
        return reports;
    }
    std::vector<int32_t> progress() {
        std::vector<int32_t> p;
        for (const Report &r : snapshot())
            p.push_back(r.progress);
        return p;
    }
    bool saw(int32_t progress_value) {
        for (const Report &r : snapshot())
            if (r.progress == progress_value)
                return true;
        return false;
    }
    std::size_t count(int32_t progress_value) {
        std::size_t n = 0;
        for (const Report &r : snapshot())
            n += r.progress == progress_value ? 1 : 0;
        return n;
    }
};

/// Handles opened by a test, closed when it goes, also after a failed assertion. Declare it
/// after the memory its learns and hooks use, so that it is closed before that memory goes.
class Handles {
  public:
    Handles() = default;
    Handles(const Handles &) = delete;
    Handles &operator=(const Handles &) = delete;
    ~Handles() {
        for (int h : open_)
            KRVXClose(h);
    }
    int open() {
        const int h = KRVXOpen();
        if (h > 0)
            open_.push_back(h);
        return h;
    }

  private:
    std::vector<int> open_;
};

/// krvx press: the virtual remote holds `code` in front of the device for hold_ms.
inline int press(const std::string &socket, const char *code, const char *hold_ms) {
    return testing_support::run_program(
        {KRVX_PATH, "--socket", socket, "press", code, "--hold", hold_ms});
}

/// An own learn on handle h; returns the errno the call left (997 when it runs).
inline int32_t start_learn(int h, LearnMemory &mem, LearnLog &log, int32_t timeout_ms = 0) {
    errno = 0;
    KRVXLearnIR(h, FMT_PRONTO, mem.buffer, LearnLog::callback, &log, &mem.abort_word, timeout_ms,
                -1, 0);
    return errno;
}

/// A hooked handle with its buffer and abort word, as vintrel keeps them.
struct Hook {
    int handle = 0;
    LearnMemory mem;
    LearnLog log;
    Hook() { log.word = &mem.abort_word; }
    bool hook() {
        std::memcpy(mem.buffer, HOOK_COMMAND, sizeof HOOK_COMMAND);
        errno = -1;
        const int ok = KRVXLearnIR(handle, FMT_PRONTO, mem.buffer, LearnLog::callback, &log,
                                   &mem.abort_word, 0, -1, 0);
        return ok != 0 && errno == 0;
    }
    bool saw(int32_t value) { return log.saw(value); }
    // Writes `code` into the hook's buffer (before the learn it answers begins, so that no
    // END can be written into the buffer at the same time), waits for BEGIN and answers -2.
    void prepare(const char *code) { std::strcpy(mem.buffer, code); }
    void inject_on_begin() {
        ASSERT_TRUE(eventually([&] { return saw(LEARN_PROGRESS_BEGIN); }));
        mem.set_abort(-2);
    }
};

/// The shape of most hook tests: a private service, a hooked handle and a learner whose
/// learn the hook observes. Its handles close before its memory goes.
struct HookedLearn {
    testing_support::ServiceProcess service{{"--time-scale", "0"}};
    Hook hook;
    LearnMemory learner_mem;
    LearnLog learner_log;
    Handles handles;
    int learner = 0;
    /// Opens both handles, registers the hook and starts the learner's learn; true once the
    /// hook saw it begin.
    bool begin() {
        if (!service.ready())
            return false;
        hook.handle = handles.open();
        learner = handles.open();
        return hook.handle > 0 && learner > 0 && hook.hook() &&
               start_learn(learner, learner_mem, learner_log) == ERROR_IO_PENDING &&
               eventually([&] { return hook.saw(LEARN_PROGRESS_BEGIN); });
    }
};

}  // namespace learn_support
