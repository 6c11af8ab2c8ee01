// SPDX-License-Identifier: MIT
// Received IR to 12-character receive codes, the same for the same button.
//
// Scancode mode: the kernel decoded the protocol; the code is the protocol number (2 hex
// digits) and the scancode (10 hex digits; scancodes wider than 40 bits are folded),
// ignoring the toggle and repeat flags, so every press and every repeat of one button
// gives one code. Mode2: each frame's timings go through ir::receive_code(); the first
// frame of a press is reported, later frames of the press only when they give the same
// code (a remote that repeats its whole frame while held), not its repeat markers.
//
// Threads: a receiver object is used by one thread at a time; the functions are pure.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "lirc/abi.h"
#include "lirc/mode2_decoder.h"

namespace krvxd::lirc {

struct Scancode {
    uint64_t timestamp_ns = 0;
    uint16_t flags = 0;
    uint16_t protocol = 0;
    uint32_t keycode = 0;
    uint64_t scancode = 0;
};

/// Reads one 24-byte record (native byte order).
Scancode parse_scancode(std::span<const std::byte, kScancodeRecordSize> record);

/// The receive code of a decoded scancode: 12 upper-case hex digits.
std::string scancode_receive_code(const Scancode &sc);

/// Collects scancode records from reads of any size (a record cut between reads is kept
/// until the rest arrives).
class ScancodeReader {
  public:
    void feed_bytes(std::span<const std::byte> bytes, std::vector<Scancode> &out);
    void reset() { have_ = 0; }

  private:
    std::array<std::byte, kScancodeRecordSize> partial_{};
    std::size_t have_ = 0;
};

/// Frames with fewer entries than this (a lone pulse) are noise, not a button.
inline constexpr std::size_t kMinReceiveFrameEntries = 3;

/// mode2 samples to receive codes.
class Mode2Receiver {
  public:
    Mode2Receiver();
    /// Decodes bytes read from the device; codes to report are appended to `out`.
    void feed_bytes(std::span<const std::byte> bytes, std::vector<std::string> &out);
    /// The same for frames already decoded.
    void on_frames(std::span<const Mode2Frame> frames, std::vector<std::string> &out);
    void reset();

  private:
    Mode2Decoder decoder_;
    std::vector<Mode2Frame> frames_;
    std::string burst_code_;  // code of the current press's first frame
};

}  // namespace krvxd::lirc
