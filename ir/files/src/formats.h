// SPDX-License-Identifier: MIT
// One reader and one writer per format, as files.cpp dispatches to them.
//
// A reader fills `out` from `text` and throws detail::Failure on what it cannot read;
// `remote` is the name for a file without remote names. A writer appends every key with a
// signal to `out` (warnings for what it leaves out or changes). An appender gives the text
// that adds one key to an existing file of that format, leaving the file's text as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ir/files.h"

namespace ir::files::detail {

using Reader = void (*)(std::string_view text, std::string_view remote, CodeFile &out);
using Writer = void (*)(const CodeFile &file, std::string &out, std::vector<std::string> &warnings);

/// Where and what to insert into an existing file (of `text`) to add `key` to `remote`:
/// the text is inserted at `offset`. Fails (detail::Failure) when the format cannot.
struct Insertion {
    std::size_t offset = 0;
    std::string text;
};
using Appender = Insertion (*)(std::string_view text, std::string_view remote, const Key &key);

struct FormatIo {
    Reader read;
    Writer write;
    Appender append;
};

const FormatIo &io(Format format);

/// The insertion that appends `key` at the end of `text` as `write` writes a one-key file
/// (for formats whose files are a list of keys). Fails when the writer leaves the key out.
Insertion append_written(Writer write, std::string_view text, std::string_view remote,
                         const Key &key);

// The readers, writers and appenders, one file each.
void read_lircd(std::string_view, std::string_view, CodeFile &);
void write_lircd(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_lircd(std::string_view, std::string_view, const Key &);

void read_flipper(std::string_view, std::string_view, CodeFile &);
void write_flipper(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_flipper(std::string_view, std::string_view, const Key &);

void read_broadlink(std::string_view, std::string_view, CodeFile &);
void write_broadlink(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_broadlink(std::string_view, std::string_view, const Key &);

void read_gc(std::string_view, std::string_view, CodeFile &);
void write_gc(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_gc(std::string_view, std::string_view, const Key &);

void read_irremote(std::string_view, std::string_view, CodeFile &);
void write_irremote(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_irremote(std::string_view, std::string_view, const Key &);

void read_raw(std::string_view, std::string_view, CodeFile &);
void write_raw(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_raw(std::string_view, std::string_view, const Key &);

void read_mode2(std::string_view, std::string_view, CodeFile &);
void write_mode2(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_mode2(std::string_view, std::string_view, const Key &);

void read_keymap(std::string_view, std::string_view, CodeFile &);
void write_keymap(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_keymap(std::string_view, std::string_view, const Key &);

void read_pronto(std::string_view, std::string_view, CodeFile &);
void write_pronto(const CodeFile &, std::string &, std::vector<std::string> &);
Insertion append_pronto(std::string_view, std::string_view, const Key &);

}  // namespace ir::files::detail
