// SPDX-License-Identifier: MIT
// The bridge's connection to the MQTT broker, on libmosquitto's threaded loop: connects
// (MQTT 3.1.1 or 5, TLS with a CA file, user and password), leaves `offline` retained on the
// status topic as its last will, and reconnects with backoff (1 s doubling to 30 s) for as
// long as it runs. QoS 1 throughout: a message handed over while connected is delivered at
// least once, libmosquitto resending it after a reconnect.
//
// A connection that fails says why: the broker's refusal, or the error libmosquitto logged
// for it (a certificate that does not verify, a TLS handshake that fails).
//
// Threads: the Events run on libmosquitto's network thread and must only hand their data
// over (the bridge posts it to its own thread). publish() and subscribe() may be called
// from any thread. start() and stop() from the owner's thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "options.h"

struct mosquitto;
struct mosquitto_message;

namespace krvx::mqtt {

class Broker {
  public:
    struct Events {
        std::function<void()> connected;
        std::function<void(std::string why)> disconnected;
        std::function<void(std::string topic, std::string payload)> message;
    };

    Broker(const Options &options, std::string status_topic, Events events);
    ~Broker();
    Broker(const Broker &) = delete;
    Broker &operator=(const Broker &) = delete;

    /// Starts connecting. False with `why` for a setting libmosquitto refuses (a bad CA
    /// file); an unreachable broker is not an error: the loop keeps trying.
    bool start(std::string &why);
    /// Publishes `offline` (retained) on the status topic, disconnects and ends the loop.
    void stop();

    /// Hands a QoS 1 message to libmosquitto. The message id (> 0), or -1 when it was not
    /// taken (not connected).
    int publish(const std::string &topic, const std::string &payload, bool retain);
    bool subscribe(const std::string &topic);

  private:
    static void on_connect(mosquitto *, void *self, int rc);
    static void on_disconnect(mosquitto *, void *self, int rc);
    static void on_message(mosquitto *, void *self, const mosquitto_message *m);
    static void on_log(mosquitto *, void *self, int level, const char *text);

    const Options &options_;
    std::string status_topic_;
    Events events_;
    mosquitto *mosq_ = nullptr;
    bool loop_running_ = false;
    std::atomic<bool> connected_{false};  // set and cleared on the network thread
    // The last error libmosquitto logged; its log callback runs on any thread.
    std::mutex error_mutex_;
    std::string last_error_;  // guarded by error_mutex_
};

}  // namespace krvx::mqtt
