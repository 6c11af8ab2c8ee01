// SPDX-License-Identifier: MIT
// Fault injection against a private krvxd: each test plays one hostile load or neighbour
// (out of descriptors, clients that flood and never read, a thousand presses, a send of
// days, an impostor on the socket path, a link swapped in at the path, a stopped service
// with a full backlog, a send that timed out) and checks the bound that holds.
//
// Memory bounds are checked on plain builds only: a sanitizer's own memory dwarfs them.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "flood.h"
#include "ir/pronto.h"
#include "ir/receive_code.h"
#include "krvxdrv.h"
#include "service_process.h"
#include "test_codes.h"
#include "wire/client.h"

using krvxd::testing::code_of;
using testing_support::eventually;
using testing_support::run_program;
using testing_support::ServiceProcess;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

#ifdef KRVX_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
constexpr long kRssBoundKib = 64 * 1024;

long rss_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// CPU time the process has used, user and system.
double cpu_seconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

long file_size(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

std::string temp_dir() {
    char name[] = "/tmp/krvxd-hostile.XXXXXX";
    return ::mkdtemp(name);
}

std::string heard_as(const std::string &code) {
    return ir::receive_code(ir::parse_pronto(code).signal);
}

bool info_answers() {
    const int h = KRVXOpen();
    if (h <= 0)
        return false;
    DeviceInfo info{};
    const bool ok = KRVXGetKRVXInfo(h, &info) != 0;
    KRVXClose(h);
    return ok;
}

}  // namespace

TEST(Hostile, OutOfDescriptorsTheServiceWaitsQuietlyAndServesAgainLater) {
    const std::string dir = temp_dir(), log = dir + "/krvxd.log";
    ServiceProcess service({"--time-scale", "0"}, log);
    ASSERT_TRUE(service.ready());
    const rlimit limit{64, 64};
    ASSERT_EQ(::prlimit(service.pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
    {
        std::vector<wire::Client> crowd(80);
        for (auto &c : crowd)
            if (c.connect(service.socket(), Clock::now() + 2s).ok())
                c.send({1, wire::Hello{}}, Clock::now() + 1s);
        std::this_thread::sleep_for(500ms);  // the service has met its limit
        const double cpu_before = cpu_seconds(service.pid());
        const long log_before = file_size(log);
        std::this_thread::sleep_for(3s);
        const double cpu_share = (cpu_seconds(service.pid()) - cpu_before) / 3.0;
        const long log_growth = file_size(log) - log_before;
        std::printf("with 80 clients at a limit of 64 descriptors: CPU %.1f %%, log +%ld bytes\n",
                    cpu_share * 100, log_growth);
        EXPECT_LT(cpu_share, 0.05);
        EXPECT_LT(log_growth, 10 * 1024);
    }
    // The crowd has left: the service serves a new client.
    EXPECT_TRUE(eventually(info_answers, 10s));
    service.stop(SIGTERM);
    std::filesystem::remove_all(dir);
}

TEST(Hostile, ClientsThatFloodAndNeverReadStayWithinTheBudgetAndOthersAreServed) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int good = KRVXOpen();
    ASSERT_GT(good, 0);

    // 500 clients greet and then send GetInfo requests without reading an answer.
    std::optional<krvxd::testing::Flood> flood(std::in_place, service.socket(), 500);
    std::vector<double> ms;
    long peak_kib = 0;
    int failures = 0;
    const auto end = Clock::now() + 3s;
    while (Clock::now() < end) {
        DeviceInfo info{};
        const auto t0 = Clock::now();
        failures += KRVXGetKRVXInfo(good, &info) == 0 ? 1 : 0;
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        peak_kib = std::max(peak_kib, rss_kib(service.pid()));
        std::this_thread::sleep_for(2ms);
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "during the flood: %zu info calls, p50 %.2f ms, p99 %.2f ms; krvxd peak RSS %ld "
        "KiB\n",
        ms.size(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], peak_kib);
    EXPECT_EQ(failures, 0);
    if (!kSanitized) {
        EXPECT_LT(peak_kib, kRssBoundKib);
    }

    // What they left behind is given back.
    flood.reset();
    EXPECT_TRUE(eventually(
        [&] {
            DeviceInfo info{};
            return KRVXGetKRVXInfo(good, &info) != 0 &&
                   (kSanitized || rss_kib(service.pid()) < kRssBoundKib);
        },
        10s));
    KRVXClose(good);
}

TEST(Hostile, AThousandPressesOfOneClientAreRefusedBeyondTheLimit) {
    ServiceProcess service({"--time-scale", "1"});  // presses stay held for their time
    ASSERT_TRUE(service.ready());
    wire::Client c;
    ASSERT_TRUE(c.connect(service.socket(), Clock::now() + 2s).ok());
    ASSERT_TRUE(c.hello(Clock::now() + 2s).ok());
    const std::string code = code_of(1, 600);
    for (uint32_t id = 2; id < 1002; ++id)
        ASSERT_TRUE(c.send({id, wire::Press{60000, 100, code}}, Clock::now() + 5s));
    int held = 0, busy = 0;
    for (int i = 0; i < 1000; ++i) {
        const auto m = c.next(Clock::now() + 5s);
        ASSERT_TRUE(m) << "answer " << i;
        if (const auto *r = std::get_if<wire::Reply>(&m->body); r && r->status == wire::Status::Ok)
            ++held;
        if (const auto *r = std::get_if<wire::Refusal>(&m->body);
            r && r->status == wire::Status::ServiceBusy)
            ++busy;
    }
    EXPECT_GT(held, 0);
    EXPECT_LE(held, 16);  // a few per client at most
    EXPECT_EQ(held + busy, 1000);
    const long kib = rss_kib(service.pid());
    std::printf("1000 presses: %d held, %d refused; krvxd RSS %ld KiB\n", held, busy, kib);
    if (!kSanitized) {
        EXPECT_LT(kib, kRssBoundKib);
    }
}

TEST(Hostile, ASendOfNinetyFiveHoursIsRefusedByTheLibraryAndTheService) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const std::string days = code_of(100, 1'700'000);  // 340 s a pass, 1000 passes
    const int h = KRVXOpen();
    ASSERT_GT(h, 0);
    errno = 0;
    EXPECT_EQ(KRVXTransmitIR(h, days.c_str(), FMT_PRONTO, 1000, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    EXPECT_NE(std::string(KRVXErrorText(ERR_INVALID_ARGUMENT)).find("h on air"), std::string::npos)
        << KRVXErrorText(ERR_INVALID_ARGUMENT);
    KRVXClose(h);

    // A client that skips the library's check is refused by the service as well.
    wire::Client c;
    ASSERT_TRUE(c.connect(service.socket(), Clock::now() + 2s).ok());
    ASSERT_TRUE(c.hello(Clock::now() + 2s).ok());
    wire::Outcome o;
    EXPECT_FALSE(c.request(wire::Transmit{1000, days}, Clock::now() + 2s, o));
    EXPECT_EQ(o.status, wire::Status::InvalidArgument);
    EXPECT_NE(o.why.find("h on air"), std::string::npos) << o.why;
}

TEST(Hostile, ASocketServedByAnotherUserIsNotTrusted) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "serving a socket as another user needs root; this test runs as user "
                     << ::geteuid();
    const passwd *nobody = ::getpwnam("nobody");
    const uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
    const gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
    const std::string dir = temp_dir(), path = dir + "/krvxd.sock";
    ASSERT_EQ(::chown(dir.c_str(), uid, gid), 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t impostor = ::fork();
    if (impostor == 0) {
        // Another user's service: it answers like krvxd and would take any code.
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(1);
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (::bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
            ::chmod(path.c_str(), 0666) != 0 || ::listen(listener, 8) != 0)
            ::_exit(1);
        (void)!::write(ready[1], "r", 1);
        for (;;) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
            if (fd < 0)
                ::_exit(0);
            wire::Client peer = wire::Client::adopt(fd);
            while (auto m = peer.next(Clock::now() + 2s)) {
                if (std::holds_alternative<wire::Hello>(m->body))
                    peer.send({m->id, wire::HelloReply{}}, Clock::now() + 1s);
                else
                    peer.send({m->id, wire::InfoReply{wire::Status::Ok, 0x6666, 0x103, 1, 1, 1}},
                              Clock::now() + 1s);
            }
        }
    }
    char r = 0;
    ASSERT_EQ(::read(ready[0], &r, 1), 1) << "the impostor did not start";
    const std::string saved = std::getenv("KRVX_SOCKET") ? std::getenv("KRVX_SOCKET") : "";
    ::setenv("KRVX_SOCKET", path.c_str(), 1);

    errno = 0;
    EXPECT_EQ(KRVXOpen(), -1);
    EXPECT_EQ(errno, ERR_COMM_FAILED);
    const std::string why = KRVXErrorText(ERR_COMM_FAILED);
    EXPECT_NE(why.find("runs as user " + std::to_string(uid)), std::string::npos) << why;
    EXPECT_EQ(run_program({KRVX_PATH, "info"}), 3);

    ::setenv("KRVX_SOCKET", saved.c_str(), 1);
    ::kill(impostor, SIGKILL);
    ::waitpid(impostor, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    std::filesystem::remove_all(dir);
}

TEST(Hostile, TheSocketPathIsNeverChangedAfterBindEvenWhenALinkIsSwappedIn) {
    // At each start, as soon as the socket file appears, a link to another file takes its
    // name. A service that changed the path's mode after bind would change that file's.
    const std::string dir = temp_dir(), path = dir + "/krvxd.sock", victim = dir + "/victim",
                      link = dir + "/link";
    std::ofstream(victim) << "not the service's\n";
    ASSERT_EQ(::chmod(victim.c_str(), 0644), 0);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, dir.c_str(), IN_CREATE | IN_ATTRIB), 0);
    const auto drain = [watch](std::vector<std::string> *attributes_changed) {
        bool created = false;
        pollfd p{watch, POLLIN, 0};
        while (::poll(&p, 1, 0) > 0) {
            alignas(inotify_event) char buffer[4096];
            const ssize_t n = ::read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
                const std::string name = e->len > 0 ? e->name : "";
                created = created || ((e->mask & IN_CREATE) != 0 && name == "krvxd.sock");
                if ((e->mask & IN_ATTRIB) != 0 && attributes_changed != nullptr)
                    attributes_changed->push_back(name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            }
        }
        return created;
    };
    for (int run = 0; run < 5; ++run) {
        ::unlink(path.c_str());
        ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
        drain(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 2);
            ::execl(KRVXD_PATH, KRVXD_PATH, "--socket", path.c_str(), "--time-scale", "0",
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        bool swapped = false;
        std::vector<std::string> changed;
        auto until = Clock::now() + 5s;
        while (Clock::now() < until) {
            pollfd p{watch, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && drain(&changed) && !swapped) {
                swapped = ::rename(link.c_str(), path.c_str()) == 0;
                until = Clock::now() + 500ms;  // time for a change of mode to show
            }
        }
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        EXPECT_TRUE(swapped) << "run " << run << ": the socket never appeared";
        EXPECT_EQ(changed, std::vector<std::string>{}) << "run " << run;
        struct stat st {};
        ASSERT_EQ(::stat(victim.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0644u) << "run " << run;
        ::unlink(link.c_str());
    }
    ::close(watch);
    std::filesystem::remove_all(dir);
}

TEST(Hostile, PressAgainstAStoppedServiceWithAFullBacklogGivesUpInTime) {
    // Filling the listen backlog takes a descriptor per waiting connection.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 5000)
        GTEST_SKIP() << "filling a listen backlog of up to 4096 needs more descriptors than "
                     << limit.rlim_cur;
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    ::kill(service.pid(), SIGSTOP);
    std::vector<wire::Client> backlog;
    wire::Outcome o;
    while (o.ok() && backlog.size() < 4500)
        o = backlog.emplace_back().connect(service.socket(), Clock::now() + 20ms);
    ASSERT_EQ(o.status, wire::Status::CommFailed) << "the backlog never filled";

    // krvx's own start (slow under a sanitizer or on a busy machine) is not the bound.
    auto start = Clock::now();
    ASSERT_EQ(run_program({KRVX_PATH, "--version"}), 0);
    const auto startup = Clock::now() - start;
    start = Clock::now();
    EXPECT_EQ(run_program({KRVX_PATH, "press", code_of(1, 600)}), 3);  // no service
    EXPECT_LT(Clock::now() - start, 3s + startup);
    start = Clock::now();
    errno = 0;
    EXPECT_EQ(KRVXOpen(), -1);
    EXPECT_EQ(errno, ERR_COMM_FAILED);
    EXPECT_LT(Clock::now() - start, 3s);

    // A second service on the same path sees that one listens there, at once, and leaves
    // the path alone.
    const char *argv[] = {KRVXD_PATH,     "--socket", service.socket().c_str(),
                          "--time-scale", "0",        nullptr};
    pid_t second = -1;
    ASSERT_EQ(
        ::posix_spawn(&second, KRVXD_PATH, nullptr, nullptr, const_cast<char **>(argv), environ),
        0);
    int status = -1;
    const bool ended =
        eventually([&] { return ::waitpid(second, &status, WNOHANG) == second; },
                   std::chrono::duration_cast<std::chrono::milliseconds>(3s + startup));
    if (!ended) {
        ::kill(second, SIGKILL);
        ::waitpid(second, &status, 0);
    }
    EXPECT_TRUE(ended) << "a second krvxd waited for the stopped one";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_TRUE(std::filesystem::is_socket(service.socket()));
    backlog.clear();
    ::kill(service.pid(), SIGCONT);
}

TEST(Hostile, ASendThatTimedOutNeverGoesOnAirLater) {
    ServiceProcess service({"--time-scale", "0", "--loopback"});
    ASSERT_TRUE(service.ready());
    struct Inbox {
        std::mutex mutex;
        std::vector<std::string> codes;
        static void callback(const char *text, void *user) {
            auto *self = static_cast<Inbox *>(user);
            std::lock_guard lock(self->mutex);
            self->codes.emplace_back(text);
        }
        bool has(const std::string &code) {
            std::lock_guard lock(mutex);
            return std::find(codes.begin(), codes.end(), code) != codes.end();
        }
    } inbox;
    const int listener = KRVXOpen(), sender = KRVXOpen();
    ASSERT_GT(listener, 0);
    ASSERT_GT(sender, 0);
    ASSERT_NE(KRVXSetReceiveCallback(listener, &Inbox::callback, &inbox), 0);

    const std::string timed_out = code_of(2, 900), later = code_of(3, 900);
    ::kill(service.pid(), SIGSTOP);
    errno = 0;
    EXPECT_EQ(
        KRVXTransmitIR(sender, timed_out.c_str(), FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(errno, ERR_COMM_FAILED);
    ::kill(service.pid(), SIGCONT);

    // A send after it: once its code is heard, anything sent before it would have been.
    const int control = KRVXOpen();
    ASSERT_GT(control, 0);
    EXPECT_NE(KRVXTransmitIR(control, later.c_str(), FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr),
              0);
    EXPECT_TRUE(eventually([&] { return inbox.has(heard_as(later)); }, 10s));
    EXPECT_FALSE(inbox.has(heard_as(timed_out))) << "the send that timed out went on air";
    for (int h : {listener, sender, control})
        KRVXClose(h);
}
