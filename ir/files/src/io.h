// The file system side of code files: bounded reads and atomic replacement.
#pragma once

#include <string>
#include <string_view>

namespace ir::files::detail {

struct FileText {
    std::string text;
    std::string error;  ///< "tv.conf: No such file or directory"; empty when read
    bool missing = false;  ///< the file does not exist (error set too)
};

/// The whole file ("-": standard input), refused past kMaxFileBytes without reading it all.
FileText read_bounded(const std::string &path);

/// Replaces (or creates) `path` with `text`: a temporary file in the same folder, written,
/// flushed to disk and renamed over it, so that readers see the old file or the new one and
/// a failure leaves the old one. An existing file's permissions are kept. Returns the
/// error, empty when done.
std::string replace_file(const std::string &path, std::string_view text);

}  // namespace ir::files::detail
