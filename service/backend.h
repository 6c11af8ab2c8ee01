// SPDX-License-Identifier: MIT
// The device behind krvxd: the small interface every backend (sim, lirc) implements.
//
// Threading model
//   krvxd runs one event loop (one thread, an asio::io_context). Every member function of
//   Backend is called on that loop thread, and every BackendListener function must be called
//   on it too. No member function may block: anything slow (a kernel write that sleeps for
//   the signal's air time, a timed simulation) runs on a timer of the loop or on a thread of
//   the backend's own, which hands its result to the loop with asio::post(executor, ...).
//   After the Backend's destructor returns, it calls nothing any more (cancel timers, join
//   own threads, drop posted handlers by checking a liveness token).
//
// Sending
//   transmit() starts one send; the service never starts a second before the first has
//   completed (it queues them), and never one longer than wire::kMaxSendAirTimeUs on air.
//   `done` is called exactly once, on the loop, when the device has sent the signal or has
//   failed to, with Ok or the failure's status. cancel_transmit() asks the send on air to
//   stop after the frame being sent (its client left); `done` still comes, once.
//
// Receiving and learning
//   The backend reports every frame its receiver sees with listener.on_frame(): the pulse
//   and space durations of one frame as the receiver measured them (first a pulse, last a
//   pulse), the silence after it when known, and carrier readings taken during the frame
//   (empty when the receiver cannot measure). `burst_start` is true for the first frame of
//   a burst (after a silence longer than a frame gap); the service reports a received code
//   to clients for such frames only, and learns (next protocol version) from all frames.
//   A backend whose device decodes buttons itself (kernel scancode mode) reports each
//   press with listener.on_receive_code(code) instead and marks its frames
//   `report_code = false`, so that a press is reported once, by the same code every time.
//   set_learning(true) asks for carrier measurement and the most faithful receiver mode
//   while a learn runs; set_learning(false) restores the normal mode. Frames arrive in both
//   modes.
//
// Device loss
//   listener.on_device_lost(reason) once when the device is gone; afterwards the service
//   answers open requests with ERR_DEVICE_NOT_FOUND, sends fail with ERR_COMM_FAILED and a
//   running learn ends with LEARN_FAIL_DEVICE_LOST. listener.on_device_back() once when the
//   backend has the device again (open_status() is 0 from then on): the service serves it
//   again. Lost and back alternate; back never comes without a loss before it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ir/signal.h"
#include "krvxdrv.h"
#include "wire/status.h"

namespace krvxd {

/// Device information as the record of krvxdrv.h carries it.
struct DeviceInfo {
    uint32_t firmware = 0;  ///< major * 256 + minor
    uint32_t protocol = 0;  ///< major * 256 + minor
    uint8_t day = 1;
    uint8_t month = 1;
    uint8_t year = 0;  ///< years after 2000
};

struct ReceivedFrame {
    std::vector<uint32_t> durations_us;  ///< pulse, space, ..., pulse (odd count)
    uint32_t trailing_gap_us = 0;        ///< silence after the last pulse, 0 if unknown
    std::vector<uint32_t> carrier_samples_hz;
    bool burst_start = true;
    bool report_code = true;  ///< false: the backend reports this receiver's codes itself
};

class BackendListener {
  public:
    virtual void on_frame(const ReceivedFrame &frame) = 0;
    virtual void on_device_lost(const std::string &reason) = 0;
    virtual void on_device_back() = 0;
    /// A received code (12 characters) the device decoded itself.
    virtual void on_receive_code(const std::string &code) = 0;

  protected:
    ~BackendListener() = default;
};

class Backend {
  public:
    using TransmitDone = std::function<void(wire::Status status)>;

    virtual ~Backend() = default;

    /// Short name for logs ("sim", "lirc /dev/lirc0").
    virtual std::string name() const = 0;

    /// What a client's open gets: Ok, or DeviceNotFound / CommFailed / FirmwareMismatch.
    /// Asked once per client handshake.
    virtual wire::Status open_status() = 0;

    /// Valid while open_status() is 0.
    virtual DeviceInfo info() const = 0;

    /// Starts sending `signal` as ir::flatten(signal, repeat) gives it (repeat >= 1).
    virtual void transmit(const ir::Signal &signal, int repeat, TransmitDone done) = 0;

    /// Stops the send on air after its current frame; nothing when none is on air.
    virtual void cancel_transmit() {}

    /// Learn mode of the receiver: see "Receiving and learning" above. Returns 0, or for
    /// set_learning(true) why the learn cannot run: LEARN_FAIL_CANNOT_LEARN (no raw
    /// receiver, or the device refused the learn settings) or LEARN_FAIL_DEVICE_LOST.
    virtual int32_t set_learning(bool learning) = 0;

    using PressReleased = std::function<void()>;

    /// The simulated device's virtual remote: holds `signal` in front of the receiver for
    /// hold_ms (at least one frame) with a signal quality of 0..100, and calls `released`
    /// once on the loop when its last frame has been reported. Returns Ok, or NotSupported
    /// for a real device (then `released` is never called).
    virtual wire::Status press(const ir::Signal &signal, uint32_t hold_ms, uint8_t quality,
                               PressReleased released) {
        (void)signal;
        (void)hold_ms;
        (void)quality;
        (void)released;
        return wire::Status::NotSupported;
    }
};

}  // namespace krvxd
