// SPDX-License-Identifier: MIT
// Splits a byte stream into frame payloads with a hard size bound.
//
// Threads: a FrameReader belongs to one connection and is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace wire {

class FrameReader {
  public:
    enum class Status { NeedMore, Frame, Error };

    /// Appends received bytes. Memory held stays below kLengthPrefix + kMaxPayload plus the
    /// bytes appended in one call, because a bad length is refused as soon as it is read.
    void append(std::span<const uint8_t> bytes);

    /// Takes the next complete payload into `payload`. Error is final: the length prefix
    /// was 0 or above kMaxPayload, error() says which.
    Status next(std::vector<uint8_t> &payload);

    const std::string &error() const { return error_; }
    /// Bytes received but not yet returned as a frame (a frame cut short at end of stream).
    std::size_t pending() const { return buffer_.size() - start_; }

  private:
    std::vector<uint8_t> buffer_;
    std::size_t start_ = 0;
    std::string error_;
};

}  // namespace wire
