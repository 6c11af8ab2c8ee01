// SPDX-License-Identifier: MIT
// The blocking client: non-blocking socket calls, each wait bounded by poll() until the
// deadline.
#include "wire/client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "wire/socket_path.h"

namespace wire {

namespace {

int left_ms(Clock::time_point deadline) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms) + 1;
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool wait_for(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        const int ms = left_ms(deadline);
        if (ms == 0)
            return false;
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, ms);
        if (r > 0)
            return true;
        if (r < 0 && errno != EINTR)
            return false;
    }
}

Outcome not_reachable(const std::string &path, int error) {
    switch (error) {
        case ENOENT:
            return {Status::DriverNotFound,
                    "the device service krvxd is not running (no socket at " + path + ")"};
        case ECONNREFUSED:
            return {Status::DriverNotFound,
                    "the device service krvxd is not running (nothing "
                    "listens on " +
                        path + ")"};
        case EACCES:
        case EPERM:
            return {Status::DriverNotFound,
                    "no permission to reach krvxd at " + path + " (it belongs to another user)"};
        default:
            return {Status::DriverNotFound,
                    "cannot reach krvxd at " + path + ": " + std::strerror(error)};
    }
}

}  // namespace

Clock::time_point send_deadline(const SendAccepted &accepted) {
    constexpr uint64_t kDayUs = 86400ull * 1000 * 1000;
    return Clock::now() + std::chrono::microseconds(std::min(accepted.done_within_us, kDayUs)) +
           kAnswerTimeout;
}

Client::~Client() {
    if (fd_ >= 0)
        ::close(fd_);
}

Client::Client(Client &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      next_id_(other.next_id_),
      reader_(std::move(other.reader_)),
      path_(std::move(other.path_)) {}

Client &Client::operator=(Client &&other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        next_id_ = other.next_id_;
        reader_ = std::move(other.reader_);
        path_ = std::move(other.path_);
    }
    return *this;
}

Client Client::adopt(int fd) {
    Client c;
    c.fd_ = fd;
    return c;
}

int Client::release_fd() {
    return std::exchange(fd_, -1);
}

Outcome Client::connect(const std::string &path, Clock::time_point deadline) {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    reader_ = FrameReader{};
    path_ = path;
    if (path.empty())
        return {Status::DriverNotFound, "the socket path is empty"};
    if (path.size() > max_socket_path())
        return {Status::DriverNotFound,
                "the socket path is longer than " + std::to_string(max_socket_path()) + " bytes"};
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return {Status::CommFailed, std::string("cannot create a socket: ") + std::strerror(errno)};
    fd_ = fd;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    // A Unix socket connects at once or fails at once; EAGAIN means the listen backlog is
    // full (the service is stopped or swamped): try again, more slowly, until the deadline.
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::connect(fd_, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0)
            break;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN) {
            if (Clock::now() + pause >= deadline)
                return {Status::CommFailed, "krvxd at " + path +
                                                " accepts no connection (it is stopped or "
                                                "overloaded)"};
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(50));
            continue;
        }
        ::close(fd_);
        fd_ = -1;
        return not_reachable(path, error);
    }
    ucred peer{};
    socklen_t len = sizeof peer;
    std::string distrust;
    const uid_t me = ::geteuid();
    if (::getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0)
        distrust = "cannot tell who serves " + path + ": " + std::strerror(errno);
    else if (peer.uid != me && peer.uid != 0)
        distrust = "the service at " + path + " runs as user " + std::to_string(peer.uid) +
                   ", not as user " + std::to_string(me) + " or root: not trusted";
    if (distrust.empty())
        return {};
    ::close(fd_);
    fd_ = -1;
    return {Status::CommFailed, std::move(distrust)};
}

bool write_frame(int fd, const std::vector<uint8_t> &frame, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < frame.size()) {
        const ssize_t n =
            ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_for(fd, POLLOUT, deadline))
                return false;
            continue;
        }
        return false;
    }
    return true;
}

bool Client::send(const Message &message, Clock::time_point deadline) {
    if (fd_ < 0)
        return false;
    const auto frame = encode(message);
    return !frame.empty() && write_frame(fd_, frame, deadline);
}

std::optional<Message> Client::next(Clock::time_point deadline) {
    if (fd_ < 0)
        return std::nullopt;
    std::vector<uint8_t> payload;
    uint8_t buffer[4096];
    for (;;) {
        const auto s = reader_.next(payload);
        if (s == FrameReader::Status::Error)
            return std::nullopt;
        if (s == FrameReader::Status::Frame)
            return decode(payload).message;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            reader_.append(std::span<const uint8_t>(buffer, static_cast<std::size_t>(n)));
            continue;
        }
        if (n == 0)
            return std::nullopt;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return std::nullopt;
        if (!wait_for(fd_, POLLIN, deadline))
            return std::nullopt;
    }
}

Outcome Client::hello(Clock::time_point deadline) {
    const uint32_t id = next_id_++;
    // A service that answers at once (a refusal) may have closed before the Hello went out:
    // its answer is still there to be read.
    const bool sent = send({id, Hello{}}, deadline);
    const auto read_until =
        sent ? deadline : std::min(deadline, Clock::now() + std::chrono::milliseconds(100));
    for (;;) {
        auto m = next(read_until);
        if (!m) {
            if (Clock::now() < read_until)
                return {Status::CommFailed,
                        "krvxd at " + path_ + " ended the connection during the handshake"};
            return {Status::CommFailed, "krvxd at " + path_ +
                                            (sent ? " did not answer the handshake in time"
                                                  : " did not take the handshake in time")};
        }
        if (const auto *refusal = std::get_if<Refusal>(&m->body))
            return {refusal->status, refusal->why};
        if (m->id != id)
            continue;
        if (const auto *reply = std::get_if<HelloReply>(&m->body)) {
            if (reply->status != Status::Ok)
                return {reply->status, {}};
            if (reply->version != kVersion)
                return {Status::FirmwareMismatch, "krvxd speaks protocol version " +
                                                      std::to_string(reply->version) + ", not " +
                                                      std::to_string(kVersion)};
            return {};
        }
        return {Status::CommFailed, "krvxd at " + path_ + " answered the handshake with nonsense"};
    }
}

std::optional<Message> Client::request(Body body, Clock::time_point deadline, Outcome &outcome) {
    const uint32_t id = next_id_++;
    if (next_id_ == 0)
        next_id_ = 1;
    outcome = {};
    if (!send({id, std::move(body)}, deadline)) {
        outcome = {Status::CommFailed, "krvxd did not take the request in time"};
        return std::nullopt;
    }
    for (;;) {
        auto m = next(deadline);
        if (!m) {
            outcome = {Status::CommFailed, Clock::now() >= deadline ? "krvxd did not answer in time"
                                                                    : "krvxd ended the connection"};
            return std::nullopt;
        }
        if (const auto *refusal = std::get_if<Refusal>(&m->body)) {
            if (m->id == id || m->id == 0) {
                outcome = {refusal->status, refusal->why};
                return std::nullopt;
            }
            continue;
        }
        if (m->id != id)
            continue;
        if (const auto *accepted = std::get_if<SendAccepted>(&m->body)) {
            deadline = send_deadline(*accepted);
            continue;
        }
        return m;
    }
}

}  // namespace wire
