// Process-wide state shared with the driver, and the receive relay.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "qt_test_support.h"
#include "vintrel/device/process_state.h"
#include "vintrel/device/relay.h"

namespace vintrel::device {
namespace {

std::vector<platform::WindowMessage> g_seen;

std::intptr_t recordingProc(const platform::WindowMessage &message) {
    g_seen.push_back(message);
    return 0;
}

class RelayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        processState().reset();
        g_seen.clear();
    }
    void TearDown() override { processState().reset(); }
    platform::WindowSystem system_;
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

TEST_F(RelayTest, ReceivedCodeTravelsAsSixteenBytesCopiedInTheCallback) {
    const platform::Hwnd window = system_.createWindow("STATIC", "CallbackHiddenWindow",
                                                       platform::WS_MINIMIZE, 0, 0, 100, 100);
    system_.setWindowProc(window, &recordingProc);
    processState().hiddenWnd.store(window);

    // 12 characters, the NUL, then bytes that belong to the driver: all 16 go along.
    char driverText[20] = "ABCDEF012345";
    driverText[13] = 'x';
    driverText[14] = 'y';
    driverText[15] = 'z';
    std::thread driverThread([&driverText] { receiveCallback(driverText, nullptr); });
    driverThread.join();
    std::memset(driverText, '#', sizeof driverText);  // the driver reuses its memory

    ASSERT_TRUE(test::waitUntil([] { return g_seen.size() == 1; }));
    EXPECT_EQ(g_seen[0].message, WM_RXCODE);
    EXPECT_EQ(g_seen[0].wParam, 0u);
    EXPECT_EQ(std::memcmp(g_seen[0].payload.data(), "ABCDEF012345\0xyz", 16), 0);
}

TEST_F(RelayTest, CallbacksBeforeTheWindowExistsReachNothing) {
    const platform::Hwnd window = system_.createWindow("STATIC", "w", 0, 0, 0, 1, 1);
    system_.setWindowProc(window, &recordingProc);
    char text[16] = "000000000001";
    receiveCallback(text, nullptr);
    receiveCallback(nullptr, nullptr);
    test::drainEvents();
    EXPECT_TRUE(g_seen.empty());
}

TEST_F(RelayTest, CloseRequestIsPostedAndEndsTheWindow) {
    const platform::Hwnd window = system_.createWindow("STATIC", "w", 0, 0, 0, 1, 1);
    closeWindow(window);
    EXPECT_TRUE(system_.isWindow(window)) << "posted, not sent";
    ASSERT_TRUE(test::waitUntil([&] { return !system_.isWindow(window); }));
}

}  // namespace
}  // namespace vintrel::device
