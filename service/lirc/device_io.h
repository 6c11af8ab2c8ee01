// SPDX-License-Identifier: MIT
// The backend's only door to a kernel IR device: open, close, u32 ioctls, read, write and
// poll. FdDeviceIo is the real thing on a file descriptor; tests substitute a scripted
// device that answers from a table.
//
// Errors are errno values (0 = success). An ioctl that returns anything but 0 counts as
// failed: a positive return (some drivers report an emitter count or a clamped value that
// way) becomes EINVAL. ENOTTY means the device does not support the request; ENODEV that it
// was unplugged.
//
// Threads: one DeviceIo is used by one thread at a time, except that close() may be called
// from another thread to wake a blocked poll() only where an implementation documents it
// (FdDeviceIo does not: callers own the serialisation).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace krvxd::lirc {

/// Result of read() and write(): the byte count on success, else an errno value.
struct IoResult {
    std::size_t bytes = 0;
    int error = 0;  ///< 0 on success
    bool ok() const { return error == 0; }
};

/// Poll event bits, the same values as <poll.h>'s.
inline constexpr short kPollIn = 0x001;
inline constexpr short kPollErr = 0x008;
inline constexpr short kPollHup = 0x010;
inline constexpr short kPollNval = 0x020;

class DeviceIo {
  public:
    virtual ~DeviceIo() = default;

    /// Opens the device node for reading and writing, non-blocking, close-on-exec.
    /// Closes a previously opened node first. Returns 0 or an errno value.
    virtual int open(const std::string &path) = 0;
    /// Closes the node; harmless when nothing is open.
    virtual void close() = 0;
    virtual bool is_open() const = 0;

    /// ioctl with a u32 argument: reads into `value` for GET requests, passes `value` for
    /// SET requests. Returns 0 or an errno value (a non-zero ioctl return is EINVAL).
    virtual int ioctl_u32(unsigned long request, uint32_t &value) = 0;

    /// Non-blocking read; EAGAIN when nothing is waiting.
    virtual IoResult read(std::span<std::byte> buffer) = 0;
    /// Write; in pulse mode it returns once the signal has been sent.
    virtual IoResult write(std::span<const std::byte> data) = 0;

    /// Waits up to timeout_ms (-1: no limit) for `events`; `revents` receives what
    /// happened (0 after a timeout). Returns 0 or an errno value.
    virtual int poll(short events, int timeout_ms, short &revents) = 0;

    /// The file descriptor for an event loop to watch, or -1 (not open, or not a real fd).
    virtual int native_handle() const = 0;
};

/// Convenience wrappers for the two ioctl directions.
inline int ioctl_get(DeviceIo &io, unsigned long request, uint32_t &out) {
    out = 0;
    return io.ioctl_u32(request, out);
}
inline int ioctl_set(DeviceIo &io, unsigned long request, uint32_t value) {
    return io.ioctl_u32(request, value);
}

/// DeviceIo on a real file descriptor.
class FdDeviceIo final : public DeviceIo {
  public:
    FdDeviceIo() = default;
    ~FdDeviceIo() override;
    FdDeviceIo(const FdDeviceIo &) = delete;
    FdDeviceIo &operator=(const FdDeviceIo &) = delete;

    int open(const std::string &path) override;
    void close() override;
    bool is_open() const override { return fd_ >= 0; }
    int ioctl_u32(unsigned long request, uint32_t &value) override;
    IoResult read(std::span<std::byte> buffer) override;
    IoResult write(std::span<const std::byte> data) override;
    int poll(short events, int timeout_ms, short &revents) override;
    int native_handle() const override { return fd_; }

  private:
    int fd_ = -1;
};

/// Makes a fresh, unopened DeviceIo (the backend opens one per device node it tries).
using DeviceIoFactory = std::function<std::unique_ptr<DeviceIo>()>;
std::unique_ptr<DeviceIo> make_fd_device_io();

/// Short text for an errno value as this backend reports it ("device unplugged" for
/// ENODEV, "not supported by the device" for ENOTTY, otherwise strerror's text).
std::string error_text(int error);

}  // namespace krvxd::lirc
