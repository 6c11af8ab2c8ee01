// SPDX-License-Identifier: MIT
#include "lirc/device_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace krvxd::lirc {

static_assert(kPollIn == POLLIN && kPollErr == POLLERR && kPollHup == POLLHUP &&
              kPollNval == POLLNVAL);

FdDeviceIo::~FdDeviceIo() {
    close();
}

int FdDeviceIo::open(const std::string &path) {
    close();
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    fd_ = fd;
    return 0;
}

void FdDeviceIo::close() {
    if (fd_ >= 0) {
        ::close(fd_);  // no retry on EINTR: the descriptor is gone either way on Linux
        fd_ = -1;
    }
}

int FdDeviceIo::ioctl_u32(unsigned long request, uint32_t &value) {
    if (fd_ < 0) {
        return EBADF;
    }
    uint32_t arg = value;  // the kernel reads and writes a __u32
    int rc;
    do {
        rc = ::ioctl(fd_, request, &arg);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        return errno;
    }
    if (rc != 0) {
        return EINVAL;
    }
    value = arg;
    return 0;
}

IoResult FdDeviceIo::read(std::span<std::byte> buffer) {
    if (fd_ < 0) {
        return {0, EBADF};
    }
    ssize_t n;
    do {
        n = ::read(fd_, buffer.data(), buffer.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return {0, errno};
    }
    return {static_cast<std::size_t>(n), 0};
}

IoResult FdDeviceIo::write(std::span<const std::byte> data) {
    if (fd_ < 0) {
        return {0, EBADF};
    }
    ssize_t n;
    do {
        n = ::write(fd_, data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        return {0, errno};
    }
    return {static_cast<std::size_t>(n), 0};
}

int FdDeviceIo::poll(short events, int timeout_ms, short &revents) {
    revents = 0;
    if (fd_ < 0) {
        return EBADF;
    }
    pollfd p{fd_, events, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeout_ms);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        return errno;
    }
    revents = p.revents;
    return 0;
}

std::unique_ptr<DeviceIo> make_fd_device_io() {
    return std::make_unique<FdDeviceIo>();
}

std::string error_text(int error) {
    switch (error) {
        case 0:
            return "no error";
        case ENODEV:
            return "device unplugged";
        case ENOTTY:
            return "not supported by the device";
        case EINVAL:
            return "the device refused the value";
        default: {
            char buf[128];
            // GNU strerror_r returns the text (possibly not in buf).
            const char *text = strerror_r(error, buf, sizeof buf);
            return text != nullptr ? std::string(text)
                                   : std::string("error ") + std::to_string(error);
        }
    }
}

}  // namespace krvxd::lirc
