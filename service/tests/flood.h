// SPDX-License-Identifier: MIT
// Clients that greet krvxd and then send GetInfo requests as fast as their sockets take
// them, never reading an answer: the flood of the hostile tests and bench_hostile.
//
// Threads: create and destroy on one thread; the flood runs on a thread of its own between
// the two. Destruction stops the flood and closes every connection.
#pragma once

#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "wire/client.h"

namespace krvxd::testing {

class Flood {
  public:
    Flood(const std::string &socket_path, std::size_t clients) : clients_(clients) {
        using namespace std::chrono_literals;
        for (auto &c : clients_)
            if (c.connect(socket_path, wire::Clock::now() + 2s).ok())
                c.send({1, wire::Hello{}}, wire::Clock::now() + 1s);
        for (uint32_t id = 2; id < 402; ++id)
            wire::encode_into({id, wire::GetInfo{}}, chunk_);
        thread_ = std::thread([this] { run(); });
    }
    ~Flood() {
        stop_ = true;
        thread_.join();
    }
    Flood(const Flood &) = delete;
    Flood &operator=(const Flood &) = delete;

  private:
    void run() {
        using namespace std::chrono_literals;
        // Each client's stream stays whole frames wherever a write stops. A client whose
        // socket is full is tried again a little later: the flood must not take the
        // machine's time from the service.
        std::vector<std::size_t> offset(clients_.size(), 0);
        std::vector<wire::Clock::time_point> next_try(clients_.size());
        while (!stop_) {
            const auto now = wire::Clock::now();
            for (std::size_t i = 0; i < clients_.size(); ++i) {
                if (!clients_[i].connected() || now < next_try[i])
                    continue;
                const ssize_t n = ::send(clients_[i].fd(), chunk_.data() + offset[i],
                                         chunk_.size() - offset[i], MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0)
                    offset[i] = (offset[i] + static_cast<std::size_t>(n)) % chunk_.size();
                else
                    next_try[i] = now + 50ms;
            }
            std::this_thread::sleep_for(1ms);
        }
    }

    std::vector<wire::Client> clients_;
    std::vector<uint8_t> chunk_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace krvxd::testing
