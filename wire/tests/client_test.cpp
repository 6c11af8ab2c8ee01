// SPDX-License-Identifier: MIT
// The blocking client against scripted services: what each way of not reaching a service
// is called, deadlines on a full backlog and a silent service, refusals, and a send's
// deadline moved by the service's announcement.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "wire/client.h"

using namespace wire;
using namespace std::chrono_literals;

namespace {

struct TempDir {
    std::filesystem::path path;
    TempDir() {
        char name[] = "/tmp/wire-client-test.XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    std::string sock() const { return (path / "s.sock").string(); }
};

int listening_socket(const std::string &path, int backlog) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A service that accepts one client and plays `script` with it (raw frames both ways).
class ScriptedService {
  public:
    ScriptedService(const std::string &path, std::function<void(Client &)> script)
        : listener_(listening_socket(path, 4)) {
        thread_ = std::thread([this, script = std::move(script)] {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            Client peer = Client::adopt(fd);
            script(peer);
        });
    }
    ~ScriptedService() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }

  private:
    int listener_;
    std::thread thread_;
};

Clock::time_point in(std::chrono::milliseconds ms) {
    return Clock::now() + ms;
}

}  // namespace

TEST(WireClient, EachWayOfNotReachingAServiceIsNamed) {
    TempDir dir;
    Client c;
    Outcome o = c.connect(dir.sock(), in(500ms));
    EXPECT_EQ(o.status, Status::DriverNotFound);
    EXPECT_NE(o.why.find("no socket at " + dir.sock()), std::string::npos) << o.why;

    // A socket file left behind by a service that ended.
    ::close(listening_socket(dir.sock(), 1));
    o = c.connect(dir.sock(), in(500ms));
    EXPECT_EQ(o.status, Status::DriverNotFound);
    EXPECT_NE(o.why.find("nothing listens on"), std::string::npos) << o.why;

    o = c.connect(std::string(200, 'x'), in(500ms));
    EXPECT_EQ(o.status, Status::DriverNotFound);
    EXPECT_NE(o.why.find("longer than"), std::string::npos) << o.why;
    EXPECT_FALSE(c.connected());
}

TEST(WireClient, NoPermissionIsNotCalledAServiceThatIsNotRunning) {
    TempDir dir;
    const int listener = listening_socket(dir.sock(), 1);
    std::filesystem::permissions(dir.path, std::filesystem::perms::none);
    // Root enters any folder: a child asks as an unprivileged user instead.
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        Client c;
        const Outcome o = c.connect(dir.sock(), in(500ms));
        const std::string text = std::to_string(static_cast<int>(o.status)) + " " + o.why;
        ::_exit(::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0
                                                                                               : 3);
    }
    ::close(out[1]);
    int status = -1;
    ::waitpid(child, &status, 0);
    char buffer[512] = {};
    const ssize_t n = ::read(out[0], buffer, sizeof buffer - 1);
    ::close(out[0]);
    std::filesystem::permissions(dir.path, std::filesystem::perms::owner_all);
    ::close(listener);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
    EXPECT_EQ(text.rfind(std::to_string(static_cast<int>(Status::DriverNotFound)) + " ", 0), 0u)
        << text;
    EXPECT_NE(text.find("no permission to reach krvxd at " + dir.sock()), std::string::npos)
        << text;
}

TEST(WireClient, AFullBacklogEndsAtTheDeadline) {
    TempDir dir;
    const int listener = listening_socket(dir.sock(), 0);  // never accepts
    std::vector<Client> queued;
    Outcome o;
    for (int i = 0; i < 64 && o.ok(); ++i)
        o = queued.emplace_back().connect(dir.sock(), in(50ms));
    ASSERT_EQ(o.status, Status::CommFailed) << "the backlog never filled";
    const auto start = Clock::now();
    Client late;
    o = late.connect(dir.sock(), in(300ms));
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(o.status, Status::CommFailed);
    EXPECT_NE(o.why.find("accepts no connection"), std::string::npos) << o.why;
    ::close(listener);
}

TEST(WireClient, HandshakeEndsWithTheServicesAnswerOrAtTheDeadline) {
    struct Row {
        const char *name;
        std::function<void(Client &)> service;
        Status status;
        const char *why_contains;
    };
    const Row rows[] = {
        {"accepted",
         [](Client &s) {
             s.send({1, HelloReply{}}, in(1s));
         },
         Status::Ok, ""},
        {"refused before the hello",
         [](Client &s) {
             s.send({0, Refusal{Status::ServiceBusy, "256 clients"}}, in(1s));
         },
         Status::ServiceBusy, "256 clients"},
        {"no device",
         [](Client &s) {
             s.send({1, HelloReply{Status::DeviceNotFound, kVersion}}, in(1s));
         },
         Status::DeviceNotFound, ""},
        {"another version",
         [](Client &s) {
             s.send({1, HelloReply{Status::Ok, kVersion + 1}}, in(1s));
         },
         Status::FirmwareMismatch, "version"},
        {"silent", [](Client &) { std::this_thread::sleep_for(600ms); }, Status::CommFailed,
         "in time"},
        {"hangs up", [](Client &) {}, Status::CommFailed, "ended the connection"},
    };
    for (const Row &row : rows) {
        TempDir dir;
        ScriptedService service(dir.sock(), row.service);
        Client c;
        ASSERT_TRUE(c.connect(dir.sock(), in(1s)).ok()) << row.name;
        const auto start = Clock::now();
        const Outcome o = c.hello(in(300ms));
        EXPECT_LT(Clock::now() - start, 1s) << row.name;
        EXPECT_EQ(o.status, row.status) << row.name << ": " << o.why;
        EXPECT_NE(o.why.find(row.why_contains), std::string::npos) << row.name << ": " << o.why;
    }
}

TEST(WireClient, ASendAnnouncedAsLongerMovesTheDeadlineAndARefusalSaysWhy) {
    TempDir dir;
    ScriptedService service(dir.sock(), [](Client &s) {
        auto first = s.next(in(2s));
        s.send({first->id, SendAccepted{400'000}}, in(1s));  // ends within 0.4 s
        std::this_thread::sleep_for(300ms);
        s.send({0, Received{"0123456789AB"}}, in(1s));  // an event on the way is skipped
        s.send({first->id, Reply{}}, in(1s));
        auto second = s.next(in(2s));
        s.send({second->id, Refusal{Status::InvalidArgument, "at most 120 s"}}, in(1s));
    });
    Client c;
    ASSERT_TRUE(c.connect(dir.sock(), in(1s)).ok());
    Outcome o;
    auto reply = c.request(Transmit{1, "x"}, in(100ms), o);
    ASSERT_TRUE(reply) << o.why;
    EXPECT_TRUE(std::holds_alternative<Reply>(reply->body));
    reply = c.request(Transmit{1, "y"}, in(1s), o);
    EXPECT_FALSE(reply);
    EXPECT_EQ(o.status, Status::InvalidArgument);
    EXPECT_EQ(o.why, "at most 120 s");
}
