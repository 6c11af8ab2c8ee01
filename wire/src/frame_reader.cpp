// SPDX-License-Identifier: MIT
// Length-prefixed framing with a hard bound.
#include "wire/frame_reader.h"

#include "wire/protocol.h"

namespace wire {

void FrameReader::append(std::span<const uint8_t> bytes) {
    if (!error_.empty())
        return;
    // Drop consumed bytes before growing, so the buffer never holds more than one
    // partial frame plus the new bytes.
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

FrameReader::Status FrameReader::next(std::vector<uint8_t> &payload) {
    if (!error_.empty())
        return Status::Error;
    const std::size_t avail = buffer_.size() - start_;
    if (avail < kLengthPrefix)
        return Status::NeedMore;
    const uint8_t *p = buffer_.data() + start_;
    const uint32_t n = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    if (n == 0) {
        error_ = "empty frame";
        return Status::Error;
    }
    if (n > kMaxPayload) {
        error_ = "frame length " + std::to_string(n) + " above the limit of " +
                 std::to_string(kMaxPayload);
        return Status::Error;
    }
    if (avail - kLengthPrefix < n)
        return Status::NeedMore;
    payload.assign(p + kLengthPrefix, p + kLengthPrefix + n);
    start_ += kLengthPrefix + n;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return Status::Frame;
}

}  // namespace wire
