// SPDX-License-Identifier: MIT
// Code files: the remotes and keys IR users keep, read and written in the formats they
// keep them in.
//
// Formats (names as `krvx convert` takes them):
//   lircd      LIRC remote files (lircd.conf): every remote of a file, raw and parametric,
//              rendered to timings as lircd sends them
//   flipper    Flipper Zero .ir files: parsed entries (protocol, address, command) and raw ones
//   broadlink  Broadlink IR packets in base64 (Home Assistant's learned codes), 32.84 µs ticks
//   gc         Global Caché sendir commands
//   irremote   Arduino/ESP IRremote raw arrays (uint16_t NAME[] = {...}, µs)
//   raw        raw signed microseconds, one key a line ("+9024 -4512 ...")
//   mode2      LIRC mode2 text (pulse N / space N lines)
//   keymap     ir-keytable TOML keymaps (kernel protocol + scancode, or raw, per key)
//   pronto     Pronto hex, one code a line or "NAME: CODE" lines
//
// Model: a file holds remotes; a remote has a name, optionally one protocol and a carrier,
// and named keys; a key is a Signal (once part, repeat part, carrier, duty cycle) and, where
// known, its decode. Formats that keep one code per line name keys "REMOTE/KEY"; formats
// with one remote per file take the remote's name from the file's name.
//
// Untrusted input: a file over kMaxFileBytes is refused before it is read, a line over
// kMaxLineChars, a NUL byte, nesting deeper than kMaxNesting or more than kMaxKeys keys is an
// error; every error names the file and the line ("remote.conf:12: unknown flag 'FOO'") and
// nothing is kept of a file that fails. An entry a file holds but this code cannot use (a
// Flipper protocol not known here, a keymap protocol without timings) is kept as a key
// without a signal, with a note saying why.
//
// Threads: pure functions on values, except the *_file functions, which read and write the
// file system; any thread, no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ir/protocols.h"
#include "ir/signal.h"

namespace ir::files {

enum class Format { Lircd, Flipper, Broadlink, GlobalCache, IRremote, Raw, Mode2, Keymap, Pronto };

/// What a format is and what it keeps of a signal.
struct FormatInfo {
    Format format;
    std::string_view name;         ///< "lircd": the name krvx convert takes
    std::string_view extensions;   ///< ".conf .lircd": blank-separated, the first for new files
    std::string_view description;  ///< one line, for help texts
    bool keeps_carrier;            ///< false: a read signal gets the format's fixed carrier
    bool keeps_repeat;             ///< false: once and repeat part are written as one sequence
    bool keeps_final_gap;          ///< false: the gap after the last pulse is not stored
    uint32_t resolution_us;        ///< largest change a duration may see in a write + read
    bool counts_periods;           ///< durations are stored in carrier periods: half a period
                                   ///< more may change
    uint32_t longest_us = 0;       ///< longest duration stored, longer ones are written as
                                   ///< this with a warning; 0: no limit
};

/// Every format, in the order of Format.
std::span<const FormatInfo> formats();
const FormatInfo &info(Format format);
/// The format of that name ("lircd", "gc", ...), ignoring case; null when none.
const FormatInfo *find_format(std::string_view name);

/// The format a file is in, from its name's extension, else from its first bytes. Empty when
/// neither tells.
std::optional<Format> guess_format(std::string_view path, std::string_view text);

inline constexpr std::size_t kMaxFileBytes = 16 * 1024 * 1024;
inline constexpr std::size_t kMaxLineChars = 256 * 1024;
inline constexpr std::size_t kMaxKeys = 100000;
inline constexpr int kMaxNesting = 32;

struct Key {
    std::string name;
    Signal signal;  ///< no pairs when the file holds no timings for the key (see note)
    std::optional<protocols::Decode> decode;  ///< the protocol that explains the signal
    std::string note;                         ///< why there is no signal; or what else the file
                                              ///< says of the key ("lircd code 0x...")
    int line = 0;                             ///< where the key starts in its file; 0: not read
    bool gap_assumed = false;  ///< the file held no gap after the last mark: the signal ends in
                               ///< an assumed one, which writers that may leave it out do
    bool stored_raw = false;   ///< the file held timings where it could have held the protocol:
                               ///< a format with both forms writes timings again
    bool has_signal() const { return !signal.once.empty() || !signal.repeat.empty(); }
};

struct Remote {
    std::string name;
    const protocols::ProtocolInfo *protocol = nullptr;  ///< shared by every decoded key
    double carrier_hz = 0;                              ///< shared by every key; 0 when not
    std::vector<Key> keys;
};

struct CodeFile {
    std::vector<Remote> remotes;
    std::vector<std::string> warnings;  ///< "remote.ir:40: ..." for what was read but not used
};

struct ReadResult {
    CodeFile file;
    std::string error;  ///< "remote.conf:12: unknown flag 'FOO'"; empty when ok
    bool ok() const { return error.empty(); }
};

/// Reads `text` in `format`. `name` is the file's name: it prefixes messages and, without
/// its folder and extension, names the remote of a format that has no remote names.
ReadResult read(std::string_view text, Format format, std::string_view name);

/// Reads the file at `path` ("-" reads standard input), its format guessed when not given.
/// lircd includes are followed, relative to the including file, at most 10 deep.
ReadResult read_file(const std::string &path, std::optional<Format> format = std::nullopt);

/// Fills the decode of every key with a signal and none yet, and each remote's protocol
/// and carrier where all its keys share one.
void decode_keys(CodeFile &file);

struct WriteResult {
    std::string text;
    std::string error;                  ///< nothing could be written; empty when ok
    std::vector<std::string> warnings;  ///< "TV/POWER: ..." for what the format cannot keep
    bool ok() const { return error.empty(); }
};

/// Writes every remote and key with a signal in `format`. Keys without a signal are left out
/// with a warning. lircd: a remote whose keys decode to one protocol, and whose timings its
/// parameters reproduce, is written parametric, any other raw.
WriteResult write(const CodeFile &file, Format format);

/// The key named `key` of the remote named `remote` (any remote when empty): the first one
/// of that name. Null with `error` set ("no key 'POWER' in tv.conf; its keys: ...") when
/// there is none, or when `remote` is empty and several remotes have such a key.
const Key *find_key(const CodeFile &file, std::string_view remote, std::string_view key,
                    std::string &error);

/// Adds `key` to the remote `remote` of the file at `path`, in the format of its extension
/// (or `format`), creating the file when it does not exist. The file's other text stays as
/// it is, byte for byte; the new text goes in through a temporary file renamed over it, so
/// a failure leaves the file as it was. Refused: a key of that name already in the remote,
/// a format that cannot hold the key. Returns the error, empty when done.
std::string add_key_to_file(const std::string &path, std::string_view remote, const Key &key,
                            std::optional<Format> format = std::nullopt);

/// Replaces (or creates) the file at `path` with `text` atomically: a temporary file in the
/// same folder, flushed to disk and renamed over it; an existing file keeps its permissions.
/// Returns the error, empty when done.
std::string replace_file(const std::string &path, std::string_view text);

}  // namespace ir::files
