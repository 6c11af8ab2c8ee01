#include "session.h"

#include <algorithm>

#include "server.h"
#include "wire/sendable.h"

namespace krvxd {

using asio::local::stream_protocol;

Session::Session(Server &server, uint64_t id, stream_protocol::socket socket)
    : server_(server), id_(id), socket_(std::move(socket)) {}

std::string Session::label() const {
    return "client " + std::to_string(id_);
}

void Session::start() {
    read_more();
}

void Session::read_more() {
    socket_.async_read_some(
        asio::buffer(read_buffer_), [self = shared_from_this()](std::error_code ec, std::size_t n) {
            if (!self->open_)
                return;
            if (ec) {
                if (self->reader_.pending() > 0 && ec == asio::error::eof)
                    self->close("connection ended inside a frame");
                else
                    self->close({});
                return;
            }
            self->reader_.append(std::span<const uint8_t>(self->read_buffer_.data(), n));
            std::vector<uint8_t> payload;
            for (;;) {
                const auto status = self->reader_.next(payload);
                if (status == wire::FrameReader::Status::NeedMore)
                    break;
                if (status == wire::FrameReader::Status::Error) {
                    self->close(self->reader_.error());
                    return;
                }
                auto decoded = wire::decode(payload);
                if (!decoded.message) {
                    self->close("malformed frame: " + decoded.error);
                    return;
                }
                self->handle(*decoded.message);
                if (!self->open_)
                    return;
            }
            if (!self->close_after_write_)
                self->read_more();
        });
}

void Session::handle(const wire::Message &m) {
    const Log &log = server_.log();
    if (!wire::is_request(m.body)) {
        close("sent a message only the service sends");
        return;
    }
    if (m.id == 0) {
        close("request without an id");
        return;
    }
    if (!greeted_ && !std::holds_alternative<wire::Hello>(m.body)) {
        close("request before the handshake");
        return;
    }
    Backend &backend = server_.backend();
    const ServerLimits &limits = server_.limits();

    if (const auto *hello = std::get_if<wire::Hello>(&m.body)) {
        if (greeted_) {
            close("second handshake");
            return;
        }
        greeted_ = true;
        wire::Status status = wire::Status::Ok;
        if (hello->magic != wire::kMagic) {
            close("handshake without the protocol's magic number");
            return;
        }
        if (hello->min_version > wire::kVersion || hello->max_version < wire::kVersion)
            status = wire::Status::FirmwareMismatch;
        else
            status = backend.open_status();
        log.debug(label() + ": open -> " + wire::status_name(status));
        send({m.id, wire::HelloReply{status, wire::kVersion}});
        if (status != wire::Status::Ok)
            close_after_write_ = true;
        return;
    }
    if (std::holds_alternative<wire::GetInfo>(m.body)) {
        log.debug(label() + ": info");
        const DeviceInfo i = backend.info();
        send({m.id,
              wire::InfoReply{wire::Status::Ok, i.firmware, i.protocol, i.day, i.month, i.year}});
        return;
    }
    if (const auto *t = std::get_if<wire::Transmit>(&m.body)) {
        log.debug(label() + ": send, repeat " + std::to_string(t->repeat));
        wire::Sendable sendable = wire::check_sendable(server_.toggles().fill(t->code), t->repeat);
        if (!sendable.signal) {
            send({m.id, wire::Refusal{sendable.refusal.status, sendable.refusal.why}});
            return;
        }
        if (pending_sends_ >= limits.max_pending_sends) {
            close("too many sends waiting");
            return;
        }
        server_.queue_send(shared_from_this(), m.id, std::move(*sendable.signal), sendable.repeat);
        return;
    }
    if (const auto *r = std::get_if<wire::SetReceive>(&m.body)) {
        log.debug(label() + (r->enabled ? ": receive on" : ": receive off"));
        receiving_ = r->enabled;
        send({m.id, wire::Reply{}});
        return;
    }
    if (const auto *p = std::get_if<wire::Press>(&m.body)) {
        log.debug(label() + ": press for " + std::to_string(p->hold_ms) + " ms");
        wire::Sendable sendable = wire::check_sendable(server_.toggles().fill(p->code), 1);
        if (!sendable.signal) {
            send({m.id, wire::Refusal{sendable.refusal.status, sendable.refusal.why}});
        } else if (p->hold_ms > limits.max_hold_ms) {
            send({m.id, wire::Refusal{wire::Status::InvalidArgument,
                                      "a press is held for at most " +
                                          std::to_string(limits.max_hold_ms) + " ms"}});
        } else {
            send({m.id, wire::Reply{backend.press(*sendable.signal, p->hold_ms, p->quality)}});
        }
        return;
    }
    if (std::holds_alternative<wire::LearnStart>(m.body)) {
        server_.start_learn(shared_from_this(), m.id);
        return;
    }
    if (const auto *stop = std::get_if<wire::LearnStop>(&m.body)) {
        log.debug(label() + (stop->mode == wire::LearnStop::FinishWithBurst ? ": finish learn"
                                                                            : ": cancel learn"));
        server_.stop_learn(shared_from_this(), stop->mode == wire::LearnStop::FinishWithBurst);
        send({m.id, wire::Reply{}});
        return;
    }
    if (std::holds_alternative<wire::Hook>(m.body) ||
        std::holds_alternative<wire::Unhook>(m.body)) {
        const bool hooked = std::holds_alternative<wire::Hook>(m.body);
        log.debug(label() + (hooked ? ": hook" : ": unhook"));
        server_.set_hook(shared_from_this(), hooked);
        send({m.id, wire::Reply{}});
        return;
    }
    if (const auto *answer = std::get_if<wire::HookAnswer>(&m.body)) {
        send({m.id, wire::Reply{server_.answer_hook(shared_from_this(), *answer)}});
        return;
    }
    send({m.id, wire::Reply{wire::Status::NotSupported}});
}

void Session::send(const wire::Message &message) {
    if (!open_)
        return;
    auto frame = wire::encode(message);
    if (frame.empty())
        return;  // not representable; callers only build bounded messages
    queued_bytes_ += frame.size();
    if (queued_bytes_ > server_.limits().max_queued_bytes) {
        close("not reading: more than " + std::to_string(server_.limits().max_queued_bytes) +
              " bytes queued");
        return;
    }
    out_.push_back(std::move(frame));
    write_more();
}

void Session::write_more() {
    if (writing_ || out_.empty() || !open_)
        return;
    writing_ = true;
    asio::async_write(socket_, asio::buffer(out_.front()),
                      [self = shared_from_this()](std::error_code ec, std::size_t) {
                          self->writing_ = false;
                          if (!self->open_)
                              return;
                          if (ec) {
                              self->close({});
                              return;
                          }
                          self->queued_bytes_ -= self->out_.front().size();
                          self->out_.pop_front();
                          if (self->out_.empty() && self->close_after_write_) {
                              self->close({});
                              return;
                          }
                          self->write_more();
                      });
}

void Session::close(const std::string &reason) {
    if (!open_)
        return;
    open_ = false;
    if (!reason.empty())
        server_.log().info(label() + ": dropped: " + reason);
    std::error_code ec;
    socket_.shutdown(asio::socket_base::shutdown_both, ec);
    socket_.close(ec);
    out_.clear();
    server_.session_closed(id_);
}

}  // namespace krvxd
