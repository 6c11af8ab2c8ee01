// SPDX-License-Identifier: MIT
// Code file readers on any bytes: the first byte picks the format, the rest is the file. A
// read answers within its bounds with keys or an error naming the file, never a crash; what
// reads is written again in its format, and that text reads back to as many keys with a
// signal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ir/files.h"

namespace {

void require(bool ok) {
    if (!ok) {
        __builtin_trap();
    }
}

std::size_t keys_with_signal(const ir::files::CodeFile &f) {
    std::size_t n = 0;
    for (const ir::files::Remote &r : f.remotes) {
        for (const ir::files::Key &k : r.keys) {
            n += k.has_signal() ? 1 : 0;
        }
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const auto formats = ir::files::formats();
    const ir::files::FormatInfo &f = formats[data[0] % formats.size()];
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const ir::files::ReadResult r = ir::files::read(text, f.format, "fuzz");
    if (!r.ok()) {
        require(r.error.rfind("fuzz", 0) == 0 && r.error.find('\n') == std::string::npos);
        return 0;
    }
    (void)ir::files::guess_format("fuzz", text);
    const ir::files::WriteResult w = ir::files::write(r.file, f.format);
    if (!w.ok()) {
        require(keys_with_signal(r.file) == 0);
        return 0;
    }
    const ir::files::ReadResult again = ir::files::read(w.text, f.format, "again");
    require(again.ok());
    // Writers leave out a second key of one name where the format cannot hold both.
    require(keys_with_signal(again.file) <= keys_with_signal(r.file));
    require(keys_with_signal(again.file) > 0);
    return 0;
}
