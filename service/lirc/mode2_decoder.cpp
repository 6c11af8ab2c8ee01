// SPDX-License-Identifier: MIT
#include "lirc/mode2_decoder.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "lirc/abi.h"

namespace krvxd::lirc {

namespace {

uint32_t add_sat(uint32_t a, uint32_t b) {
    const uint32_t max = std::numeric_limits<uint32_t>::max();
    return a > max - b ? max : a + b;
}

void push_bounded(std::vector<uint32_t> &v, uint32_t value, std::size_t limit) {
    if (v.size() < limit) {
        v.push_back(value);
    }
}

}  // namespace

Mode2Decoder::Mode2Decoder(Mode2DecoderOptions options) : options_(options) {}

void Mode2Decoder::reset() {
    *this = Mode2Decoder(options_);
}

void Mode2Decoder::feed_bytes(std::span<const std::byte> bytes, std::vector<Mode2Frame> &out) {
    uint32_t sample = 0;
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), sizeof(sample) - partial_len_);
        std::memcpy(partial_ + partial_len_, bytes.data(), take);
        partial_len_ += take;
        bytes = bytes.subspan(take);
        if (partial_len_ == sizeof(sample)) {
            std::memcpy(&sample, partial_, sizeof(sample));
            partial_len_ = 0;
            feed(std::span<const uint32_t>(&sample, 1), out);
        }
    }
}

void Mode2Decoder::feed(std::span<const uint32_t> samples, std::vector<Mode2Frame> &out) {
    for (const uint32_t s : samples) {
        const uint32_t value = s & kSampleValueMask;
        switch (s & kSampleTypeMask) {
            case kSamplePulse:
                on_pulse(value, out);
                break;
            case kSampleSpace:
                on_space(value);
                break;
            case kSampleFrequency:
                if (value == 0) {
                    break;  // some receivers report 0 on their long-range input
                }
                push_bounded(state_ == State::Idle ? next_carrier_ : frame_.carrier_samples_hz,
                             value, options_.max_carrier_samples);
                break;
            case kSampleTimeout:
                on_timeout(value, out);
                break;
            case kSampleOverflow:
                // Samples were lost: a frame being built is damaged; after a frame's end
                // the lost samples may be the start of the next frame.
                if (state_ != State::InFrame) {
                    next_damaged_ = true;
                } else {
                    frame_damaged_ = true;
                }
                break;
            default:
                ++stats_.unknown_samples;
                break;
        }
    }
}

void Mode2Decoder::on_pulse(uint32_t us, std::vector<Mode2Frame> &out) {
    if (us == 0) {
        return;
    }
    if (state_ == State::Closing) {
        frame_.gap_after_us = pending_space_;
        silence_us_ = pending_space_;
        close_frame(out);
    }
    if (state_ == State::Idle) {
        const bool known_gap = have_previous_ && !break_chain_;
        frame_ = Mode2Frame{};
        frame_.carrier_samples_hz = std::move(next_carrier_);
        next_carrier_.clear();
        frame_.gap_before_us = known_gap ? silence_us_ : 0;
        frame_.continues_burst = known_gap && silence_us_ <= options_.join_gap_us;
        frame_.durations_us.push_back(us);
        frame_damaged_ = next_damaged_;
        frame_overlong_ = false;
        next_damaged_ = false;
        break_chain_ = false;
        space_after_timeout_ = false;
        pending_space_ = 0;
        state_ = State::InFrame;
        return;
    }
    // In a frame: a pulse after a space opens a new pair; pulses in a row are one pulse.
    auto &d = frame_.durations_us;
    if (pending_space_ > 0) {
        if (d.size() + 2 > options_.max_frame_entries) {
            frame_overlong_ = true;
        } else {
            d.push_back(pending_space_);
            d.push_back(us);
        }
        pending_space_ = 0;
    } else if (!frame_overlong_) {
        d.back() = add_sat(d.back(), us);
    }
}

void Mode2Decoder::on_space(uint32_t us) {
    switch (state_) {
        case State::InFrame:
            pending_space_ = add_sat(pending_space_, us);
            if (pending_space_ >= options_.frame_gap_us) {
                state_ = State::Closing;
            }
            break;
        case State::Closing:
            pending_space_ = add_sat(pending_space_, us);
            break;
        case State::Idle:
            if (space_after_timeout_) {
                // The kernel's first space after a timeout counts from the last pulse.
                silence_us_ = std::max(silence_us_, us);
                space_after_timeout_ = false;
            } else {
                silence_us_ = add_sat(silence_us_, us);
            }
            break;
    }
}

void Mode2Decoder::on_timeout(uint32_t us, std::vector<Mode2Frame> &out) {
    ++stats_.timeouts;
    if (state_ == State::Idle) {
        if (!space_after_timeout_) {
            silence_us_ = add_sat(silence_us_, us);
        }
        space_after_timeout_ = true;
        return;
    }
    const uint32_t silence = add_sat(pending_space_, us);
    frame_.gap_after_us = silence;
    frame_.ended_by_timeout = true;
    close_frame(out);
    silence_us_ = silence;
    space_after_timeout_ = true;
}

void Mode2Decoder::close_frame(std::vector<Mode2Frame> &out) {
    if (frame_damaged_) {
        ++stats_.overflow_frames;
        break_chain_ = true;
    } else if (frame_overlong_) {
        ++stats_.overlong_frames;
        break_chain_ = true;
    } else {
        ++stats_.frames;
        out.push_back(std::move(frame_));
    }
    frame_ = Mode2Frame{};
    have_previous_ = true;
    pending_space_ = 0;
    frame_damaged_ = false;
    frame_overlong_ = false;
    state_ = State::Idle;
}

void Mode2Decoder::flush(std::vector<Mode2Frame> &out) {
    if (state_ == State::Idle) {
        return;
    }
    frame_.gap_after_us = pending_space_;
    silence_us_ = pending_space_;
    close_frame(out);
}

std::vector<std::vector<Mode2Frame>> group_bursts(std::span<const Mode2Frame> frames) {
    std::vector<std::vector<Mode2Frame>> bursts;
    for (const Mode2Frame &f : frames) {
        if (bursts.empty() || !f.continues_burst) {
            bursts.emplace_back();
        }
        bursts.back().push_back(f);
    }
    return bursts;
}

ir::Capture to_capture(std::span<const Mode2Frame> burst) {
    ir::Capture c;
    for (std::size_t i = 0; i < burst.size(); ++i) {
        const Mode2Frame &f = burst[i];
        if (f.durations_us.empty()) {
            continue;
        }
        if (!c.durations_us.empty()) {
            const uint32_t gap = f.gap_before_us != 0 ? f.gap_before_us : burst[i - 1].gap_after_us;
            c.durations_us.push_back(gap);
        }
        c.durations_us.insert(c.durations_us.end(), f.durations_us.begin(), f.durations_us.end());
        c.carrier_samples_hz.insert(c.carrier_samples_hz.end(), f.carrier_samples_hz.begin(),
                                    f.carrier_samples_hz.end());
        c.trailing_gap_us = f.gap_after_us;
    }
    return c;
}

}  // namespace krvxd::lirc
