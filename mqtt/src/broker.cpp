// SPDX-License-Identifier: MIT
#include "broker.h"

#include <fmt/format.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "command.h"

namespace krvx::mqtt {

namespace {
constexpr int kQos = 1;
constexpr int kKeepaliveS = 30;
constexpr char kOffline[] = "offline";
}  // namespace

Broker::Broker(const Options &options, std::string status_topic, Events events)
    : options_(options), status_topic_(std::move(status_topic)), events_(std::move(events)) {
    const std::string client_id = "krvx-mqtt-" + options_.node;
    mosq_ = mosquitto_new(client_id.c_str(), true, this);
}

Broker::~Broker() {
    stop();
    if (mosq_)
        mosquitto_destroy(mosq_);
}

bool Broker::start(std::string &why) {
    if (!mosq_) {
        why = "cannot create an MQTT client (out of memory)";
        return false;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION,
                         options_.mqtt_version == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // Small messages that answer others: Nagle's algorithm would hold each one back until
    // the peer's delayed acknowledgement (tens of milliseconds).
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq_, on_connect);
    mosquitto_disconnect_callback_set(mosq_, on_disconnect);
    mosquitto_message_callback_set(mosq_, on_message);
    mosquitto_log_callback_set(mosq_, on_log);
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    int rc =
        mosquitto_will_set(mosq_, status_topic_.c_str(), sizeof kOffline - 1, kOffline, kQos, true);
    if (rc == MOSQ_ERR_SUCCESS && !options_.user.empty())
        rc = mosquitto_username_pw_set(
            mosq_, options_.user.c_str(),
            options_.password.empty() ? nullptr : options_.password.c_str());
    if (rc == MOSQ_ERR_SUCCESS && options_.broker.tls)
        rc = mosquitto_tls_set(mosq_, options_.ca_file.empty() ? nullptr : options_.ca_file.c_str(),
                               options_.ca_file.empty() ? "/etc/ssl/certs" : nullptr, nullptr,
                               nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        why = fmt::format("MQTT settings refused: {}", mosquitto_strerror(rc));
        return false;
    }
    // A broker that is not up yet is no error: the loop below retries with backoff.
    mosquitto_connect_async(mosq_, options_.broker.host.c_str(), options_.broker.port, kKeepaliveS);
    rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) {
        why = fmt::format("cannot start the MQTT loop: {}", mosquitto_strerror(rc));
        return false;
    }
    loop_running_ = true;
    return true;
}

void Broker::stop() {
    if (!loop_running_)
        return;
    loop_running_ = false;
    int mid = 0;
    // A clean disconnect does not send the will: say offline ourselves, and give the
    // broker a moment to take it before the connection closes.
    if (mosquitto_publish(mosq_, &mid, status_topic_.c_str(), sizeof kOffline - 1, kOffline, kQos,
                          true) == MOSQ_ERR_SUCCESS)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
}

int Broker::publish(const std::string &topic, const std::string &payload, bool retain) {
    int mid = 0;
    const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), kQos, retain);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

bool Broker::subscribe(const std::string &topic) {
    return mosquitto_subscribe(mosq_, nullptr, topic.c_str(), kQos) == MOSQ_ERR_SUCCESS;
}

void Broker::on_connect(mosquitto *, void *self, int rc) {
    auto *b = static_cast<Broker *>(self);
    if (rc == 0) {
        b->connected_.store(true);
        b->events_.connected();
        return;
    }
    // MQTT 5 answers with a reason code, 3.1.1 with a CONNACK return code.
    const char *why =
        b->options_.mqtt_version == 5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc);
    b->events_.disconnected(fmt::format("the broker refused the connection: {}", why));
}

void Broker::on_disconnect(mosquitto *, void *self, int rc) {
    auto *b = static_cast<Broker *>(self);
    b->connected_.store(false);
    std::string error;
    {
        std::lock_guard lock(b->error_mutex_);
        error.swap(b->last_error_);
    }
    if (rc == 0) {
        b->events_.disconnected("disconnected");
        return;
    }
    b->events_.disconnected(fmt::format("connection lost: {}{}", mosquitto_strerror(rc),
                                        error.empty() ? "" : " (" + error + ")"));
}

void Broker::on_log(mosquitto *, void *self, int level, const char *text) {
    // Errors only: they name what failed (OpenSSL's reason), never a credential.
    if (level != MOSQ_LOG_ERR || text == nullptr)
        return;
    auto *b = static_cast<Broker *>(self);
    std::string error(text, strnlen(text, 300));
    // A connection that fails before the broker answers (its certificate does not verify)
    // has no callback of its own: the error says why.
    if (!b->connected_.load()) {
        b->events_.disconnected("cannot connect: " + error);
        return;
    }
    std::lock_guard lock(b->error_mutex_);
    b->last_error_ = std::move(error);
}

void Broker::on_message(mosquitto *, void *self, const mosquitto_message *m) {
    // Longer payloads are refused by their length: one byte past the bound says so,
    // without copying the rest.
    const auto length = std::min<std::size_t>(static_cast<std::size_t>(std::max(m->payloadlen, 0)),
                                              kMaxPayloadBytes + 1);
    static_cast<Broker *>(self)->events_.message(
        m->topic, std::string(static_cast<const char *>(m->payload), length));
}

}  // namespace krvx::mqtt
