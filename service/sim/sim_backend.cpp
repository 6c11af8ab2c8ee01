// SPDX-License-Identifier: MIT
#include "sim/sim_backend.h"

#include "sim/receiver_model.h"

#include <algorithm>

#include <chrono>
#include <cmath>

#include "ir/signal.h"

namespace krvxd {

namespace {

// The frames a receiver sees for one part, with one carrier reading in whole Hz each: on/off
// durations, cut after every silence of a frame gap or more (the receiver's timeout), that silence
// being the frame's trailing gap.
void append_part(std::vector<ReceivedFrame> &frames, const std::vector<ir::Burst> &part,
                 double carrier_hz) {
    ReceivedFrame f;
    for (std::size_t i = 0; i < part.size(); ++i) {
        f.durations_us.push_back(part[i].on_us);
        if (part[i].off_us < ir::kFrameGapUs && i + 1 < part.size()) {
            f.durations_us.push_back(part[i].off_us);
            continue;
        }
        f.trailing_gap_us = part[i].off_us;
        f.burst_start = frames.empty();
        if (carrier_hz > 0)
            f.carrier_samples_hz.push_back(static_cast<uint32_t>(std::lround(carrier_hz)));
        frames.push_back(std::move(f));
        f = ReceivedFrame{};
    }
}

uint64_t frame_time_us(const ReceivedFrame &f) {
    uint64_t t = f.trailing_gap_us;
    for (uint32_t d : f.durations_us)
        t += d;
    return t;
}

}  // namespace

std::vector<ReceivedFrame> frames_for_send(const ir::Signal &signal, int repeat_count) {
    std::vector<ReceivedFrame> frames;
    const int n = repeat_count < 1 ? 1 : repeat_count;
    append_part(frames, signal.once, signal.carrier_hz);
    const auto &part = signal.repeat.empty() ? signal.once : signal.repeat;
    const int copies = signal.repeat.empty() ? n - 1 : n;
    for (int i = 0; i < copies && frames.size() < kMaxFramesPerBurst; ++i)
        append_part(frames, part, signal.carrier_hz);
    if (frames.size() > kMaxFramesPerBurst)
        frames.resize(kMaxFramesPerBurst);
    return frames;
}

std::vector<ReceivedFrame> frames_for_hold(const ir::Signal &signal, uint64_t hold_us) {
    std::vector<ReceivedFrame> frames;
    uint64_t t = 0;
    append_part(frames, signal.once, signal.carrier_hz);
    for (const auto &f : frames)
        t += frame_time_us(f);
    const auto &part = signal.repeat.empty() ? signal.once : signal.repeat;
    if (part.empty())
        return frames;
    while ((frames.empty() || t < hold_us) && frames.size() < kMaxFramesPerBurst) {
        const std::size_t before = frames.size();
        append_part(frames, part, signal.carrier_hz);
        uint64_t added = 0;
        for (std::size_t i = before; i < frames.size(); ++i)
            added += frame_time_us(frames[i]);
        if (added == 0)
            break;
        t += added;
    }
    if (frames.size() > kMaxFramesPerBurst)
        frames.resize(kMaxFramesPerBurst);
    return frames;
}

SimBackend::SimBackend(asio::any_io_executor executor, BackendListener &listener,
                       SimSettings settings)
    : executor_(std::move(executor)), listener_(listener), settings_(settings) {
    if (!(settings_.time_scale >= 0))
        settings_.time_scale = 0;
    if (settings_.time_scale > 1)
        settings_.time_scale = 1;
}

SimBackend::~SimBackend() {
    *alive_ = false;
    alive_.reset();
    for (auto &t : timers_)
        t.cancel();
}

asio::steady_timer &SimBackend::new_timer() {
    return timers_.emplace_back(executor_);
}

void SimBackend::release_timer(asio::steady_timer *timer) {
    timers_.remove_if([timer](const asio::steady_timer &t) { return &t == timer; });
}

void SimBackend::transmit(const ir::Signal &signal, int repeat, TransmitDone done) {
    std::weak_ptr<bool> alive = alive_;
    if (settings_.fail_transmit) {
        asio::post(executor_, [alive, done = std::move(done)] {
            if (!alive.expired())
                done(wire::Status::TransmitFailed);
        });
        return;
    }
    // The send goes out frame by frame (a frame ends at a silence of a frame gap or at the
    // end of a part), so that cancel_transmit() can stop it after the frame on air.
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::chrono::steady_clock::time_point> due;
    uint64_t t = 0;
    const auto add_part = [&](const std::vector<ir::Burst> &part) {
        for (std::size_t i = 0; i < part.size(); ++i) {
            t += uint64_t{part[i].on_us} + part[i].off_us;
            if (part[i].off_us >= ir::kFrameGapUs || i + 1 == part.size())
                due.push_back(start + scaled(t));
        }
    };
    add_part(signal.once);
    const bool has_repeat = !signal.repeat.empty();
    for (int i = 0; i < (has_repeat ? repeat : repeat - 1); ++i)
        add_part(has_repeat ? signal.repeat : signal.once);
    if (settings_.loopback)
        loopback_stop_ = walk(frame_times(frames_for_send(signal, repeat), start), {});
    transmit_stop_ = walk(std::move(due), [done = std::move(done)](bool completed) {
        done(completed ? wire::Status::Ok : wire::Status::CommFailed);
    });
}

void SimBackend::cancel_transmit() {
    for (auto *stop : {&transmit_stop_, &loopback_stop_})
        if (auto flag = stop->lock())
            *flag = true;
}

std::chrono::steady_clock::duration SimBackend::scaled(uint64_t us) const {
    return std::chrono::microseconds(
        static_cast<int64_t>(static_cast<double>(us) * settings_.time_scale));
}

wire::Status SimBackend::press(const ir::Signal &signal, uint32_t hold_ms, uint8_t quality,
                               PressReleased released) {
    auto frames = degrade(frames_for_hold(signal, uint64_t{hold_ms} * 1000), quality, presses_++);
    walk(frame_times(std::move(frames), std::chrono::steady_clock::now()),
         [released = std::move(released)](bool) {
             if (released)
                 released();
         });
    return wire::Status::Ok;
}

SimBackend::FrameWalk SimBackend::frame_times(std::vector<ReceivedFrame> frames,
                                              std::chrono::steady_clock::time_point start) const {
    // Each frame is reported when it has been on air.
    FrameWalk w;
    double t_us = 0;
    for (const ReceivedFrame &f : frames) {
        uint64_t on_air = 0;
        for (uint32_t d : f.durations_us)
            on_air += d;
        w.due.push_back(start + std::chrono::microseconds(static_cast<int64_t>(
                                    (t_us + static_cast<double>(on_air)) * settings_.time_scale)));
        t_us += static_cast<double>(frame_time_us(f));
    }
    w.frames = std::move(frames);
    return w;
}

std::weak_ptr<bool> SimBackend::walk(FrameWalk frames, std::function<void(bool)> finished) {
    auto list = std::make_shared<FrameWalk>(std::move(frames));
    std::vector<std::chrono::steady_clock::time_point> due = list->due;
    return walk(std::move(due), std::move(finished),
                [this, list](std::size_t i) { listener_.on_frame(list->frames[i]); });
}

std::weak_ptr<bool> SimBackend::walk(std::vector<std::chrono::steady_clock::time_point> due,
                                     std::function<void(bool)> finished,
                                     std::function<void(std::size_t)> step) {
    struct Walk {
        std::vector<std::chrono::steady_clock::time_point> due;
        std::size_t next = 0;
        std::function<void(std::size_t)> step;
        std::function<void(bool)> finished;
        std::shared_ptr<bool> stop = std::make_shared<bool>(false);
    };
    auto w = std::make_shared<Walk>(Walk{std::move(due), 0, std::move(step), std::move(finished)});
    std::weak_ptr<bool> stop = w->stop;
    asio::steady_timer &timer = new_timer();
    std::weak_ptr<bool> alive = alive_;
    auto run = std::make_shared<std::function<void(std::error_code)>>();
    *run = [this, alive, w, timer_ptr = &timer, run_weak = std::weak_ptr(run)](std::error_code) {
        if (alive.expired())
            return;
        const auto now = std::chrono::steady_clock::now();
        while (!*w->stop && w->next < w->due.size() && w->due[w->next] <= now) {
            if (w->step)
                w->step(w->next);
            ++w->next;
        }
        if (*w->stop || w->next == w->due.size()) {
            const bool completed = !*w->stop;
            auto at_end = std::move(w->finished);
            release_timer(timer_ptr);  // destroys the timer; `run` lives on in this call
            if (at_end)
                at_end(completed);
            return;
        }
        auto self = run_weak.lock();
        if (!self)
            return;
        timer_ptr->expires_at(w->due[w->next]);
        timer_ptr->async_wait([self](std::error_code ec) { (*self)(ec); });
    };
    timer.expires_at(w->due.empty() ? std::chrono::steady_clock::now() : w->due.front());
    timer.async_wait([run](std::error_code ec) { (*run)(ec); });
    return stop;
}

}  // namespace krvxd
