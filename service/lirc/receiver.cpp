// SPDX-License-Identifier: MIT
#include "lirc/receiver.h"

#include <cstdio>
#include <cstring>

#include "ir/receive_code.h"

namespace krvxd::lirc {

Scancode parse_scancode(std::span<const std::byte, kScancodeRecordSize> record) {
    lirc_scancode raw{};
    std::memcpy(&raw, record.data(), sizeof raw);
    Scancode sc;
    sc.timestamp_ns = raw.timestamp;
    sc.flags = raw.flags;
    sc.protocol = raw.rc_proto;
    sc.keycode = raw.keycode;
    sc.scancode = raw.scancode;
    return sc;
}

std::string scancode_receive_code(const Scancode &sc) {
    constexpr uint64_t mask40 = (uint64_t{1} << 40) - 1;
    const uint64_t folded = (sc.scancode ^ (sc.scancode >> 40)) & mask40;
    char text[16];
    std::snprintf(text, sizeof text, "%02X%010llX", static_cast<unsigned>(sc.protocol & 0xFF),
                  static_cast<unsigned long long>(folded));
    return std::string(text, 12);
}

void ScancodeReader::feed_bytes(std::span<const std::byte> bytes, std::vector<Scancode> &out) {
    while (!bytes.empty()) {
        const std::size_t take = std::min(bytes.size(), partial_.size() - have_);
        std::memcpy(partial_.data() + have_, bytes.data(), take);
        have_ += take;
        bytes = bytes.subspan(take);
        if (have_ == partial_.size()) {
            out.push_back(parse_scancode(partial_));
            have_ = 0;
        }
    }
}

Mode2Receiver::Mode2Receiver() = default;

void Mode2Receiver::reset() {
    decoder_.reset();
    frames_.clear();
    burst_code_.clear();
}

void Mode2Receiver::feed_bytes(std::span<const std::byte> bytes, std::vector<std::string> &out) {
    frames_.clear();
    decoder_.feed_bytes(bytes, frames_);
    on_frames(frames_, out);
}

void Mode2Receiver::on_frames(std::span<const Mode2Frame> frames, std::vector<std::string> &out) {
    for (const Mode2Frame &f : frames) {
        if (!f.continues_burst) {
            burst_code_.clear();
        }
        if (f.durations_us.size() < kMinReceiveFrameEntries) {
            continue;
        }
        std::string code = ir::receive_code(f.durations_us);
        if (code.size() != ir::kReceiveCodeLength) {
            continue;
        }
        if (burst_code_.empty()) {
            burst_code_ = code;
            out.push_back(std::move(code));
        } else if (code == burst_code_) {
            out.push_back(std::move(code));
        }
    }
}

}  // namespace krvxd::lirc
