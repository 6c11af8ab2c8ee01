// SPDX-License-Identifier: MIT
// The private wire protocol between libkrvxdrv and krvxd.
//
// Stream of frames over a Unix stream socket. A frame is a 4-byte little-endian payload
// length N (1..kMaxPayload) followed by N payload bytes:
//
//   u16 type | u32 id | body (per type, all integers little-endian)
//
// Strings are u16 length + bytes (no 0 byte), at most kMaxText bytes. A field in [brackets]
// ends its body, is written only when it (or a field nested in its brackets) is not 0 or
// empty, and reads as 0 when absent, so that peers that do not know it still understand
// each other's usual messages.
//
// Requests (client -> service) carry a non-zero id chosen by the client; the service
// answers each with exactly one reply carrying the same id, in any order relative to
// events. Events (service -> client) carry id 0 and arrive whenever they happen.
//
// Connection life: the client's first frame must be Hello; the service answers with
// HelloReply (status 0 and the version it speaks, or an ERR_* status and then closes).
// Any malformed, oversized or unexpected frame ends the connection. A request the service
// refuses for a reason worth telling is answered by Refusal (same id) instead of its reply;
// a Refusal with id 0 ends the connection (too many clients, a client that does not read,
// a frame it could not take), and may come in place of HelloReply.
//
// Version 1 types (the learn/hook group is decoded by both sides already so that a later
// version of either side can carry learns without a new framing):
//   0x0001 Hello        magic u32 kMagic, min_version u16, max_version u16
//   0x0002 GetInfo      -
//   0x0003 Transmit     repeat i32, code str (Pronto text)
//   0x0004 SetReceive   enabled u8 (0/1)
//   0x0005 Press        hold_ms u32, quality u8 (0..100), code str  (simulated device only)
//   0x0010 LearnStart   [timeout_ms u32]         own learn of this client; it ends after
//                       timeout_ms (1..kMaxLearnTimeoutMs), 0: the service's default
//   0x0011 LearnStop    mode u8 (0 cancel, 1 finish with the burst captured so far)
//   0x0012 Hook         -
//   0x0013 Unhook       -
//   0x0014 HookAnswer   learn_id u32, kind u8 (0 inject, 1 accept burst), code str
//   0x0080 Reply        status i32                (a Status: 0 or an ERR_* value)
//   0x0081 HelloReply   status i32, version u16
//   0x0082 InfoReply    status i32, firmware u32, protocol u32, day u8, month u8, year u8
//   0x0083 SendAccepted done_within_us u64   interim answer to Transmit (same id): the send
//                       is queued and ends within that time; its Reply follows
//   0x0084 Refusal      status i32 (not 0), why str (at most kMaxWhy bytes)
//   0x00C0 Received     code str (12 characters)                         event
//   0x00C1 LearnBegin   learn_id u32, own u8                             event
//   0x00C2 LearnProgress learn_id u32, progress i32, quality i32, carrier_hz i32  event
//   0x00C3 LearnEnd     learn_id u32, result i32, code str, [answer u8, [shape u8,
//                       decode str]]   event; answer: how a hook ended it (LearnEnd::Answer);
//                       shape: how the learned code was built (LearnEnd::Shape), decode:
//                       what it snapped to (at most kMaxDecode bytes, only when Snapped)
//   0x00C4 DeviceLost   -                                                 event
//   0x00C5 ReceivedFrame code str (12 characters), decode str ("NEC1 D=4 S=251 F=8", ""
//                       when unknown), kernel str ("nec:0x0408", "" when none),
//                       carrier_hz u32 (0: not measured), count u16 (at most
//                       kMaxFrameDurations), count × u32 durations in µs   event, right
//                       before the Received of the same frame
//
// Threads: everything here is plain data and pure functions; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "wire/status.h"

namespace wire {

inline constexpr uint32_t kMagic = 0x5856524B;  // "KRVX" little-endian
inline constexpr uint16_t kVersion = 1;
/// Hard bound of a frame's payload; a larger length prefix ends the connection.
inline constexpr uint32_t kMaxPayload = 4096;
/// Longest string field (a Pronto code is at most 2048 characters).
inline constexpr std::size_t kMaxText = 2048;
inline constexpr std::size_t kLengthPrefix = 4;
/// Longest reason a Refusal carries.
inline constexpr std::size_t kMaxWhy = 200;
/// Longest decode text a LearnEnd carries ("RC6-6-20 D=... F=... T=...").
inline constexpr std::size_t kMaxDecode = 127;
/// Longest learn a client may ask for: ten minutes.
inline constexpr uint32_t kMaxLearnTimeoutMs = 600000;
/// Most durations a ReceivedFrame carries (a longer frame is cut).
inline constexpr std::size_t kMaxFrameDurations = 512;
/// Longest decode and kernel text of a ReceivedFrame.
inline constexpr std::size_t kMaxDecodeText = 400;

enum class Type : uint16_t {
    Hello = 0x0001,
    GetInfo = 0x0002,
    Transmit = 0x0003,
    SetReceive = 0x0004,
    Press = 0x0005,
    LearnStart = 0x0010,
    LearnStop = 0x0011,
    Hook = 0x0012,
    Unhook = 0x0013,
    HookAnswer = 0x0014,
    Reply = 0x0080,
    HelloReply = 0x0081,
    InfoReply = 0x0082,
    SendAccepted = 0x0083,
    Refusal = 0x0084,
    Received = 0x00C0,
    LearnBegin = 0x00C1,
    LearnProgress = 0x00C2,
    LearnEnd = 0x00C3,
    DeviceLost = 0x00C4,
    ReceivedFrame = 0x00C5,
};

struct Hello {
    uint32_t magic = kMagic;
    uint16_t min_version = kVersion;
    uint16_t max_version = kVersion;
    friend bool operator==(const Hello &, const Hello &) = default;
};
struct GetInfo {
    friend bool operator==(const GetInfo &, const GetInfo &) = default;
};
struct Transmit {
    int32_t repeat = 1;
    std::string code;
    friend bool operator==(const Transmit &, const Transmit &) = default;
};
struct SetReceive {
    bool enabled = false;
    friend bool operator==(const SetReceive &, const SetReceive &) = default;
};
struct Press {
    uint32_t hold_ms = 0;
    uint8_t quality = 100;
    std::string code;
    friend bool operator==(const Press &, const Press &) = default;
};
struct LearnStart {
    uint32_t timeout_ms = 0;  ///< 0: the service's default
    friend bool operator==(const LearnStart &, const LearnStart &) = default;
};
struct LearnStop {
    enum Mode : uint8_t { Cancel = 0, FinishWithBurst = 1 };
    uint8_t mode = Cancel;
    friend bool operator==(const LearnStop &, const LearnStop &) = default;
};
struct Hook {
    friend bool operator==(const Hook &, const Hook &) = default;
};
struct Unhook {
    friend bool operator==(const Unhook &, const Unhook &) = default;
};
struct HookAnswer {
    enum Kind : uint8_t { Inject = 0, AcceptBurst = 1 };
    uint32_t learn_id = 0;
    uint8_t kind = Inject;
    std::string code;
    friend bool operator==(const HookAnswer &, const HookAnswer &) = default;
};
struct Reply {
    Status status = Status::Ok;
    friend bool operator==(const Reply &, const Reply &) = default;
};
struct HelloReply {
    Status status = Status::Ok;
    uint16_t version = kVersion;
    friend bool operator==(const HelloReply &, const HelloReply &) = default;
};
struct InfoReply {
    Status status = Status::Ok;
    uint32_t firmware = 0;
    uint32_t protocol = 0;
    uint8_t day = 0;
    uint8_t month = 0;
    uint8_t year = 0;
    friend bool operator==(const InfoReply &, const InfoReply &) = default;
};
struct SendAccepted {
    uint64_t done_within_us = 0;
    friend bool operator==(const SendAccepted &, const SendAccepted &) = default;
};
struct Refusal {
    Status status = Status::CommFailed;
    std::string why;
    friend bool operator==(const Refusal &, const Refusal &) = default;
};
struct Received {
    std::string code;
    friend bool operator==(const Received &, const Received &) = default;
};
struct LearnBegin {
    uint32_t learn_id = 0;
    bool own = false;
    friend bool operator==(const LearnBegin &, const LearnBegin &) = default;
};
struct LearnProgress {
    uint32_t learn_id = 0;
    int32_t progress = 0;
    int32_t quality = 0;
    int32_t carrier_hz = 0;
    friend bool operator==(const LearnProgress &, const LearnProgress &) = default;
};
struct LearnEnd {
    /// How the learn got its end: by itself, or from a hooked client's answer.
    enum Answer : uint8_t { None = 0, Injected = 1, BurstAccepted = 2 };
    /// How the learned code was built: not said (no code, or an injected one), the
    /// protocol's own encoding of `decode`, or an average of frames that match no protocol.
    enum Shape : uint8_t { Unsaid = 0, Snapped = 1, Averaged = 2 };
    uint32_t learn_id = 0;
    int32_t result = 0;
    std::string code;
    uint8_t answer = None;
    uint8_t shape = Unsaid;
    std::string decode{};  ///< "NEC1 D=4 F=8" when Snapped, else empty
    friend bool operator==(const LearnEnd &, const LearnEnd &) = default;
};
struct DeviceLost {
    friend bool operator==(const DeviceLost &, const DeviceLost &) = default;
};
struct ReceivedFrame {
    std::string code;
    std::string decode;
    std::string kernel;
    uint32_t carrier_hz = 0;
    std::vector<uint32_t> durations_us;
    friend bool operator==(const ReceivedFrame &, const ReceivedFrame &) = default;
};

using Body = std::variant<Hello, GetInfo, Transmit, SetReceive, Press, LearnStart, LearnStop, Hook,
                          Unhook, HookAnswer, Reply, HelloReply, InfoReply, SendAccepted, Refusal,
                          Received, LearnBegin, LearnProgress, LearnEnd, DeviceLost,
                          ReceivedFrame>;

struct Message {
    uint32_t id = 0;
    Body body;
    friend bool operator==(const Message &, const Message &) = default;
};

/// True for the types a client may send (requests).
bool is_request(const Body &body);

/// The type tag of a body.
Type type_of(const Body &body);

/// A whole frame (length prefix included) for the message. Strings longer than kMaxText (a
/// Refusal's reason: kMaxWhy) are not representable: encode() returns an empty vector.
std::vector<uint8_t> encode(const Message &message);

/// Appends the frame of `message` to `out`, which keeps its capacity (no allocation once
/// it is large enough). Returns false and leaves `out` as it was for a message encode()
/// cannot represent.
bool encode_into(const Message &message, std::vector<uint8_t> &out);

struct DecodeResult {
    std::optional<Message> message;
    std::string error;  ///< why the payload was refused; empty when message is set
};

/// Decodes one payload (without its length prefix). Refuses unknown types, short or
/// trailing bytes, over-long strings and out-of-range enumerations. Never throws.
DecodeResult decode(std::span<const uint8_t> payload);

}  // namespace wire
