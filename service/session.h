// SPDX-License-Identifier: MIT
// One connected client of krvxd: reads its frames, answers its requests, and writes its
// replies and events from one contiguous output buffer.
//
// Bounds
//   handshake   Hello within ServerLimits::handshake_timeout of the connection, else dropped;
//   frames      a frame begun must be complete within frame_timeout, else dropped;
//   output      replies and events wait in one buffer per client, written as the socket
//               takes them. Above the high-water mark (half the client's share of the
//               output budget) the client's requests are not read until it has read its
//               answers (backpressure: a client that floods requests without reading stops
//               itself); a client whose buffer would pass its share (events pile up while
//               it does not read) is dropped.
//
// Wake-ups: the socket is watched for input and, edge-triggered, for room to write, so the
// loop wakes when the client reads what was written to it, as a blocking reader would: a
// request sent right after a reply finds the loop awake. Nothing wakes it while the client
// is idle.
//
// Threads: loop thread only. A Session is owned by the Server's table and by the
// asynchronous operations in flight; end() and drop() end it and tell the Server once.
#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log.h"
#include "wire/frame_reader.h"
#include "wire/protocol.h"

namespace krvxd {

class Server;

class Session : public std::enable_shared_from_this<Session> {
  public:
    using Clock = std::chrono::steady_clock;

    Session(Server &server, uint64_t id, asio::local::stream_protocol::socket socket);

    void start();
    /// Queues a message; drops the client when its output would pass its share.
    void send(const wire::Message &message);
    /// Queues both and writes them together: one wake-up of the client for the pair.
    void send(const wire::Message &first, const wire::Message &second);
    /// Answers request `id` with a refusal and its reason.
    void refuse(uint32_t id, wire::Status status, std::string why);
    /// Ends the connection as the client wanted it (it hung up); nothing is logged here.
    void end();
    /// Ends the connection for a reason the client is told (a Refusal with id 0, when its
    /// output has room) and the log gets at `level`: "client N: dropped: <why>".
    void drop(wire::Status status, const std::string &why, Log::Level level = Log::Level::warn);

    uint64_t id() const { return id_; }
    bool receiving() const { return receiving_ && open_; }
    bool open() const { return open_; }
    /// True when the client has closed its end: it gave up waiting, and nothing it asked
    /// for may start any more.
    bool peer_gone() const;
    /// Bytes of replies and events waiting to be written.
    std::size_t queued_bytes() const { return out_.size() - out_pos_; }
    /// Since when the client's requests are not read because it does not read its answers;
    /// nullopt while it reads.
    std::optional<Clock::time_point> stalled_since() const;
    /// Sends of this client waiting for the device or on air.
    std::size_t &pending_sends() { return pending_sends_; }
    /// Presses of this client still held in front of the receiver.
    std::size_t &presses() { return presses_; }

  private:
    void read_more();
    void on_read(std::error_code ec, std::size_t n);
    void handle_frames();
    void handle(const wire::Message &message);
    void flush();
    void arm_deadline(Clock::duration after, const char *what);
    void close_now();
    std::size_t share() const;

    Server &server_;
    uint64_t id_;
    asio::local::stream_protocol::socket socket_;
    asio::steady_timer deadline_;
    uint32_t deadline_generation_ = 0;
    bool deadline_armed_ = false;
    std::array<uint8_t, 4096> read_buffer_{};
    wire::FrameReader reader_;
    std::vector<uint8_t> payload_;  ///< the frame being handled (kept: no allocation per frame)
    std::vector<uint8_t> out_;      ///< encoded frames; the bytes before out_pos_ are written
    std::size_t out_pos_ = 0;
    bool reading_ = false;
    bool held_back_ = false;  ///< not read until its answers are read (backpressure)
    bool write_waiting_ = false;
    bool corked_ = false;  ///< handling a batch of frames: their replies are written at its end
    Clock::time_point stalled_at_{};  ///< when it was held back
    bool open_ = true;
    bool greeted_ = false;
    bool close_after_write_ = false;
    bool receiving_ = false;
    std::size_t pending_sends_ = 0;
    std::size_t presses_ = 0;
};

}  // namespace krvxd
