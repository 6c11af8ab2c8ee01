// SPDX-License-Identifier: MIT
// A kernel IR device played from a script, for tests.
//
// The script is a "chat": the calls the code under test must make, in order, each with its
// canned reply (a value, data, or an errno). A call that does not match the next step fails
// the running test with a readable dump of the call and the rest of the script, and gets
// EPROTO. Reads with no read step next return EAGAIN, like an idle device. Writes are
// recorded and checked against the kernel's pulse-mode rules (odd entry count <= 1024, every
// entry > 0, <= 500 ms); a write the kernel would refuse fails the test and gets EINVAL.
// unplug() makes every later call fail with ENODEV and poll report POLLHUP|POLLERR.
// native_handle() is a pipe that is readable while a read step is next (or after an
// unplug), so an event loop can watch the scripted device like a real one.
//
// Threads: every member may be called from any thread (one mutex).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "lirc/device_io.h"

namespace krvxd::lirc::test {

/// Name of an ioctl request for dumps ("SET_REC_MODE").
std::string ioctl_name(unsigned long request);

class ScriptedDevice final : public DeviceIo {
  public:
    ScriptedDevice();
    ~ScriptedDevice() override;
    ScriptedDevice(const ScriptedDevice &) = delete;
    ScriptedDevice &operator=(const ScriptedDevice &) = delete;

    ScriptedDevice &expect_open(std::string path, int error = 0);
    ScriptedDevice &expect_get(unsigned long request, uint32_t reply, int error = 0);
    ScriptedDevice &expect_set(unsigned long request, uint32_t value, int error = 0);
    ScriptedDevice &expect_read(std::vector<uint32_t> samples);
    ScriptedDevice &expect_read_bytes(std::vector<std::byte> bytes);
    ScriptedDevice &expect_read_error(int error);
    ScriptedDevice &expect_write(int error = 0);
    ScriptedDevice &expect_writes(std::size_t count);
    /// Opens without a script step (for tests that start from an open device).
    ScriptedDevice &opened();

    void unplug();
    /// Every step was used; otherwise fails the test with the remaining script.
    void verify_done() const;
    /// Entries of every accepted write, in order.
    std::vector<std::vector<uint32_t>> writes() const;
    std::size_t remaining() const;
    bool closed() const;

    int open(const std::string &path) override;
    void close() override;
    bool is_open() const override;
    int ioctl_u32(unsigned long request, uint32_t &value) override;
    IoResult read(std::span<std::byte> buffer) override;
    IoResult write(std::span<const std::byte> data) override;
    int poll(short events, int timeout_ms, short &revents) override;
    int native_handle() const override;

  private:
    enum class Kind { open, get, set, read, write };
    struct Step {
        Kind kind;
        unsigned long request = 0;
        uint32_t value = 0;
        int error = 0;
        std::vector<std::byte> data;
        std::string path;
    };
    static std::string describe(const Step &s);
    std::string dump_locked() const;
    int unexpected_locked(const std::string &call);
    ScriptedDevice &add(Step s);
    void update_ready_locked();
    struct RefreshReady;

    mutable std::mutex mutex_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool open_ = false;
    bool unplugged_ = false;
    bool closed_ = false;
    std::vector<std::vector<uint32_t>> writes_;
    int ready_pipe_[2] = {-1, -1};
    bool ready_signalled_ = false;
};

/// A DeviceIo that forwards to a ScriptedDevice the test keeps (for factories, which hand
/// out ownership).
class DeviceRef final : public DeviceIo {
  public:
    explicit DeviceRef(ScriptedDevice &d) : d_(d) {}
    int open(const std::string &path) override { return d_.open(path); }
    void close() override { d_.close(); }
    bool is_open() const override { return d_.is_open(); }
    int ioctl_u32(unsigned long request, uint32_t &value) override {
        return d_.ioctl_u32(request, value);
    }
    IoResult read(std::span<std::byte> buffer) override { return d_.read(buffer); }
    IoResult write(std::span<const std::byte> data) override { return d_.write(data); }
    int poll(short events, int timeout_ms, short &revents) override {
        return d_.poll(events, timeout_ms, revents);
    }
    int native_handle() const override { return d_.native_handle(); }

  private:
    ScriptedDevice &d_;
};

/// Little helpers to build mode2 streams.
inline uint32_t pulse(uint32_t us) {
    return 0x01000000u | (us & 0xFFFFFFu);
}
inline uint32_t space(uint32_t us) {
    return us & 0xFFFFFFu;
}
inline uint32_t frequency(uint32_t hz) {
    return 0x02000000u | (hz & 0xFFFFFFu);
}
inline uint32_t timeout(uint32_t us) {
    return 0x03000000u | (us & 0xFFFFFFu);
}
inline uint32_t overflow() {
    return 0x04FFFFFFu;
}

}  // namespace krvxd::lirc::test
