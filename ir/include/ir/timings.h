// SPDX-License-Identifier: MIT
// Timings as people paste them: raw signed microseconds and mode2 text.
//
// Raw: "+9024 -4512 +564 -564 ... +564", marks positive, spaces negative, separated by
// blanks, commas or line breaks. Unsigned numbers are accepted too and take the level
// their position gives (a mark first, then alternating), as IR databases store them; a
// sign that contradicts the alternation is an error.
//
// mode2: the text `ir-ctl -r --mode2` and LIRC's mode2 write, one sample a line:
// "pulse N", "space N", "timeout N" (a space), "carrier N" (the carrier in Hz);
// '#' comments and blank lines are skipped. Leading spaces are dropped and consecutive
// samples of one level add up.
//
// Both parsers bound their work: a text over kMaxTimingsChars characters is refused before
// it is scanned, at most kMaxTimings durations are produced, and every value is at most
// kMaxDurationUs. Errors name the word or line at fault, in one short line.
//
// Threads: pure functions on values; any thread, no locking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ir {

inline constexpr std::size_t kMaxTimingsChars = 256 * 1024;
inline constexpr std::size_t kMaxTimings = 16384;
/// Largest duration a LIRC mode2 sample can carry (24 bits of µs, about 16.8 s).
inline constexpr uint32_t kMaxDurationUs = 0xFFFFFF;

struct Timings {
    std::vector<uint32_t> durations_us;  ///< alternating mark/space, starting with a mark
    double carrier_hz = 0;               ///< mode2 "carrier" lines; 0 when none
    std::string error;                   ///< empty when ok
    bool ok() const { return error.empty(); }
};

/// Parses raw signed (or unsigned, alternating) microseconds.
/// Refusals: "the text is 300000 characters long, at most 262144 allowed",
/// "word 3: '45x' is not a duration", "word 2: 0 µs", "word 4: 20000000 µs is too long",
/// "word 2: a mark where a space belongs", "no durations", "more than 16384 durations".
Timings parse_raw_timings(std::string_view text);

/// Parses mode2 text. Refusals: "line 4: 'pulsar 12' is not pulse, space, timeout or
/// carrier N", "line 2: 0 µs", "no pulses", and the bounds of parse_raw_timings().
Timings parse_mode2(std::string_view text);

/// True when the text's first meaningful line starts with a mode2 word (pulse, space,
/// timeout, carrier) or a '#' comment, so callers can tell mode2 from other code text.
bool looks_like_mode2(std::string_view text);

}  // namespace ir
