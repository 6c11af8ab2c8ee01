// SPDX-License-Identifier: MIT
// What the bridge's integration tests run: a private Mosquitto broker on a free port of
// 127.0.0.1 with its own configuration and persistence folder (never the system's broker),
// child processes (krvxd, krvx-mqtt) stopped when their object goes, and an MQTT client
// that records every message it sees.
//
// Threads: create, use and destroy on the test's main thread; the client's messages arrive
// on libmosquitto's thread and are guarded by its mutex.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>

#include <condition_variable>
#include <fstream>
#include <mutex>

#include "service_process.h"

namespace mqtt_testing {

using testing_support::eventually;

/// A port of 127.0.0.1 that nobody listened on a moment ago.
inline int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

inline bool can_connect_tcp(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

/// A child process, ended (SIGTERM, then SIGKILL after 10 s) when the object goes.
class Process {
  public:
    Process() = default;
    explicit Process(std::vector<std::string> args, const std::string &log_file = "/dev/null") {
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 2, log_file.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0600);
        if (posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&files);
    }
    ~Process() { stop(SIGTERM); }
    Process(Process &&o) noexcept : pid_(std::exchange(o.pid_, -1)) {}
    Process &operator=(Process &&o) noexcept {
        stop(SIGTERM);
        pid_ = std::exchange(o.pid_, -1);
        return *this;
    }
    bool running() const { return pid_ > 0; }

    /// Sends `signo` and waits for the end. The exit status, or 128 + signal.
    int stop(int signo) {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, signo);
        int status = 0;
        if (!eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; },
                        std::chrono::seconds(10))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    pid_t pid_ = -1;
};

/// A folder of its own under /tmp, removed with the object.
class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/krvx-mqtt-test.XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

/// The first line of a child's standard error that is a sanitizer's report (AddressSanitizer,
/// LeakSanitizer, ThreadSanitizer, UndefinedBehaviorSanitizer); "" when there is none.
inline std::string sanitizer_report(const std::string &log_file) {
    std::ifstream in(log_file);
    for (std::string line; std::getline(in, line);)
        for (const char *mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                 "WARNING: ThreadSanitizer", "ERROR: ThreadSanitizer",
                                 "runtime error:", "UndefinedBehaviorSanitizer", "SUMMARY: "})
            if (line.find(mark) != std::string::npos)
                return line;
    return {};
}

/// A private broker. Persistence keeps the queued messages of persistent sessions across
/// a restart (restart()), as a real installation's broker would. `listeners` is more of
/// its configuration, each listener with its own settings (per_listener_settings).
class Broker {
  public:
    explicit Broker(const std::string &dir, std::string listeners = {})
        : dir_(dir), port_(free_port()), listeners_(std::move(listeners)) {
        write_config();
        start();
    }
    void write_config() const {
        std::ofstream conf(dir_ + "/mosquitto.conf");
        if (!listeners_.empty())
            conf << "per_listener_settings true\n";
        conf << "listener " << port_ << " 127.0.0.1\n"
             << "allow_anonymous true\n"
             << "set_tcp_nodelay true\n"
             << "persistence true\n"
             << "persistence_location " << dir_
             << "/\n"
             // As root, mosquitto would become the user "mosquitto", who cannot write here.
             << "user " << (::getuid() == 0 ? "root" : "mosquitto") << "\n"
             << listeners_;
    }
    void start() {
        process_ = Process({MOSQUITTO_PATH, "-c", dir_ + "/mosquitto.conf"}, dir_ + "/broker.log");
        ready_ = eventually([this] { return can_connect_tcp(port_); }, std::chrono::seconds(10));
    }
    void stop() { process_.stop(SIGTERM); }
    bool ready() const { return ready_; }
    int port() const { return port_; }
    std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

  private:
    std::string dir_;
    int port_;
    std::string listeners_;
    Process process_;
    bool ready_ = false;
};

struct Message {
    std::string topic, payload;
    bool retained = false;
};

/// An MQTT client that records what arrives on its subscriptions. A named client keeps
/// a persistent session (its subscriptions and queued messages outlive a broker restart).
class Client {
  public:
    explicit Client(int port, const std::string &persistent_id = {}) {
        mosq_ = mosquitto_new(persistent_id.empty() ? nullptr : persistent_id.c_str(),
                              persistent_id.empty(), this);
        mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
        mosquitto_message_callback_set(
            mosq_, [](mosquitto *, void *self, const mosquitto_message *m) {
                auto *c = static_cast<Client *>(self);
                {
                    std::lock_guard lock(c->mutex_);
                    c->messages_.push_back({m->topic,
                                            std::string(static_cast<const char *>(m->payload),
                                                        static_cast<std::size_t>(m->payloadlen)),
                                            m->retain});
                }
                c->arrived_.notify_all();
            });
        mosquitto_connect_callback_set(mosq_, [](mosquitto *, void *self, int rc) {
            auto *c = static_cast<Client *>(self);
            std::lock_guard lock(c->mutex_);
            c->connected_ = rc == 0;
        });
        mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
        mosquitto_connect(mosq_, "127.0.0.1", port, 30);
        mosquitto_loop_start(mosq_);
    }
    ~Client() {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
        mosquitto_destroy(mosq_);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool connected() {
        std::lock_guard lock(mutex_);
        return connected_;
    }
    bool subscribe(const std::string &topic) {
        return eventually([this] { return connected(); }, std::chrono::seconds(10)) &&
               mosquitto_subscribe(mosq_, nullptr, topic.c_str(), 1) == MOSQ_ERR_SUCCESS;
    }
    bool publish(const std::string &topic, const std::string &payload) {
        return mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                 payload.data(), 1, false) == MOSQ_ERR_SUCCESS;
    }
    std::vector<Message> on(const std::string &topic) {
        std::lock_guard lock(mutex_);
        std::vector<Message> out;
        for (const auto &m : messages_)
            if (m.topic == topic)
                out.push_back(m);
        return out;
    }
    /// Messages on topics that start with `prefix`.
    std::vector<Message> on_prefix(const std::string &prefix) {
        std::lock_guard lock(mutex_);
        std::vector<Message> out;
        for (const auto &m : messages_)
            if (m.topic.starts_with(prefix))
                out.push_back(m);
        return out;
    }
    /// The payload of the last message on `topic`; "" when none came.
    std::string last(const std::string &topic) {
        const auto all = on(topic);
        return all.empty() ? std::string() : all.back().payload;
    }
    /// Waits until `topic` has seen at least `count` messages; all of them then.
    std::vector<Message> wait(const std::string &topic, std::size_t count = 1,
                              std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::vector<Message> seen;
        until(timeout, [&](const Message &m) {
            if (m.topic == topic)
                seen.push_back(m);
            return seen.size() >= count;
        });
        return seen;
    }
    /// Waits for a message on `topic` whose payload contains `part`; its payload, or "".
    std::string wait_for(const std::string &topic, const std::string &part,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        std::string found;
        until(timeout, [&](const Message &m) {
            if (m.topic == topic && m.payload.find(part) != std::string::npos)
                found = m.payload;
            return !found.empty();
        });
        return found;
    }

  private:
    mosquitto *mosq_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> messages_;
    bool connected_ = false;

    /// Shows `look` every message, from the first, as they arrive, until it says it has
    /// seen enough or `timeout` passes.
    template <typename Look>
    void until(std::chrono::milliseconds timeout, Look look) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        std::unique_lock lock(mutex_);
        std::size_t next = 0;
        for (;;) {
            for (; next < messages_.size(); ++next)
                if (look(messages_[next]))
                    return;
            if (arrived_.wait_until(lock, end) == std::cv_status::timeout &&
                next == messages_.size())
                return;
        }
    }
};

}  // namespace mqtt_testing
