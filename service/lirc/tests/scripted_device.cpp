// SPDX-License-Identifier: MIT
#include "scripted_device.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "lirc/abi.h"

namespace krvxd::lirc::test {

std::string ioctl_name(unsigned long request) {
    struct Name {
        unsigned long request;
        const char *name;
    };
    static constexpr Name names[] = {
        {kGetFeatures, "GET_FEATURES"},
        {kGetSendMode, "GET_SEND_MODE"},
        {kGetRecMode, "GET_REC_MODE"},
        {kGetRecResolution, "GET_REC_RESOLUTION"},
        {kGetMinTimeout, "GET_MIN_TIMEOUT"},
        {kGetMaxTimeout, "GET_MAX_TIMEOUT"},
        {kGetRecTimeout, "GET_REC_TIMEOUT"},
        {kSetSendMode, "SET_SEND_MODE"},
        {kSetRecMode, "SET_REC_MODE"},
        {kSetSendCarrier, "SET_SEND_CARRIER"},
        {kSetSendDutyCycle, "SET_SEND_DUTY_CYCLE"},
        {kSetTransmitterMask, "SET_TRANSMITTER_MASK"},
        {kSetRecTimeout, "SET_REC_TIMEOUT"},
        {kSetMeasureCarrierMode, "SET_MEASURE_CARRIER_MODE"},
        {kSetWidebandReceiver, "SET_WIDEBAND_RECEIVER"},
    };
    for (const Name &n : names) {
        if (n.request == request) {
            return n.name;
        }
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "ioctl 0x%08lX", request);
    return buf;
}

// Brings the readiness pipe up to date when a call ends (declared after the lock).
struct ScriptedDevice::RefreshReady {
    ScriptedDevice *d;
    ~RefreshReady() { d->update_ready_locked(); }
};

ScriptedDevice::ScriptedDevice() {
    if (::pipe2(ready_pipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
    }
}

ScriptedDevice::~ScriptedDevice() {
    for (const int fd : ready_pipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

int ScriptedDevice::native_handle() const {
    std::lock_guard lock(mutex_);
    return open_ ? ready_pipe_[0] : -1;
}

void ScriptedDevice::update_ready_locked() {
    const bool ready =
        open_ && (unplugged_ || (next_ < steps_.size() && steps_[next_].kind == Kind::read));
    if (ready && !ready_signalled_) {
        const char byte = 1;
        ready_signalled_ = ::write(ready_pipe_[1], &byte, 1) == 1;
    } else if (!ready && ready_signalled_) {
        char byte;
        ready_signalled_ = ::read(ready_pipe_[0], &byte, 1) != 1;
    }
}

std::string ScriptedDevice::describe(const Step &s) {
    const std::string err =
        s.error != 0 ? " -> errno " + std::string(strerrorname_np(s.error)) : "";
    switch (s.kind) {
        case Kind::open:
            return "open(" + s.path + ")" + err;
        case Kind::get:
            return ioctl_name(s.request) + " -> " + std::to_string(s.value) + err;
        case Kind::set:
            return ioctl_name(s.request) + "(" + std::to_string(s.value) + ")" + err;
        case Kind::read:
            return s.error != 0 ? "read" + err : "read " + std::to_string(s.data.size()) + " bytes";
        case Kind::write:
            return "write" + err;
    }
    return "?";
}

std::string ScriptedDevice::dump_locked() const {
    std::string out = "script (" + std::to_string(steps_.size()) + " steps, next is " +
                      std::to_string(next_ + 1) + "):\n";
    for (std::size_t i = 0; i < steps_.size(); ++i) {
        out += (i == next_ ? " -> " : "    ") + std::to_string(i + 1) + ". " + describe(steps_[i]) +
               (i < next_ ? "  (done)" : "") + "\n";
    }
    return out;
}

int ScriptedDevice::unexpected_locked(const std::string &call) {
    ADD_FAILURE() << "unexpected device call: " << call << "\n" << dump_locked();
    return EPROTO;
}

ScriptedDevice &ScriptedDevice::add(Step s) {
    std::lock_guard lock(mutex_);
    steps_.push_back(std::move(s));
    update_ready_locked();
    return *this;
}

ScriptedDevice &ScriptedDevice::expect_open(std::string path, int error) {
    return add({Kind::open, 0, 0, error, {}, std::move(path)});
}
ScriptedDevice &ScriptedDevice::expect_get(unsigned long request, uint32_t reply, int error) {
    return add({Kind::get, request, reply, error, {}, {}});
}
ScriptedDevice &ScriptedDevice::expect_set(unsigned long request, uint32_t value, int error) {
    return add({Kind::set, request, value, error, {}, {}});
}
ScriptedDevice &ScriptedDevice::expect_read(std::vector<uint32_t> samples) {
    std::vector<std::byte> bytes(samples.size() * 4);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return expect_read_bytes(std::move(bytes));
}
ScriptedDevice &ScriptedDevice::expect_read_bytes(std::vector<std::byte> bytes) {
    return add({Kind::read, 0, 0, 0, std::move(bytes), {}});
}
ScriptedDevice &ScriptedDevice::expect_read_error(int error) {
    return add({Kind::read, 0, 0, error, {}, {}});
}
ScriptedDevice &ScriptedDevice::expect_write(int error) {
    return add({Kind::write, 0, 0, error, {}, {}});
}
ScriptedDevice &ScriptedDevice::expect_writes(std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        expect_write();
    }
    return *this;
}
ScriptedDevice &ScriptedDevice::opened() {
    std::lock_guard lock(mutex_);
    open_ = true;
    update_ready_locked();
    return *this;
}

void ScriptedDevice::unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    update_ready_locked();
}

void ScriptedDevice::verify_done() const {
    std::lock_guard lock(mutex_);
    if (next_ != steps_.size()) {
        ADD_FAILURE() << "the code under test stopped before the script ended\n" << dump_locked();
    }
}

std::vector<std::vector<uint32_t>> ScriptedDevice::writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}
std::size_t ScriptedDevice::remaining() const {
    std::lock_guard lock(mutex_);
    return steps_.size() - next_;
}
bool ScriptedDevice::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}
bool ScriptedDevice::is_open() const {
    std::lock_guard lock(mutex_);
    return open_;
}

int ScriptedDevice::open(const std::string &path) {
    std::lock_guard lock(mutex_);
    const RefreshReady refresh{this};
    if (next_ >= steps_.size() || steps_[next_].kind != Kind::open || steps_[next_].path != path) {
        return unexpected_locked("open(" + path + ")");
    }
    const int err = steps_[next_++].error;
    open_ = err == 0;
    return err;
}

void ScriptedDevice::close() {
    std::lock_guard lock(mutex_);
    const RefreshReady refresh{this};
    if (open_) {
        closed_ = true;
    }
    open_ = false;
}

int ScriptedDevice::ioctl_u32(unsigned long request, uint32_t &value) {
    std::lock_guard lock(mutex_);
    const RefreshReady refresh{this};
    const bool is_get = (request & 0xC0000000UL) == 0x80000000UL;
    const std::string call =
        ioctl_name(request) + (is_get ? "" : "(" + std::to_string(value) + ")");
    if (!open_) {
        return unexpected_locked(call + " on a closed device");
    }
    if (unplugged_) {
        return ENODEV;
    }
    if (next_ >= steps_.size()) {
        return unexpected_locked(call);
    }
    const Step &s = steps_[next_];
    const Kind want = is_get ? Kind::get : Kind::set;
    if (s.kind != want || s.request != request || (want == Kind::set && s.value != value)) {
        return unexpected_locked(call);
    }
    ++next_;
    if (s.error == 0 && want == Kind::get) {
        value = s.value;
    }
    return s.error;
}

IoResult ScriptedDevice::read(std::span<std::byte> buffer) {
    std::lock_guard lock(mutex_);
    const RefreshReady refresh{this};
    if (!open_) {
        return {0, unexpected_locked("read on a closed device")};
    }
    if (unplugged_) {
        return {0, ENODEV};
    }
    if (next_ >= steps_.size() || steps_[next_].kind != Kind::read) {
        return {0, EAGAIN};
    }
    Step &s = steps_[next_];
    if (s.error != 0) {
        ++next_;
        return {0, s.error};
    }
    // A short buffer takes the front of the step; the rest stays for the next read.
    const std::size_t n = std::min(buffer.size(), s.data.size());
    std::memcpy(buffer.data(), s.data.data(), n);
    s.data.erase(s.data.begin(), s.data.begin() + static_cast<std::ptrdiff_t>(n));
    if (s.data.empty()) {
        ++next_;
    }
    return {n, 0};
}

IoResult ScriptedDevice::write(std::span<const std::byte> data) {
    std::lock_guard lock(mutex_);
    const RefreshReady refresh{this};
    if (!open_) {
        return {0, unexpected_locked("write on a closed device")};
    }
    if (unplugged_) {
        return {0, ENODEV};
    }
    const std::string call = "write of " + std::to_string(data.size()) + " bytes";
    if (next_ >= steps_.size() || steps_[next_].kind != Kind::write) {
        return {0, unexpected_locked(call)};
    }
    const int err = steps_[next_++].error;
    if (err != 0) {
        return {0, err};
    }
    // The kernel's pulse-mode rules.
    std::string why;
    std::vector<uint32_t> entries(data.size() / 4);
    std::memcpy(entries.data(), data.data(), entries.size() * 4);
    const uint64_t sum = std::accumulate(entries.begin(), entries.end(), uint64_t{0});
    if (data.size() % 4 != 0) {
        why = "not a multiple of 4 bytes";
    } else if (entries.size() % 2 == 0) {
        why = "even entry count " + std::to_string(entries.size());
    } else if (entries.size() > kMaxWriteEntries) {
        why = std::to_string(entries.size()) + " entries";
    } else if (std::find(entries.begin(), entries.end(), 0u) != entries.end()) {
        why = "a zero entry";
    } else if (sum > kMaxWriteDurationUs) {
        why = std::to_string(sum) + " us of signal";
    }
    if (!why.empty()) {
        ADD_FAILURE() << "the kernel would refuse this " << call << ": " << why;
        return {0, EINVAL};
    }
    writes_.push_back(std::move(entries));
    return {data.size(), 0};
}

int ScriptedDevice::poll(short events, int timeout_ms, short &revents) {
    (void)timeout_ms;
    std::lock_guard lock(mutex_);
    revents = 0;
    if (!open_) {
        return EBADF;
    }
    if (unplugged_) {
        revents = kPollHup | kPollErr;
        return 0;
    }
    if ((events & kPollIn) != 0 && next_ < steps_.size() && steps_[next_].kind == Kind::read) {
        revents = kPollIn;
    }
    return 0;
}

}  // namespace krvxd::lirc::test
