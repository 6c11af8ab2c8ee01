// SPDX-License-Identifier: MIT
// The learn hook through libkrvxdrv against a private krvxd: BEGIN, progress and END of
// other clients' learns, answers by injection and by accepting the burst, answers the
// service refuses, and answers that must not outlive the learn they were given in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "ir/pronto.h"
#include "krvxdrv.h"
#include "learn_support.h"

using namespace learn_support;
using testing_support::ServiceProcess;

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
    ASSERT_TRUE(late.hook());  // hooked after the learn began: told of it at once
    service.stop(SIGKILL);
    const auto ended = [](Hook &h) {
        const auto p = h.log.progress();
        return !p.empty() && p.back() == LEARN_FAIL_SERVICE_GONE;
    };
    ASSERT_TRUE(eventually([&] { return bl.ended.load() && ended(watching) && ended(late); },
                           std::chrono::seconds(2)));
    EXPECT_EQ(bl.progress().back(), LEARN_FAIL_SERVICE_GONE);
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
    ASSERT_EQ(bl.progress().back(), LEARN_PROGRESS_DONE);

    // BEGIN first, then B's progress, END last with B's code in A's buffer.
    const auto seen = a.log.progress();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), LEARN_PROGRESS_BEGIN);
    EXPECT_EQ(seen.back(), LEARN_PROGRESS_END);
    for (std::size_t i = 1; i + 1 < seen.size(); ++i) {
        EXPECT_GE(seen[i], 0);
        EXPECT_LE(seen[i], 100);
    }
    EXPECT_STREQ(a.mem.buffer, bm.buffer);

    // A's own learn is not reported to its own hook.
    const std::size_t before = a.log.progress().size();
    LearnMemory am;
    LearnLog al;
    ASSERT_EQ(start_learn(a.handle, am, al), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return al.ended.load(); }));
    EXPECT_EQ(a.log.progress().size(), before);

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
    EXPECT_EQ(a.log.progress().size(), before);
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
        EXPECT_EQ(bl.progress().back(), LEARN_PROGRESS_DONE);
        EXPECT_STREQ(bm.buffer, kInjected);
        EXPECT_STREQ(a.mem.buffer, kInjected);
        // The learner can tell the code is another program's, and gets its carrier.
        EXPECT_EQ(KRVXLearnedCodeOrigin(b), KRVX_CODE_INJECTED);
        KRVXLearnReport report{KRVX_CODE_LEARNED, KRVX_SHAPE_SNAPPED, "x"};
        ASSERT_NE(KRVXGetLearnReport(b, &report), 0);
        EXPECT_EQ(report.origin, KRVX_CODE_INJECTED);
        EXPECT_EQ(report.shape, KRVX_SHAPE_UNSAID);  // nothing was learned to build it from
        EXPECT_STREQ(report.decode, "");
        EXPECT_EQ(bl.snapshot().back().carrier,
                  std::lround(ir::parse_pronto(kInjected).signal.carrier_hz));
        EXPECT_EQ(bl.snapshot().back().quality, 0);
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
        ASSERT_TRUE(eventually([&] { return !bl.progress().empty(); }));
        a.mem.set_abort(-1);
        ASSERT_TRUE(eventually([&] { return bl.ended.load() && a.saw(LEARN_PROGRESS_END); }));
        EXPECT_EQ(bl.progress().back(), LEARN_PROGRESS_DONE);
        const auto partial = ir::parse_pronto(bm.buffer);
        ASSERT_TRUE(partial.ok()) << bm.buffer;
        EXPECT_EQ(partial.signal.once.size(), 34u);
        EXPECT_STREQ(a.mem.buffer, bm.buffer);
        EXPECT_EQ(KRVXLearnedCodeOrigin(b), KRVX_CODE_BURST_ACCEPTED);
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
    EXPECT_EQ(bl.progress().back(), LEARN_PROGRESS_DONE);
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

TEST(LearnHook, ARefusedAnswerLeavesTheLearnOpenForAnother) {
    HookedLearn stage;
    ASSERT_TRUE(stage.begin());
    Hook &a = stage.hook;
    LearnMemory &bm = stage.learner_mem;
    LearnLog &bl = stage.learner_log;
    ASSERT_EQ(press(stage.service.socket(), kNec, "0"), 0);  // one frame: the learn goes on
    ASSERT_TRUE(eventually([&] { return a.log.snapshot().size() >= 2; }));
    const Report last = a.log.snapshot().back();

    // An empty text is no code: the service refuses it. The hook's word goes back to 0 and
    // its callback hears one report that repeats the last one; the learn stays open.
    a.prepare("");
    a.mem.set_abort(-2);
    ASSERT_TRUE(eventually([&] { return a.mem.abort_value() == 0; }, std::chrono::seconds(5)))
        << "the refused answer is still pending";
    ASSERT_TRUE(eventually([&] { return a.log.snapshot().size() >= 3; }));
    const Report told = a.log.snapshot().back();
    EXPECT_EQ(told.progress, last.progress);
    EXPECT_EQ(told.quality, last.quality);
    EXPECT_EQ(told.carrier, last.carrier);
    EXPECT_FALSE(bl.ended);

    // A later answer to the same learn is taken.
    a.prepare(kInjected);
    a.mem.set_abort(-2);
    ASSERT_TRUE(eventually([&] { return bl.ended.load() && a.saw(LEARN_PROGRESS_END); }));
    EXPECT_EQ(bl.progress().back(), LEARN_PROGRESS_DONE);
    EXPECT_STREQ(bm.buffer, kInjected);
}

TEST(LearnHook, AnAnswerCountsOnlyInTheLearnItWasGivenIn) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Hook a;
    LearnMemory first, second;
    LearnLog first_log, second_log;
    Handles handles;
    a.handle = handles.open();
    ASSERT_TRUE(a.hook());
    const int b = handles.open();
    a.prepare(kInjected);
    ASSERT_EQ(start_learn(b, first, first_log), ERROR_IO_PENDING);
    a.inject_on_begin();
    ASSERT_TRUE(eventually([&] { return first_log.ended.load() && a.saw(LEARN_PROGRESS_END); }));
    ASSERT_STREQ(first.buffer, kInjected);

    // The hooked application has not handled that END yet (its word is not reset here)
    // when the next learn begins at once.
    ASSERT_EQ(start_learn(b, second, second_log), ERROR_IO_PENDING);
    ASSERT_TRUE(eventually([&] { return a.log.count(LEARN_PROGRESS_BEGIN) == 2; }));
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return second_log.ended.load(); }));
    EXPECT_EQ(second_log.progress().back(), LEARN_PROGRESS_DONE);
    EXPECT_STRNE(second.buffer, kInjected) << "the first learn's answer answered the second";
    // Each BEGIN was reported with the word cleared.
    for (const Report &r : a.log.snapshot()) {
        if (r.progress == LEARN_PROGRESS_BEGIN) {
            EXPECT_EQ(r.word, 0);
        }
    }
}

TEST(LearnHook, AHookRegisteredDuringALearnIsToldOfItAndOfItsEnd) {
    ServiceProcess service({"--time-scale", "0"});
    ASSERT_TRUE(service.ready());
    Hook late;
    LearnMemory bm;
    LearnLog bl;
    Handles handles;
    const int b = handles.open();
    late.handle = handles.open();
    ASSERT_EQ(start_learn(b, bm, bl), ERROR_IO_PENDING);
    ASSERT_EQ(press(service.socket(), kNec, "0"), 0);  // one frame: some progress
    ASSERT_TRUE(eventually([&] { return !bl.progress().empty(); }));
    ASSERT_TRUE(late.hook());
    // BEGIN and the progress so far, before the hook call returned.
    const auto first = late.log.snapshot();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].progress, LEARN_PROGRESS_BEGIN);
    EXPECT_EQ(first[1].progress, bl.snapshot().back().progress);
    ASSERT_EQ(press(service.socket(), kNec, "1000"), 0);
    ASSERT_TRUE(eventually([&] { return bl.ended.load() && late.saw(LEARN_PROGRESS_END); }));
    EXPECT_STREQ(late.mem.buffer, bm.buffer);
}
