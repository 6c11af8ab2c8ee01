// SPDX-License-Identifier: MIT
// The learn controller against the fake driver library and a recording view: the control
// states after each transition, the buffer rules of endLearn, Accept Burst, the hook calls
// and the injection.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "fake_driver_support.h"
#include "fake_krvxdrv.h"
#include "fake_learn_view.h"
#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"
#include "vintrel/learn/learn_controller.h"
#include "vintrel/platform/runtime_error.h"

// The driver works on its own threads and may act between any two steps of the
// user-interface thread. The test binary is linked with processState() wrapped, so that a
// test can let the driver act at one chosen access to the process state.
namespace {
std::function<void()> g_driverActs;  // run at the next access, then cleared
int g_accessesToSkip = 0;            // accesses to let pass before that
int g_accesses = 0;                  // accesses counted since the last arming
}  // namespace

extern "C" vintrel::ProcessState &__real__ZN7vintrel12processStateEv() noexcept;
extern "C" vintrel::ProcessState &__wrap__ZN7vintrel12processStateEv() noexcept {
    ++g_accesses;
    if (g_driverActs && g_accessesToSkip-- == 0) {
        std::exchange(g_driverActs, nullptr)();
    }
    return __real__ZN7vintrel12processStateEv();
}

namespace vintrel::learn {
namespace {

using test::FakeLearnView;

const QString kValid = QStringLiteral("0000 006C 0000 0001 0010 0010");
const QString kOther = QStringLiteral("0000 0073 0000 0001 0020 0020");

class LearnControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        std::string reason;
        ASSERT_TRUE(processState().driver.load(FAKE_DRIVER, reason)) << reason;
        void *fake = dlopen(FAKE_DRIVER, RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(fake, nullptr);
        lastLearn_ = reinterpret_cast<FakeLastLearnFn>(dlsym(fake, "fakeKrvxLastLearn"));
        finishBurst_ = reinterpret_cast<FakeFinishBurstFn>(dlsym(fake, "fakeKrvxFinishBurst"));
        dlclose(fake);  // still loaded by the driver object
        ASSERT_NE(lastLearn_, nullptr);
        ASSERT_NE(finishBurst_, nullptr);
        processState().deviceHandle = 7;
        view_.code = kValid;
        view_.validateCode();
        controller_.hookDriver();  // as the load sequence does
    }

    FakeLearnCall last() const {
        FakeLearnCall call{};
        lastLearn_(&call);
        return call;
    }
    std::size_t learnCalls() const {
        std::size_t n = 0;
        for (const std::string &line : log_.lines()) {
            n += line.rfind("KRVXLearnIR", 0) == 0 ? 1 : 0;
        }
        return n;
    }
    void putInBuffer(const char *text) {
        std::memcpy(processState().hookBuffer.data(), text, std::strlen(text) + 1);
    }
    bool shown(Control c) const { return view_.isVisible(c); }
    bool on(Control c) const { return view_.isEnabled(c); }

    void expectLearnControls() const {
        for (Control c : {Control::lblInstruct1, Control::lblInstruct2, Control::cbLearnAsBurst,
                          Control::lblLrnProgress, Control::lblCarrier, Control::lblCarrierFreq,
                          Control::lblSigQuality, Control::pbSigQuality, Control::pbLearnProgress3,
                          Control::cbInjectIR}) {
            EXPECT_TRUE(shown(c)) << static_cast<int>(c);
        }
        EXPECT_FALSE(shown(Control::lblLrnStatus));
        EXPECT_EQ(view_.captions.at(Control::lblCarrierFreq), QStringLiteral("---"));
        for (Control c :
             {Control::cbLearnAsBurst, Control::cbLearnIRCode, Control::cbTransmitIRCode,
              Control::mnuTransmit, Control::mnuLearnIRLearnPronto,
              Control::frmLearn_cbLearnAsBurst, Control::frmLearn_LrnTimer}) {
            EXPECT_FALSE(on(c)) << static_cast<int>(c);
        }
        EXPECT_TRUE(processState().inLearn);
    }
    void expectIdleControls(bool codeAccepted) const {
        for (Control c : {Control::cbLearnCancel, Control::lblInstruct1, Control::lblInstruct2,
                          Control::cbInjectIR, Control::cbLearnAsBurst, Control::lblLrnProgress,
                          Control::lblCarrier, Control::lblCarrierFreq, Control::pbSigQuality,
                          Control::pbLearnProgress3, Control::lblSigQuality}) {
            EXPECT_FALSE(shown(c)) << static_cast<int>(c);
        }
        EXPECT_TRUE(shown(Control::lblLrnStatus));
        EXPECT_TRUE(on(Control::cbLearnIRCode));
        EXPECT_TRUE(on(Control::mnuLearnIRLearnPronto));
        EXPECT_FALSE(on(Control::mnuLrnInject));
        EXPECT_EQ(on(Control::cbTransmitIRCode), codeAccepted);
        EXPECT_EQ(on(Control::mnuTransmit), codeAccepted);
        EXPECT_FALSE(processState().inLearn);
        EXPECT_EQ(loadAbortWord(processState().hookAbort), 0);
        EXPECT_TRUE(controller_.hookActive());
    }

    vintrel::test::FakeLog log_;
    vintrel::test::ScopedEnv env_;
    FakeLastLearnFn lastLearn_ = nullptr;
    FakeFinishBurstFn finishBurst_ = nullptr;
    FakeLearnView view_;
    LearnController controller_{view_};
};

TEST_F(LearnControllerTest, OwnLearnUnhooksLearnsAndTakesTheCodeAtItsEnd) {
    ProcessState &state = processState();
    controller_.cbLearnIRCode_Click();
    expectLearnControls();
    EXPECT_TRUE(shown(Control::cbLearnCancel));
    EXPECT_FALSE(on(Control::cbInjectIR));
    EXPECT_FALSE(on(Control::mnuLrnInject));
    EXPECT_EQ(state.learnMode, 16);
    EXPECT_FALSE(controller_.hookActive());
    EXPECT_TRUE(view_.errors.isEmpty());
    const std::vector<std::string> calls = log_.lines();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 2], "KRVXLearnIR 7 5 KRVX-HOOK");
    EXPECT_EQ(calls.back(), "KRVXLearnIR 7 16 ");
    const FakeLearnCall learn = last();
    EXPECT_EQ(learn.handle, 7);
    EXPECT_EQ(learn.format, 16);
    EXPECT_EQ(learn.buffer, state.hookBuffer.data());
    EXPECT_EQ(learn.callback, &device::learnCallback);
    EXPECT_EQ(learn.userData, nullptr);
    EXPECT_EQ(learn.abortWord, &state.learnAbort);
    EXPECT_EQ(learn.param1, 0);
    EXPECT_EQ(learn.reserved0, -1);
    EXPECT_EQ(learn.reserved1, 0);

    // The driver's code, with leftovers behind its 0 byte.
    std::memcpy(state.hookBuffer.data(), "0000 0073 0000 0001 0020 0020\0KRVX", 34);
    state.curCodeFormat = 0;
    controller_.onLearnProgress(device::packProgress(255, 0), 0);
    EXPECT_EQ(view_.code, kOther);
    EXPECT_EQ(state.curCode, kOther);
    EXPECT_EQ(state.curCodeFormat, 16);
    expectIdleControls(true);
    EXPECT_EQ(last().format, 16);
    EXPECT_EQ(std::memcmp(last().bytes, "KRVX+HOOK", 10), 0);
    EXPECT_EQ(last().abortWord, &state.hookAbort);
    EXPECT_EQ(state.hookBuffer[0], '\0');
}

TEST_F(LearnControllerTest, ObservedLearnShowsTheControlsWithoutADriverCall) {
    ProcessState &state = processState();
    storeAbortWord(state.hookAbort, -2);  // left over from an earlier answer
    const std::size_t before = learnCalls();
    controller_.beginLearn();
    expectLearnControls();
    EXPECT_FALSE(shown(Control::cbLearnCancel));
    EXPECT_TRUE(on(Control::cbInjectIR));  // the code box held an accepted code
    EXPECT_TRUE(on(Control::mnuLrnInject));
    EXPECT_EQ(state.learnMode, -1);
    EXPECT_EQ(loadAbortWord(state.hookAbort), 0);
    EXPECT_TRUE(controller_.hookActive());

    // Nobody wrote the buffer: byte 0 is still the 0 the hook call left. No code, so the
    // code box keeps the user's code.
    controller_.endLearn();
    EXPECT_EQ(view_.code, kValid);
    expectIdleControls(true);
    EXPECT_EQ(learnCalls(), before);  // still hooked: no driver call at all
}

TEST_F(LearnControllerTest, ObservedLearnWithARejectedCodeKeepsInjectDisabled) {
    view_.setCodeText(QStringLiteral("garbage"));
    controller_.beginLearn();
    EXPECT_FALSE(on(Control::cbInjectIR));
    view_.setCodeText(kValid);  // an edit during the learn enables it
    EXPECT_TRUE(on(Control::cbInjectIR));
    EXPECT_FALSE(on(Control::cbTransmitIRCode));
}

TEST_F(LearnControllerTest, CancelKeepsTheCodeAndLaterEndReportsChangeNothing) {
    ProcessState &state = processState();
    state.curCode = kValid;
    state.curCodeFormat = 16;
    controller_.cbLearnIRCode_Click();
    putInBuffer("0000 0099");
    controller_.cbLearnCancel_Click();
    EXPECT_EQ(loadAbortWord(state.learnAbort), -1);
    EXPECT_EQ(view_.code, kValid);
    EXPECT_EQ(state.curCode, kValid);
    expectIdleControls(true);
    const std::size_t after = learnCalls();
    view_.setCodeText(kOther);
    controller_.endLearn();
    controller_.onLearnProgress(device::packProgress(255, 0), 0);
    controller_.onLearnProgress(static_cast<std::uintptr_t>(7 * 256 + 255), 0);
    EXPECT_EQ(view_.code, kOther);
    EXPECT_EQ(learnCalls(), after);
}

TEST_F(LearnControllerTest, EndLearnReadsTheBufferUpToItsFirstZeroByte) {
    ProcessState &state = processState();
    controller_.beginLearn();
    state.hookBuffer.fill('A');  // no 0 byte anywhere
    controller_.endLearn();
    EXPECT_EQ(view_.code.size(), 2049);
    EXPECT_EQ(state.curCode, QString(2049, QLatin1Char('A')));
    // Bytes above 127 are ISO-8859-1 characters.
    controller_.beginLearn();
    putInBuffer("0000 \xE9");
    controller_.endLearn();
    EXPECT_EQ(state.curCode, QStringLiteral("0000 \u00E9"));
    EXPECT_EQ(trimAtNull(QStringLiteral("ab")), QStringLiteral("ab"));
    EXPECT_EQ(trimAtNull(QString(QChar(u'\0')) + QStringLiteral("ab")), QString());
}

TEST_F(LearnControllerTest, AFailedOwnLearnKeepsTheCodeBox) {
    // The driver ends a failed learn with an empty buffer; that is no code to take.
    ProcessState &state = processState();
    state.curCode = kValid;
    controller_.cbLearnIRCode_Click();
    state.hookBuffer[0] = '\0';
    controller_.onLearnProgress(device::packProgress(255, 0), 0);
    EXPECT_EQ(view_.code, kValid);
    EXPECT_EQ(state.curCode, kValid);
    expectIdleControls(true);
}

TEST_F(LearnControllerTest, AcceptBurstWritesTheAbortWordOfTheLearnOnShow) {
    ProcessState &state = processState();
    controller_.cbLearnIRCode_Click();
    controller_.cbLearnAsBurst_Click();
    EXPECT_EQ(loadAbortWord(state.learnAbort), -1);
    EXPECT_EQ(loadAbortWord(state.hookAbort), 0);
    EXPECT_TRUE(state.inLearn);  // the learn goes on until its end is reported
    putInBuffer("0000 0011");
    controller_.endLearn();  // the driver did not set the word back: no code taken
    EXPECT_EQ(view_.code, kValid);

    controller_.beginLearn();
    controller_.cbLearnAsBurst_Click();
    EXPECT_EQ(loadAbortWord(state.hookAbort), -1);
    EXPECT_EQ(loadAbortWord(state.learnAbort), 0);
    putInBuffer("0000 0022");
    controller_.endLearn();
    EXPECT_EQ(view_.code, QStringLiteral("0000 0022"));
}

TEST_F(LearnControllerTest, HookCallsHappenOnlyOnChangeAndLeaveByteZeroClear) {
    ProcessState &state = processState();
    // SetUp registered the hook once.
    EXPECT_EQ(learnCalls(), 1u);
    FakeLearnCall hook = last();
    EXPECT_EQ(std::memcmp(hook.bytes, "KRVX+HOOK\0", 10), 0);
    EXPECT_EQ(hook.format, FMT_PRONTO);
    EXPECT_EQ(hook.buffer, state.hookBuffer.data());
    EXPECT_EQ(hook.callback, &device::learnCallback);
    EXPECT_EQ(hook.abortWord, &state.hookAbort);
    EXPECT_EQ(hook.reserved0, -1);
    EXPECT_EQ(state.hookBuffer[0], '\0');
    EXPECT_EQ(std::string(state.hookBuffer.data() + 1), "RVX+HOOK");
    controller_.hookDriver();
    EXPECT_EQ(learnCalls(), 1u);

    state.hookBuffer[12] = 'z';  // bytes past 9 are left alone
    controller_.unhookDriver();
    EXPECT_EQ(learnCalls(), 2u);
    FakeLearnCall unhook = last();
    EXPECT_EQ(std::memcmp(unhook.bytes, "KRVX-HOOK\0", 10), 0);
    EXPECT_EQ(unhook.format, FMT_UNHOOK);
    EXPECT_EQ(unhook.abortWord, &state.learnAbort);
    EXPECT_EQ(state.hookBuffer[0], '\0');
    EXPECT_EQ(state.hookBuffer[12], 'z');
    controller_.unhookDriver();
    EXPECT_EQ(learnCalls(), 2u);
    EXPECT_FALSE(controller_.hookActive());

    // Without a device nothing at all happens.
    state.deviceHandle = 0;
    controller_.hookDriver();
    controller_.cbLearnIRCode_Click();
    controller_.beginLearn();
    EXPECT_EQ(learnCalls(), 2u);
    EXPECT_FALSE(state.inLearn);
    EXPECT_FALSE(shown(Control::cbInjectIR));
}

TEST_F(LearnControllerTest, InjectionCopiesTheTextThenPublishesMinusTwo) {
    ProcessState &state = processState();
    controller_.beginLearn();
    state.hookBuffer[1] = 'q';
    view_.code.clear();
    controller_.cbInjectIR_Click();
    EXPECT_EQ(state.hookBuffer[0], '\0');
    EXPECT_EQ(state.hookBuffer[1], 'q');
    EXPECT_EQ(loadAbortWord(state.hookAbort), -2);

    view_.code = QString(2048, QLatin1Char('7'));
    controller_.cbInjectIR_Click();
    EXPECT_EQ(state.hookBuffer[2047], '7');
    EXPECT_EQ(state.hookBuffer[2048], '\0');

    view_.code = QStringLiteral("0000 \u00FF");
    controller_.cbInjectIR_Click();
    EXPECT_EQ(static_cast<unsigned char>(state.hookBuffer[5]), 0xFFu);
    EXPECT_EQ(state.hookBuffer[6], '\0');
    EXPECT_EQ(state.hookBuffer[7], '7');  // the longer text's tail stays behind the 0

    // Inject then Accept Burst, and the reverse: the last writer counts.
    controller_.cbLearnAsBurst_Click();
    EXPECT_EQ(loadAbortWord(state.hookAbort), -1);
    view_.code = kValid;
    controller_.cbInjectIR_Click();
    EXPECT_EQ(loadAbortWord(state.hookAbort), -2);
    // The injected text is still there at the end: it becomes the current code again.
    controller_.endLearn();
    EXPECT_EQ(state.curCode, kValid);
    EXPECT_EQ(view_.code, kValid);
    EXPECT_TRUE(view_.errors.isEmpty());
}

TEST_F(LearnControllerTest, TextsThatCannotBeInjectedAreRefusedAndTouchNothing) {
    ProcessState &state = processState();
    controller_.beginLearn();
    putInBuffer("before");
    view_.code = QString(2049, QLatin1Char('1'));
    controller_.cbInjectIR_Click();
    view_.code = QStringLiteral("0000 \u20AC 0001");
    controller_.cbInjectIR_Click();
    view_.code = QStringLiteral("0000 ") + QString::fromUcs4(U"\U0001F600");
    controller_.cbInjectIR_Click();
    ASSERT_EQ(view_.errors.size(), 3);
    EXPECT_TRUE(view_.errors[0].contains(QStringLiteral("2049 characters")));
    EXPECT_TRUE(view_.errors[0].contains(QStringLiteral("2048")));
    EXPECT_TRUE(view_.errors[1].contains(QStringLiteral("character 6 (U+20AC)")));
    EXPECT_TRUE(view_.errors[2].contains(QStringLiteral("single-byte")));
    EXPECT_EQ(loadAbortWord(state.hookAbort), 0);
    EXPECT_EQ(std::string(state.hookBuffer.data()), "before");
}

TEST_F(LearnControllerTest, TheMenuEntryInjectsOnlyWhileTheButtonCanBePressed) {
    ProcessState &state = processState();
    view_.code = kValid;
    controller_.mnuLrnInject_Click();  // idle: button hidden
    EXPECT_EQ(loadAbortWord(state.hookAbort), 0);
    controller_.cbLearnIRCode_Click();  // own learn: visible but disabled
    controller_.mnuLrnInject_Click();
    EXPECT_EQ(loadAbortWord(state.hookAbort), 0);
    controller_.cbLearnCancel_Click();
    controller_.beginLearn();  // observed learn with an accepted code
    controller_.mnuLrnInject_Click();
    EXPECT_EQ(loadAbortWord(state.hookAbort), -2);
    EXPECT_EQ(QString::fromLatin1(state.hookBuffer.data()), kValid);
}

TEST_F(LearnControllerTest, ALearnCallThatIsNotPendingIsReportedOnceAndTheLearnShown) {
    env_.set("FAKE_KRVX_LEARN_ERRNO", "0");
    controller_.cbLearnIRCode_Click();
    ASSERT_EQ(view_.errors.size(), 1);
    EXPECT_EQ(view_.errors[0],
              QStringLiteral("The Korvex Driver Installed on your System is not compatible with "
                             "this application. Please update your Korvex API driver "
                             "(KRVXDRV.DLL)!"));
    expectLearnControls();
    EXPECT_TRUE(shown(Control::cbLearnCancel));
}

TEST_F(LearnControllerTest, ProgressReportsDriveMetersCaptionAndAcceptBurst) {
    controller_.beginLearn();
    struct Case {
        std::int32_t progress;
        std::int32_t carrier;
        bool burst;
        const char *caption;
    };
    const Case cases[] = {{1, 38000, false, "38.0KHz"},
                          {2, 38000, true, "38.0KHz"},
                          {50, 0, false, "0.0KHz"},
                          {60, -36700, false, "-36.7KHz"},
                          {3, 56999, true, "56.9KHz"}};
    for (const Case &c : cases) {
        controller_.onLearnProgress(device::packProgress(c.progress, 40), c.carrier);
        EXPECT_EQ(on(Control::cbLearnAsBurst), c.burst) << c.progress << " " << c.carrier;
        EXPECT_EQ(view_.captions.at(Control::lblCarrierFreq).toStdString(), c.caption);
    }
    EXPECT_EQ(view_.quality.lit().size(), 5u);
    EXPECT_EQ(view_.progress.lit().size(), 1u);

    // The end marker draws nothing and sets nothing itself.
    const std::size_t drawn = view_.progress.rects.size();
    controller_.onLearnProgress(device::packProgress(255, 90), 38000);
    EXPECT_EQ(view_.progress.rects.size(), drawn);
    EXPECT_EQ(view_.captions.at(Control::lblCarrierFreq), QStringLiteral("56.9KHz"));
    EXPECT_FALSE(processState().inLearn);

    // The next learn starts with empty meters, not with this learn's last report.
    controller_.beginLearn();
    EXPECT_TRUE(view_.quality.lit().empty());
    EXPECT_TRUE(view_.progress.lit().empty());
}

TEST_F(LearnControllerTest, ALearnThatEndsWithoutACodeKeepsTheCodeBoxOfEitherKind) {
    ProcessState &state = processState();
    struct Row {
        bool own;
        const char *buffer;
        QString box;  // after the end
    };
    const Row rows[] = {{false, "", kValid},
                        {false, "0000 0042", QStringLiteral("0000 0042")},
                        {true, "", kValid},
                        {true, "0000 0043", QStringLiteral("0000 0043")}};
    for (const Row &row : rows) {
        view_.setCodeText(kValid);
        state.curCode = kValid;
        if (row.own) {
            controller_.cbLearnIRCode_Click();
        } else {
            controller_.beginLearn();
        }
        putInBuffer(row.buffer);
        controller_.onLearnProgress(device::packProgress(255, 0), 0);
        EXPECT_EQ(view_.code, row.box) << row.own << " " << row.buffer;
        EXPECT_EQ(state.curCode, row.box) << row.own << " " << row.buffer;
        expectIdleControls(true);
    }
}

TEST_F(LearnControllerTest, ARefusedAnswerIsToldAndTheLearnCanBeAnsweredAgain) {
    ProcessState &state = processState();
    controller_.beginLearn();
    controller_.onLearnProgress(device::packProgress(40, 3), 38000);
    view_.code.clear();  // an empty box is injected as it is
    controller_.cbInjectIR_Click();
    ASSERT_EQ(loadAbortWord(state.hookAbort), -2);
    // The driver refused it: the word goes back to 0 from the -2, and one report repeats
    // the last values.
    std::int32_t seen = -2;
    std::atomic_ref<std::int32_t>(state.hookAbort).compare_exchange_strong(seen, 0);
    controller_.onLearnProgress(device::packProgress(40, 3), 38000);
    ASSERT_EQ(view_.errors.size(), 1);
    EXPECT_TRUE(view_.errors[0].contains(QStringLiteral("refused")))
        << view_.errors[0].toStdString();
    EXPECT_TRUE(state.inLearn);
    EXPECT_TRUE(shown(Control::cbInjectIR));
    EXPECT_EQ(view_.captions.at(Control::lblCarrierFreq), QStringLiteral("38.0KHz"));

    // A later answer is given, and reports while it is pending tell nothing more.
    view_.setCodeText(kValid);
    EXPECT_TRUE(on(Control::cbInjectIR));
    controller_.cbInjectIR_Click();
    EXPECT_EQ(loadAbortWord(state.hookAbort), -2);
    controller_.onLearnProgress(device::packProgress(60, 3), 38000);
    putInBuffer("0000 006C 0000 0001 0010 0010");
    controller_.endLearn();
    EXPECT_EQ(view_.errors.size(), 1);
    EXPECT_EQ(view_.code, kValid);
}

TEST_F(LearnControllerTest, CancelWhileTheDriverFinishesTheBurstKeepsTheHookAndTheCode) {
    // The driver finishes the cancelled learn with a burst at the latest moment it may:
    // just before the next learn call on the handle begins.
    env_.set("FAKE_KRVX_FINISH_BURST", "0000 0099");
    ProcessState &state = processState();
    state.curCode = kValid;
    controller_.cbLearnIRCode_Click();
    controller_.cbLearnCancel_Click();
    EXPECT_EQ(view_.code, kValid);
    expectIdleControls(true);
    const FakeLearnCall hook = last();
    EXPECT_TRUE(hook.hooked) << "the hook call was taken for a learn";
    EXPECT_EQ(std::memcmp(hook.bytes, "KRVX+HOOK", 10), 0);
    EXPECT_EQ(hook.abortWord, &state.hookAbort);
    // The next own learn and its end report go as usual.
    controller_.cbLearnIRCode_Click();
    putInBuffer("0000 0077");
    controller_.onLearnProgress(device::packProgress(255, 0), 0);
    EXPECT_EQ(view_.code, QStringLiteral("0000 0077"));
    EXPECT_TRUE(last().hooked);
}

TEST_F(LearnControllerTest, CancelAfterAcceptBurstNeverTakesTheCodeWhereverTheDriverActs) {
    ProcessState &state = processState();
    // Once to count the accesses of a Cancel, then the driver finishing the accepted burst
    // at each of them in turn.
    for (int at = -1, accesses = 1; at < accesses; ++at) {
        view_.setCodeText(kValid);
        controller_.cbLearnIRCode_Click();
        controller_.cbLearnAsBurst_Click();
        g_accesses = 0;
        g_accessesToSkip = at;
        g_driverActs = at < 0 ? std::function<void()>() : [this] { finishBurst_("0000 0055"); };
        controller_.cbLearnCancel_Click();
        g_driverActs = nullptr;
        if (at < 0) {
            accesses = g_accesses;
        }
        EXPECT_EQ(view_.code, kValid) << "the driver acted at access " << at;
        EXPECT_FALSE(state.inLearn);
    }
}

TEST_F(LearnControllerTest, ALearnThatCannotStartSaysWhyAndLeavesTheWindowIdleAndHooked) {
    struct Row {
        std::int32_t error;
        const char *text;
    };
    const Row rows[] = {
        {ERR_LEARN_BUSY, "Another program is learning with the device; try again when it is done."},
        {ERR_COMM_FAILED, "The Korvex device or its service stopped answering"},
        {ERR_DEVICE_NOT_FOUND, "The Korvex device is not connected"},
        {ERR_DRIVER_NOT_FOUND, "The Korvex device service is not running"},
        {ERR_NOT_SUPPORTED, "The Korvex device cannot learn"}};
    for (const Row &row : rows) {
        view_.errors.clear();
        env_.set("FAKE_KRVX_LEARN_ERRNO", std::to_string(row.error));
        controller_.cbLearnIRCode_Click();
        ASSERT_EQ(view_.errors.size(), 1) << row.error;
        EXPECT_TRUE(view_.errors[0].startsWith(QString::fromLatin1(row.text)))
            << view_.errors[0].toStdString();
        expectIdleControls(true);
        EXPECT_TRUE(last().hooked);
        EXPECT_EQ(view_.code, kValid);
    }
}

TEST_F(LearnControllerTest, ADriverWithoutALearnFunctionLeavesTheWindowIdleAndConsistent) {
    std::string reason;
    ASSERT_TRUE(processState().driver.load(FAKE_DRIVER_NO_LEARN, reason)) << reason;
    EXPECT_THROW(controller_.cbLearnIRCode_Click(), platform::RuntimeError);
    expectIdleControls(true);
    // Another program's learn is still shown: a begin report is not taken for a learn on show.
    controller_.beginLearn();
    EXPECT_TRUE(processState().inLearn);
    EXPECT_EQ(processState().learnMode, -1);
    controller_.endLearn();
    expectIdleControls(true);
}

}  // namespace
}  // namespace vintrel::learn
