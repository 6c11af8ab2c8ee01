// Where krvxd listens and libkrvxdrv connects.
//
// Threads: any thread; reads the environment.
#pragma once

#include <string>

namespace wire {

/// KRVX_SOCKET when set and non-empty, else $XDG_RUNTIME_DIR/krvxd.sock when that variable
/// is set to an absolute path, else /tmp/krvxd-<uid>.sock.
std::string default_socket_path();

/// Longest path a Unix socket address holds (sun_path without its 0 byte).
std::size_t max_socket_path();

}  // namespace wire
