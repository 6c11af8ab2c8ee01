// SPDX-License-Identifier: MIT
// libkrvxdrv against a private krvxd in another process: opening, device info, sending,
// receiving, the virtual remote, a dying or hung service, and bad clients.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ir/pronto.h"
#include "ir/receive_code.h"
#include "krvxdrv.h"
#include "service_process.h"

using testing_support::can_connect;
using testing_support::eventually;
using testing_support::run_program;
using testing_support::ServiceProcess;
using Clock = std::chrono::steady_clock;

namespace {

const char *kNec =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 06A4 "
    "015B 0057 0016 0E6C";
// RC5 device 1 command 1, expanded: no repeat part.
const char *kRc5 =
    "0000 0073 0000 000C 0020 0020 0040 0020 0020 0020 0020 0020 0020 0020 0020 0040 0040 0020 "
    "0020 0020 0020 0020 0020 0020 0020 0040 0020 0CA8";

std::string receive_code_of(const char *code) {
    return ir::receive_code(ir::parse_pronto(code).signal);
}

// Collects what a receive callback got, from the library's thread.
struct Inbox {
    std::mutex mutex;
    std::vector<std::string> codes;
    std::atomic<int> count{0};
    std::atomic<bool> padded{true};

    static void callback(const char *text, void *user) {
        auto *self = static_cast<Inbox *>(user);
        for (int i = KRVX_RECEIVE_CODE_LENGTH; i < 16; ++i)
            if (text[i] != '\0')
                self->padded = false;
        std::lock_guard lock(self->mutex);
        self->codes.emplace_back(text);
        ++self->count;
    }
    std::vector<std::string> snapshot() {
        std::lock_guard lock(mutex);
        return codes;
    }
};

int open_ok() {
    errno = 0;
    const int h = KRVXOpen();
    EXPECT_GT(h, 0) << "errno " << errno;
    return h;
}

// A raw connection, for playing a misbehaving client.
int raw_connect(const std::string &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True when the service closes `fd` (reads EOF) within the deadline.
bool closed_by_peer(int fd) {
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[256];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0)
            return true;
        if (n < 0)
            return errno == ECONNRESET;
    }
}

// Context switches plus CPU clock ticks of the given threads of a process, from /proc: both
// stay put while the threads sleep, and a thread that spins adds ticks if not switches.
long activity(pid_t pid, const std::vector<std::string> &tids) {
    long total = 0;
    for (const auto &tid : tids) {
        const std::string dir = "/proc/" + std::to_string(pid) + "/task/" + tid;
        std::ifstream status(dir + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.find("ctxt_switches:") != std::string::npos)
                total += std::stol(line.substr(line.find(':') + 1));
        std::ifstream stat_file(dir + "/stat");
        std::string stat((std::istreambuf_iterator<char>(stat_file)), {});
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::vector<std::string> field{std::istream_iterator<std::string>(fields), {}};
        if (field.size() > 12)
            total += std::stol(field[11]) + std::stol(field[12]);  // utime, stime
    }
    return total;
}

std::vector<std::string> threads_of(pid_t pid) {
    std::vector<std::string> tids;
    for (const auto &entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
        tids.push_back(entry.path().filename());
    return tids;
}

}  // namespace

TEST(StackOpen, EveryOpenFailureGivesItsErrorCode) {
    {
        ServiceProcess none({"--time-scale", "0"});
        ASSERT_TRUE(none.ready());
        ::setenv("KRVX_SOCKET", (none.socket() + ".absent").c_str(), 1);
        errno = 0;
        EXPECT_EQ(KRVXOpen(), -1);
        EXPECT_EQ(errno, ERR_DRIVER_NOT_FOUND);
    }
    const std::pair<const char *, int> rows[] = {
        {"device-not-found", ERR_DEVICE_NOT_FOUND},
        {"comm-failed", ERR_COMM_FAILED},
        {"firmware-mismatch", ERR_FIRMWARE_MISMATCH},
    };
    for (const auto &[flag, expected] : rows) {
        ServiceProcess service({"--time-scale", "0", std::string("--fail-open=") + flag});
        ASSERT_TRUE(service.ready()) << flag;
        errno = 0;
        EXPECT_EQ(KRVXOpen(), -1) << flag;
        EXPECT_EQ(errno, expected) << flag;
    }
}

TEST(StackOpen, HandlesAreDistinctPositiveClientsWithTheDeviceInfo) {
    ServiceProcess service({"--time-scale", "0", "--firmware", "2.5", "--protocol", "1.9",
                            "--firmware-date", "2031-12-24"});
    ASSERT_TRUE(service.ready());
    const int a = open_ok(), b = open_ok();
    EXPECT_NE(a, b);
    DeviceInfo info{};
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_NE(KRVXGetKRVXInfo(b, &info), 0) << errno;
    EXPECT_EQ(info.firmwareVersion, 2u * 256 + 5);
    EXPECT_EQ(info.protocolVersion, 1u * 256 + 9);
    EXPECT_EQ(info.firmwareDateDay, 24);
    EXPECT_EQ(info.firmwareDateMonth, 12);
    EXPECT_EQ(info.firmwareDateYear, 31);
    errno = 0;
    EXPECT_EQ(KRVXGetKRVXInfo(b, nullptr), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    EXPECT_NE(KRVXClose(a), 0);
    EXPECT_EQ(KRVXClose(a), 0);
    EXPECT_EQ(errno, ERR_INVALID_HANDLE);
    // Closing one client leaves the other working.
    EXPECT_NE(KRVXGetKRVXInfo(b, &info), 0);
    EXPECT_NE(KRVXClose(b), 0);
}

TEST(StackSend, LoopbackReachesEveryReceiveCallbackWithTheCodeSent) {
    ServiceProcess service({"--time-scale", "0", "--loopback"});
    ASSERT_TRUE(service.ready());
    const int sender = open_ok(), listener = open_ok();
    Inbox own, other;
    ASSERT_NE(KRVXSetReceiveCallback(sender, Inbox::callback, &own), 0);
    ASSERT_NE(KRVXSetReceiveCallback(listener, Inbox::callback, &other), 0);

    ASSERT_NE(KRVXTransmitIR(sender, kNec, FMT_PRONTO, 10, 0, nullptr, nullptr, nullptr), 0)
        << KRVXErrorText(errno);
    EXPECT_TRUE(eventually([&] { return own.count >= 1 && other.count >= 1; }));
    ASSERT_NE(KRVXTransmitIR(sender, kRc5, FMT_PRONTO, 3, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(eventually([&] { return other.count >= 2; }));

    // One report per send (its first frame), 12 characters, zero-padded.
    const auto got = other.snapshot();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], receive_code_of(kNec));
    EXPECT_EQ(got[1], receive_code_of(kRc5));
    EXPECT_NE(got[0], got[1]);
    EXPECT_EQ(got[0].size(), 12u);
    EXPECT_TRUE(other.padded);

    // A removed callback hears nothing more, while others still do.
    ASSERT_NE(KRVXSetReceiveCallback(listener, nullptr, nullptr), 0);
    ASSERT_NE(KRVXTransmitIR(sender, kNec, FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(eventually([&] { return own.count >= 3; }));
    EXPECT_EQ(other.count, 2);
    KRVXClose(sender);
    KRVXClose(listener);
}

TEST(StackSend, BadCodesAndDeviceFailuresAreReportedNotSent) {
    ServiceProcess service({"--time-scale", "0", "--fail-transmit"});
    ASSERT_TRUE(service.ready());
    const int h = open_ok();
    const std::pair<const char *, int> rows[] = {
        {"0000 006C 0022 0002 015B", ERR_INVALID_CODE},
        {"0000 006C 0000 0001 0000 0010", ERR_INVALID_CODE},  // a zero pulse cannot be sent
        {"hello", ERR_INVALID_CODE},
        {kNec, ERR_TRANSMIT_FAILED},
    };
    for (const auto &[code, expected] : rows) {
        errno = 0;
        EXPECT_EQ(KRVXTransmitIR(h, code, FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr), 0) << code;
        EXPECT_EQ(errno, expected) << code;
    }
    errno = 0;
    EXPECT_EQ(KRVXTransmitIR(h, nullptr, FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KRVXTransmitIR(h, kNec, 3, 1, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    KRVXClose(h);
}

TEST(StackSend, PressReachesFiftyClients) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    constexpr int kClients = 50;
    std::vector<int> handles;
    std::vector<Inbox> inboxes(kClients);
    for (int i = 0; i < kClients; ++i) {
        handles.push_back(open_ok());
        ASSERT_NE(KRVXSetReceiveCallback(handles.back(), Inbox::callback, &inboxes[i]), 0);
    }
    ASSERT_EQ(
        run_program({KRVX_PATH, "--socket", service.socket(), "press", kRc5, "--hold", "300"}), 0);
    EXPECT_TRUE(eventually([&] {
        for (auto &in : inboxes)
            if (in.count < 1)
                return false;
        return true;
    }));
    for (auto &in : inboxes) {
        const auto got = in.snapshot();
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got.front(), receive_code_of(kRc5));
    }
    for (int h : handles)
        EXPECT_NE(KRVXClose(h), 0);
}

TEST(StackSend, ASendOnAirHoldsUpNoOtherClient) {
    // Real air time: 40 repeats of an NEC frame take about 4.4 s.
    ServiceProcess service({"--time-scale", "1"});
    ASSERT_TRUE(service.ready());
    const int sender = open_ok(), other = open_ok();
    Inbox inbox;
    ASSERT_NE(KRVXSetReceiveCallback(other, Inbox::callback, &inbox), 0);
    std::atomic<bool> send_done{false};
    auto send = std::async(std::launch::async, [&] {
        const int ok = KRVXTransmitIR(sender, kNec, FMT_PRONTO, 40, 0, nullptr, nullptr, nullptr);
        send_done = true;
        return ok;
    });
    DeviceInfo info{};
    EXPECT_NE(KRVXGetKRVXInfo(other, &info), 0);
    ASSERT_EQ(run_program({KRVX_PATH, "press", kRc5, "--hold", "0"}), 0);
    EXPECT_TRUE(eventually([&] { return inbox.count >= 1 || send_done; }));
    // Both answered while the send was still on air.
    EXPECT_FALSE(send_done);
    EXPECT_GE(inbox.count, 1);
    EXPECT_NE(send.get(), 0) << KRVXErrorText(errno);
    KRVXClose(sender);
    KRVXClose(other);
}

TEST(StackFailure, KilledServiceEndsASendWithinTwoSeconds) {
    ServiceProcess service({"--time-scale", "1"});
    ASSERT_TRUE(service.ready());
    const int h = open_ok();
    Inbox inbox;
    ASSERT_NE(KRVXSetReceiveCallback(h, Inbox::callback, &inbox), 0);
    std::atomic<bool> done{false};
    std::atomic<int> error{0};
    std::thread sender([&] {
        const int ok = KRVXTransmitIR(h, kNec, FMT_PRONTO, 200, 0, nullptr, nullptr, nullptr);
        error = ok ? 0 : errno;
        done = true;
    });
    // Give the send a chance to reach the device; either way it must end the same.
    eventually([&] { return done.load(); }, std::chrono::milliseconds(300));
    const auto killed_at = Clock::now();
    service.stop(SIGKILL);
    EXPECT_TRUE(eventually([&] { return done.load(); },
                           std::chrono::seconds(2) + std::chrono::milliseconds(500)));
    const auto took = Clock::now() - killed_at;
    sender.join();
    EXPECT_EQ(error, ERR_COMM_FAILED);
    EXPECT_LT(took, std::chrono::seconds(3));
    // Later calls fail at once; close still works.
    DeviceInfo info{};
    EXPECT_EQ(KRVXGetKRVXInfo(h, &info), 0);
    EXPECT_EQ(errno, ERR_COMM_FAILED);
    EXPECT_NE(KRVXClose(h), 0);
}

TEST(StackFailure, HungServiceTimesOutInsteadOfHanging) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int h = open_ok();
    ::kill(service.pid(), SIGSTOP);
    DeviceInfo info{};
    const auto start = Clock::now();
    errno = 0;
    EXPECT_EQ(KRVXGetKRVXInfo(h, &info), 0);
    EXPECT_EQ(errno, ERR_COMM_FAILED);
    errno = 0;
    EXPECT_EQ(KRVXOpen(), -1);
    EXPECT_EQ(errno, ERR_COMM_FAILED);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    ::kill(service.pid(), SIGCONT);
    // The timeout ended the handle's connection, so the service cannot carry the request out
    // late; the handle says so, and a new one is served.
    EXPECT_EQ(KRVXGetKRVXInfo(h, &info), 0);
    EXPECT_EQ(errno, ERR_COMM_FAILED);
    EXPECT_NE(std::string(KRVXErrorText(ERR_COMM_FAILED)).find("open the device again"),
              std::string::npos)
        << KRVXErrorText(ERR_COMM_FAILED);
    KRVXClose(h);
    const int again = open_ok();
    EXPECT_NE(KRVXGetKRVXInfo(again, &info), 0) << KRVXErrorText(errno);
    KRVXClose(again);
}

TEST(StackFailure, NoCallbackRunsAfterCloseReturns) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    struct Counter {
        std::atomic<bool> closed{false};
        std::atomic<int> after_close{0};
        std::atomic<int> calls{0};
    } counter;
    const auto callback = [](const char *, void *user) {
        auto *c = static_cast<Counter *>(user);
        if (c->closed)
            ++c->after_close;
        ++c->calls;
    };
    const int h = open_ok();
    ASSERT_NE(KRVXSetReceiveCallback(h, callback, &counter), 0);
    // A stream of presses while the handle closes.
    std::atomic<bool> stop{false};
    std::atomic<int> presses_after_close{0};
    std::thread presser([&] {
        while (!stop) {
            run_program({KRVX_PATH, "press", kRc5, "--hold", "0"});
            if (counter.closed)
                ++presses_after_close;
        }
    });
    EXPECT_TRUE(eventually([&] { return counter.calls >= 3; }));
    EXPECT_NE(KRVXClose(h), 0);
    counter.closed = true;
    const int before = counter.calls;
    // Codes keep arriving at the service for a while after the close.
    EXPECT_TRUE(eventually([&] { return presses_after_close >= 3; }));
    stop = true;
    presser.join();
    EXPECT_EQ(counter.after_close, 0);
    EXPECT_EQ(counter.calls, before);
}

TEST(StackFailure, ClosingFromInsideTheCallbackDoesNotDeadlock) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    struct Ctx {
        int handle = 0;
        std::atomic<int> closes{0};
        std::atomic<int> result{-1};
    } ctx;
    ctx.handle = open_ok();
    ASSERT_NE(KRVXSetReceiveCallback(
                  ctx.handle,
                  [](const char *, void *user) {
                      auto *c = static_cast<Ctx *>(user);
                      if (c->closes++ == 0)
                          c->result = KRVXClose(c->handle);
                  },
                  &ctx),
              0);
    ASSERT_EQ(run_program({KRVX_PATH, "press", kNec, "--hold", "500"}), 0);
    EXPECT_TRUE(eventually([&] { return ctx.result != -1; }));
    EXPECT_NE(ctx.result, 0);
    EXPECT_EQ(KRVXClose(ctx.handle), 0);  // already closed
}

TEST(StackService, BadClientsAreDroppedAndOthersServed) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int good = open_ok();

    struct Row {
        const char *name;
        std::vector<uint8_t> bytes;
        bool close_after;
    };
    std::vector<uint8_t> random_bytes(4096);
    uint32_t x = 12345;
    for (auto &b : random_bytes)
        b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
    std::vector<uint8_t> half_hello = {12, 0, 0, 0, 1, 0, 1, 0};
    const Row rows[] = {
        {"random bytes", random_bytes, false},
        {"oversized length", {0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3}, false},
        {"zero length", {0, 0, 0, 0}, false},
        {"frame cut in half", half_hello, true},
        {"request before handshake", {6, 0, 0, 0, 2, 0, 1, 0, 0, 0}, false},
        {"reply from a client", {10, 0, 0, 0, 0x80, 0, 1, 0, 0, 0, 0, 0, 0, 0}, false},
    };
    for (const Row &row : rows) {
        const int fd = raw_connect(service.socket());
        ASSERT_GE(fd, 0) << row.name;
        ASSERT_EQ(::send(fd, row.bytes.data(), row.bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(row.bytes.size()))
            << row.name;
        if (row.close_after)
            ::shutdown(fd, SHUT_WR);
        EXPECT_TRUE(closed_by_peer(fd)) << row.name;
        ::close(fd);
        // The service goes on: a new client opens, the old one is still served.
        const int fresh = open_ok();
        DeviceInfo info{};
        EXPECT_NE(KRVXGetKRVXInfo(fresh, &info), 0) << row.name;
        EXPECT_NE(KRVXGetKRVXInfo(good, &info), 0) << row.name;
        KRVXClose(fresh);
    }
    KRVXClose(good);
}

TEST(StackService, SocketIsPrivateAndRemovedOnTerminate) {
    for (int signo : {SIGTERM, SIGINT}) {
        ServiceProcess service({"--time-scale", "0"});
        ASSERT_TRUE(service.ready());
        struct stat st {};
        ASSERT_EQ(::stat(service.socket().c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        const int h = open_ok();
        EXPECT_EQ(service.stop(signo), 0) << signo;
        EXPECT_NE(::access(service.socket().c_str(), F_OK), 0) << "socket left behind";
        DeviceInfo info{};
        EXPECT_EQ(KRVXGetKRVXInfo(h, &info), 0);
        EXPECT_EQ(errno, ERR_COMM_FAILED);
        KRVXClose(h);
    }
}

TEST(StackService, ASecondServiceDoesNotStealTheSocket) {
    ServiceProcess first({"--time-scale", "0"});
    ASSERT_TRUE(first.ready());
    EXPECT_EQ(run_program({KRVXD_PATH, "--socket", first.socket(), "--time-scale", "0"}), 1);
    EXPECT_TRUE(can_connect(first.socket()));
}

// Requests from several threads at once, on a handle whose receive callback gets frames (its
// replies come through the library's thread) and on one without callbacks whose frame
// callback another thread sets and removes (its replies alternate between the calling
// thread's own read and the library's thread): every reply reaches its caller, every frame
// its callback, and callbacks run on the library's threads only.
TEST(StackRequests, RepliesReachTheirCallersWhileFramesArrive) {
    ServiceProcess service({"--time-scale", "0", "--loopback", "--firmware", "2.5"});
    ASSERT_TRUE(service.ready());
    const int listening = open_ok(), plain = open_ok(), sender = open_ok();
    struct Threads {
        std::mutex mutex;
        std::vector<std::thread::id> ids;
        std::atomic<int> on_test_thread{0};
        bool known(std::thread::id id) {
            std::lock_guard lock(mutex);
            return std::find(ids.begin(), ids.end(), id) != ids.end();
        }
    } test_threads;
    test_threads.ids.push_back(std::this_thread::get_id());
    struct Listener {
        Inbox inbox;
        Threads *threads;
    } listener{{}, &test_threads};
    ASSERT_NE(KRVXSetReceiveCallback(
                  listening,
                  [](const char *code, void *user) {
                      auto *l = static_cast<Listener *>(user);
                      if (l->threads->known(std::this_thread::get_id()))
                          ++l->threads->on_test_thread;
                      Inbox::callback(code, &l->inbox);
                  },
                  &listener),
              0);

    constexpr int kThreads = 3, kRequests = 300, kSends = 40;
    std::atomic<int> failures{0}, wrong{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < kRequests; ++i) {
                DeviceInfo info{};
                if (KRVXGetKRVXInfo(i % 2 == 0 ? plain : listening, &info) == 0)
                    ++failures;
                else if (info.firmwareVersion != 2u * 256 + 5)
                    ++wrong;
            }
        });
    std::thread toggler([&] {
        const auto on_frame = [](const KRVXReceivedFrame *, void *user) {
            auto *t = static_cast<Threads *>(user);
            if (t->known(std::this_thread::get_id()))
                ++t->on_test_thread;
        };
        for (bool on = true; !stop; on = !on)
            if (KRVXSetReceiveFrameCallback(plain, on ? +on_frame : nullptr, &test_threads) == 0)
                ++failures;
    });
    {
        std::lock_guard lock(test_threads.mutex);
        for (const auto &t : threads)
            test_threads.ids.push_back(t.get_id());
        test_threads.ids.push_back(toggler.get_id());
    }
    for (int i = 0; i < kSends; ++i)
        ASSERT_NE(KRVXTransmitIR(sender, i % 2 ? kRc5 : kNec, FMT_PRONTO, 1, 0, nullptr, nullptr,
                                 nullptr),
                  0)
            << KRVXErrorText(errno);
    for (auto &t : threads)
        t.join();
    stop = true;
    toggler.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_TRUE(eventually([&] { return listener.inbox.count >= kSends; }));
    const auto got = listener.inbox.snapshot();
    ASSERT_EQ(got.size(), static_cast<std::size_t>(kSends));
    for (int i = 0; i < kSends; ++i)
        EXPECT_EQ(got[i], receive_code_of(i % 2 ? kRc5 : kNec)) << i;
    EXPECT_EQ(test_threads.on_test_thread, 0);
    for (int h : {listening, plain, sender})
        EXPECT_NE(KRVXClose(h), 0);
}

// A request that its own thread reads (no callback, learn or hook on the handle) ends when
// the service dies or another thread closes the handle, instead of waiting for its reply.
TEST(StackRequests, ARequestReadByItsCallerEndsWhenTheServiceDiesOrTheHandleCloses) {
    for (const bool kill_service : {true, false}) {
        ServiceProcess service({"--time-scale", "1"});  // 40 NEC repeats: about 4.4 s on air
        ASSERT_TRUE(service.ready());
        const int h = open_ok();
        std::atomic<bool> done{false};
        std::atomic<int> error{0};
        std::thread sender([&] {
            const int ok = KRVXTransmitIR(h, kNec, FMT_PRONTO, 40, 0, nullptr, nullptr, nullptr);
            error = ok ? 0 : errno;
            done = true;
        });
        eventually([&] { return done.load(); }, std::chrono::milliseconds(300));
        if (kill_service)
            service.stop(SIGKILL);
        else
            EXPECT_NE(KRVXClose(h), 0);
        EXPECT_TRUE(eventually([&] { return done.load(); }, std::chrono::milliseconds(2500)))
            << kill_service;
        sender.join();
        EXPECT_EQ(error, ERR_COMM_FAILED) << kill_service;
        if (kill_service) {
            DeviceInfo info{};
            EXPECT_EQ(KRVXGetKRVXInfo(h, &info), 0);
            EXPECT_EQ(errno, ERR_COMM_FAILED);
            EXPECT_NE(KRVXClose(h), 0);
        }
    }
}

// Between requests nothing runs: not the service's loop, not a handle's library thread, with
// or without a callback, also after replies have been read (the service watches its clients'
// sockets for room to write, edge-triggered; level-triggered it would spin).
TEST(StackIdle, IdleClientsWakeNeitherTheServiceNorTheirLibraryThreads) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    std::thread([] {}).join();  // a sanitizer starts its helper thread with the first thread
    const auto before = threads_of(::getpid());  // the test's own and any sanitizer's
    const int plain = open_ok(), with_callback = open_ok();
    ASSERT_NE(KRVXSetReceiveCallback(
                  with_callback, [](const char *, void *) {}, nullptr),
              0);
    for (int i = 0; i < 50; ++i) {
        DeviceInfo info{};
        ASSERT_NE(KRVXGetKRVXInfo(i % 2 ? plain : with_callback, &info), 0);
    }
    std::vector<std::string> library;
    for (const auto &tid : threads_of(::getpid()))
        if (std::find(before.begin(), before.end(), tid) == before.end())
            library.push_back(tid);
    ASSERT_EQ(library.size(), 2u);
    const std::vector<std::string> loop{std::to_string(service.pid())};
    // Past the handshake deadline (2 s) of the last connection: the service's timer wakes it
    // there once, cancelled or not (Asio leaves its timer descriptor set).
    std::this_thread::sleep_for(std::chrono::milliseconds(2300));
    const long service_before = activity(service.pid(), loop),
               library_before = activity(::getpid(), library);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(activity(service.pid(), loop), service_before);
    EXPECT_EQ(activity(::getpid(), library), library_before);
    KRVXClose(plain);
    KRVXClose(with_callback);
}
