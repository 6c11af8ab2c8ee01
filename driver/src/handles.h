// SPDX-License-Identifier: MIT
// The library's table of open handles: the one piece of process-wide state.
//
// Threads: any thread; the table has its own lock. A Handle's call_mutex serialises the
// calls made on that handle.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "connection.h"

namespace krvxdrv {

struct Handle {
    std::shared_ptr<Connection> connection;
    std::mutex call_mutex;
};

class HandleTable {
  public:
    /// Stores the connection under a new positive handle number.
    int32_t add(std::shared_ptr<Connection> connection);
    /// The handle, or null when it is not open.
    std::shared_ptr<Handle> find(int32_t handle);
    /// Takes the handle out of the table; null when it was not open.
    std::shared_ptr<Handle> remove(int32_t handle);

    static HandleTable &instance();

  private:
    std::mutex mutex_;
    std::map<int32_t, std::shared_ptr<Handle>> handles_;
    int32_t next_ = 1;
};

}  // namespace krvxdrv
