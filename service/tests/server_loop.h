// SPDX-License-Identifier: MIT
// In-process service for tests: a Server on its own loop thread with a socket in a fresh
// folder, and a client that speaks raw protocol messages through wire::Client.
//
// Threads: create, use and destroy a ServerLoop on the test's thread; on_loop() runs code
// on the loop thread and waits for it. A RawClient belongs to one thread.
#pragma once

#include <asio.hpp>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "log.h"
#include "server.h"
#include "sim/sim_backend.h"
#include "wire/client.h"
#include "wire/protocol.h"

namespace krvxd::testing {

/// A client that speaks raw messages, with generous deadlines (a test ends on a failure, not
/// on a hang).
class RawClient {
  public:
    explicit RawClient(const std::string &path) { connected_ = client_.connect(path, soon()).ok(); }
    bool connected() const { return connected_; }
    bool send(const wire::Message &m) { return client_.send(m, soon()); }
    /// Next message, or nullopt at the end of the stream or after 20 s.
    std::optional<wire::Message> next() { return client_.next(soon()); }
    /// Waits for the answer to `id`, skipping events.
    std::optional<wire::Message> reply(uint32_t id) {
        for (;;) {
            auto m = next();
            if (!m || m->id == id)
                return m;
        }
    }
    /// Waits for the final answer to `id`: skips events and a send's SendAccepted.
    std::optional<wire::Message> answer(uint32_t id) {
        for (;;) {
            auto m = reply(id);
            if (!m || !std::holds_alternative<wire::SendAccepted>(m->body))
                return m;
        }
    }
    /// Shakes hands; the handshake's outcome.
    wire::Outcome hello() { return client_.hello(soon()); }
    wire::Client &client() { return client_; }

  private:
    static wire::Clock::time_point soon() { return wire::Clock::now() + std::chrono::seconds(20); }
    wire::Client client_;
    bool connected_ = false;
};

/// The status of a Reply, HelloReply or Refusal; -1 for none, -2 for another message.
inline int32_t status_of(const std::optional<wire::Message> &m) {
    if (!m)
        return -1;
    if (const auto *r = std::get_if<wire::Reply>(&m->body))
        return wire::to_int(r->status);
    if (const auto *h = std::get_if<wire::HelloReply>(&m->body))
        return wire::to_int(h->status);
    if (const auto *f = std::get_if<wire::Refusal>(&m->body))
        return wire::to_int(f->status);
    return -2;
}

/// Waits for the first message of type T, skipping others.
template <class T>
std::optional<T> next_of(RawClient &c) {
    while (auto m = c.next())
        if (const auto *t = std::get_if<T>(&m->body))
            return *t;
    return std::nullopt;
}

class ServerLoop {
  public:
    explicit ServerLoop(ServerLimits limits = {}) : server_(io_, log_, limits) {
        char name[] = "/tmp/krvxd-server-test.XXXXXX";
        dir_ = ::mkdtemp(name);
        path_ = (dir_ / "s.sock").string();
    }
    ~ServerLoop() {
        asio::post(io_, [this] {
            server_.stop();
            io_.stop();
        });
        if (loop_.joinable())
            loop_.join();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    /// Serves the simulated device with `settings` (before start()).
    void use_sim(SimSettings settings) {
        sim_ = std::make_unique<SimBackend>(io_.get_executor(), server_, settings);
        server_.set_backend(sim_.get());
    }
    bool start() {
        if (!server_.listen(path_).empty())
            return false;
        loop_ = std::thread([this] { io_.run(); });
        return true;
    }
    /// Runs `f` on the loop and waits for it.
    template <class F>
    auto on_loop(F f) {
        std::promise<decltype(f())> done;
        asio::post(io_, [&] {
            if constexpr (std::is_void_v<decltype(f())>) {
                f();
                done.set_value();
            } else {
                done.set_value(f());
            }
        });
        return done.get_future().get();
    }
    const std::string &path() const { return path_; }
    const std::filesystem::path &dir() const { return dir_; }
    Server &server() { return server_; }
    asio::io_context &io() { return io_; }

  private:
    asio::io_context io_;
    const Log log_{false};
    std::filesystem::path dir_;
    std::string path_;
    Server server_;
    std::unique_ptr<SimBackend> sim_;
    std::thread loop_;
};

}  // namespace krvxd::testing
