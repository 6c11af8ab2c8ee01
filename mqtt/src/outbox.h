// SPDX-License-Identifier: MIT
// What the bridge holds while the broker is away: the messages not yet handed to the
// broker, oldest first, at most `capacity`; a message that does not fit pushes out the
// oldest, and the drops are counted. And the rate limit of the command topics.
//
// Threads: plain values; the owner serialises access (the bridge's thread).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

namespace krvx::mqtt {

struct Message {
    std::string topic;
    std::string payload;
    friend bool operator==(const Message &, const Message &) = default;
};

class Outbox {
  public:
    explicit Outbox(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

    /// Adds `m` at the end, dropping the oldest message when full.
    void push(Message m) {
        if (queue_.size() == capacity_) {
            queue_.pop_front();
            ++dropped_;
        }
        queue_.push_back(std::move(m));
    }
    bool empty() const { return queue_.empty(); }
    std::size_t size() const { return queue_.size(); }
    const Message &front() const { return queue_.front(); }
    void pop() { queue_.pop_front(); }
    /// Messages dropped since the last call.
    uint64_t take_dropped() { return std::exchange(dropped_, 0); }

  private:
    std::size_t capacity_;
    std::deque<Message> queue_;
    uint64_t dropped_ = 0;
};

/// Token bucket: `burst` commands at once, refilled at `per_second`.
class RateLimit {
  public:
    RateLimit(double per_second, double burst)
        : rate_(per_second), burst_(std::max(burst, 1.0)), tokens_(burst_) {}

    /// Whether a command arriving at `now_s` (seconds, monotonic) is taken.
    bool take(double now_s) {
        if (last_s_ >= 0)
            tokens_ = std::min(burst_, tokens_ + (now_s - last_s_) * rate_);
        last_s_ = now_s;
        if (tokens_ < 1)
            return false;
        tokens_ -= 1;
        return true;
    }

  private:
    double rate_;
    double burst_;
    double tokens_;
    double last_s_ = -1;
};

}  // namespace krvx::mqtt
