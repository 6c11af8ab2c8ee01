// SPDX-License-Identifier: MIT
// The bridge between one krvxd and the broker. One thread of its own does everything:
// it keeps the device open (retrying with backoff while krvxd is away, checking it every
// 2 s), publishes received codes, carries out send and learn commands, and keeps the
// outbox of received codes while the broker is away. The library's and libmosquitto's
// threads only post events to it.
//
// Topics (PREFIX/NODE/...): status (online/offline, retained, offline as the last will),
// device (retained JSON), received, send -> send/result, learn -> learn/progress and
// learn/result (a learn may save its code as a key of a file of the code folder, which
// then becomes a button); Home Assistant discovery configs under HA_PREFIX.
//
// Threads: construct, run() and stop() on one thread; stop() may also be called from any
// other thread (it only posts).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

#include "broker.h"
#include "codes.h"
#include "command.h"
#include "krvxdrv.h"
#include "messages.h"
#include "options.h"
#include "outbox.h"

namespace krvx::mqtt {

class Bridge {
  public:
    explicit Bridge(Options options);
    ~Bridge();
    Bridge(const Bridge &) = delete;
    Bridge &operator=(const Bridge &) = delete;

    /// Runs until stop(); returns the exit status (1 when the broker settings are refused).
    int run();
    void stop();

  private:
    struct BrokerUp {};
    struct BrokerDown {
        std::string why;
    };
    struct Incoming {
        std::string topic, payload;
    };
    struct LearnReport {
        int32_t progress, quality, carrier_hz;
    };
    struct Stop {};
    using Event = std::variant<BrokerUp, BrokerDown, Incoming, Received, LearnReport, Stop>;

    void post(Event e);
    void handle(BrokerUp);
    void handle(BrokerDown e);
    void handle(Incoming e);
    void handle(Received r);
    void handle(LearnReport e);
    void handle(Stop);

    void keep_device();
    /// Reads the code folder again when it changed; buttons follow its keys.
    void keep_codes();
    void publish_key_buttons();
    void device_lost(const std::string &why);
    void send(const std::string &payload);
    void learn(const std::string &payload);
    /// A command is taken: the device is there and the rate allows it; else why not.
    std::string admit();
    /// Publishes an event message now, or keeps it in the outbox while the broker is away.
    void publish_event(const std::string &topic, std::string payload);
    void flush_outbox();
    void publish_state();

    static void on_received(const char *code, void *self);
    static void on_frame(const KRVXReceivedFrame *frame, void *self);
    static void on_learn(int32_t progress, int32_t quality, int32_t carrier_hz, void *self);

    Options options_;
    Topics topics_;
    Broker broker_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;  // guarded by mutex_
    // Set by on_frame, taken by on_received of the same frame (both on the handle's thread,
    // frame first), so that a code reported with its frame is published once.
    std::atomic<bool> frame_posted_{false};

    // Bridge thread only from here on.
    bool running_ = true;
    bool broker_up_ = false;
    std::string broker_why_;  // the last reason logged for not being connected
    Outbox outbox_;
    uint64_t dropped_unreported_ = 0;
    RateLimit rate_;
    int32_t handle_ = -1;
    std::string device_why_ = "not connected yet";
    std::chrono::steady_clock::time_point next_device_try_{};
    std::chrono::milliseconds device_backoff_{500};
    std::chrono::steady_clock::time_point next_device_check_{};
    std::map<std::string, KeyRef> keys_;  // by button object id
    std::string codes_signature_;
    std::chrono::steady_clock::time_point next_codes_check_{};
    bool learning_ = false;
    std::string learn_id_ = "null";
    std::optional<KeyRef> learn_save_;  // where the learned code goes, in the code folder
    // The learn's buffer and abort word stay at these addresses while the library uses them.
    std::unique_ptr<std::array<char, KRVX_LEARN_BUFFER_SIZE>> learn_buffer_;
    alignas(4) int32_t learn_abort_ = 0;
};

}  // namespace krvx::mqtt
