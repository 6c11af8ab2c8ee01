// SPDX-License-Identifier: MIT
// What a received frame is, as the service tells its receiving clients: the frame's
// fingerprint, its decode as text, the kernel's scancode, its carrier and its durations.
//
// Threads: a pure function; the service calls it on its loop thread.
#pragma once

#include <string>

#include "backend.h"
#include "wire/protocol.h"

/// The ReceivedFrame event of a frame whose fingerprint is `code`: the best decode of the
/// frame ("NEC1 D=4 S=251 F=8", "" when no protocol fits), the kernel code ("nec:0x0408"),
/// the mean of its carrier readings (0 without any) and its first kMaxFrameDurations
/// durations.
namespace krvxd {

wire::ReceivedFrame describe_frame(const std::string &code, const ReceivedFrame &frame);

}  // namespace krvxd
