// SPDX-License-Identifier: MIT
// Encoding and strictly bounded decoding of protocol messages.
#include "wire/protocol.h"

#include <cstdio>
#include <type_traits>

namespace wire {
namespace {

class Writer {
  public:
    explicit Writer(std::vector<uint8_t> &out) : out_(out) {}
    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v) {
        for (int i = 0; i < 2; ++i)
            out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void status(Status s) { i32(to_int(s)); }
    void u64(uint64_t v) {
        u32(static_cast<uint32_t>(v));
        u32(static_cast<uint32_t>(v >> 32));
    }
    bool str(const std::string &s, std::size_t max = kMaxText) {
        if (s.size() > max)
            return false;
        u16(static_cast<uint16_t>(s.size()));
        out_.insert(out_.end(), s.begin(), s.end());
        return true;
    }

  private:
    std::vector<uint8_t> &out_;
};

class Reader {
  public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool u8(uint8_t &v) {
        if (!need(1))
            return false;
        v = in_[pos_++];
        return true;
    }
    bool u16(uint16_t &v) {
        if (!need(2))
            return false;
        v = static_cast<uint16_t>(in_[pos_] | (in_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool u32(uint32_t &v) {
        if (!need(4))
            return false;
        v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | in_[pos_ + static_cast<std::size_t>(i)];
        pos_ += 4;
        return true;
    }
    bool i32(int32_t &v) {
        uint32_t u = 0;
        if (!u32(u))
            return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool status(Status &s) {
        int32_t v = 0;
        if (!i32(v))
            return false;
        s = static_cast<Status>(v);
        return true;
    }
    bool u64(uint64_t &v) {
        uint32_t lo = 0, hi = 0;
        if (!u32(lo) || !u32(hi))
            return false;
        v = (uint64_t{hi} << 32) | lo;
        return true;
    }
    bool flag(bool &v) {
        uint8_t b = 0;
        if (!u8(b))
            return false;
        if (b > 1)
            return fail("flag out of range");
        v = b != 0;
        return true;
    }
    bool str(std::string &s, std::size_t max = kMaxText) {
        uint16_t n = 0;
        if (!u16(n))
            return false;
        if (n > max)
            return fail("string too long");
        if (!need(n))
            return false;
        s.assign(reinterpret_cast<const char *>(in_.data() + pos_), n);
        pos_ += n;
        return true;
    }
    bool fail(const char *why) {
        if (error_.empty())
            error_ = why;
        return false;
    }
    bool at_end() const { return pos_ == in_.size(); }
    const std::string &error() const { return error_; }

  private:
    bool need(std::size_t n) {
        if (in_.size() - pos_ < n)
            return fail("payload too short");
        return true;
    }
    std::span<const uint8_t> in_;
    std::size_t pos_ = 0;
    std::string error_;
};

// One function per direction and type keeps the field order in one visible place.
bool write_body(Writer &w, const Body &body) {
    return std::visit(
        [&w](const auto &m) -> bool {
            using T = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<T, Hello>) {
                w.u32(m.magic);
                w.u16(m.min_version);
                w.u16(m.max_version);
            } else if constexpr (std::is_same_v<T, Transmit>) {
                w.i32(m.repeat);
                return w.str(m.code);
            } else if constexpr (std::is_same_v<T, SetReceive>) {
                w.u8(m.enabled ? 1 : 0);
            } else if constexpr (std::is_same_v<T, Press>) {
                w.u32(m.hold_ms);
                w.u8(m.quality);
                return w.str(m.code);
            } else if constexpr (std::is_same_v<T, LearnStart>) {
                if (m.timeout_ms != 0)
                    w.u32(m.timeout_ms);
            } else if constexpr (std::is_same_v<T, LearnStop>) {
                w.u8(m.mode);
            } else if constexpr (std::is_same_v<T, HookAnswer>) {
                w.u32(m.learn_id);
                w.u8(m.kind);
                return w.str(m.code);
            } else if constexpr (std::is_same_v<T, Reply>) {
                w.status(m.status);
            } else if constexpr (std::is_same_v<T, HelloReply>) {
                w.status(m.status);
                w.u16(m.version);
            } else if constexpr (std::is_same_v<T, InfoReply>) {
                w.status(m.status);
                w.u32(m.firmware);
                w.u32(m.protocol);
                w.u8(m.day);
                w.u8(m.month);
                w.u8(m.year);
            } else if constexpr (std::is_same_v<T, SendAccepted>) {
                w.u64(m.done_within_us);
            } else if constexpr (std::is_same_v<T, Refusal>) {
                w.status(m.status);
                return m.status != Status::Ok && w.str(m.why, kMaxWhy);
            } else if constexpr (std::is_same_v<T, Received>) {
                return w.str(m.code);
            } else if constexpr (std::is_same_v<T, LearnBegin>) {
                w.u32(m.learn_id);
                w.u8(m.own ? 1 : 0);
            } else if constexpr (std::is_same_v<T, LearnProgress>) {
                w.u32(m.learn_id);
                w.i32(m.progress);
                w.i32(m.quality);
                w.i32(m.carrier_hz);
            } else if constexpr (std::is_same_v<T, LearnEnd>) {
                w.u32(m.learn_id);
                w.i32(m.result);
                if (!w.str(m.code))
                    return false;
                const bool shaped = m.shape != LearnEnd::Unsaid || !m.decode.empty();
                if (m.answer != LearnEnd::None || shaped)
                    w.u8(m.answer);
                if (shaped) {
                    w.u8(m.shape);
                    return w.str(m.decode, kMaxDecode);
                }
            } else if constexpr (std::is_same_v<T, ReceivedFrame>) {
                if (m.durations_us.size() > kMaxFrameDurations ||
                    !(w.str(m.code) && w.str(m.decode, kMaxDecodeText) &&
                      w.str(m.kernel, kMaxDecodeText)))
                    return false;
                w.u32(m.carrier_hz);
                w.u16(static_cast<uint16_t>(m.durations_us.size()));
                for (uint32_t d : m.durations_us)
                    w.u32(d);
            }
            return true;  // types without a body
        },
        body);
}

template <typename T>
bool read_fields(Reader &r, T &m) {
    if constexpr (std::is_same_v<T, Hello>) {
        return r.u32(m.magic) && r.u16(m.min_version) && r.u16(m.max_version);
    } else if constexpr (std::is_same_v<T, Transmit>) {
        return r.i32(m.repeat) && r.str(m.code);
    } else if constexpr (std::is_same_v<T, SetReceive>) {
        return r.flag(m.enabled);
    } else if constexpr (std::is_same_v<T, Press>) {
        if (!(r.u32(m.hold_ms) && r.u8(m.quality) && r.str(m.code)))
            return false;
        return m.quality <= 100 || r.fail("quality out of range");
    } else if constexpr (std::is_same_v<T, LearnStart>) {
        return r.at_end() ||
               (r.u32(m.timeout_ms) && (m.timeout_ms != 0 || r.fail("a timeout of 0 is left out")));
    } else if constexpr (std::is_same_v<T, LearnStop>) {
        if (!r.u8(m.mode))
            return false;
        return m.mode <= LearnStop::FinishWithBurst || r.fail("stop mode out of range");
    } else if constexpr (std::is_same_v<T, HookAnswer>) {
        if (!(r.u32(m.learn_id) && r.u8(m.kind) && r.str(m.code)))
            return false;
        return m.kind <= HookAnswer::AcceptBurst || r.fail("answer kind out of range");
    } else if constexpr (std::is_same_v<T, Reply>) {
        return r.status(m.status);
    } else if constexpr (std::is_same_v<T, HelloReply>) {
        return r.status(m.status) && r.u16(m.version);
    } else if constexpr (std::is_same_v<T, InfoReply>) {
        return r.status(m.status) && r.u32(m.firmware) && r.u32(m.protocol) && r.u8(m.day) &&
               r.u8(m.month) && r.u8(m.year);
    } else if constexpr (std::is_same_v<T, SendAccepted>) {
        return r.u64(m.done_within_us);
    } else if constexpr (std::is_same_v<T, Refusal>) {
        if (!(r.status(m.status) && r.str(m.why, kMaxWhy)))
            return false;
        return m.status != Status::Ok || r.fail("refusal without a status");
    } else if constexpr (std::is_same_v<T, Received>) {
        return r.str(m.code);
    } else if constexpr (std::is_same_v<T, LearnBegin>) {
        return r.u32(m.learn_id) && r.flag(m.own);
    } else if constexpr (std::is_same_v<T, LearnProgress>) {
        return r.u32(m.learn_id) && r.i32(m.progress) && r.i32(m.quality) && r.i32(m.carrier_hz);
    } else if constexpr (std::is_same_v<T, LearnEnd>) {
        if (!(r.u32(m.learn_id) && r.i32(m.result) && r.str(m.code)))
            return false;
        if (r.at_end())
            return true;
        if (!r.u8(m.answer))
            return false;
        if (m.answer > LearnEnd::BurstAccepted)
            return r.fail("answer out of range");
        // Trailing fields are written only when they say something: one form per message.
        if (r.at_end())
            return m.answer != LearnEnd::None || r.fail("an unsaid answer is left out");
        if (!(r.u8(m.shape) && r.str(m.decode, kMaxDecode)))
            return false;
        if (m.shape > LearnEnd::Averaged)
            return r.fail("shape out of range");
        if (m.shape == LearnEnd::Unsaid)
            return r.fail("an unsaid shape is left out");
        return (m.shape == LearnEnd::Snapped) != m.decode.empty() ||
               r.fail("a decode goes with a snapped code, and only with one");
    } else if constexpr (std::is_same_v<T, ReceivedFrame>) {
        uint16_t count = 0;
        if (!(r.str(m.code) && r.str(m.decode, kMaxDecodeText) && r.str(m.kernel, kMaxDecodeText) &&
              r.u32(m.carrier_hz) && r.u16(count)))
            return false;
        if (count > kMaxFrameDurations)
            return r.fail("too many durations");
        m.durations_us.resize(count);
        for (uint32_t &d : m.durations_us)
            if (!r.u32(d))
                return false;
        return true;
    } else {
        (void)r;
        (void)m;
        return true;
    }
}

template <typename T>
DecodeResult read_message(Reader &r, uint32_t id) {
    T m{};
    if (!read_fields(r, m))
        return {std::nullopt, r.error()};
    if (!r.at_end())
        return {std::nullopt, "trailing bytes after the message"};
    return {Message{id, Body{std::move(m)}}, {}};
}

}  // namespace

Type type_of(const Body &body) {
    static constexpr Type kTypes[] = {
        Type::Hello,      Type::GetInfo,       Type::Transmit,  Type::SetReceive,
        Type::Press,      Type::LearnStart,    Type::LearnStop, Type::Hook,
        Type::Unhook,     Type::HookAnswer,    Type::Reply,     Type::HelloReply,
        Type::InfoReply,  Type::SendAccepted,  Type::Refusal,   Type::Received,
        Type::LearnBegin, Type::LearnProgress, Type::LearnEnd,  Type::DeviceLost,
        Type::ReceivedFrame};
    static_assert(std::size(kTypes) == std::variant_size_v<Body>);
    return kTypes[body.index()];
}

bool is_request(const Body &body) {
    return static_cast<uint16_t>(type_of(body)) < 0x0080;
}

bool encode_into(const Message &message, std::vector<uint8_t> &out) {
    const std::size_t start = out.size();
    Writer w(out);
    w.u32(0);  // length, patched below
    w.u16(static_cast<uint16_t>(type_of(message.body)));
    w.u32(message.id);
    const bool ok = write_body(w, message.body);
    const std::size_t n = out.size() - start - kLengthPrefix;
    if (!ok || n > kMaxPayload) {
        out.resize(start);
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i)
        out[start + i] = static_cast<uint8_t>(n >> (8 * i));
    return true;
}

std::vector<uint8_t> encode(const Message &message) {
    std::vector<uint8_t> out;
    if (!encode_into(message, out))
        return {};
    return out;
}

std::string status_name(Status status) {
    switch (status) {
        case Status::Ok:
            return "0";
        case Status::DeviceNotFound:
            return "ERR_DEVICE_NOT_FOUND";
        case Status::CommFailed:
            return "ERR_COMM_FAILED";
        case Status::DriverNotFound:
            return "ERR_DRIVER_NOT_FOUND";
        case Status::FirmwareMismatch:
            return "ERR_FIRMWARE_MISMATCH";
        case Status::LearnBusy:
            return "ERR_LEARN_BUSY";
        case Status::InvalidCode:
            return "ERR_INVALID_CODE";
        case Status::InvalidHandle:
            return "ERR_INVALID_HANDLE";
        case Status::TransmitFailed:
            return "ERR_TRANSMIT_FAILED";
        case Status::NotSupported:
            return "ERR_NOT_SUPPORTED";
        case Status::InvalidArgument:
            return "ERR_INVALID_ARGUMENT";
        case Status::ServiceBusy:
            return "ERR_SERVICE_BUSY";
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(to_int(status)));
    return hex;
}

DecodeResult decode(std::span<const uint8_t> payload) {
    if (payload.size() > kMaxPayload)
        return {std::nullopt, "payload too long"};
    Reader r(payload);
    uint16_t type = 0;
    uint32_t id = 0;
    if (!r.u16(type) || !r.u32(id))
        return {std::nullopt, "payload shorter than its header"};
    switch (static_cast<Type>(type)) {
        case Type::Hello:
            return read_message<Hello>(r, id);
        case Type::GetInfo:
            return read_message<GetInfo>(r, id);
        case Type::Transmit:
            return read_message<Transmit>(r, id);
        case Type::SetReceive:
            return read_message<SetReceive>(r, id);
        case Type::Press:
            return read_message<Press>(r, id);
        case Type::LearnStart:
            return read_message<LearnStart>(r, id);
        case Type::LearnStop:
            return read_message<LearnStop>(r, id);
        case Type::Hook:
            return read_message<Hook>(r, id);
        case Type::Unhook:
            return read_message<Unhook>(r, id);
        case Type::HookAnswer:
            return read_message<HookAnswer>(r, id);
        case Type::Reply:
            return read_message<Reply>(r, id);
        case Type::HelloReply:
            return read_message<HelloReply>(r, id);
        case Type::InfoReply:
            return read_message<InfoReply>(r, id);
        case Type::SendAccepted:
            return read_message<SendAccepted>(r, id);
        case Type::Refusal:
            return read_message<Refusal>(r, id);
        case Type::Received:
            return read_message<Received>(r, id);
        case Type::LearnBegin:
            return read_message<LearnBegin>(r, id);
        case Type::LearnProgress:
            return read_message<LearnProgress>(r, id);
        case Type::LearnEnd:
            return read_message<LearnEnd>(r, id);
        case Type::DeviceLost:
            return read_message<DeviceLost>(r, id);
        case Type::ReceivedFrame:
            return read_message<ReceivedFrame>(r, id);
    }
    return {std::nullopt, "unknown message type"};
}

}  // namespace wire
