// SPDX-License-Identifier: MIT
// Finding and starting another program by its path: the file test and the launcher the
// About dialog's system-information button uses.
//
// Paths come from the registry, where "\" separates folders (a folder value with
// "\MSINFO32.EXE" appended, say). programPath() turns such a path into a Linux one:
//   - every "\" becomes "/";
//   - a last part named MSINFO32.EXE (any case) stands for the desktop's system-information
//     tool and becomes, in the same folder, the first of kSystemInfoTools that is a normal
//     file there; when none is, the first name (msinfo32), which then is not found.
// Everything else is kept as given, so a path that already names a Linux program is used
// unchanged.
//
// "Normal file": after following symbolic links a regular file (not a folder, not a device,
// FIFO or socket: those count as system files), whose name does not start with "." (a
// hidden file).
//
// Threads: programPath() and isNormalFile() may be called from any thread and keep no
// state; startProgram() is for the user-interface thread.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vintrel::platform {

/// Program names tried, in order, for MSINFO32.EXE: a program or link of that name that the
/// administrator put in the folder, then the system-information tools of the common
/// desktops (HardInfo, KDE's Info Center, CPU-X).
inline constexpr std::array<std::string_view, 5> kSystemInfoTools = {
    "msinfo32", "hardinfo2", "hardinfo", "kinfocenter", "cpu-x"};

/// The Linux path for a path in the registry's form (see above).
std::string programPath(std::string_view path);

/// True when a normal file exists at programPath(path).
bool isNormalFile(std::string_view path);

/// Starts the program at programPath(path) without arguments, detached (it goes on when
/// vintrel ends), and returns without waiting for it; its windows open as the desktop opens
/// a new program's windows (normal size, with the focus). The path must be absolute.
/// Returns false, with the reason in *error when given, when the program could not be
/// started (not absolute, not found, not executable, or the start failed).
bool startProgram(std::string_view path, std::string *error = nullptr);

}  // namespace vintrel::platform
