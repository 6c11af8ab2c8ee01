// SPDX-License-Identifier: MIT
// The code a command works on, as users type it: one argument, several words joined by
// single blanks (a Pronto code typed without quotes), @FILE for a file's contents, or - for
// standard input. Input is bounded (64 KiB) and may not contain a NUL byte: the library
// takes NUL-terminated text, and a code cut short at a NUL is not the code that was given.
//
// Threads: main thread only (reads standard input).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
}

namespace krvx::cli {

/// Most bytes read from a file or standard input.
inline constexpr std::size_t kMaxCodeInput = 65536;

/// Adds the required positional argument CODE... to `command`; the words land in `words`.
void add_code_argument(CLI::App &command, std::vector<std::string> &words);

struct CodeInput {
    std::string code;   ///< the text, when ok()
    std::string error;  ///< why there is no code, e.g. "cannot read codes.txt: No such file..."
    bool ok() const { return error.empty(); }
};

/// The code the words name; `in` is read for "-".
CodeInput read_code(const std::vector<std::string> &words, std::FILE *in = stdin);

/// Why the library refuses `code` as a Pronto code, or "" when it takes it.
std::string pronto_refusal(const std::string &code);

}  // namespace krvx::cli
