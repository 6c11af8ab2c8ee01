// SPDX-License-Identifier: MIT
#include "press.h"

#include "wire/client.h"

namespace krvx {

PressResult press(const std::string &socket_path, const std::string &code, uint32_t hold_ms,
                  uint8_t quality) {
    if (code.size() > wire::kMaxText)
        return {false, wire::to_int(wire::Status::InvalidCode), "the code is too long"};
    wire::Client client;
    wire::Outcome o = client.connect(socket_path, wire::Clock::now() + wire::kAnswerTimeout);
    if (o.ok())
        o = client.hello(wire::Clock::now() + wire::kAnswerTimeout);
    if (!o.ok())
        return {false, wire::to_int(o.status), o.why};
    const auto reply = client.request(wire::Press{hold_ms, quality, code},
                                      wire::Clock::now() + wire::kAnswerTimeout, o);
    const auto *r = reply ? std::get_if<wire::Reply>(&reply->body) : nullptr;
    if (r == nullptr)
        return {true, wire::to_int(o.ok() ? wire::Status::CommFailed : o.status), o.why};
    return {true, wire::to_int(r->status), {}};
}

}  // namespace krvx
