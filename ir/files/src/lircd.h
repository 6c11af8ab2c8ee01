// SPDX-License-Identifier: MIT
// LIRC remote files (lircd.conf): the remote definitions as lircd reads them, and the
// timings lircd sends for a key, so that what is read here sends what lircd would send.
//
// lircd's own rules, kept here: numbers as C's strtoull(.., 0) reads them; REVERSE reverses
// pre_data, post_data and codes when the file is read; toggle_bit (or repeat_bit) counts from
// the most significant of pre_data + code + post_data bits and becomes toggle_bit_mask, and
// for RC6 remotes also rc6_mask; a one-bit toggle mask sets that bit from the toggle state, a
// wider one flips the bits it covers; sending merges consecutive pulses and spaces, drops a
// space before the first pulse and the space after the last; the gap is `gap`, or with
// CONST_LENGTH what remains of `gap` after the frame (a frame as long as that gap is not
// sent); repeats send the `repeat` frame (with the header under REPEAT_HEADER) or the whole
// frame again (without header under NO_HEAD_REP, without foot under NO_FOOT_REP, its code
// XOR repeat_mask).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ir/files.h"

namespace ir::files::lircd {

enum Flag : uint32_t {
    kRawCodes = 1u << 0,
    kRc5 = 1u << 1,  // SHIFT_ENC is its old name
    kRc6 = 1u << 2,
    kRcmm = 1u << 3,
    kSpaceEnc = 1u << 4,
    kSpaceFirst = 1u << 5,
    kGoldstar = 1u << 6,
    kGrundig = 1u << 7,
    kBo = 1u << 8,
    kSerial = 1u << 9,
    kXmp = 1u << 10,
    kProtocolMask = (1u << 11) - 1,
    kReverse = 1u << 11,
    kNoHeadRep = 1u << 12,
    kNoFootRep = 1u << 13,
    kConstLength = 1u << 14,
    kRepeatHeader = 1u << 15,
};

/// A flag's name as files spell it, for the writer and for messages.
std::string flags_text(uint32_t flags);

struct Code {
    std::string name;
    std::vector<uint64_t> codes;  ///< codes section: one or more values
    std::vector<uint32_t> raw;    ///< raw_codes section: the durations
    int line = 0;
};

struct Remote {
    std::string name;
    int line = 0;            ///< of its begin remote
    int end_line = 0;        ///< of its end remote
    int codes_end_line = 0;  ///< of its end codes or end raw_codes
    uint32_t flags = 0;
    int bits = 0, pre_data_bits = 0, post_data_bits = 0;
    uint64_t pre_data = 0, post_data = 0;
    uint32_t phead = 0, shead = 0, pthree = 0, sthree = 0, ptwo = 0, stwo = 0;
    uint32_t pone = 0, sone = 0, pzero = 0, szero = 0, plead = 0, ptrail = 0;
    uint32_t pfoot = 0, sfoot = 0, prepeat = 0, srepeat = 0;
    uint32_t pre_p = 0, pre_s = 0, post_p = 0, post_s = 0;
    uint32_t gap = 0, gap2 = 0, repeat_gap = 0;
    uint64_t repeat_mask = 0, toggle_bit_mask = 0, toggle_mask = 0, rc6_mask = 0, ignore_mask = 0;
    int toggle_bit = 0, min_repeat = 0, suppress_repeat = 0, min_code_repeat = 0;
    int eps = 0, aeps = 0, manual_sort = 0;
    uint32_t frequency = 38000, duty_cycle = 0, baud = 0;
    std::string driver, serial_mode;
    bool has_codes = false;  ///< a codes or raw_codes section was given
    std::vector<Code> codes;

    uint32_t protocol() const { return flags & kProtocolMask; }
    bool raw() const { return protocol() == kRawCodes; }
    int all_bits() const { return pre_data_bits + bits + post_data_bits; }
    /// No bit timings: lircd hands such codes to drivers that send codes, not timings.
    bool code_only() const { return pzero == 0 && szero == 0 && !raw(); }
};

struct Parsed {
    std::vector<Remote> remotes;
    std::vector<std::pair<int, std::string>> includes;  ///< line, path as written
    std::vector<std::string> warnings;                  ///< "12: ..." (line first)
};

/// Reads a file's remotes as lircd does (then REVERSE applied, toggle_bit turned into masks).
/// Throws detail::Failure.
Parsed parse(std::string_view text);

/// One frame as lircd sends it: the durations (pulse first, ending on a pulse) and the gap
/// after them. `ok` false with `why` when lircd would not send it.
struct Frame {
    std::vector<uint32_t> durations;
    uint32_t gap = 0;
    bool ok = false;
    std::string why;
};

/// The frame lircd sends for `code` (a value of a codes section, or the index of a raw code
/// when the remote is raw), first or repeated, with the toggle state `toggle_state` (the bits
/// of toggle_bit_mask it sets) and, for remotes with a toggle_mask, whether this is an odd
/// send since the key went down.
Frame render(const Remote &remote, uint64_t code, std::size_t raw_index, bool repeat,
             uint64_t toggle_state, bool toggle_mask_odd = false);

/// The toggle state that sends `code` with the toggle bits the file wrote for it.
uint64_t written_toggle_state(const Remote &remote, uint64_t code);

/// The key's signal as a press sends it: the first frame, min_repeat repeats, then the repeat
/// frame while held. Empty with a note when lircd would not send timings.
Key key_of(const Remote &remote, const Code &code);

/// Writes a remote: parametric (when allowed and its keys decode to one protocol whose
/// parameters reproduce every key) or raw. Warnings for names changed and carriers lost.
void write(const ir::files::Remote &remote, bool allow_parametric, std::string &out,
           std::vector<std::string> &warnings);

/// A raw_codes entry for `key`: its once and repeat part as one sequence, without the final
/// gap (the remote's).
std::string raw_key_text(const ir::files::Key &key, std::vector<std::string> &warnings);

/// The low `bits` bits of v in the opposite order (lircd's REVERSE flag).
uint64_t reversed(uint64_t v, int bits);

}  // namespace ir::files::lircd
