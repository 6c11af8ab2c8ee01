// SPDX-License-Identifier: MIT
// Turns the kernel's mode2 sample stream into frames of pulse/space durations.
//
// A frame is what a remote sends for one key code: it starts with a pulse, ends with a
// pulse, and is followed by a space of at least frame_gap_us (or by the receiver going
// idle, a TIMEOUT sample). A frame is handed out once its end is certain: when the next
// pulse arrives, at TIMEOUT, or at flush(); so carrier reports (FREQUENCY samples) that
// arrive anywhere before the TIMEOUT still count for it, and a FREQUENCY seen while idle
// counts for the next frame. Frames that lost samples (an OVERFLOW sample while they were
// being built) are dropped and counted, and the frame after them starts a new burst.
//
// A burst is one key press: frames that follow each other within join_gap_us, also across
// a TIMEOUT (a receive timeout shorter than the remote's repeat gap splits a press into
// several idle periods; the frames still belong together). After a TIMEOUT the kernel
// reports the silence since the last pulse, the timeout included, as one SPACE before the
// next pulse; the decoder takes the larger of that and what it measured itself.
//
// Threads: a decoder is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ir/capture.h"

namespace krvxd::lirc {

struct Mode2Frame {
    std::vector<uint32_t> durations_us;        ///< pulse, space, ..., pulse (odd count)
    std::vector<uint32_t> carrier_samples_hz;  ///< FREQUENCY reports for this frame
    uint32_t gap_before_us = 0;                ///< silence before the first pulse; 0: unknown
    uint32_t gap_after_us = 0;                 ///< silence after the last pulse, as far as measured
    bool continues_burst = false;              ///< follows the previous frame within join_gap_us
    bool ended_by_timeout = false;             ///< the receiver went idle after this frame
};

struct Mode2DecoderOptions {
    uint32_t frame_gap_us = 20000;          ///< a space at least this long ends a frame
    uint32_t join_gap_us = 150000;          ///< a frame this close to the last continues its burst
    std::size_t max_frame_entries = 4096;   ///< longer frames are dropped as noise
    std::size_t max_carrier_samples = 256;  ///< later reports of one frame are ignored
};

struct Mode2DecoderStats {
    std::size_t frames = 0;           ///< frames handed out
    std::size_t overflow_frames = 0;  ///< frames dropped because samples were lost
    std::size_t overlong_frames = 0;  ///< frames dropped for exceeding max_frame_entries
    std::size_t unknown_samples = 0;  ///< samples of an unknown type, ignored
    std::size_t timeouts = 0;         ///< TIMEOUT samples seen
};

class Mode2Decoder {
  public:
    explicit Mode2Decoder(Mode2DecoderOptions options = {});

    /// Decodes samples; frames completed by them are appended to `out`.
    void feed(std::span<const uint32_t> samples, std::vector<Mode2Frame> &out);
    /// Decodes bytes as read from the device, in native byte order. A read cut inside a
    /// sample keeps the partial sample until the rest arrives.
    void feed_bytes(std::span<const std::byte> bytes, std::vector<Mode2Frame> &out);
    /// Ends the frame in progress (the learn or receive stops) and hands it out.
    void flush(std::vector<Mode2Frame> &out);
    /// Forgets everything, statistics included (a new learn, or the device came back).
    void reset();

    const Mode2DecoderStats &stats() const { return stats_; }

  private:
    void on_pulse(uint32_t us, std::vector<Mode2Frame> &out);
    void on_space(uint32_t us);
    void on_timeout(uint32_t us, std::vector<Mode2Frame> &out);
    void close_frame(std::vector<Mode2Frame> &out);

    enum class State { Idle, InFrame, Closing };

    Mode2DecoderOptions options_;
    Mode2DecoderStats stats_;
    State state_ = State::Idle;
    Mode2Frame frame_;            // frame being built (or closing)
    uint32_t pending_space_ = 0;  // space after the frame's last pulse
    bool frame_damaged_ = false;  // OVERFLOW or overlong while building
    bool frame_overlong_ = false;
    bool have_previous_ = false;          // a frame was seen, so a silence can be measured
    bool space_after_timeout_ = false;    // idle since a TIMEOUT, no space seen yet
    bool break_chain_ = false;            // the last frame was dropped: no gap is known
    uint32_t silence_us_ = 0;             // silence since the previous frame's last pulse
    std::vector<uint32_t> next_carrier_;  // FREQUENCY reports while idle
    bool next_damaged_ = false;           // an OVERFLOW while idle: the next frame lost its start
    std::byte partial_[4]{};
    std::size_t partial_len_ = 0;
};

/// Groups frames into bursts: a frame that does not continue the previous one starts a
/// new burst. Used for learning, where a press's frames are joined into one capture.
std::vector<std::vector<Mode2Frame>> group_bursts(std::span<const Mode2Frame> frames);

/// Joins the frames of one burst into a capture for ir::from_capture(): durations in
/// order with the measured gaps between frames, every carrier report, and the last
/// frame's trailing silence. Empty input gives an empty capture.
ir::Capture to_capture(std::span<const Mode2Frame> burst);

}  // namespace krvxd::lirc
