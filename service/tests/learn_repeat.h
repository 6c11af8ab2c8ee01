// SPDX-License-Identifier: MIT
// Learning one button again and again: the codes of the repeatability runs and a rig that
// presses a code in front of a private krvxd (simulated device) and learns it through
// libkrvxdrv, or sends a learned code back through the loopback and learns that.
// Shared by bench_learn_repeat (the full table) and learn_repeat_test (a short run).
//
// Threads: a LearnRig is used from one thread; the learn callback runs on the library's
// thread and only touches the rig's Done under its mutex.
#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../../driver/tests/service_process.h"
#include "../../tools/krvx/press.h"
#include "krvxdrv.h"
#include "learn_codes.h"

namespace learn_repeat {

/// How one learn ended.
struct Learned {
    int32_t result = 0;  ///< LEARN_PROGRESS_DONE or a LEARN_FAIL_* value
    int32_t quality = 0;
    std::string code;
};

/// A private krvxd (simulated device, instant air, loopback) and one handle on it.
class LearnRig {
  public:
    LearnRig() : service_({"--time-scale", "0", "--loopback", "--learn-timeout", "1"}) {
        if (service_.ready())
            handle_ = KRVXOpen();
    }
    ~LearnRig() {
        if (handle_ > 0)
            KRVXClose(handle_);
    }
    LearnRig(const LearnRig &) = delete;
    LearnRig &operator=(const LearnRig &) = delete;

    bool ready() const { return handle_ > 0; }
    const std::string &socket() const { return service_.socket(); }

    /// Learns while the virtual remote holds `pronto` for hold_ms at `quality`.
    std::optional<Learned> learn_press(const std::string &pronto, uint8_t quality,
                                       uint32_t hold_ms = 1000) {
        return learn(
            [&] { return krvx::press(service_.socket(), pronto, hold_ms, quality).status == 0; });
    }

    /// Learns what the device itself sends of `pronto` (loopback), as `krvx send` sends it.
    std::optional<Learned> learn_send(const std::string &pronto, int repeat = 10) {
        return learn([&] {
            return KRVXTransmitIR(handle_, pronto.c_str(), FMT_PRONTO, repeat, 0, nullptr, nullptr,
                                  nullptr) != 0;
        });
    }

    /// Learns while `act` puts IR on the air; nullopt when the learn or `act` failed to start.
    template <class Act>
    std::optional<Learned> learn(Act act) {
        {
            std::lock_guard lock(done_.mutex);
            done_.ended = false;
            done_.result = done_.quality = 0;
        }
        std::memset(buffer_, 0, sizeof buffer_);
        abort_word_ = 0;
        errno = 0;
        KRVXLearnIR(handle_, FMT_PRONTO, buffer_, &LearnRig::callback, &done_, &abort_word_, 0, -1,
                    0);
        if (errno != ERROR_IO_PENDING || !act())
            return std::nullopt;
        std::unique_lock lock(done_.mutex);
        if (!done_.cv.wait_for(lock, std::chrono::seconds(10), [&] { return done_.ended; }))
            return std::nullopt;
        return Learned{done_.result, done_.quality,
                       done_.result == LEARN_PROGRESS_DONE ? std::string(buffer_) : ""};
    }

  private:
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool ended = false;
        int32_t result = 0;
        int32_t quality = 0;
    };

    static void callback(int32_t progress, int32_t quality, int32_t, void *user) {
        auto *d = static_cast<Done *>(user);
        std::lock_guard lock(d->mutex);
        if (progress >= 0 && progress <= 100) {
            d->quality = quality;
            return;
        }
        if (progress == LEARN_PROGRESS_DONE || progress < 0) {
            d->ended = true;
            d->result = progress;
            d->cv.notify_all();
        }
    }

    testing_support::ServiceProcess service_;
    int32_t handle_ = -1;
    Done done_;
    char buffer_[KRVX_LEARN_BUFFER_SIZE]{};
    alignas(4) int32_t abort_word_ = 0;
};

/// Figures of n learns of one code at one press quality.
struct RepeatFigures {
    int learns = 0;
    int done = 0;           ///< learns that gave a code
    int identical = 0;      ///< learns that gave the most frequent code
    int as_pressed = 0;     ///< learns that gave exactly the pressed text
    int decodes_same = 0;   ///< learned code decodes as the pressed code (protocol codes)
    double mean_error = 0;  ///< mean timing error of the learns of the pressed shape
    int shaped = 0;         ///< learns of the pressed shape
    double mean_quality = 0;
};

inline RepeatFigures run_repeats(LearnRig &rig, const RepeatCode &code, uint8_t quality, int n) {
    RepeatFigures f;
    std::map<std::string, int> seen;
    const std::string want_decode = code.protocol.empty() ? "" : decode_text(code.pronto);
    double error_sum = 0, quality_sum = 0;
    for (int i = 0; i < n; ++i) {
        ++f.learns;
        const auto l = rig.learn_press(code.pronto, quality);
        if (!l || l->result != LEARN_PROGRESS_DONE)
            continue;
        ++f.done;
        quality_sum += l->quality;
        ++seen[l->code];
        f.as_pressed += l->code == code.pronto;
        if (!want_decode.empty() && decode_text(l->code) == want_decode)
            ++f.decodes_same;
        if (const auto e = timing_error(l->code, code.pronto)) {
            ++f.shaped;
            error_sum += *e;
        }
    }
    for (const auto &[text, count] : seen)
        f.identical = std::max(f.identical, count);
    f.mean_error = f.shaped ? error_sum / f.shaped : 0;
    f.mean_quality = f.done ? quality_sum / f.done : 0;
    return f;
}

}  // namespace learn_repeat
