// SPDX-License-Identifier: MIT
// A blocking client of krvxd's socket: connect, handshake and requests, each step before a
// deadline. The library's open, `krvx press` and the tests all reach the service through
// it, so every client checks the same things the same way:
//
//   connect   non-blocking, retried while the service's listen backlog is full, until the
//             deadline; then the peer's credentials: the service must run as the same
//             user as this process or as root, else the connection is refused
//             (CommFailed, naming the other user);
//   hello     Hello and its HelloReply, or the service's Refusal;
//   request   one request and its answer (events on the way are skipped); an interim
//             SendAccepted moves the deadline to the end of the send plus kAnswerTimeout.
//
// Failures come as an Outcome: DriverNotFound when nothing serves the path (no socket
// file, nobody listening, no permission), CommFailed when the service does not answer in
// time or answers nonsense, otherwise the status the service gave, each with a sentence
// that names the path or the user involved.
//
// Threads: a Client is used by one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "wire/frame_reader.h"
#include "wire/protocol.h"
#include "wire/status.h"

namespace wire {

using Clock = std::chrono::steady_clock;

/// How long the service may take to accept a connection or to answer anything that does
/// not wait for air time.
inline constexpr std::chrono::milliseconds kAnswerTimeout{2000};

/// When the answer to a send the service accepted is due at the latest: the end it
/// announced (taken as at most a day) plus kAnswerTimeout.
Clock::time_point send_deadline(const SendAccepted &accepted);

/// Writes all of `frame` to the non-blocking socket `fd` before `deadline`.
bool write_frame(int fd, const std::vector<uint8_t> &frame, Clock::time_point deadline);

class Client {
  public:
    Client() = default;
    ~Client();
    Client(Client &&other) noexcept;
    Client &operator=(Client &&other) noexcept;
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    /// A client over an already connected non-blocking socket (the service's end in tests).
    static Client adopt(int fd);

    /// Connects to the socket at `path` and checks who serves it. See above.
    Outcome connect(const std::string &path, Clock::time_point deadline);

    /// The handshake. Ok, or the status of HelloReply or Refusal (why: the service's reason),
    /// or CommFailed.
    Outcome hello(Clock::time_point deadline);

    /// Sends `body` with the next request id and waits for its answer. The answer is the
    /// reply (whatever its status); a Refusal or a failure gives nullopt and `outcome`.
    std::optional<Message> request(Body body, Clock::time_point deadline, Outcome &outcome);

    /// Sends one message as it is (tests send what a misbehaving client would).
    bool send(const Message &message, Clock::time_point deadline);

    /// The next message from the service, or nullopt at the end of the stream, on a
    /// malformed frame or at the deadline.
    std::optional<Message> next(Clock::time_point deadline);

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    /// Hands the socket and the bytes read past the last message over to another owner.
    int release_fd();
    FrameReader take_reader() { return std::move(reader_); }

  private:
    int fd_ = -1;
    uint32_t next_id_ = 1;
    FrameReader reader_;
    std::string path_;
};

}  // namespace wire
