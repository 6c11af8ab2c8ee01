// SPDX-License-Identifier: MIT
// Pronto hex text <-> Signal.
//
// Accepted text: whitespace-separated words of exactly four hex digits (either case),
// any run of blanks, tabs or line breaks between them, leading and trailing white space
// allowed. Types 0000 (learned, modulated) and 0100 (learned, unmodulated) in full, and
// the protocol short forms 5000 (RC5), 5001 (RC5x), 6000 (RC6 mode 0) and 900A (NEC1),
// which are expanded to timings (pronto.cpp says how). Parsing is linear in the input and
// never throws.
//
// Untrusted text: a text longer than kMaxProntoChars characters (white space included) is
// refused by the parser itself, before it is scanned, so every caller agrees with the
// driver's 2049-byte buffer and no call does more than a bounded amount of work. Any bytes,
// NUL bytes too, give an answer.
//
// Refusals, checked in this order, each with a message naming the word (1-based) and why:
//   "the code is 2049 characters long, at most 2048 allowed"
//   "word 7: '00G1' is not hexadecimal"        (a sign, "0x" or any other byte)
//   "word 1: '15B' has 3 digits, 4 expected"
//   "the code is empty"                        (nothing but white space)
//   "at least 6 words expected, 5 found"
//   "an even number of words expected, 7 found"
//   "word 1: unknown type 0123 (0000, 0100, 5000, 5001, 6000 or 900A expected)"
//   "word 2: the frequency word is 0000"
//   "words 3 and 4: the code has no burst pairs"
//   "4 + 2 × 34 words expected, 70 found"
//   "word 9: duration 0000 is zero"
//   short forms: "word 3: 0000 expected for an RC5 code, 0001 found",
//   "word 5: RC5 device 32 is out of range (at most 31)",
//   "word 6: NEC1 check byte C8 does not match command 38 (C7 expected)"
//
// Threads: pure functions on values; any thread, no locking.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "ir/signal.h"

namespace ir {

/// Pronto unit: one carrier period is frequency_word * kProntoUnitUs microseconds.
inline constexpr double kProntoUnitUs = 0.241246;

/// Longest Pronto text the code box, the driver and the service accept.
inline constexpr std::size_t kMaxProntoChars = 2048;

struct ParseResult {
    Signal signal;      ///< valid when ok()
    std::string error;  ///< e.g. "word 7: '00G1' is not hexadecimal"; empty when ok()
    bool ok() const { return error.empty(); }
};

/// Parses Pronto text into timings. Never throws; any bytes give an answer. Durations are
/// periods × frequency word × kProntoUnitUs rounded to the nearest µs (at least 1 µs); the
/// carrier is pronto_frequency(word 2) for 0000 and the short forms, 0 for 0100; the duty
/// cycle is unknown.
ParseResult parse_pronto(std::string_view text);

/// True exactly when parse_pronto(text).ok(); does not build the signal's vectors.
bool is_valid_pronto(std::string_view text);

/// Carrier frequency in Hz of a Pronto frequency word (word != 0; 0 gives 0).
double pronto_frequency(uint16_t frequency_word);

/// Frequency word for a carrier: round(1e6 / (hz * kProntoUnitUs)), clamped to 1..0xFFFF.
/// A carrier that is not a positive number gives 006D (38 kHz).
uint16_t pronto_frequency_word(double carrier_hz);

struct EncodeResult {
    std::string text;      ///< canonical 0000 (or 0100 for carrier 0) Pronto text
    bool clamped = false;  ///< a duration exceeded 0xFFFF periods and was clamped
                           ///< (also: one under half a period written as 0001, a carrier
                           ///< outside the frequency word's range, a part over 0xFFFF pairs)
    /// False for a signal without any burst pair: there is nothing to write and text is
    /// empty.
    bool ok() const { return !text.empty(); }
};

/// Encodes a signal as canonical Pronto: upper-case %04X words joined by single blanks.
/// Durations are rounded half up against the unquantized carrier. A carrier of 0 gives
/// type 0100 with the 38 kHz time unit (word 006D, durations counted in its exact period);
/// so does a carrier that is not a positive finite number. The text is always valid for
/// parse_pronto() unless it is longer than kMaxProntoChars (more than 202 pairs): callers
/// with a fixed buffer check its size.
EncodeResult encode_pronto(const Signal &signal);

}  // namespace ir
