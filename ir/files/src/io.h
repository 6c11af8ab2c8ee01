// SPDX-License-Identifier: MIT
// The file system side of code files: bounded reads and atomic replacement.
#pragma once

#include <string>
#include <string_view>

namespace ir::files::detail {

struct FileText {
    std::string text;
    std::string error;     ///< "tv.conf: No such file or directory"; empty when read
    bool missing = false;  ///< the file does not exist (error set too)
};

/// The whole file ("-": standard input), refused past kMaxFileBytes without reading it all.
FileText read_bounded(const std::string &path);

}  // namespace ir::files::detail
