// One connected client of krvxd: reads its frames, answers its requests, queues its
// replies and events with a bound.
//
// Threads: loop thread only. A Session is owned by the Server's table and by the
// asynchronous operations in flight; close() ends it and tells the Server once.
#pragma once

#include <array>
#include <asio.hpp>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "wire/frame_reader.h"
#include "wire/protocol.h"

namespace krvxd {

class Server;

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(Server &server, uint64_t id, asio::local::stream_protocol::socket socket);

    void start();
    /// Queues a message; drops the client when its queue passes the bound.
    void send(const wire::Message &message);
    /// Ends the connection. `reason` non-empty: the one log line about a bad client.
    void close(const std::string &reason);

    uint64_t id() const { return id_; }
    bool receiving() const { return receiving_ && open_; }
    bool open() const { return open_; }
    /// Sends of this client waiting for the device or on air.
    std::size_t &pending_sends() { return pending_sends_; }

  private:
    void read_more();
    void handle(const wire::Message &message);
    void write_more();
    std::string label() const;

    Server &server_;
    uint64_t id_;
    asio::local::stream_protocol::socket socket_;
    std::array<uint8_t, 4096> read_buffer_{};
    wire::FrameReader reader_;
    std::deque<std::vector<uint8_t>> out_;
    std::size_t queued_bytes_ = 0;
    bool writing_ = false;
    bool open_ = true;
    bool greeted_ = false;
    bool close_after_write_ = false;
    bool receiving_ = false;
    std::size_t pending_sends_ = 0;
};

}  // namespace krvxd
