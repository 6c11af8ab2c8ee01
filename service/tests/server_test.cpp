// The server in-process: a client that stops reading its events is dropped once its queue
// passes the bound, and the others go on.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio.hpp>
#include <filesystem>
#include <thread>

#include "log.h"
#include "server.h"
#include "sim/sim_backend.h"
#include "wire/frame_reader.h"
#include "wire/protocol.h"

using namespace krvxd;

namespace {

class RawClient {
  public:
    explicit RawClient(const std::string &path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        timeval tv{20, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~RawClient() { ::close(fd_); }
    bool connected() const { return connected_; }
    bool send(const wire::Message &m) {
        const auto f = wire::encode(m);
        return ::send(fd_, f.data(), f.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(f.size());
    }
    /// Next message, or nullopt at end of stream / timeout.
    std::optional<wire::Message> next() {
        std::vector<uint8_t> payload;
        for (;;) {
            const auto s = reader_.next(payload);
            if (s == wire::FrameReader::Status::Frame)
                return wire::decode(payload).message;
            if (s == wire::FrameReader::Status::Error)
                return std::nullopt;
            uint8_t buf[4096];
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                return std::nullopt;
            reader_.append(std::span<const uint8_t>(buf, static_cast<std::size_t>(n)));
        }
    }
    /// Waits for the reply to `id`, skipping events.
    std::optional<wire::Message> reply(uint32_t id) {
        for (;;) {
            auto m = next();
            if (!m || m->id == id)
                return m;
        }
    }

  private:
    int fd_ = -1;
    bool connected_ = false;
    wire::FrameReader reader_;
};

}  // namespace

TEST(Server, AClientThatStopsReadingIsDroppedAndOthersGoOn) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("krvxd-server-test." + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "s.sock").string();

    asio::io_context io;
    const Log log(false);
    ServerLimits limits;
    limits.max_queued_bytes = 16 * 1024;
    Server server(io, log, limits);
    SimSettings settings;
    settings.time_scale = 0;
    SimBackend sim(io.get_executor(), server, settings);
    server.set_backend(&sim);
    ASSERT_EQ(server.listen(path), "");
    std::thread loop([&] { io.run(); });

    RawClient slow(path), presser(path);
    ASSERT_TRUE(slow.connected() && presser.connected());
    ASSERT_TRUE(slow.send({1, wire::Hello{}}));
    ASSERT_TRUE(slow.reply(1));
    ASSERT_TRUE(slow.send({2, wire::SetReceive{true}}));
    ASSERT_TRUE(slow.reply(2));
    ASSERT_TRUE(presser.send({1, wire::Hello{}}));
    ASSERT_TRUE(presser.reply(1));

    // Each press makes one received-code event for the slow client, which never reads:
    // far more than the socket buffer and the queue bound together.
    const wire::Press press{0, 100, "0000 006C 0000 0001 0010 0010"};
    uint32_t id = 2;
    for (int batch = 0; batch < 200; ++batch) {
        for (int i = 0; i < 100; ++i)
            ASSERT_TRUE(presser.send({id + i, press}));
        auto r = presser.reply(id + 99);
        ASSERT_TRUE(r) << "batch " << batch;
        id += 100;
    }

    // The slow client reads what was queued, then the end of the stream.
    int events = 0;
    while (slow.next())
        ++events;
    EXPECT_GT(events, 0);
    EXPECT_LT(events, 20000);

    // The service goes on for the others.
    ASSERT_TRUE(presser.send({id, wire::GetInfo{}}));
    auto info = presser.reply(id);
    ASSERT_TRUE(info);
    EXPECT_TRUE(std::holds_alternative<wire::InfoReply>(info->body));

    asio::post(io, [&] {
        server.stop();
        io.stop();
    });
    loop.join();
    std::filesystem::remove_all(dir);
}
