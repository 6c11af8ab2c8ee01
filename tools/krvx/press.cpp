#include "press.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "krvxdrv.h"
#include "wire/frame_reader.h"
#include "wire/protocol.h"
#include "wire/socket_path.h"

namespace krvx {

namespace {

using Clock = std::chrono::steady_clock;

class Socket {
  public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

int left_ms(Clock::time_point deadline) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms) + 1;
}

bool send_all(int fd, const std::vector<uint8_t> &bytes, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, left_ms(deadline)) <= 0)
            return false;
        const ssize_t n =
            ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Waits for the message answering `id`; events on the way are skipped.
std::optional<wire::Message> await(int fd, wire::FrameReader &reader, uint32_t id,
                                   Clock::time_point deadline) {
    std::vector<uint8_t> payload, buffer(4096);
    for (;;) {
        const auto s = reader.next(payload);
        if (s == wire::FrameReader::Status::Error)
            return std::nullopt;
        if (s == wire::FrameReader::Status::Frame) {
            auto d = wire::decode(payload);
            if (!d.message)
                return std::nullopt;
            if (d.message->id == id)
                return d.message;
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, left_ms(deadline)) <= 0)
            return std::nullopt;
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return std::nullopt;
        reader.append(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
    }
}

}  // namespace

PressResult press(const std::string &socket_path, const std::string &code, uint32_t hold_ms,
                  uint8_t quality) {
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    if (socket_path.empty() || socket_path.size() > wire::max_socket_path())
        return {ERR_DRIVER_NOT_FOUND, "the socket path is too long"};
    if (code.size() > wire::kMaxText)
        return {ERR_INVALID_CODE, "the code is too long"};
    Socket s(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s.fd() < 0)
        return {ERR_DRIVER_NOT_FOUND, std::strerror(errno)};
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, socket_path.data(), socket_path.size());
    if (::connect(s.fd(), reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0)
        return {ERR_DRIVER_NOT_FOUND, std::strerror(errno)};

    wire::FrameReader reader;
    if (!send_all(s.fd(), wire::encode({1, wire::Hello{}}), deadline))
        return {ERR_COMM_FAILED, "the service did not take the handshake"};
    auto hello = await(s.fd(), reader, 1, deadline);
    const auto *hr = hello ? std::get_if<wire::HelloReply>(&hello->body) : nullptr;
    if (hr == nullptr)
        return {ERR_COMM_FAILED, "the service did not answer the handshake"};
    if (hr->status != 0)
        return {hr->status, {}};

    if (!send_all(s.fd(), wire::encode({2, wire::Press{hold_ms, quality, code}}), deadline))
        return {ERR_COMM_FAILED, "the service did not take the request"};
    auto reply = await(s.fd(), reader, 2, deadline);
    const auto *r = reply ? std::get_if<wire::Reply>(&reply->body) : nullptr;
    if (r == nullptr)
        return {ERR_COMM_FAILED, "the service did not answer"};
    return {r->status, {}};
}

}  // namespace krvx
