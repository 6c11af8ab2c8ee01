// SPDX-License-Identifier: MIT
// Where krvxd listens and libkrvxdrv connects.
//
// Threads: any thread; reads the environment.
#pragma once

#include <string>

namespace wire {

/// KRVX_SOCKET when set and non-empty, else $XDG_RUNTIME_DIR/krvxd.sock when that variable
/// is set to an absolute path, else krvxd.sock in fallback_socket_dir().
std::string default_socket_path();

/// /tmp/krvxd-<uid>: the folder of the last resort, private to its user. Never the shared
/// /tmp itself, where another user could take the name first.
std::string fallback_socket_dir();

/// Makes `dir` a folder only this user may enter: creates it with mode 0700 when missing,
/// else checks without following a symbolic link that it is a folder of this user with no
/// access for others. Returns an empty string, or why the folder cannot be used.
std::string make_private_dir(const std::string &dir);

/// Longest path a Unix socket address holds (sun_path without its 0 byte).
std::size_t max_socket_path();

}  // namespace wire
