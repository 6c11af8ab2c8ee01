// SPDX-License-Identifier: MIT
// The service's bounds, in-process: the client limit and its refusal, deadlines for silent
// and half-finished clients, backpressure on a client that floods requests without reading,
// the press and send limits, sends of clients that gave up or left, and the socket's mode.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "ir/pronto.h"
#include "ir/receive_code.h"
#include "server_loop.h"
#include "test_codes.h"

using namespace krvxd;
using namespace krvxd::testing;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

// Writes GetInfo requests without reading until the service stops taking them for 200 ms
// (or 5 s passed). Returns how many it wrote; ids run from first_id on.
uint32_t flood_without_reading(wire::Client &c, uint32_t first_id) {
    uint32_t id = first_id;
    auto refused_since = Clock::now();
    const auto end = Clock::now() + 5s;
    while (Clock::now() < end) {
        const auto frame = wire::encode({id, wire::GetInfo{}});
        if (::send(c.fd(), frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL) ==
            static_cast<ssize_t>(frame.size())) {
            ++id;
            refused_since = Clock::now();
            continue;
        }
        if (Clock::now() - refused_since > 200ms)
            break;
        std::this_thread::sleep_for(2ms);
    }
    return id - first_id;
}

ServerLimits small_limits() {
    ServerLimits limits;
    limits.max_clients = 3;
    limits.output_budget = 3 * 16 * 1024;  // 16 KiB each
    limits.handshake_timeout = 300ms;
    limits.frame_timeout = 300ms;
    return limits;
}

SimSettings instant_sim() {
    SimSettings s;
    s.time_scale = 0;
    return s;
}

}  // namespace

TEST(Bounds, AClientOverTheLimitIsToldWhyAndOneThatDoesNotReadMakesRoom) {
    ServerLoop loop(small_limits());
    loop.use_sim(instant_sim());
    ASSERT_TRUE(loop.start());
    RawClient a(loop.path()), b(loop.path()), flooder(loop.path());
    for (RawClient *c : {&a, &b, &flooder})
        ASSERT_TRUE(c->hello().ok());

    RawClient fourth(loop.path());
    const wire::Outcome refused = fourth.hello();
    EXPECT_EQ(refused.status, wire::Status::ServiceBusy);
    EXPECT_NE(refused.why.find("limit of 3 clients"), std::string::npos) << refused.why;

    // A client that has not read its answers for over a second gives its place up.
    ASSERT_GT(flood_without_reading(flooder.client(), 100), 0u);
    std::this_thread::sleep_for(1200ms);
    RawClient fifth(loop.path());
    EXPECT_TRUE(fifth.hello().ok());
    while (flooder.next()) {
    }  // its answers, then the end
    ASSERT_TRUE(a.send({2, wire::GetInfo{}}));
    EXPECT_EQ(status_of(a.reply(2)), -2);  // an InfoReply: the others are served
    EXPECT_EQ(loop.on_loop([&] { return loop.server().client_count(); }), 3u);
}

TEST(Bounds, SilentAndHalfFinishedClientsAreDroppedAtTheirDeadline) {
    ServerLoop loop(small_limits());
    loop.use_sim(instant_sim());
    ASSERT_TRUE(loop.start());
    const auto hello = wire::encode({1, wire::Hello{}});
    const auto info = wire::encode({2, wire::GetInfo{}});
    struct Row {
        const char *name;
        bool greet;
        std::vector<uint8_t> bytes;  ///< sent one a time, 50 ms apart
        const char *why;
    };
    const Row rows[] = {
        {"never says hello", false, {}, "no handshake in time"},
        {"half a hello", false, {hello.begin(), hello.begin() + 5}, "no handshake in time"},
        {"half a request", true, {info.begin(), info.begin() + 7}, "a frame left unfinished"},
        {"a request dribbled byte by byte",
         true,
         {info.begin(), info.end() - 1},
         "a frame left unfinished"},
    };
    for (const Row &row : rows) {
        RawClient c(loop.path());
        if (row.greet) {
            ASSERT_TRUE(c.hello().ok()) << row.name;
        }
        const auto start = Clock::now();
        for (uint8_t byte : row.bytes) {
            if (::send(c.client().fd(), &byte, 1, MSG_NOSIGNAL) != 1)
                break;  // already dropped
            std::this_thread::sleep_for(50ms);
        }
        const auto refusal = next_of<wire::Refusal>(c);
        ASSERT_TRUE(refusal) << row.name;
        EXPECT_EQ(refusal->why, row.why) << row.name;
        EXPECT_FALSE(c.next()) << row.name << ": the connection ends";
        EXPECT_LT(Clock::now() - start, 3s) << row.name;
    }
}

TEST(Bounds, AClientFloodingRequestsWithoutReadingIsHeldBackAndLosesNothing) {
    ServerLoop loop(small_limits());
    loop.use_sim(instant_sim());
    ASSERT_TRUE(loop.start());
    RawClient flooder(loop.path()), other(loop.path());
    ASSERT_TRUE(flooder.hello().ok() && other.hello().ok());

    const uint32_t sent = flood_without_reading(flooder.client(), 100);
    ASSERT_GT(sent, 1000u) << "the socket took too little to flood the service";
    // Held back, not buffered: what waits for it stays within its share, and it is still
    // connected; the others are served meanwhile.
    EXPECT_LE(loop.on_loop([&] { return loop.server().queued_output(); }), 16u * 1024);
    ASSERT_TRUE(other.send({2, wire::GetInfo{}}));
    EXPECT_EQ(status_of(other.reply(2)), -2);

    // Once it reads, every request is answered, once and in order.
    for (uint32_t id = 100; id < 100 + sent; ++id) {
        const auto m = flooder.next();
        ASSERT_TRUE(m) << "answer " << id - 100 << " of " << sent;
        ASSERT_EQ(m->id, id);
        ASSERT_TRUE(std::holds_alternative<wire::InfoReply>(m->body));
    }
}

TEST(Bounds, PressesAreLimitedPerClientAndInAll) {
    ServerLimits limits = small_limits();
    limits.max_client_presses = 2;
    limits.max_presses = 3;
    ServerLoop loop(limits);
    SimSettings sim;
    sim.time_scale = 1;  // presses stay held for their time
    loop.use_sim(sim);
    ASSERT_TRUE(loop.start());
    RawClient a(loop.path()), b(loop.path());
    ASSERT_TRUE(a.hello().ok() && b.hello().ok());
    const std::string code = code_of(1, 600);
    auto press = [&](RawClient &c, uint32_t id) {
        EXPECT_TRUE(c.send({id, wire::Press{400, 100, code}}));
        return status_of(c.reply(id));
    };
    const int32_t busy = wire::to_int(wire::Status::ServiceBusy);
    EXPECT_EQ(press(a, 2), 0);
    EXPECT_EQ(press(a, 3), 0);
    EXPECT_EQ(press(a, 4), busy);  // its own two
    EXPECT_EQ(press(b, 2), 0);
    EXPECT_EQ(press(b, 3), busy);        // three in all
    std::this_thread::sleep_for(600ms);  // released
    EXPECT_EQ(press(a, 5), 0);
    EXPECT_EQ(press(b, 4), 0);
}

TEST(Bounds, SendsAreLimitedAndOneWhoseClientGaveUpIsNeverSent) {
    ServerLimits limits = small_limits();
    limits.max_clients = 4;
    limits.max_pending_sends = 1;
    limits.max_queued_sends = 1;
    ServerLoop loop(limits);
    SimSettings sim;
    sim.time_scale = 1;
    sim.loopback = true;
    loop.use_sim(sim);
    ASSERT_TRUE(loop.start());
    RawClient listener(loop.path()), a(loop.path()), b(loop.path());
    for (RawClient *c : {&listener, &a, &b})
        ASSERT_TRUE(c->hello().ok());
    ASSERT_TRUE(listener.send({2, wire::SetReceive{true}}));
    ASSERT_EQ(status_of(listener.reply(2)), 0);

    // A client asks for a send while the service is busy, and gives up (closes) before the
    // service reads the request: the service must not send it then.
    const std::string given_up = code_of(2, 900);
    {
        RawClient gone(loop.path());
        ASSERT_TRUE(gone.hello().ok());
        asio::post(loop.io(), [] { std::this_thread::sleep_for(300ms); });
        ASSERT_TRUE(gone.send({2, wire::Transmit{1, given_up}}));
    }
    std::this_thread::sleep_for(400ms);

    const std::string long_code = code_of(5, 50'000);  // 0.5 s on air
    const std::string b_code = code_of(3, 900);
    const int32_t busy = wire::to_int(wire::Status::ServiceBusy);
    ASSERT_TRUE(a.send({2, wire::Transmit{1, long_code}}));
    ASSERT_TRUE(a.send({3, wire::Transmit{1, long_code}}));
    EXPECT_EQ(status_of(a.answer(3)), busy);  // its own one waits already
    ASSERT_TRUE(b.send({2, wire::Transmit{1, b_code}}));
    ASSERT_TRUE(listener.send({3, wire::Transmit{1, b_code}}));
    EXPECT_EQ(status_of(listener.answer(3)), busy);  // one waits in all already
    EXPECT_EQ(status_of(a.answer(2)), 0);
    EXPECT_EQ(status_of(b.answer(2)), 0);

    // On air were a's code and b's, never the one of the client that gave up.
    std::vector<std::string> heard;
    ASSERT_TRUE(listener.send({4, wire::GetInfo{}}));  // everything before it has arrived
    while (auto m = listener.next()) {
        if (m->id == 4)
            break;
        if (const auto *r = std::get_if<wire::Received>(&m->body))
            heard.push_back(r->code);
    }
    const auto code_heard = [](const std::string &code) {
        return ir::receive_code(ir::parse_pronto(code).signal);
    };
    EXPECT_EQ(heard, (std::vector<std::string>{code_heard(long_code), code_heard(b_code)}));
}

TEST(Bounds, ASendStopsSoonAfterItsClientLeaves) {
    ServerLoop loop(small_limits());
    SimSettings sim;
    sim.time_scale = 1;
    loop.use_sim(sim);
    ASSERT_TRUE(loop.start());
    RawClient next(loop.path());
    ASSERT_TRUE(next.hello().ok());
    const std::string ten_seconds = code_of(100, 50'000);  // 10 s on air, 100 ms per pair
    {
        RawClient leaving(loop.path());
        ASSERT_TRUE(leaving.hello().ok());
        ASSERT_TRUE(leaving.send({2, wire::Transmit{5, code_of(1, 50'000)}}));  // 5 x 0.1 s
        ASSERT_TRUE(leaving.send({3, wire::Transmit{1, ten_seconds}}));
        EXPECT_EQ(status_of(leaving.answer(2)), 0);
        std::this_thread::sleep_for(100ms);  // the long one is on air
    }
    const auto start = Clock::now();
    ASSERT_TRUE(next.send({2, wire::Transmit{1, code_of(1, 600)}}));
    EXPECT_EQ(status_of(next.answer(2)), 0);
    EXPECT_LT(Clock::now() - start, 5s) << "the send of the client that left went on to its end";
}

TEST(Bounds, TheSocketIsPrivateFromItsFirstMomentAndItsPathIsNeverChangedAfterwards) {
    ServerLoop loop(small_limits());
    loop.use_sim(instant_sim());
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, loop.dir().c_str(), IN_ATTRIB), 0);
    const mode_t old_mask = ::umask(0);  // a careless umask gives no access either
    const bool started = loop.start();
    ::umask(old_mask);
    ASSERT_TRUE(started);
    struct stat st {};
    ASSERT_EQ(::lstat(loop.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the socket's attributes were changed";
    ::close(watch);

    // Stopping removes the socket it bound, never a file put in its place.
    const std::string moved = loop.path() + ".moved";
    ASSERT_EQ(::rename(loop.path().c_str(), moved.c_str()), 0);
    ASSERT_EQ(::symlink(moved.c_str(), loop.path().c_str()), 0);
    loop.on_loop([&] { loop.server().stop(); });
    EXPECT_EQ(::lstat(loop.path().c_str(), &st), 0) << "the link in its place was removed";
}
