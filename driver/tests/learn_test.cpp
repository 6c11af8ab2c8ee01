// Own learns through libkrvxdrv against a private krvxd whose virtual remote (krvx press)
// provides the signal: the learned code, progress order, the abort word, one learn at a
// time, superseding, and a service that dies during a learn.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ir/pronto.h"
#include "krvxdrv.h"
#include "service_process.h"

using testing_support::eventually;
using testing_support::run_program;
using testing_support::ServiceProcess;

namespace {

const char *kNec =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 06A4 "
    "015B 0057 0016 0E6C";

// What the learn callback saw, from the library's thread.
struct LearnLog {
    std::mutex mutex;
    std::vector<int32_t> progress;
    int32_t carrier = 0;
    std::atomic<bool> ended{false};

    static void callback(int32_t progress, int32_t quality, int32_t carrier, void *user) {
        auto *self = static_cast<LearnLog *>(user);
        EXPECT_GE(quality, 0);
        EXPECT_LE(quality, 100);
        std::lock_guard lock(self->mutex);
        self->progress.push_back(progress);
        self->carrier = carrier;
        if (progress == LEARN_PROGRESS_DONE || progress < 0)
            self->ended = true;
    }
    std::vector<int32_t> snapshot() {
        std::lock_guard lock(mutex);
        return progress;
    }
};

// A learn's memory as an application keeps it: fixed addresses, an aligned abort word.
struct LearnMemory {
    char buffer[KRVX_LEARN_BUFFER_SIZE];
    alignas(4) int32_t abort_word = 0;
    LearnMemory() { std::memset(buffer, 'Q', sizeof buffer); }
    int32_t abort_value() { return std::atomic_ref<int32_t>(abort_word).load(); }
    void set_abort(int32_t v) { std::atomic_ref<int32_t>(abort_word).store(v); }
};

int press(const std::string &socket, const char *code, const char *hold_ms) {
    return run_program({KRVX_PATH, "--socket", socket, "press", code, "--hold", hold_ms});
}

int32_t start_learn(int h, LearnMemory &mem, LearnLog &log) {
    errno = 0;
    KRVXLearnIR(h, FMT_PRONTO, mem.buffer, LearnLog::callback, &log, &mem.abort_word, 0, -1, 0);
    return errno;
}

// Every duration of `got` within one carrier period of `want`, parts the same length.
void expect_same_timings(const std::string &got_text, const char *want_text) {
    const auto got = ir::parse_pronto(got_text), want = ir::parse_pronto(want_text);
    ASSERT_TRUE(got.ok()) << got.error << ": " << got_text;
    const double period_us = 1e6 / want.signal.carrier_hz;
    ASSERT_EQ(got.signal.once.size(), want.signal.once.size()) << got_text;
    ASSERT_EQ(got.signal.repeat.size(), want.signal.repeat.size()) << got_text;
    const auto check = [&](const std::vector<ir::Burst> &a, const std::vector<ir::Burst> &b) {
        for (std::size_t i = 0; i < a.size(); ++i) {
            EXPECT_LE(std::abs(double(a[i].on_us) - double(b[i].on_us)), period_us) << i;
            EXPECT_LE(std::abs(double(a[i].off_us) - double(b[i].off_us)), period_us) << i;
        }
    };
    check(got.signal.once, want.signal.once);
    check(got.signal.repeat, want.signal.repeat);
}

}  // namespace

TEST(OwnLearn, APressedCodeIsLearnedBackWithProgressInOrder) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int h = KRVXOpen();
    ASSERT_GT(h, 0);
    LearnMemory mem;
    LearnLog log;
    ASSERT_EQ(start_learn(h, mem, log), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return log.ended.load(); }));

    const auto seen = log.snapshot();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back(), LEARN_PROGRESS_DONE);
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
        EXPECT_GE(seen[i], 0);
        EXPECT_LE(seen[i], 100);
        if (i > 0) {
            EXPECT_GE(seen[i], seen[i - 1]) << "progress went back";
        }
    }
    EXPECT_EQ(log.carrier, 38400);  // 38381 Hz, measured to the nearest 100 Hz
    const std::string learned(mem.buffer);
    EXPECT_LE(learned.size(), 2048u);
    expect_same_timings(learned, kNec);
    EXPECT_EQ(mem.abort_value(), 0);
    KRVXClose(h);
}

TEST(OwnLearn, AbortWordFinishesWithThePartialBurstOrCancels) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int h = KRVXOpen();
    ASSERT_GT(h, 0);
    {
        // A short press: one frame, a partial burst; -1 takes it and the word goes to 0.
        LearnMemory mem;
        LearnLog log;
        ASSERT_EQ(start_learn(h, mem, log), ERROR_IO_PENDING);
        ASSERT_EQ(press(service.socket(), kNec, "0"), 0);
        ASSERT_TRUE(eventually([&] { return !log.snapshot().empty(); }));
        EXPECT_FALSE(log.ended);
        mem.set_abort(-1);
        ASSERT_TRUE(eventually([&] { return log.ended.load(); }));
        EXPECT_EQ(log.snapshot().back(), LEARN_PROGRESS_DONE);
        EXPECT_EQ(mem.abort_value(), 0);
        const auto partial = ir::parse_pronto(mem.buffer);
        ASSERT_TRUE(partial.ok()) << mem.buffer;
        EXPECT_EQ(partial.signal.once.size(), 34u);  // the first frame only
    }
    {
        // Nothing captured: -1 ends the learn without a code and the word stays -1.
        LearnMemory mem;
        LearnLog log;
        ASSERT_EQ(start_learn(h, mem, log), ERROR_IO_PENDING);
        mem.set_abort(-1);
        ASSERT_TRUE(eventually([&] { return log.ended.load(); }));
        EXPECT_EQ(log.snapshot().back(), LEARN_FAIL_CANCELLED);
        EXPECT_EQ(mem.buffer[0], '\0');
        EXPECT_EQ(mem.abort_value(), -1);
    }
    KRVXClose(h);
}

TEST(OwnLearn, OneLearnAtATimeAndALaterCallSupersedes) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int a = KRVXOpen(), b = KRVXOpen();
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    LearnMemory first, second, other;
    LearnLog first_log, second_log, other_log;
    ASSERT_EQ(start_learn(a, first, first_log), ERROR_IO_PENDING);
    // Another client is refused at once.
    EXPECT_EQ(KRVXLearnIR(b, FMT_PRONTO, other.buffer, LearnLog::callback, &other_log,
                          &other.abort_word, 0, -1, 0),
              0);
    EXPECT_EQ(errno, ERR_LEARN_BUSY);
    // The same client's new learn supersedes the first: its buffer is left alone.
    ASSERT_EQ(start_learn(a, second, second_log), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return second_log.ended.load(); }));
    EXPECT_EQ(second_log.snapshot().back(), LEARN_PROGRESS_DONE);
    for (char c : first.buffer)
        ASSERT_EQ(c, 'Q');
    for (int32_t p : first_log.snapshot())
        EXPECT_NE(p, LEARN_PROGRESS_DONE);

    // An unhook call ends a learn too; afterwards nothing lands in its buffer.
    LearnMemory third;
    LearnLog third_log;
    ASSERT_EQ(start_learn(a, third, third_log), ERROR_IO_PENDING);
    char unhook[KRVX_LEARN_BUFFER_SIZE] = UNHOOK_COMMAND;
    EXPECT_NE(KRVXLearnIR(a, FMT_UNHOOK, unhook, nullptr, nullptr, &third.abort_word, 0, -1, 0), 0);
    std::memset(third.buffer, 'Q', sizeof third.buffer);
    // The device is free again: the other client may learn now.
    EXPECT_TRUE(eventually([&] { return start_learn(b, other, other_log) == ERROR_IO_PENDING; }));
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return other_log.ended.load(); }));
    for (char c : third.buffer)
        ASSERT_EQ(c, 'Q');
    KRVXClose(a);
    KRVXClose(b);
}

TEST(OwnLearn, TimeoutAndADyingServiceEndWithAReason) {
    {
        ServiceProcess service({"--time-scale", "0", "--learn-timeout", "0.3"});
        ASSERT_TRUE(service.ready());
        const int h = KRVXOpen();
        LearnMemory mem;
        LearnLog log;
        ASSERT_EQ(start_learn(h, mem, log), ERROR_IO_PENDING);
        ASSERT_TRUE(eventually([&] { return log.ended.load(); }));
        EXPECT_EQ(log.snapshot().back(), LEARN_FAIL_NOTHING_SEEN);
        EXPECT_EQ(mem.buffer[0], '\0');
        KRVXClose(h);
    }
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int h = KRVXOpen();
    LearnMemory mem;
    LearnLog log;
    ASSERT_EQ(start_learn(h, mem, log), ERROR_IO_PENDING);
    service.stop(SIGKILL);
    ASSERT_TRUE(eventually([&] { return log.ended.load(); }, std::chrono::seconds(2)));
    EXPECT_EQ(log.snapshot().back(), LEARN_FAIL_SERVICE_GONE);
    EXPECT_EQ(mem.buffer[0], '\0');
    KRVXClose(h);
}

TEST(OwnLearn, BadArgumentsAreRefused) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int h = KRVXOpen();
    LearnMemory mem;
    errno = 0;
    EXPECT_EQ(KRVXLearnIR(h, FMT_PRONTO, nullptr, nullptr, nullptr, &mem.abort_word, 0, -1, 0), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KRVXLearnIR(h, FMT_PRONTO, mem.buffer, nullptr, nullptr, nullptr, 0, -1, 0), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KRVXLearnIR(h, 7, mem.buffer, nullptr, nullptr, &mem.abort_word, 0, -1, 0), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    EXPECT_EQ(KRVXLearnIR(h, FMT_UNHOOK, mem.buffer, nullptr, nullptr, &mem.abort_word, 0, -1, 0),
              0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);  // format 5 without the unhook word
    EXPECT_EQ(
        KRVXLearnIR(99999, FMT_PRONTO, mem.buffer, nullptr, nullptr, &mem.abort_word, 0, -1, 0), 0);
    EXPECT_EQ(errno, ERR_INVALID_HANDLE);
    KRVXClose(h);
}

TEST(OwnLearn, NoLearnCallbackAfterCloseReturns) {
    // Real air time: the press's frames arrive over a second while the handle closes.
    ServiceProcess service({"--time-scale", "1"});
    ASSERT_TRUE(service.ready());
    const int h = KRVXOpen();
    ASSERT_GT(h, 0);
    struct Watch {
        std::atomic<bool> closed{false};
        std::atomic<int> after_close{0};
        std::atomic<int> calls{0};
    } watch;
    LearnMemory mem;
    errno = 0;
    KRVXLearnIR(
        h, FMT_PRONTO, mem.buffer,
        [](int32_t, int32_t, int32_t, void *user) {
            auto *w = static_cast<Watch *>(user);
            if (w->closed)
                ++w->after_close;
            ++w->calls;
        },
        &watch, &mem.abort_word, 0, -1, 0);
    ASSERT_EQ(errno, ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "0"), 0);  // one frame: progress, no end
    ASSERT_TRUE(eventually([&] { return watch.calls >= 1; }));
    EXPECT_NE(KRVXClose(h), 0);
    watch.closed = true;
    // Another client can learn now: the closed one's learn ended in the service.
    const int other = KRVXOpen();
    LearnMemory other_mem;
    LearnLog other_log;
    EXPECT_TRUE(
        eventually([&] { return start_learn(other, other_mem, other_log) == ERROR_IO_PENDING; }));
    ASSERT_EQ(press(service.socket(), kNec, "500"), 0);
    ASSERT_TRUE(eventually([&] { return other_log.ended.load(); }));
    EXPECT_EQ(watch.after_close, 0);
    for (char c : mem.buffer)
        ASSERT_EQ(c, 'Q');
    KRVXClose(other);
}

namespace {

// A hooked handle with its buffer and abort word, as vintrel keeps them.
struct Hook {
    int handle = 0;
    LearnMemory mem;
    LearnLog log;
    bool hook() {
        std::memcpy(mem.buffer, HOOK_COMMAND, sizeof HOOK_COMMAND);
        errno = -1;
        const int ok = KRVXLearnIR(handle, FMT_PRONTO, mem.buffer, LearnLog::callback, &log,
                                   &mem.abort_word, 0, -1, 0);
        return ok != 0 && errno == 0;
    }
    bool saw(int32_t value) {
        for (int32_t p : log.snapshot())
            if (p == value)
                return true;
        return false;
    }
    // Writes `code` into the hook's buffer (before the learn it answers begins, so that no
    // END can be written into the buffer at the same time), waits for BEGIN and answers -2.
    void prepare(const char *code) { std::strcpy(mem.buffer, code); }
    void inject_on_begin() {
        ASSERT_TRUE(eventually([&] { return saw(LEARN_PROGRESS_BEGIN); }));
        mem.set_abort(-2);
    }
};

const char *kInjected = "0000 0073 0000 0001 0020 0CA8";

}  // namespace

TEST(LearnHook, ADyingServiceEndsTheLearnerAndEveryHook) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Hook watching, late;
    watching.handle = KRVXOpen();
    late.handle = KRVXOpen();
    ASSERT_TRUE(watching.hook());
    const int b = KRVXOpen();
    LearnMemory bm;
    LearnLog bl;
    ASSERT_EQ(start_learn(b, bm, bl), ERROR_IO_PENDING);
    ASSERT_TRUE(eventually([&] { return watching.saw(LEARN_PROGRESS_BEGIN); }));
    ASSERT_TRUE(late.hook());  // hooked after the learn began: it sees nothing of it
    service.stop(SIGKILL);
    const auto ended = [](Hook &h) {
        const auto p = h.log.snapshot();
        return !p.empty() && p.back() == LEARN_FAIL_SERVICE_GONE;
    };
    ASSERT_TRUE(eventually([&] { return bl.ended.load() && ended(watching) && ended(late); },
                           std::chrono::seconds(2)));
    EXPECT_EQ(bl.snapshot().back(), LEARN_FAIL_SERVICE_GONE);
    EXPECT_EQ(watching.mem.buffer[0], '\0');
    EXPECT_EQ(late.mem.buffer[0], '\0');
    KRVXClose(b);
    KRVXClose(watching.handle);
    KRVXClose(late.handle);
}

TEST(LearnHook, AHookSeesAnotherClientsLearnAndItsCode) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Hook a;
    a.handle = KRVXOpen();
    ASSERT_TRUE(a.hook());
    const int b = KRVXOpen();
    LearnMemory bm;
    LearnLog bl;
    ASSERT_EQ(start_learn(b, bm, bl), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return bl.ended.load() && a.saw(LEARN_PROGRESS_END); }));
    ASSERT_EQ(bl.snapshot().back(), LEARN_PROGRESS_DONE);

    // BEGIN first, then B's progress, END last with B's code in A's buffer.
    const auto seen = a.log.snapshot();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), LEARN_PROGRESS_BEGIN);
    EXPECT_EQ(seen.back(), LEARN_PROGRESS_END);
    for (std::size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_GE(seen[i], 0);
        EXPECT_LE(seen[i], 100);
    }
    EXPECT_STREQ(a.mem.buffer, bm.buffer);

    // A's own learn is not reported to its own hook.
    const std::size_t before = a.log.snapshot().size();
    LearnMemory am;
    LearnLog al;
    ASSERT_EQ(start_learn(a.handle, am, al), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return al.ended.load(); }));
    EXPECT_EQ(a.log.snapshot().size(), before);

    // After unhook, A sees nothing of B's next learn.
    char unhook[KRVX_LEARN_BUFFER_SIZE] = UNHOOK_COMMAND;
    int32_t unhook_abort = 0;
    ASSERT_NE(KRVXLearnIR(a.handle, FMT_UNHOOK, unhook, nullptr, nullptr, &unhook_abort, 0, -1, 0),
              0);
    LearnMemory bm2;
    LearnLog bl2;
    ASSERT_EQ(start_learn(b, bm2, bl2), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return bl2.ended.load(); }));
    EXPECT_EQ(a.log.snapshot().size(), before);
    KRVXClose(a.handle);
    KRVXClose(b);
}

TEST(LearnHook, InjectAndAcceptBurstAnswerTheLearn) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int b = KRVXOpen();
    {
        // Inject: B's learn ends with A's text; nothing was pressed.
        Hook a;
        a.handle = KRVXOpen();
        ASSERT_TRUE(a.hook());
        LearnMemory bm;
        LearnLog bl;
        a.prepare(kInjected);
        ASSERT_EQ(start_learn(b, bm, bl), ERROR_IO_PENDING);
        a.inject_on_begin();
        ASSERT_TRUE(eventually([&] { return bl.ended.load() && a.saw(LEARN_PROGRESS_END); }));
        EXPECT_EQ(bl.snapshot().back(), LEARN_PROGRESS_DONE);
        EXPECT_STREQ(bm.buffer, kInjected);
        EXPECT_STREQ(a.mem.buffer, kInjected);
        KRVXClose(a.handle);
    }
    {
        // Accept the burst during a short press: B gets the partial code.
        Hook a;
        a.handle = KRVXOpen();
        ASSERT_TRUE(a.hook());
        LearnMemory bm;
        LearnLog bl;
        ASSERT_EQ(start_learn(b, bm, bl), ERROR_IO_PENDING);
        ASSERT_TRUE(eventually([&] { return a.saw(LEARN_PROGRESS_BEGIN); }));
        ASSERT_EQ(press(service.socket(), kNec, "0"), 0);
        ASSERT_TRUE(eventually([&] { return !bl.snapshot().empty(); }));
        a.mem.set_abort(-1);
        ASSERT_TRUE(eventually([&] { return bl.ended.load() && a.saw(LEARN_PROGRESS_END); }));
        EXPECT_EQ(bl.snapshot().back(), LEARN_PROGRESS_DONE);
        const auto partial = ir::parse_pronto(bm.buffer);
        ASSERT_TRUE(partial.ok()) << bm.buffer;
        EXPECT_EQ(partial.signal.once.size(), 34u);
        EXPECT_STREQ(a.mem.buffer, bm.buffer);
        KRVXClose(a.handle);
    }
    KRVXClose(b);
}

TEST(LearnHook, WithTwoHooksTheFirstAnswerWins) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Hook a, c;
    a.handle = KRVXOpen();
    c.handle = KRVXOpen();
    ASSERT_TRUE(a.hook());
    ASSERT_TRUE(c.hook());
    const int b = KRVXOpen();
    LearnMemory bm;
    LearnLog bl;
    const char *other = "0000 006D 0000 0001 0010 0400";
    a.prepare(kInjected);
    c.prepare(other);
    ASSERT_EQ(start_learn(b, bm, bl), ERROR_IO_PENDING);
    a.inject_on_begin();
    c.inject_on_begin();
    ASSERT_TRUE(eventually(
        [&] { return bl.ended.load() && a.saw(LEARN_PROGRESS_END) && c.saw(LEARN_PROGRESS_END); }));
    EXPECT_EQ(bl.snapshot().back(), LEARN_PROGRESS_DONE);
    // One of the two answers, and both hooks are told the same.
    const std::string got = bm.buffer;
    EXPECT_TRUE(got == kInjected || got == other) << got;
    EXPECT_EQ(std::string(a.mem.buffer), got);
    EXPECT_EQ(std::string(c.mem.buffer), got);
    KRVXClose(a.handle);
    KRVXClose(c.handle);
    KRVXClose(b);
}

TEST(LearnHook, KrvxLearnPrintsTheInjectedCode) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Hook a;
    a.handle = KRVXOpen();
    ASSERT_TRUE(a.hook());
    std::string out;
    a.prepare(kInjected);
    std::thread learner([&] {
        const std::string cmd = std::string(KRVX_PATH) + " --socket " + service.socket() +
                                " learn --timeout 20 2>/dev/null";
        FILE *p = ::popen(cmd.c_str(), "r");
        if (p == nullptr)
            return;
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        ::pclose(p);
    });
    a.inject_on_begin();
    learner.join();
    EXPECT_EQ(out, std::string(kInjected) + "\n");
    KRVXClose(a.handle);
}
