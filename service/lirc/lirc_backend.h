// SPDX-License-Identifier: MIT
// krvxd's backend for a Linux kernel IR device (/dev/lircN): `--backend lirc [--device N]`.
//
// Opening: the node given, or else the first node (sysfs order, then /dev/lircN) that can
// receive raw mode2 samples; the choice, the driver and what the device can do are logged.
// The receiver runs in mode2 all the time; its file descriptor is watched by the loop
// (asio::posix::stream_descriptor on a duplicate), samples are decoded into frames and
// handed to the listener on the loop.
//
// Receiving: a device that decodes buttons itself (scancode mode) gets a second
// descriptor in scancode mode, watched like the first; each press (records without the
// repeat flag) is reported with listener.on_receive_code(), and mode2 frames then carry
// report_code = false. Without scancode mode the service makes codes from mode2 frames.
//
// Learning: set_learning(true) applies the learn settings (wideband receiver, carrier
// reports, an explicit receive timeout) through a LearnSettingsGuard; set_learning(false),
// device loss and destruction restore them. While learning, a frame that ended in a
// TIMEOUT is held back until the next frame shows the whole silence after it (the kernel
// reports it before that frame's first pulse), or until kHoldTimeoutFrame has passed: a
// device whose receive timeout is shorter than the remote's repeat gap would otherwise
// report the timeout as the gap.
//
// Sending: the plan is made on the loop (refusals are answered at once); the writes run on
// a worker thread with a descriptor of its own, because each write blocks for the signal's
// air time. The worker posts the result back to the loop. Errors map as fault.h documents.
//
// Unplug: ENODEV from any call, or POLLHUP/POLLERR, counts as lost: the descriptor is
// closed, listener.on_device_lost() is called once, opens get ERR_DEVICE_NOT_FOUND and
// sends ERR_COMM_FAILED. While no device is present the backend looks for it again every
// rescan_interval (the only periodic wake-up, and only then) and serves it again when it
// is back: listener.on_device_back() once, after open_status() has become 0 again.
//
// Threads: every member is called on the loop thread (see backend.h). The send worker
// touches only its own DeviceIo, a copy of the plan, and asio::post; nothing runs after
// the destructor, which stops and joins the worker (a write in progress ends within
// 500 ms).
#pragma once

#include <asio.hpp>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backend.h"
#include "lirc/device_io.h"
#include "lirc/discovery.h"
#include "lirc/features.h"
#include "lirc/learn_settings.h"
#include "lirc/mode2_decoder.h"
#include "lirc/receiver.h"
#include "lirc/sender.h"
#include "log.h"

namespace krvxd::lirc {

/// Longest wait for the frame after a TIMEOUT while learning (the decoder's join gap).
inline constexpr std::chrono::milliseconds kHoldTimeoutFrame{150};

struct LircSettings {
    std::string device;  ///< "/dev/lirc0"; empty: the first device that receives mode2
    std::filesystem::path sys_class_rc = "/sys/class/rc";
    std::filesystem::path dev_dir = "/dev";
    DeviceIoFactory factory = make_fd_device_io;
    std::chrono::milliseconds rescan_interval{1000};
    /// Clock for the send worker's gaps; null: the steady clock. Used on the worker thread.
    std::shared_ptr<SendClock> send_clock;
};

class LircBackend final : public Backend {
  public:
    LircBackend(asio::any_io_executor executor, BackendListener &listener, const Log &log,
                LircSettings settings);
    ~LircBackend() override;
    LircBackend(const LircBackend &) = delete;
    LircBackend &operator=(const LircBackend &) = delete;

    std::string name() const override;
    wire::Status open_status() override;
    DeviceInfo info() const override { return info_; }
    void transmit(const ir::Signal &signal, int repeat, TransmitDone done) override;
    /// Asks the sender thread to stop; it does between two writes (at a frame gap).
    void cancel_transmit() override;
    int32_t set_learning(bool learning) override;

    bool present() const { return present_; }
    const Capabilities &capabilities() const { return caps_; }
    /// The node in use, or the last one used while the device is away.
    const std::string &node() const { return node_; }
    /// True while learn settings are applied to the device.
    bool learn_settings_active() const { return guard_.has_value(); }

  private:
    bool try_open();
    void arm_wait();
    void on_readable();
    void open_scancodes();
    void arm_scancode_wait();
    void on_scancodes_readable();
    void deliver(std::vector<Mode2Frame> &frames);
    void release_held();
    void lose(const std::string &reason);
    void schedule_rescan();
    void post_done(TransmitDone done, wire::Status status);

    asio::any_io_executor executor_;
    BackendListener &listener_;
    const Log &log_;
    LircSettings settings_;
    DeviceInfo info_;

    bool present_ = false;
    bool lost_reported_ = false;
    bool learning_ = false;
    std::string node_;
    std::string last_failure_;  // last probe failure logged, so rescans do not repeat it
    Capabilities caps_;
    std::unique_ptr<DeviceIo> rx_;
    std::optional<asio::posix::stream_descriptor> watch_;
    std::unique_ptr<DeviceIo> sc_rx_;  // scancode-mode descriptor, when the device has it
    std::optional<asio::posix::stream_descriptor> sc_watch_;
    ScancodeReader sc_reader_;
    std::optional<LearnSettingsGuard> guard_;
    Mode2Decoder decoder_;
    asio::steady_timer rescan_timer_;
    std::optional<ReceivedFrame> held_;  // while learning: a frame waiting for its gap
    asio::steady_timer hold_timer_;
    uint64_t hold_seq_ = 0;
    std::jthread sender_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace krvxd::lirc
