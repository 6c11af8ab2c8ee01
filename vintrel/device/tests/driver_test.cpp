// SPDX-License-Identifier: MIT
// The driver library loaded at run time: loading, entry points, the last-error value.
#include <gtest/gtest.h>

#include <cerrno>

#include "fake_driver_support.h"
#include "vintrel/device/driver.h"
#include "vintrel/platform/last_error.h"
#include "vintrel/platform/runtime_error.h"

namespace vintrel::device {
namespace {

using platform::lastError;
using platform::RuntimeError;
using test::FakeLog;
using test::ScopedEnv;

TEST(DriverLibrary, EnvironmentNamesTheFileElseTheInstalledOne) {
    ScopedEnv env;
    env.unset("KRVXDRV_LIBRARY");
    EXPECT_EQ(Driver::libraryFromEnvironment(), "libkrvxdrv.so.1");
    env.set("KRVXDRV_LIBRARY", "");
    EXPECT_EQ(Driver::libraryFromEnvironment(), "libkrvxdrv.so.1");
    env.set("KRVXDRV_LIBRARY", "/opt/x/libother.so");
    EXPECT_EQ(Driver::libraryFromEnvironment(), "/opt/x/libother.so");
}

TEST(DriverLibrary, LoadFailuresGiveTheLoadersReasonAndKeepNothing) {
    Driver driver;
    std::string reason;
    EXPECT_FALSE(driver.load("/nonexistent/libkrvxdrv.so.1", reason));
    EXPECT_NE(reason.find("/nonexistent/libkrvxdrv.so.1"), std::string::npos) << reason;
    EXPECT_FALSE(driver.loaded());

    reason.clear();
    EXPECT_FALSE(driver.load(std::string(5000, 'a'), reason));
    EXPECT_NE(reason.find("longer than 4096"), std::string::npos) << reason;
    reason.clear();
    EXPECT_FALSE(driver.load("", reason));
    EXPECT_FALSE(reason.empty());

    // A file that exists but is no library.
    reason.clear();
    EXPECT_FALSE(driver.load("/etc/hostname", reason));
    EXPECT_FALSE(reason.empty());

    // Calls without a library raise the run-time error instead of crashing.
    uint32_t info = 0;
    try {
        driver.getDrvInfo(&info);
        FAIL() << "no error raised";
    } catch (const RuntimeError &error) {
        EXPECT_EQ(error.number(), platform::kErrDllLoad);
    }
}

TEST(DriverLibrary, CallsReachTheLibraryAndErrnoBecomesTheLastError) {
    FakeLog log;
    ScopedEnv env;
    Driver driver;
    std::string reason;
    ASSERT_TRUE(driver.load(FAKE_DRIVER, reason)) << reason;
    EXPECT_EQ(driver.file(), FAKE_DRIVER);

    uint32_t info = 0;
    env.set("FAKE_KRVX_INFO", "257");
    EXPECT_EQ(driver.getDrvInfo(&info), 1);
    EXPECT_EQ(info, 257u);

    env.set("FAKE_KRVX_OPEN", "-1");
    env.set("FAKE_KRVX_OPEN_ERRNO", "0x20000001");
    EXPECT_EQ(driver.open(), -1);
    EXPECT_EQ(lastError(), 0x20000001u);

    // errno is cleared before each call: a success leaves no stale error behind.
    env.set("FAKE_KRVX_OPEN", "9");
    env.set("FAKE_KRVX_OPEN_ERRNO", "0");
    errno = 5;
    EXPECT_EQ(driver.open(), 9);
    EXPECT_EQ(lastError(), 0u);

    char buffer[KRVX_LEARN_BUFFER_SIZE] = {};
    int32_t abortWord = 0;
    driver.learnIR(9, FMT_PRONTO, buffer, nullptr, nullptr, &abortWord, 0, -1, 0);
    EXPECT_EQ(lastError(), static_cast<uint32_t>(ERROR_IO_PENDING));

    EXPECT_EQ(driver.close(9), 1);
    const std::vector<std::string> expected = {"KRVXGetDrvInfo", "KRVXOpen -> -1", "KRVXOpen -> 9",
                                               "KRVXLearnIR 9 16 ", "KRVXClose 9"};
    EXPECT_EQ(log.lines(), expected);
}

TEST(DriverLibrary, MissingEntryPointIsARunTimeErrorOfEachCall) {
    Driver driver;
    std::string reason;
    ASSERT_TRUE(driver.load(FAKE_DRIVER_NO_VERSION, reason)) << reason;
    uint32_t version = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            driver.getDrvVersion(&version);
            FAIL() << "no error raised";
        } catch (const RuntimeError &error) {
            EXPECT_EQ(error.number(), platform::kErrDllEntryPoint);
            EXPECT_NE(error.description().find("KRVXGetDrvVersion"), std::string::npos);
            EXPECT_NE(error.description().find(FAKE_DRIVER_NO_VERSION), std::string::npos);
            EXPECT_FALSE(error.source().empty());
        }
    }
    // The other entry points of the same library still work.
    uint32_t info = 0;
    EXPECT_EQ(driver.getDrvInfo(&info), 1);
    EXPECT_EQ(info, 256u);
}

TEST(DriverLibrary, LoadingAnotherLibraryForgetsTheEntryPointsFound) {
    Driver driver;
    std::string reason;
    ASSERT_TRUE(driver.load(FAKE_DRIVER, reason));
    uint32_t version = 0;
    EXPECT_EQ(driver.getDrvVersion(&version), 1);
    ASSERT_TRUE(driver.load(FAKE_DRIVER_NO_VERSION, reason));
    EXPECT_THROW(driver.getDrvVersion(&version), RuntimeError);
    // A failed load keeps the library in use.
    EXPECT_FALSE(driver.load("/nonexistent.so", reason));
    EXPECT_EQ(driver.file(), FAKE_DRIVER_NO_VERSION);
}

}  // namespace
}  // namespace vintrel::device
