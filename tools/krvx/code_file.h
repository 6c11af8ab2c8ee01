// SPDX-License-Identifier: MIT
// Code files on the command line: a key of a file as the code send and press take, the
// format names convert and keys take, and saving a learned key into a file.
//
// Threads: main thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "code_input.h"
#include "ir/files.h"

namespace CLI {
class App;
}

namespace krvx::cli {

struct FileOptions {
    std::string file;    ///< --file: the words name a key of this file
    std::string remote;  ///< --remote: the remote that has the key
};

/// Adds --file and --remote to a command that takes CODE..., whose words then name a key.
void add_file_options(CLI::App &command, FileOptions &o);

/// The code the words stand for: the words themselves (read_code), or with --file the Pronto
/// text of the key they name ("not in the file", "no timings" and the like as the error).
CodeInput code_or_key(const FileOptions &o, const std::vector<std::string> &words);

/// A --from/--to value: a format's name, checked by CLI11 against the list.
void add_format_option(CLI::App &command, const std::string &flag, std::string &value,
                       const std::string &help);
std::optional<ir::files::Format> format_named(const std::string &name);

/// A file's remotes and keys, the format named or guessed; the error says why not.
ir::files::ReadResult read_code_file(const std::string &path, const std::string &format_name);

struct SaveOptions {
    std::string file;    ///< --save: the code file the learned key is added to
    std::string remote;  ///< --remote: its remote (default: the file's name without extension)
    std::string key;     ///< --key: the key's name
};

/// Adds --save, --remote and --key (the last two need --save, --save needs --key).
void add_save_options(CLI::App &command, SaveOptions &o);

/// The remote the learned key goes into: --remote, else the file's name without extension.
std::string save_remote(const SaveOptions &o);

/// Why a learned key could not be saved as asked, checked before the learn starts (the
/// format cannot be told, the file cannot be read, it has the key already). Empty: it can.
std::string save_refusal(const SaveOptions &o);

/// Adds the learned Pronto code to the file (ir::files::add_key_to_file). Returns the error.
std::string save_learned(const SaveOptions &o, const std::string &pronto);

}  // namespace krvx::cli
