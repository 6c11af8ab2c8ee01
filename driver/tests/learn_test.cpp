// SPDX-License-Identifier: MIT
// Own learns through libkrvxdrv against a private krvxd whose virtual remote (krvx press)
// provides the signal: the learned code, progress order, the abort word, one learn at a
// time, superseding, the learn's own timeout and a service that dies or falls silent.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../../service/tests/learn_codes.h"
#include "ir/pronto.h"
#include "krvxdrv.h"
#include "learn_support.h"

using namespace learn_support;
using testing_support::ServiceProcess;

namespace {

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

    const auto seen = log.progress();
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen.back(), LEARN_PROGRESS_DONE);
    for (std::size_t i = 0; i + 1 < seen.size(); ++i) {
        EXPECT_GE(seen[i], 0);
        EXPECT_LE(seen[i], 100);
        if (i > 0) {
            EXPECT_GE(seen[i], seen[i - 1]) << "progress went back";
        }
    }
    EXPECT_EQ(log.snapshot().back().carrier, 38400);  // 38381 Hz, measured to the nearest 100 Hz
    const std::string learned(mem.buffer);
    EXPECT_LE(learned.size(), 2048u);
    expect_same_timings(learned, kNec);
    EXPECT_EQ(mem.abort_value(), 0);
    EXPECT_EQ(KRVXLearnedCodeOrigin(h), KRVX_CODE_LEARNED);
    KRVXClose(h);
    EXPECT_EQ(KRVXLearnedCodeOrigin(h), -1);
    EXPECT_EQ(errno, ERR_INVALID_HANDLE);
}

TEST(OwnLearn, TheReportSaysWhetherTheCodeWasSnappedAndToWhat) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    const int h = KRVXOpen();
    ASSERT_GT(h, 0);
    KRVXLearnReport report{};
    EXPECT_EQ(KRVXGetLearnReport(h, nullptr), 0);
    EXPECT_EQ(errno, ERR_INVALID_ARGUMENT);
    // A NEC press snaps to its protocol; the frames of a remote of no protocol are averaged.
    const std::string raw = learn_repeat::pronto_of(learn_repeat::unknown_remote());
    for (const auto &[pressed, shape] : std::vector<std::pair<std::string, int32_t>>{
             {kNec, KRVX_SHAPE_SNAPPED}, {raw, KRVX_SHAPE_AVERAGED}}) {
        LearnMemory mem;
        LearnLog log;
        ASSERT_EQ(start_learn(h, mem, log), ERROR_IO_PENDING);
        ASSERT_EQ(press(service.socket(), pressed.c_str(), "1000"), 0);
        ASSERT_TRUE(eventually([&] { return log.ended.load(); }));
        ASSERT_EQ(log.progress().back(), LEARN_PROGRESS_DONE) << pressed;
        ASSERT_NE(KRVXGetLearnReport(h, &report), 0);
        EXPECT_EQ(report.origin, KRVX_CODE_LEARNED);
        EXPECT_EQ(report.shape, shape) << pressed;
        // The decode said is the learned code's own, and said only for a snapped code.
        const std::string own = learn_repeat::decode_text(mem.buffer);
        EXPECT_EQ(report.decode, shape == KRVX_SHAPE_SNAPPED ? own : std::string()) << mem.buffer;
        EXPECT_EQ(own.empty(), shape != KRVX_SHAPE_SNAPPED) << mem.buffer;
    }
    KRVXClose(h);
    EXPECT_EQ(KRVXGetLearnReport(h, &report), 0);
    EXPECT_EQ(errno, ERR_INVALID_HANDLE);
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
        ASSERT_TRUE(eventually([&] { return !log.progress().empty(); }));
        EXPECT_FALSE(log.ended);
        mem.set_abort(-1);
        ASSERT_TRUE(eventually([&] { return log.ended.load(); }));
        EXPECT_EQ(log.progress().back(), LEARN_PROGRESS_DONE);
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
        EXPECT_EQ(log.progress().back(), LEARN_FAIL_CANCELLED);
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
    EXPECT_EQ(second_log.progress().back(), LEARN_PROGRESS_DONE);
    for (char c : first.buffer)
        ASSERT_EQ(c, 'Q');
    for (int32_t p : first_log.progress())
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
        EXPECT_EQ(log.progress().back(), LEARN_FAIL_NOTHING_SEEN);
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
    EXPECT_EQ(log.progress().back(), LEARN_FAIL_SERVICE_GONE);
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

TEST(OwnLearn, TheLibraryResetsOnlyTheMinusOneItActedOn) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    LearnMemory mem;
    LearnLog log;
    Handles handles;
    const int h = handles.open();
    ASSERT_EQ(start_learn(h, mem, log), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "0"), 0);  // a partial burst the stop finishes with
    ASSERT_TRUE(eventually([&] { return !log.progress().empty(); }));
    // The service is held while the library reads -1 and asks it to finish; meanwhile the
    // application stores another value, which the end of the learn must not overwrite.
    ASSERT_EQ(::kill(service.pid(), SIGSTOP), 0);
    mem.set_abort(-1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    mem.set_abort(1);
    ASSERT_EQ(::kill(service.pid(), SIGCONT), 0);
    ASSERT_TRUE(eventually([&] { return log.ended.load(); }));
    EXPECT_EQ(log.progress().back(), LEARN_PROGRESS_DONE);
    EXPECT_EQ(mem.abort_value(), 1);
}

TEST(OwnLearn, ALearnWaitsAsLongAsItsCallAsks) {
    ServiceProcess service({"--time-scale", "0", "--learn-timeout", "0.3"});
    ASSERT_TRUE(service.ready());
    LearnMemory mem;
    LearnLog log;
    Handles handles;
    const int h = handles.open();
    // Beyond the service's default of 0.3 s: still learning after 0.8 s.
    ASSERT_EQ(start_learn(h, mem, log, 5000), ERROR_IO_PENDING);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_FALSE(log.ended);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return log.ended.load(); }));
    EXPECT_EQ(log.progress().back(), LEARN_PROGRESS_DONE);
    // Beyond ten minutes, or negative, is refused.
    for (int32_t bad : {600001, -1, INT32_MIN})
        EXPECT_EQ(start_learn(h, mem, log, bad), ERR_INVALID_ARGUMENT) << bad;
}

TEST(OwnLearn, ASilentServiceEndsTheLearnAndTheHooksWithinTheAnswerTime) {
    HookedLearn stage;
    ASSERT_TRUE(stage.begin());
    Hook &watching = stage.hook;
    LearnMemory &mem = stage.learner_mem;
    LearnLog &log = stage.learner_log;
    const pid_t service = stage.service.pid();
    ASSERT_EQ(::kill(service, SIGSTOP), 0);
    // Half a second to notice the silence, then the 2 s every answer gets, and some slack.
    const auto gone = [](LearnLog &l) {
        const auto p = l.progress();
        return !p.empty() && p.back() == LEARN_FAIL_SERVICE_GONE;
    };
    const bool ended = eventually([&] { return gone(log) && gone(watching.log); },
                                  std::chrono::milliseconds(3500));
    ::kill(service, SIGCONT);
    ASSERT_TRUE(ended);
    EXPECT_EQ(mem.buffer[0], '\0');
    EXPECT_EQ(watching.mem.buffer[0], '\0');
}
