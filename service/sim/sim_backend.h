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
#include <cstdint>
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
    int32_t set_learning(bool learning) override {
        learning_ = learning;
        return 0;
    }
    wire::Status press(const ir::Signal &signal, uint32_t hold_ms, uint8_t quality) override;

    bool learning() const { return learning_; }

  private:
    void start_burst(std::vector<ReceivedFrame> frames);
    asio::steady_timer &new_timer();
    void release_timer(asio::steady_timer *timer);

    asio::any_io_executor executor_;
    BackendListener &listener_;
    SimSettings settings_;
    bool learning_ = false;
    uint32_t presses_ = 0;  // seeds each press's degradation
    std::list<asio::steady_timer> timers_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace krvxd
