// SPDX-License-Identifier: MIT
// What a code means and the code for a meaning, as krvx shows and takes them: protocol
// codes ("NEC1 D=4 F=8", "nec:0x0408") turned into Pronto for the device, and the decode
// of a signal as one line of text or as JSON.
//
// Threads: pure functions; any thread.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "ir/protocols.h"
#include "ir/signal.h"

namespace krvx::cli {

struct ProntoCode {
    std::string pronto;  ///< canonical Pronto text, when ok()
    std::string error;   ///< why there is none
    bool ok() const { return error.empty(); }
};

/// The Pronto text of a code: a protocol code is encoded (its once part also carrying
/// `repeat_frames` repeat frames); anything else must be Pronto text and stays as written.
ProntoCode to_pronto(const std::string &code, int repeat_frames = 0);

/// What send and press hand to the device for `code` (checked by to_pronto() into
/// `checked`): a protocol code as written, so that the service can give a code without its
/// toggle the device's next toggle value; else the Pronto text.
std::string wire_text(const std::string &code, const ProntoCode &checked);

/// "NEC1 D=4 S=251 F=8  (nec 0x0408)", the best decode of several; "unknown" for none.
std::string decode_line(std::span<const ir::protocols::Decode> decodes);

/// The decodes as a JSON array: [{"protocol":"NEC1","params":{"D":4,"S":251,"F":8},
/// "kernel":{"protocol":"nec","scancode":"0x0408"},"frames":3,"toggle":null}, ...]; a
/// protocol the kernel does not have comes without "kernel".
std::string decodes_json(std::span<const ir::protocols::Decode> decodes);

/// The decodes worth showing: those that explain the whole code when there are any, else
/// those that explain its start.
std::vector<ir::protocols::Decode> shown_decodes(std::vector<ir::protocols::Decode> decodes);
std::vector<ir::protocols::Decode> shown_decodes(const ir::Signal &signal);
/// The same for a Pronto code; empty when it is not one.
std::vector<ir::protocols::Decode> shown_decodes(const std::string &pronto);

}  // namespace krvx::cli
