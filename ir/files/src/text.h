// SPDX-License-Identifier: MIT
// What the readers share: lines with their numbers, words, numbers as files spell them, and
// the failure a reader throws (caught in read(), which prefixes the file's name).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ir/files.h"

namespace ir::files::detail {

/// Thrown by a reader: line 0 when the failure has no line.
struct Failure {
    int line = 0;
    std::string why;
};

[[noreturn]] void fail(int line, std::string why);

struct Line {
    std::string_view text;  ///< without its line break (LF, CRLF or CR)
    int number = 0;
};

/// The lines of a text. Fails on a line over kMaxLineChars and on a NUL byte.
class Lines {
  public:
    explicit Lines(std::string_view text) : text_(text) {}
    /// The next line; false at the end.
    bool next(Line &line);
    int number() const { return number_; }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    int number_ = 0;
};

/// Where line `line` (1-based, as Lines numbers them) starts; the text's size past its end.
std::size_t line_offset(std::string_view text, int line);

/// Fails on a NUL byte anywhere in the text, naming its line.
void require_text(std::string_view text);

std::string_view trim(std::string_view s);
/// Words separated by blanks and tabs.
std::vector<std::string_view> words(std::string_view line);
bool starts_with(std::string_view s, std::string_view prefix);
bool iequals(std::string_view a, std::string_view b);

/// A token as a message shows it: quoted, control bytes as '?', long ones cut.
std::string shown(std::string_view token);

/// An unsigned number as C's strtoull(s, 0) reads it (decimal, 0x hex, leading-0 octal),
/// the whole token and nothing else, without overflow. Empty when it is not one.
std::optional<uint64_t> c_number(std::string_view token);
/// Decimal digits only.
std::optional<uint64_t> decimal(std::string_view token);
/// A decimal number with an optional fraction ("0.330000"), not negative.
std::optional<double> decimal_fraction(std::string_view token);

/// Appends a code point as UTF-8 (escapes in JSON and TOML strings).
void append_utf8(std::string &out, uint32_t code_point);
/// The character of a one-letter string escape JSON and TOML share (\n \t \r \b \f \" \\);
/// none for any other letter.
std::optional<char> short_escape(char letter);

/// "12345" in decimal / "%.*f"-like text of a double without trailing zeros.
std::string number_text(double value);

/// The file's name without its folders and its last extension: the default remote name.
std::string stem(std::string_view path);

/// A key or remote name as the formats with "REMOTE/KEY: CODE" lines take it: split at the
/// first '/', trimmed. No '/' gives an empty remote.
struct QualifiedName {
    std::string remote;
    std::string key;
};
QualifiedName split_name(std::string_view name);

/// A code of a "one code a line" file: "REMOTE/KEY: CODE", "KEY: CODE" or a bare CODE.
/// Lines that continue a code (see read_named_lines) are joined to it with a blank.
struct NamedCode {
    std::string remote;  ///< empty: the file's remote
    std::string key;     ///< empty for a bare code
    std::string code;
    int line = 0;
};

/// The codes of a text of "NAME: CODE" lines; blank lines and lines starting with '#' or
/// "//" are skipped. `bare` tells a line that holds a code without a name (one whose text
/// before its first ':' is not a name); `continues` tells a line that continues the code
/// before it (given that code so far). Unnamed codes are numbered from 1 as their keys' names.
std::vector<NamedCode> read_named_lines(std::string_view text, bool (*bare)(std::string_view line),
                                        bool (*continues)(std::string_view code_so_far,
                                                          std::string_view line));

/// "REMOTE/KEY: " for a key of a line format.
std::string line_name(const Remote &remote, const Key &key);

/// Appends a key to the remote of that name in `file`, creating the remote (at the end)
/// when there is none; fails past kMaxKeys.
void add_key(CodeFile &file, std::string_view remote, Key key);

/// Adds the codes' keys to `out` under `remote` (or their own), each signal from `parse`,
/// which throws Failure (its line is the code's).
template <typename Parse>
void add_named_codes(const std::vector<NamedCode> &codes, std::string_view remote, CodeFile &out,
                     Parse parse) {
    for (const NamedCode &c : codes) {
        Key k;
        try {
            if constexpr (std::is_same_v<decltype(parse(c.code)), Key>) {
                k = parse(c.code);
            } else {
                k.signal = parse(c.code);
            }
        } catch (const Failure &f) {
            fail(c.line, f.why);
        }
        k.name = c.key;
        k.line = c.line;
        add_key(out, c.remote.empty() ? remote : std::string_view(c.remote), std::move(k));
    }
}

/// The durations of a signal as sent once: once part, then the repeat part one time.
std::vector<uint32_t> sent_once(const Signal &signal);

/// A signal from durations read from a file (alternating, starting with a mark). An odd
/// count gets `final_gap_us` appended. Everything is the once part.
Signal signal_from_durations(std::span<const uint32_t> durations, double carrier_hz,
                             uint32_t final_gap_us);

/// A key of durations read from a file: signal_from_durations() with kStoredGapUs, and
/// gap_assumed set when the count was odd.
Key key_from_durations(std::string name, int line, std::span<const uint32_t> durations,
                       double carrier_hz);

/// The durations of a key as a file of durations stores them: sent_once(), without the
/// final gap when it was only assumed.
std::vector<uint32_t> stored_durations(const Key &key);

/// Gap appended to timings stored without one (an odd count, ending on a mark): longer than
/// the frame period of the common protocols (RC5's 114 ms is the longest), so that a receiver
/// and the decoder see the frame end rather than a short gap in a repeat.
inline constexpr uint32_t kStoredGapUs = 120000;

}  // namespace ir::files::detail
