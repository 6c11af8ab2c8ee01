// SPDX-License-Identifier: MIT
// The commands the bridge takes on its command topics, read from untrusted JSON payloads:
//   send:  {"id": ID, "code": "<Pronto, nec:0x0408 or NEC1 D=4 F=8>", "repeat": N}
//          or {"id": ID, "file": "<name of a code file>", "remote": "...", "key": "...",
//          "repeat": N}
//   learn: {"id": ID, "save": {"file": "<name of a code file>", "remote": "...", "key": "..."}}
//          ("save" and its "remote" optional: the learned code is added to that file of the
//          code folder, under the remote named, by default the file's name without extension)
// An empty payload is taken as {}. ID (optional) is an integer or a string of at most 64 printable
// ASCII characters; it comes back in the result. Unknown fields, wrong types, values out of range
// and codes that do not check are refused with a reason.
//
// Threads: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace krvx::mqtt {

/// Payloads longer than this are refused before they are parsed.
inline constexpr std::size_t kMaxPayloadBytes = 8192;

struct SendCommand {
    std::string id = "null";        ///< the request's id as JSON text, for the result
    std::string code;               ///< as given
    std::string wire;               ///< what goes to the device: checked protocol code or Pronto;
                                    ///< empty for a key of a code file until check_code()
    std::string file, remote, key;  ///< the key of a code file, when no code is given
    int repeat = 1;
    std::string error;  ///< why the command is refused; empty when it is taken
    bool ok() const { return error.empty(); }
};

struct LearnCommand {
    std::string id = "null";
    bool save = false;  ///< store the learned code as the key below
    std::string file, remote, key;
    std::string error;
    bool ok() const { return error.empty(); }
};

SendCommand parse_send(std::string_view payload);

/// Checks `c.code` and sets `c.wire`, or sets `c.error`.
void check_code(SendCommand &c);
LearnCommand parse_learn(std::string_view payload);

}  // namespace krvx::mqtt
