// SPDX-License-Identifier: MIT
// FdDeviceIo on ordinary files: errors come back as errno values, nothing is thrown, and
// a non-device answers ioctls with ENOTTY.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "lirc/abi.h"
#include "lirc/device_io.h"
#include "lirc/fault.h"
#include "lirc/features.h"

namespace krvxd::lirc {
namespace {

TEST(FdDeviceIo, OpenFailuresAndClosedUse) {
    FdDeviceIo io;
    EXPECT_EQ(io.open("/nonexistent/lirc0"), ENOENT);
    EXPECT_FALSE(io.is_open());
    EXPECT_EQ(io.native_handle(), -1);
    uint32_t v = 0;
    EXPECT_EQ(io.ioctl_u32(kGetFeatures, v), EBADF);
    std::byte buf[4];
    EXPECT_EQ(io.read(buf).error, EBADF);
    EXPECT_EQ(io.write(buf).error, EBADF);
    short rev = 0;
    EXPECT_EQ(io.poll(kPollIn, 0, rev), EBADF);
    io.close();  // harmless
}

TEST(FdDeviceIo, ANonDeviceIsNotAnIrDevice) {
    FdDeviceIo io;
    ASSERT_EQ(io.open("/dev/null"), 0);
    EXPECT_TRUE(io.is_open());
    EXPECT_GE(io.native_handle(), 0);
    EXPECT_NE(::fcntl(io.native_handle(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(::fcntl(io.native_handle(), F_GETFL) & O_NONBLOCK, 0);
    uint32_t v = 0;
    EXPECT_EQ(io.ioctl_u32(kGetFeatures, v), ENOTTY);
    const ProbeResult p = probe(io);
    EXPECT_EQ(p.error, ENOTTY);
    EXPECT_EQ(fault_from_errno(p.error), Fault::not_supported);

    std::byte buf[8]{};
    const IoResult w = io.write(buf);
    EXPECT_TRUE(w.ok());
    EXPECT_EQ(w.bytes, 8u);
    const IoResult r = io.read(buf);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.bytes, 0u);
    short rev = 0;
    EXPECT_EQ(io.poll(kPollIn, 0, rev), 0);
    EXPECT_NE(rev & kPollIn, 0);

    io.close();
    EXPECT_FALSE(io.is_open());
    EXPECT_EQ(io.native_handle(), -1);
}

TEST(ErrorText, NamesTheCommonCases) {
    EXPECT_EQ(error_text(ENODEV), "device unplugged");
    EXPECT_EQ(error_text(ENOTTY), "not supported by the device");
    EXPECT_EQ(error_text(EINVAL), "the device refused the value");
    EXPECT_EQ(error_text(EACCES), "Permission denied");
    EXPECT_EQ(outcome_from_errno(ENODEV, "cannot send").message, "cannot send: device unplugged");
    EXPECT_EQ(outcome_from_errno(0, "x").fault, Fault::none);
    EXPECT_STREQ(fault_name(Fault::device_lost), "device lost");
}

}  // namespace
}  // namespace krvxd::lirc
