// Pronto hex text <-> Signal.
//
// Accepted text: whitespace-separated words of exactly four hex digits (either case),
// any run of blanks, tabs or line breaks between them, leading and trailing white space
// allowed. Types 0000 (learned, modulated) and 0100 (learned, unmodulated) in full, and
// the protocol short forms 5000 (RC5), 5001 (RC5x), 6000 (RC6 mode 0) and 900A (NEC1),
// which are expanded to timings. Parsing is linear in the input and never throws.
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

/// Parses Pronto text into timings. Never throws; any bytes give an answer.
ParseResult parse_pronto(std::string_view text);

/// True exactly when parse_pronto(text).ok(); does not build the signal's vectors.
bool is_valid_pronto(std::string_view text);

/// Carrier frequency in Hz of a Pronto frequency word (word != 0).
double pronto_frequency(uint16_t frequency_word);

/// Frequency word for a carrier: round(1e6 / (hz * kProntoUnitUs)), clamped to 1..0xFFFF.
uint16_t pronto_frequency_word(double carrier_hz);

struct EncodeResult {
    std::string text;      ///< canonical 0000 (or 0100 for carrier 0) Pronto text
    bool clamped = false;  ///< a duration exceeded 0xFFFF periods and was clamped
};

/// Encodes a signal as canonical Pronto: upper-case %04X words joined by single blanks.
/// Durations are rounded half up against the unquantized carrier. A carrier of 0 gives
/// type 0100 with the 38 kHz time unit (word 006D).
EncodeResult encode_pronto(const Signal &signal);

}  // namespace ir
