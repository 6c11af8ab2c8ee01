// SPDX-License-Identifier: MIT
#include "handles.h"

#include <limits>

namespace krvxdrv {

int32_t HandleTable::add(std::shared_ptr<Connection> connection) {
    auto h = std::make_shared<Handle>();
    h->connection = std::move(connection);
    std::lock_guard lock(mutex_);
    // Numbers are not reused until the positive range wraps, so a stale handle of a closed
    // connection does not reach a newer one.
    while (handles_.count(next_) != 0)
        next_ = next_ == std::numeric_limits<int32_t>::max() ? 1 : next_ + 1;
    const int32_t id = next_;
    next_ = next_ == std::numeric_limits<int32_t>::max() ? 1 : next_ + 1;
    handles_.emplace(id, std::move(h));
    return id;
}

std::shared_ptr<Handle> HandleTable::find(int32_t handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

std::shared_ptr<Handle> HandleTable::remove(int32_t handle) {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end())
        return nullptr;
    auto h = std::move(it->second);
    handles_.erase(it);
    return h;
}

HandleTable &HandleTable::instance() {
    static HandleTable table;  // lives until exit; handles left open are closed by the OS
    return table;
}

}  // namespace krvxdrv
