// SPDX-License-Identifier: MIT
// The public header compiles as C++20 and agrees with its C view.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "krvxdrv.h"

extern "C" int krvx_header_check_c(void);

static_assert(sizeof(DeviceInfo) == 12);
static_assert(offsetof(DeviceInfo, firmwareVersion) == 0);
static_assert(offsetof(DeviceInfo, protocolVersion) == 4);
static_assert(offsetof(DeviceInfo, firmwareDateDay) == 8);
static_assert(offsetof(DeviceInfo, firmwareDateMonth) == 9);
static_assert(offsetof(DeviceInfo, firmwareDateYear) == 10);
static_assert(std::is_same_v<decltype(&KRVXLearnIR),
                             int32_t (*)(int32_t, int32_t, char *, KRVXLearnCallback, void *,
                                         int32_t *, int32_t, int32_t, int32_t)>);
static_assert(
    std::is_same_v<decltype(&KRVXTransmitIR), int32_t (*)(int32_t, const char *, int32_t, int32_t,
                                                          int32_t, void *, void *, void *)>);
static_assert(std::is_same_v<KRVXLearnCallback, void (*)(int32_t, int32_t, int32_t, void *)>);
static_assert(std::is_same_v<KRVXReceiveCallback, void (*)(const char *, void *)>);

TEST(DriverHeader, CAndCppAgreeOnLayoutAndConstants) {
    EXPECT_EQ(krvx_header_check_c(), 12 + 16 + 2049);
}

TEST(DriverHeader, CommandWordsAreNineDistinctAsciiCharacters) {
    ASSERT_EQ(std::strlen(HOOK_COMMAND), 9u);
    ASSERT_EQ(std::strlen(UNHOOK_COMMAND), 9u);
    EXPECT_STRNE(HOOK_COMMAND, UNHOOK_COMMAND);
    for (const char *word : {HOOK_COMMAND, UNHOOK_COMMAND}) {
        for (const char *c = word; *c != 0; ++c) {
            EXPECT_GT(static_cast<unsigned char>(*c), 0x20);
            EXPECT_LT(static_cast<unsigned char>(*c), 0x7F);
        }
    }
}

TEST(DriverHeader, ErrorCodesAreDistinctAndLearnFailuresNegative) {
    const int errors[] = {ERR_DEVICE_NOT_FOUND,  ERR_COMM_FAILED,     ERR_DRIVER_NOT_FOUND,
                          ERR_FIRMWARE_MISMATCH, ERR_LEARN_BUSY,      ERR_INVALID_CODE,
                          ERR_INVALID_HANDLE,    ERR_TRANSMIT_FAILED, ERR_NOT_SUPPORTED,
                          ERR_INVALID_ARGUMENT,  ERROR_IO_PENDING};
    for (std::size_t i = 0; i < std::size(errors); ++i)
        for (std::size_t j = i + 1; j < std::size(errors); ++j)
            EXPECT_NE(errors[i], errors[j]);
    const int fails[] = {
        LEARN_FAIL_NOTHING_SEEN, LEARN_FAIL_NOISE,          LEARN_FAIL_PARTIAL,
        LEARN_FAIL_CARRIER,      LEARN_FAIL_DEVICE_LOST,    LEARN_FAIL_SERVICE_GONE,
        LEARN_FAIL_CANCELLED,    LEARN_FAIL_ANSWERED_EMPTY, LEARN_FAIL_CANNOT_LEARN};
    for (int f : fails)
        EXPECT_LT(f, 0);
    EXPECT_EQ(LEARN_PROGRESS_BEGIN, 0x4000);
    EXPECT_EQ(LEARN_PROGRESS_END, 0x4001);
}
