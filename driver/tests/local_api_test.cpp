// SPDX-License-Identifier: MIT
// The library's calls that need no service: versions, the local code check, argument and
// handle checks.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "krvxdrv.h"

namespace {

const char *kNec =
    "0000 006C 0022 0002 015B 00AD 0016 0016 0016 0016 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0016 "
    "0016 0016 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 "
    "0016 0041 0016 0041 0016 0041 0016 0016 0016 0016 0016 0016 0016 0041 0016 0041 0016 06A4 "
    "015B 0057 0016 0E6C";

// A valid code of exactly `words` words (words >= 6, even): one once pair per two words.
std::string code_of_words(int words, const char *separator = " ") {
    const int pairs = (words - 4) / 2;
    char head[32];
    std::snprintf(head, sizeof head, "0000%s006D%s%04X%s0000", separator, separator, pairs,
                  separator);
    std::string s = head;
    for (int i = 0; i < pairs * 2; ++i)
        s += std::string(separator) + "0010";
    return s;
}

constexpr std::size_t ir_max_plus_one() {
    return 2049;
}

}  // namespace

TEST(LocalApi, VersionsAndNullArguments) {
    uint32_t v = 0;
    EXPECT_NE(KRVXGetDrvInfo(&v), 0);
    EXPECT_EQ(v, 256u);
    EXPECT_NE(KRVXGetDrvVersion(&v), 0);
    EXPECT_GE(v, 2680u);
    EXPECT_EQ(KRVXGetDrvInfo(nullptr), 0);
    EXPECT_EQ(KRVXGetDrvVersion(nullptr), 0);
}

TEST(LocalApi, ConvertAcceptsExactlyValidCodesAndCanonicalises) {
    char out[KRVX_LEARN_BUFFER_SIZE];
    int32_t words = -1;
    std::string lower = kNec;
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    lower = "  \n" + lower + "\t\r\n";
    ASSERT_NE(KRVXConvertProntoCode(lower.c_str(), out, &words, 0, 0), 0);
    EXPECT_STREQ(out, kNec);
    EXPECT_EQ(words, 76);

    for (const char *bad : {"", "123 456", "0000 006C 0022 0002 015B", "0000 006c 0000 0000",
                            "0123 006C 0000 0001 0010 0010", "0000 006C 0000 0001 0010 015G",
                            "0000 006C 0000 0001 0010 0x10"}) {
        std::memset(out, 'X', sizeof out);
        words = 77;
        EXPECT_EQ(KRVXConvertProntoCode(bad, out, &words, 0, 0), 0) << bad;
        EXPECT_EQ(out[0], '\0') << bad;
        EXPECT_EQ(words, 0) << bad;
    }
    EXPECT_EQ(KRVXConvertProntoCode(nullptr, out, nullptr, 0, 0), 0);
    EXPECT_NE(KRVXConvertProntoCode(kNec, nullptr, nullptr, 0, 0), 0);
}

TEST(LocalApi, ConvertNeverWritesPastTheBufferNorReadsPastTheBound) {
    // The longest canonical code (409 words = 2044 characters) and one with wide spacing
    // that is longer than 2048 characters as typed.
    std::vector<char> guarded(KRVX_LEARN_BUFFER_SIZE + 64, '\x5A');
    const std::string longest = code_of_words(408);
    ASSERT_LE(longest.size(), 2048u);
    ASSERT_NE(KRVXConvertProntoCode(longest.c_str(), guarded.data(), nullptr, 0, 0), 0);
    EXPECT_EQ(std::string(guarded.data()), longest);
    for (std::size_t i = KRVX_LEARN_BUFFER_SIZE; i < guarded.size(); ++i)
        ASSERT_EQ(guarded[i], '\x5A') << "byte " << i;

    const std::string wide = code_of_words(408, "  ");
    ASSERT_GT(wide.size(), 2048u);
    EXPECT_EQ(KRVXConvertProntoCode(wide.c_str(), guarded.data(), nullptr, 0, 0), 0);
    for (std::size_t i = KRVX_LEARN_BUFFER_SIZE; i < guarded.size(); ++i)
        ASSERT_EQ(guarded[i], '\x5A') << "byte " << i;

    // Text without a 0 byte within the bound: refused after reading at most 2049 bytes
    // (AddressSanitizer catches a read past this exact-size allocation).
    std::vector<char> unterminated(ir_max_plus_one(), '0');
    EXPECT_EQ(KRVXConvertProntoCode(unterminated.data(), nullptr, nullptr, 0, 0), 0);
}

TEST(LocalApi, CallsOnAHandleThatIsNotOpenFail) {
    DeviceInfo info{};
    for (int32_t h : {0, -1, 12345}) {
        errno = 0;
        EXPECT_EQ(KRVXGetKRVXInfo(h, &info), 0);
        EXPECT_EQ(errno, ERR_INVALID_HANDLE);
        errno = 0;
        EXPECT_EQ(KRVXTransmitIR(h, kNec, FMT_PRONTO, 1, 0, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(errno, ERR_INVALID_HANDLE);
        errno = 0;
        EXPECT_EQ(KRVXClose(h), 0);
        EXPECT_EQ(errno, ERR_INVALID_HANDLE);
        errno = 0;
        EXPECT_EQ(KRVXSetReceiveCallback(h, nullptr, nullptr), 0);
        EXPECT_EQ(errno, ERR_INVALID_HANDLE);
    }
}

TEST(LocalApi, ErrorTextsCoverEveryCode) {
    const std::string unknown = KRVXErrorText(0x7777);
    for (int32_t c :
         {ERR_DEVICE_NOT_FOUND, ERR_COMM_FAILED, ERR_DRIVER_NOT_FOUND, ERR_FIRMWARE_MISMATCH,
          ERR_LEARN_BUSY, ERR_INVALID_CODE, ERR_INVALID_HANDLE, ERR_TRANSMIT_FAILED,
          ERR_NOT_SUPPORTED, ERR_INVALID_ARGUMENT, LEARN_FAIL_NOTHING_SEEN, LEARN_FAIL_SERVICE_GONE,
          LEARN_FAIL_ANSWERED_EMPTY, LEARN_FAIL_CANNOT_LEARN})
        EXPECT_NE(KRVXErrorText(c), unknown) << c;
}
