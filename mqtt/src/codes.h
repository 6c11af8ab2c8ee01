// SPDX-License-Identifier: MIT
// The code files of --codes DIR: every key of every file directly in the folder, as the
// send command names them ({"file","remote","key"}) and as Home Assistant buttons.
//
// Threads: plain values and functions; the bridge's thread.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "messages.h"

namespace krvx::mqtt {

/// One key of a code file in the folder.
struct KeyRef {
    std::string file;  ///< the file's name in the folder
    std::string remote;
    std::string key;
    friend bool operator==(const KeyRef &, const KeyRef &) = default;
};

/// Why `name` may not name a file of the folder (a path, "..", a hidden file, too long,
/// control characters); empty when it may.
std::string file_name_refusal(std::string_view name);

/// The keys of the files in `dir` (regular files, at most 1 MiB, at most 200 files) and a
/// line for each file that could not be read. `signature` changes whenever a file is added,
/// removed or changed, so that an unchanged folder need not be read again.
struct CodesScan {
    std::vector<KeyRef> keys;
    std::vector<std::string> problems;
};
std::string codes_signature(const std::string &dir);
CodesScan scan_codes(const std::string &dir);

/// The Pronto text of a key of a file in `dir`, or the reason there is none.
struct KeyCode {
    std::string pronto;
    std::string error;
};
KeyCode key_code(const std::string &dir, const KeyRef &ref);

/// The button entity's object id of a key: "key_" and a hash of file, remote and key, so
/// that any names give a valid, stable topic level.
std::string button_object_id(const KeyRef &ref);
/// Its discovery config: pressing it publishes the send command of the key.
std::string ha_key_button_config(const Topics &t, const std::string &sw_version, const KeyRef &ref);

}  // namespace krvx::mqtt
