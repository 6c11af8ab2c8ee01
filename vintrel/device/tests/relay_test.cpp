// SPDX-License-Identifier: MIT
// Process-wide state shared with the driver, and the callback relay: packing, posting from
// driver threads, the relay's window procedure, subclassing.
#include <gtest/gtest.h>

#include <krvxdrv.h>

#include <QWidget>

#include <cstring>
#include <thread>
#include <vector>

#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"
#include "vintrel/platform/runtime_error.h"

namespace vintrel::device {
namespace {

// A main window that records what the relay hands it (UI thread only).
class RecordingForm : public MainForm {
  public:
    QWidget *widget() override { return nullptr; }
    void beginLearn() override {
        ++begins;
        processState().inLearn = true;
    }
    void endLearn() override { ++ends; }
    void onReceivedCode(const platform::MessagePayload &code) override { codes.push_back(code); }
    void onLearnProgress(std::uintptr_t wParam, std::intptr_t lParam) override {
        progress.emplace_back(wParam, lParam);
    }
    int begins = 0;
    int ends = 0;
    std::vector<platform::MessagePayload> codes;
    std::vector<std::pair<std::uintptr_t, std::intptr_t>> progress;
};

// The window's own procedure in the tests: counts what reaches it.
int g_ownCalls = 0;
std::intptr_t ownProc(const platform::WindowMessage &message) {
    ++g_ownCalls;
    if (message.message == platform::WM_CLOSE) {
        return platform::defWindowProc(message);
    }
    return 4242;
}

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        processState().mainForm = &form_;
        g_ownCalls = 0;
        window_ = system_.createWindow("STATIC", "CallbackHiddenWindow", platform::WS_MINIMIZE, 0,
                                       0, 100, 100);
        system_.setWindowProc(window_, &ownProc);
        processState().hiddenWnd.store(window_);
    }
    void TearDown() override { processState().reset(); }
    void subclass() {
        subclassWindow(window_);
        ASSERT_EQ(system_.windowProc(window_), &hiddenWndProc);
    }

    platform::WindowSystem system_;
    RecordingForm form_;
    platform::Hwnd window_ = 0;
};

TEST(ProcessStateLayout, SharedMemoryHasTheDriversShape) {
    ProcessState &state = processState();
    EXPECT_EQ(&state, &processState());
    EXPECT_EQ(state.hookBuffer.size(), 2049u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&state.learnAbort) % alignof(std::int32_t), 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&state.hookAbort) % alignof(std::int32_t), 0u);

    storeAbortWord(state.hookAbort, -2);
    EXPECT_EQ(loadAbortWord(state.hookAbort), -2);
    state.deviceHandle = 7;
    state.hookBuffer[2048] = 'x';
    state.curCode = QStringLiteral("0000 006C");
    state.reset();
    EXPECT_EQ(loadAbortWord(state.hookAbort), 0);
    EXPECT_EQ(state.deviceHandle, 0);
    EXPECT_EQ(state.hookBuffer[2048], '\0');
    EXPECT_TRUE(state.curCode.isEmpty());
}

TEST(ProgressPacking, EdgeCases) {
    struct Row {
        std::int32_t progress, quality;
        std::int32_t packed;
        std::int16_t decodedProgress, decodedQuality;
    };
    const Row rows[] = {
        {255, 50, 13055, 255, 50},                 // what a negative progress becomes
        {40, 3, 808, 40, 3},                       //
        {0, 0, 0, 0, 0},                           //
        {256, 0, 256, 0, 1},                       // above 255 spills into the quality bits
        {300, 2, 812, 44, 3},                      //
        {-5, 0, -5, -5, 0},                        // remainder keeps the dividend's sign
        {-300, 0, -300, -44, -1},                  // division truncates toward zero
        {0, 8388607, 2147483392, 0, 32767},        // largest exact quality; decoded saturates
        {0, 8388608, -2147483647 - 1, 0, -32768},  // wraps instead of overflowing
        {255, -1, -1, -1, 0},                      //
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::Message() << row.progress << "," << row.quality);
        const std::uintptr_t wParam = packProgress(row.progress, row.quality);
        EXPECT_EQ(static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam)), row.packed);
        const ProgressReport report = unpackProgress(wParam);
        EXPECT_EQ(report.progress, row.decodedProgress);
        EXPECT_EQ(report.sigQuality, row.decodedQuality);
    }
}

TEST_F(RelayTest, LearnReportsBecomeTheirMessagesAndReachTheMainWindow) {
    subclass();
    std::thread driver([] {
        learnCallback(-1, 50, 38000, nullptr);                // ends a learn: 255
        learnCallback(40, 3, 0, nullptr);                     //
        learnCallback(255, 10, 36000, nullptr);               //
        learnCallback(LEARN_PROGRESS_BEGIN, 77, 5, nullptr);  // quality, carrier ignored
        learnCallback(LEARN_PROGRESS_BEGIN, 0, 0, nullptr);   // a learn is shown: nothing
        learnCallback(LEARN_PROGRESS_END, 1, 2, nullptr);
    });
    driver.join();
    ASSERT_TRUE(test::waitUntil([this] { return form_.ends == 1; }));
    using P = std::pair<std::uintptr_t, std::intptr_t>;
    const std::vector<P> expected = {P{13055, 38000}, P{808, 0}, P{2815, 36000}};
    EXPECT_EQ(form_.progress, expected);
    EXPECT_EQ(form_.begins, 1);
    EXPECT_EQ(g_ownCalls, 0) << "private messages never reach the window's own procedure";
}

TEST_F(RelayTest, ReceivedCodeTravelsAsSixteenBytesCopiedInTheCallback) {
    subclass();
    // 12 characters, the NUL, then bytes that belong to the driver: all 16 go along.
    char driverText[20] = "ABCDEF012345";
    driverText[13] = 'x';
    driverText[14] = 'y';
    driverText[15] = 'z';
    std::thread driver([&driverText] { receiveCallback(driverText, nullptr); });
    driver.join();
    std::memset(driverText, '#', sizeof driverText);  // the driver reuses its memory

    ASSERT_TRUE(test::waitUntil([this] { return form_.codes.size() == 1; }));
    EXPECT_EQ(std::memcmp(form_.codes[0].data(), "ABCDEF012345\0xyz", 16), 0);
}

TEST_F(RelayTest, OtherMessagesGoOnlyToThePreviousProcedureWithItsResult) {
    subclass();
    EXPECT_EQ(processState().prevWndProc, &ownProc);
    EXPECT_EQ(system_.sendMessage({window_, 0x000F, 1, 2, {}}), 4242);  // a paint message
    EXPECT_EQ(g_ownCalls, 1);
    EXPECT_EQ(system_.sendMessage({window_, WM_LEARNBEGIN, 0, 0, {}}), 0);
    EXPECT_EQ(g_ownCalls, 1);
    EXPECT_EQ(form_.begins, 1);
}

TEST_F(RelayTest, CallbacksBeforeTheWindowExistsReachNothing) {
    subclass();
    processState().hiddenWnd.store(0);
    char text[16] = "000000000001";
    receiveCallback(text, nullptr);
    receiveCallback(nullptr, nullptr);
    learnCallback(LEARN_PROGRESS_BEGIN, 0, 0, nullptr);
    test::drainEvents();
    EXPECT_TRUE(form_.codes.empty());
    EXPECT_EQ(form_.begins, 0);
}

TEST_F(RelayTest, SubclassFailureRaisesError51AndChangesNothing) {
    processState().prevWndProc = &ownProc;
    try {
        subclassWindow(window_ + 999);  // no such window: no procedure to read
        FAIL() << "no error raised";
    } catch (const platform::RuntimeError &error) {
        EXPECT_EQ(error.number(), 51);
        EXPECT_EQ(error.description(), "Unable to get default window proc handle");
        EXPECT_EQ(error.source(), "");
    }
    EXPECT_EQ(processState().prevWndProc, nullptr);
    EXPECT_EQ(system_.windowProc(window_), &ownProc);
    // Unsubclassing after the failure leaves the window its own procedure.
    unsubclassWindow(window_);
    EXPECT_EQ(system_.windowProc(window_), &ownProc);
}

TEST_F(RelayTest, UnsubclassThenCloseNoLongerRelaysQueuedMessages) {
    subclass();
    learnCallback(LEARN_PROGRESS_END, 0, 0, nullptr);
    unsubclassWindow(window_);
    EXPECT_EQ(system_.windowProc(window_), &ownProc);
    EXPECT_EQ(processState().prevWndProc, &ownProc) << "kept";
    closeWindow(window_);
    EXPECT_TRUE(system_.isWindow(window_)) << "posted, not sent";
    ASSERT_TRUE(test::waitUntil([this] { return !system_.isWindow(window_); }));
    EXPECT_EQ(form_.ends, 0);
    EXPECT_EQ(g_ownCalls, 2);  // the queued learn end and the close
}

TEST_F(RelayTest, HundredThousandPostsFromFourThreadsArriveInOrderPerThread) {
    subclass();
    constexpr int kThreads = 4;
    constexpr int kPerThread = 25000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kPerThread; ++i) {
                learnCallback(40, i, t, nullptr);  // sequence in the quality, thread in carrier
            }
        });
    }
    for (auto &thread : threads) {
        thread.join();
    }
    ASSERT_TRUE(test::waitUntil(
        [this] { return form_.progress.size() == static_cast<std::size_t>(kThreads * kPerThread); },
        120000))
        << form_.progress.size() << " arrived";
    std::vector<std::int32_t> next(kThreads, 0);
    for (const auto &[wParam, lParam] : form_.progress) {
        ASSERT_GE(lParam, 0);
        ASSERT_LT(lParam, kThreads);
        const auto packed = static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam));
        ASSERT_EQ(packed, next[static_cast<std::size_t>(lParam)] * 256 + 40)
            << "thread " << lParam << " out of order";
        ++next[static_cast<std::size_t>(lParam)];
    }
}

}  // namespace
}  // namespace vintrel::device
