// SPDX-License-Identifier: MIT
// The simulated transceiver: device info from settings, a transmitter that takes the
// signal's air time (scaled), and a virtual air in front of its receiver.
//
// Virtual air: press() holds a virtual remote's button: the code's once part goes out as
// one frame, then its repeat part frame after frame while the hold lasts (at least one
// frame in all, at most kMaxFramesPerBurst). The receiver reports each frame when it has
// ended on air. With loopback, what the transmitter sends arrives at the receiver the same
// way. A time scale of 0 makes everything instant (still delivered from the loop, never
// from inside the call).
//
// Threads: loop thread only, like every Backend (see backend.h). Timers run on the
// executor given to the constructor; nothing runs after the destructor.
#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include "backend.h"

namespace krvxd {

struct SimSettings {
    DeviceInfo info{0x0107, 0x0103, 15, 3, 24};  // firmware 1.7, protocol 1.3, 15.03.2024
    double time_scale = 1.0;                     ///< 0 = instant; 1 = real air time; at most 1
    bool loopback = false;
    wire::Status open_status = wire::Status::Ok;  ///< what every open gets
    bool fail_transmit = false;
};

/// Frames a receiver sees for `signal` sent with `repeat_count` (as ir::flatten sends it).
std::vector<ReceivedFrame> frames_for_send(const ir::Signal &signal, int repeat_count);

/// Frames a receiver sees while a button is held for hold_us.
std::vector<ReceivedFrame> frames_for_hold(const ir::Signal &signal, uint64_t hold_us);

inline constexpr std::size_t kMaxFramesPerBurst = 500;

class SimBackend final : public Backend {
  public:
    SimBackend(asio::any_io_executor executor, BackendListener &listener, SimSettings settings);
    ~SimBackend() override;

    std::string name() const override { return "sim"; }
    wire::Status open_status() override { return settings_.open_status; }
    DeviceInfo info() const override { return settings_.info; }
    void transmit(const ir::Signal &signal, int repeat, TransmitDone done) override;
    void cancel_transmit() override;
    int32_t set_learning(bool learning) override {
        learning_ = learning;
        return 0;
    }
    wire::Status press(const ir::Signal &signal, uint32_t hold_ms, uint8_t quality,
                       PressReleased released) override;

    bool learning() const { return learning_; }

  private:
    struct FrameWalk {
        std::vector<ReceivedFrame> frames;
        std::vector<std::chrono::steady_clock::time_point> due;
    };
    /// When each of `frames` has been on air, from `start`.
    FrameWalk frame_times(std::vector<ReceivedFrame> frames,
                          std::chrono::steady_clock::time_point start) const;
    /// Reports each frame to the listener when it is due, then finished(completed).
    std::weak_ptr<bool> walk(FrameWalk frames, std::function<void(bool)> finished);
    /// Runs step(i) at due[i] in order, on the loop; then finished(true), or finished(false)
    /// as soon as the returned flag is set (checked before each step). Nothing runs after
    /// the destructor.
    std::weak_ptr<bool> walk(std::vector<std::chrono::steady_clock::time_point> due,
                             std::function<void(bool)> finished,
                             std::function<void(std::size_t)> step = {});
    std::chrono::steady_clock::duration scaled(uint64_t us) const;
    asio::steady_timer &new_timer();
    void release_timer(asio::steady_timer *timer);

    asio::any_io_executor executor_;
    BackendListener &listener_;
    SimSettings settings_;
    bool learning_ = false;
    uint32_t presses_ = 0;  // seeds each press's degradation
    std::list<asio::steady_timer> timers_;
    std::weak_ptr<bool> transmit_stop_;  ///< the send on air (and its loopback frames)
    std::weak_ptr<bool> loopback_stop_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace krvxd
