// SPDX-License-Identifier: MIT
#include "lirc/lirc_backend.h"

#include <unistd.h>

#include <cerrno>

#include "lirc/abi.h"
#include "lirc/fault.h"
#include "lirc/send_plan.h"

namespace krvxd::lirc {

namespace {

// Reads per wake-up before the loop gets its turn again.
constexpr int kMaxReadsPerWake = 16;
constexpr std::size_t kReadBytes = 512 * sizeof(uint32_t);

krvxd::DeviceInfo to_service_info(const ::DeviceInfo &k) {
    krvxd::DeviceInfo i;
    i.firmware = k.firmwareVersion;
    i.protocol = k.protocolVersion;
    i.day = k.firmwareDateDay;
    i.month = k.firmwareDateMonth;
    i.year = k.firmwareDateYear;
    return i;
}

}  // namespace

LircBackend::LircBackend(asio::any_io_executor executor, BackendListener &listener, const Log &log,
                         LircSettings settings)
    : executor_(std::move(executor)),
      listener_(listener),
      log_(log),
      settings_(std::move(settings)),
      info_(to_service_info(device_info_for_running_kernel())),
      rescan_timer_(executor_),
      hold_timer_(executor_) {
    if (!settings_.send_clock) {
        settings_.send_clock = std::make_shared<SteadySendClock>();
    }
    if (!try_open()) {
        log_.info(settings_.device.empty()
                      ? "lirc: no kernel IR device that can receive found; waiting for one"
                      : "lirc: " + settings_.device + " is not usable yet; waiting for it");
        schedule_rescan();
    }
}

LircBackend::~LircBackend() {
    rescan_timer_.cancel();
    hold_timer_.cancel();
    if (sender_.joinable()) {
        sender_.request_stop();
        sender_.join();
    }
    guard_.reset();  // restores the learn settings
    if (watch_) {
        std::error_code ec;
        watch_->close(ec);
    }
    if (sc_watch_) {
        std::error_code ec;
        sc_watch_->close(ec);
    }
}

std::string LircBackend::name() const {
    return node_.empty() ? "lirc (no device)" : "lirc " + node_;
}

wire::Status LircBackend::open_status() {
    return present_ ? wire::Status::Ok : wire::Status::DeviceNotFound;
}

bool LircBackend::try_open() {
    std::string node = settings_.device;
    std::optional<Capabilities> caps;
    if (node.empty()) {
        std::vector<std::string> skipped;
        auto choice = first_mode2_device(candidate_nodes(settings_.sys_class_rc, settings_.dev_dir),
                                         settings_.factory, &skipped);
        for (const std::string &line : skipped) {
            log_.debug("lirc: skipped " + line);
        }
        if (!choice) {
            return false;
        }
        node = choice->node;
    }
    auto io = settings_.factory();
    if (const int err = io->open(node); err != 0) {
        log_.debug("lirc: cannot open " + node + ": " + error_text(err));
        return false;
    }
    ProbeResult p = probe(*io);
    if (!p.ok()) {
        // Rescans retry every second: say it once, not every time.
        const std::string line = "lirc: " + node + ": " + p.message;
        if (line != last_failure_) {
            log_.info(line);
            last_failure_ = line;
        }
        return false;
    }
    if (p.caps.can_receive_mode2()) {
        if (const int err = ioctl_set(*io, kSetRecMode, kModeMode2); err != 0) {
            log_.info("lirc: " + node + ": cannot receive raw (mode2) IR: " + error_text(err));
            if (err == ENODEV) {
                return false;
            }
            p.caps.features &= ~kCanRecMode2;
        }
    }
    last_failure_.clear();
    node_ = node;
    caps_ = p.caps;
    rx_ = std::move(io);
    decoder_.reset();
    present_ = true;
    lost_reported_ = false;

    const auto devices = scan_rc_devices(settings_.sys_class_rc, settings_.dev_dir);
    const auto rc = find_by_node(devices, node_);
    log_.info("lirc: using " + (rc ? describe(*rc) : node_) + "; can: " + describe(caps_) +
              (settings_.device.empty() ? " (first device that receives mode2)" : ""));
    if (auto why = send_refusal(caps_)) {
        log_.info("lirc: " + *why);
    }
    if (auto why = learn_refusal(caps_)) {
        log_.info("lirc: " + *why + "; received codes are not reported either");
    } else if (auto remark = carrier_remark(caps_)) {
        log_.info("lirc: " + *remark);
    }
    if (learning_) {
        (void)set_learning(true);  // a failure was told to the learn when it started
    }
    if (caps_.can_receive_mode2()) {
        arm_wait();
    }
    open_scancodes();
    return true;
}

void LircBackend::open_scancodes() {
    if (!caps_.can_receive_scancode()) {
        return;
    }
    auto io = settings_.factory();
    if (const int err = io->open(node_); err != 0) {
        log_.info("lirc: " + node_ + ": cannot open for scancodes: " + error_text(err));
        return;
    }
    if (const int err = ioctl_set(*io, kSetRecMode, kModeScancode); err != 0) {
        log_.info("lirc: " + node_ + ": no scancode mode (" + error_text(err) +
                  "); received codes come from raw IR");
        io->close();
        return;
    }
    const int copy = ::dup(io->native_handle());
    if (copy < 0) {
        log_.info("lirc: cannot watch the scancodes: " + error_text(errno));
        io->close();
        return;
    }
    sc_reader_.reset();
    sc_rx_ = std::move(io);
    sc_watch_.emplace(executor_, copy);
    log_.debug("lirc: received codes from the device's decoded scancodes");
    arm_scancode_wait();
}

void LircBackend::arm_scancode_wait() {
    sc_watch_->async_wait(asio::posix::stream_descriptor::wait_read,
                          [this, alive = std::weak_ptr<bool>(alive_)](std::error_code ec) {
                              if (alive.expired() || ec == asio::error::operation_aborted) {
                                  return;
                              }
                              if (ec) {
                                  lose("the device cannot be watched: " + ec.message());
                                  return;
                              }
                              on_scancodes_readable();
                          });
}

void LircBackend::on_scancodes_readable() {
    if (!present_ || !sc_rx_) {
        return;
    }
    std::vector<std::byte> buffer(16 * kScancodeRecordSize);
    std::vector<Scancode> records;
    for (int i = 0; i < kMaxReadsPerWake; ++i) {
        const IoResult r = sc_rx_->read(buffer);
        if (r.error == EAGAIN || r.error == EWOULDBLOCK || (r.ok() && r.bytes == 0)) {
            break;
        }
        if (!r.ok()) {
            lose(r.error == ENODEV ? "unplugged" : "read failed: " + error_text(r.error));
            return;
        }
        sc_reader_.feed_bytes(std::span(buffer).first(r.bytes), records);
    }
    for (const Scancode &sc : records) {
        // A held button repeats its record with the repeat flag: one report per press.
        if ((sc.flags & kScancodeFlagRepeat) == 0) {
            listener_.on_receive_code(scancode_receive_code(sc));
        }
        if (!present_) {
            return;
        }
    }
    if (present_ && sc_watch_) {
        arm_scancode_wait();
    }
}

void LircBackend::arm_wait() {
    const int fd = rx_ ? rx_->native_handle() : -1;
    if (fd < 0) {
        return;
    }
    if (!watch_) {
        const int copy = ::dup(fd);
        if (copy < 0) {
            log_.info("lirc: cannot watch the device: " + error_text(errno));
            return;
        }
        watch_.emplace(executor_, copy);
    }
    watch_->async_wait(asio::posix::stream_descriptor::wait_read,
                       [this, alive = std::weak_ptr<bool>(alive_)](std::error_code ec) {
                           if (alive.expired() || ec == asio::error::operation_aborted) {
                               return;
                           }
                           if (ec) {
                               lose("the device cannot be watched: " + ec.message());
                               return;
                           }
                           on_readable();
                       });
}

void LircBackend::on_readable() {
    if (!present_ || !rx_) {
        return;
    }
    std::vector<std::byte> buffer(kReadBytes);
    std::vector<Mode2Frame> frames;
    bool drained = false;
    for (int i = 0; i < kMaxReadsPerWake; ++i) {
        const IoResult r = rx_->read(buffer);
        if (r.error == EAGAIN || r.error == EWOULDBLOCK || (r.ok() && r.bytes == 0)) {
            drained = true;
            break;
        }
        if (!r.ok()) {
            deliver(frames);
            lose(r.error == ENODEV ? "unplugged" : "read failed: " + error_text(r.error));
            return;
        }
        decoder_.feed_bytes(std::span(buffer).first(r.bytes), frames);
    }
    deliver(frames);
    if (drained) {
        short revents = 0;
        if (rx_->poll(kPollIn, 0, revents) == 0 && unplugged(revents)) {
            lose("unplugged");
            return;
        }
    }
    if (present_) {
        arm_wait();
    }
}

void LircBackend::deliver(std::vector<Mode2Frame> &frames) {
    for (Mode2Frame &f : frames) {
        ReceivedFrame rf;
        rf.durations_us = std::move(f.durations_us);
        rf.trailing_gap_us = f.gap_after_us;
        rf.carrier_samples_hz = std::move(f.carrier_samples_hz);
        rf.burst_start = !f.continues_burst;
        rf.report_code = !sc_rx_;
        if (held_) {
            if (f.continues_burst && f.gap_before_us > held_->trailing_gap_us) {
                held_->trailing_gap_us = f.gap_before_us;
            }
            release_held();
        }
        if (learning_ && f.ended_by_timeout) {
            held_ = std::move(rf);
            const uint64_t seq = ++hold_seq_;
            hold_timer_.expires_after(kHoldTimeoutFrame);
            hold_timer_.async_wait(
                [this, seq, alive = std::weak_ptr<bool>(alive_)](std::error_code ec) {
                    // A wait that fired just before the frame was released is stale.
                    if (!ec && !alive.expired() && seq == hold_seq_) {
                        release_held();
                    }
                });
            continue;
        }
        listener_.on_frame(rf);
    }
    frames.clear();
}

void LircBackend::release_held() {
    if (!held_) {
        return;
    }
    hold_timer_.cancel();
    const ReceivedFrame frame = std::move(*held_);
    held_.reset();
    listener_.on_frame(frame);
}

void LircBackend::lose(const std::string &reason) {
    if (!present_) {
        return;
    }
    present_ = false;
    release_held();
    guard_.reset();  // one attempt each; a gone device answers ENODEV at once
    if (watch_) {
        std::error_code ec;
        watch_->close(ec);
        watch_.reset();
    }
    if (rx_) {
        rx_->close();
        rx_.reset();
    }
    if (sc_watch_) {
        std::error_code ec;
        sc_watch_->close(ec);
        sc_watch_.reset();
    }
    if (sc_rx_) {
        sc_rx_->close();
        sc_rx_.reset();
    }
    log_.info("lirc: " + node_ + " lost: " + reason);
    if (!lost_reported_) {
        lost_reported_ = true;
        listener_.on_device_lost(node_ + ": " + reason);
    }
    schedule_rescan();
}

void LircBackend::schedule_rescan() {
    rescan_timer_.expires_after(settings_.rescan_interval);
    rescan_timer_.async_wait([this, alive = std::weak_ptr<bool>(alive_)](std::error_code ec) {
        if (alive.expired() || ec) {
            return;
        }
        if (present_) {
            return;
        }
        const bool had_one = !node_.empty();
        const bool was_lost = lost_reported_;
        if (try_open()) {
            log_.info("lirc: " + node_ + (had_one ? " is back" : " found"));
            if (was_lost) {
                listener_.on_device_back();
            }
        } else {
            schedule_rescan();
        }
    });
}

int32_t LircBackend::set_learning(bool learning) {
    learning_ = learning;
    if (!learning) {
        release_held();
        if (guard_) {
            if (const int err = guard_->restore(); err != 0 && err != ENODEV) {
                log_.info("lirc: restoring the receiver after a learn: " + error_text(err));
            }
            guard_.reset();
        }
        return 0;
    }
    if (!present_ || !rx_) {
        return LEARN_FAIL_DEVICE_LOST;
    }
    if (guard_) {
        return 0;
    }
    if (auto why = learn_refusal(caps_)) {
        log_.info("lirc: " + *why);
        return LEARN_FAIL_CANNOT_LEARN;
    }
    guard_.emplace(*rx_);
    if (const int err = guard_->apply(caps_); err != 0) {
        log_.info("lirc: learn settings: " + guard_->message());
        guard_.reset();
        if (err == ENODEV) {
            lose("unplugged");
            return LEARN_FAIL_DEVICE_LOST;
        }
        return LEARN_FAIL_CANNOT_LEARN;
    }
    decoder_.reset();
    log_.debug(std::string("lirc: learning, carrier reports ") +
               (guard_->carrier_reports() ? "on" : "off (not measured; 38 kHz assumed)") +
               ", receive timeout " + std::to_string(guard_->timeout_us()) + " us");
    return 0;
}

void LircBackend::post_done(TransmitDone done, wire::Status status) {
    asio::post(executor_, [alive = std::weak_ptr<bool>(alive_), done = std::move(done), status] {
        if (!alive.expired()) {
            done(status);
        }
    });
}

void LircBackend::cancel_transmit() {
    if (sender_.joinable()) {
        sender_.request_stop();
    }
}

void LircBackend::transmit(const ir::Signal &signal, int repeat, TransmitDone done) {
    if (!present_) {
        post_done(std::move(done), wire::Status::CommFailed);
        return;
    }
    PlanResult planned = plan_send(signal, repeat, caps_);
    if (!planned.ok()) {
        log_.info("lirc: send refused: " + planned.outcome.message);
        post_done(std::move(done), send_status(planned.outcome.fault));
        return;
    }
    if (!planned.plan.remark.empty()) {
        log_.debug("lirc: " + planned.plan.remark);
    }
    if (sender_.joinable()) {
        sender_.join();  // the previous send has reported already; its thread is ending
    }
    auto io = settings_.factory();
    sender_ =
        std::jthread([this, ex = executor_, alive = std::weak_ptr<bool>(alive_), io = std::move(io),
                      plan = std::move(planned.plan), node = node_, clock = settings_.send_clock,
                      done = std::move(done)](const std::stop_token &stop) mutable {
            Outcome outcome;
            if (const int err = io->open(node); err != 0) {
                outcome = outcome_from_errno(err, "cannot open " + node + " for sending");
            } else {
                outcome = send(*io, plan, *clock, stop).outcome;
                io->close();
            }
            // Back to the loop; `this` is used there only while the backend is alive.
            asio::post(ex, [this, alive = std::move(alive), outcome, done = std::move(done)] {
                if (alive.expired()) {
                    return;
                }
                if (!outcome.ok()) {
                    log_.info("lirc: send failed: " + outcome.message);
                    if (outcome.fault == Fault::device_lost) {
                        lose("unplugged");
                    }
                }
                done(send_status(outcome.fault));
            });
        });
}

}  // namespace krvxd::lirc
