// SPDX-License-Identifier: MIT
#include "session.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "server.h"
#include "wire/sendable.h"

namespace krvxd {

using asio::local::stream_protocol;

namespace {

// A buffer that held a burst of output goes back to the allocator once it is empty again,
// so that a flood leaves no memory behind; a small one is kept for the next replies.
constexpr std::size_t kKeptCapacity = 16 * 1024;
// Requests of one client handled before the others get their turn.
constexpr int kFramesPerTurn = 16;
// The kernel's buffer for a client's output: enough for any burst of events, small enough
// that a client which does not read meets backpressure soon (and costs little memory).
constexpr int kSocketSendBuffer = 64 * 1024;

}  // namespace

Session::Session(Server &server, uint64_t id, stream_protocol::socket socket)
    : server_(server), id_(id), socket_(std::move(socket)), deadline_(socket_.get_executor()) {}

void Session::start() {
    std::error_code ec;
    socket_.set_option(asio::socket_base::send_buffer_size(kSocketSendBuffer), ec);
    // Asked for once, Asio keeps the socket's write interest (edge-triggered): see Wake-ups
    // in session.h. On an idle machine waking a sleeping CPU is most of a round trip.
    socket_.async_wait(stream_protocol::socket::wait_write, [](std::error_code) {});
    arm_deadline(server_.limits().handshake_timeout, "no handshake in time");
    read_more();
}

std::size_t Session::share() const {
    return server_.output_share();
}

std::optional<Session::Clock::time_point> Session::stalled_since() const {
    if (!held_back_ || !open_)
        return std::nullopt;
    return stalled_at_;
}

bool Session::peer_gone() const {
    if (!open_)
        return true;
    pollfd p{const_cast<Session *>(this)->socket_.native_handle(), POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

void Session::arm_deadline(Clock::duration after, const char *what) {
    deadline_armed_ = true;
    const uint32_t generation = ++deadline_generation_;
    deadline_.expires_after(after);
    deadline_.async_wait([self = shared_from_this(), generation, what](std::error_code ec) {
        if (ec || !self->open_ || generation != self->deadline_generation_)
            return;
        self->drop(wire::Status::CommFailed, what, Log::Level::info);
    });
}

void Session::read_more() {
    if (reading_ || !open_ || close_after_write_)
        return;
    reading_ = true;
    socket_.async_read_some(
        asio::buffer(read_buffer_),
        [self = shared_from_this()](std::error_code ec, std::size_t n) { self->on_read(ec, n); });
}

void Session::on_read(std::error_code ec, std::size_t n) {
    reading_ = false;
    if (!open_)
        return;
    if (ec) {
        if (reader_.pending() > 0 && ec == asio::error::eof)
            drop(wire::Status::CommFailed, "connection ended inside a frame", Log::Level::info);
        else
            end();
        return;
    }
    reader_.append(std::span<const uint8_t>(read_buffer_.data(), n));
    handle_frames();
}

void Session::handle_frames() {
    // Replies of one batch go out in one write; a client whose answers pile up is held back
    // between two requests, the rest of its frames waiting in the reader. A client that
    // sends many requests at once has them handled kFramesPerTurn at a time, taking turns
    // with every other client, so that one request of another waits behind a few of each
    // flooder's, not behind all of them.
    corked_ = true;
    int frames = 0;
    bool more = false;
    while (open_ && !held_back_) {
        if (frames == kFramesPerTurn) {
            more = true;
            break;
        }
        ++frames;
        const auto status = reader_.next(payload_);
        if (status == wire::FrameReader::Status::NeedMore)
            break;
        if (status == wire::FrameReader::Status::Error) {
            drop(wire::Status::CommFailed, reader_.error());
            return;
        }
        auto decoded = wire::decode(payload_);
        if (!decoded.message) {
            drop(wire::Status::CommFailed, "malformed frame: " + decoded.error);
            return;
        }
        handle(*decoded.message);
        if (queued_bytes() > share() / 2 && open_) {
            held_back_ = true;  // not read again until its answers are read
            stalled_at_ = Clock::now();
        }
    }
    corked_ = false;
    if (!open_)
        return;
    // Once greeted, a frame begun must end in time; the handshake's deadline stays as it is.
    if (greeted_) {
        if (reader_.pending() == 0 || held_back_) {
            if (deadline_armed_) {
                deadline_armed_ = false;
                ++deadline_generation_;
                deadline_.cancel();
            }
        } else if (!deadline_armed_) {
            arm_deadline(server_.limits().frame_timeout, "a frame left unfinished");
        }
    }
    flush();
    if (held_back_ || !open_)
        return;
    if (more)
        asio::post(socket_.get_executor(), [self = shared_from_this()] {
            if (self->open_ && !self->held_back_)
                self->handle_frames();
        });
    else
        read_more();
}

void Session::handle(const wire::Message &m) {
    const Log &log = server_.log();
    if (!wire::is_request(m.body)) {
        drop(wire::Status::CommFailed, "sent a message only the service sends");
        return;
    }
    if (m.id == 0) {
        drop(wire::Status::CommFailed, "request without an id");
        return;
    }
    if (!greeted_ && !std::holds_alternative<wire::Hello>(m.body)) {
        drop(wire::Status::CommFailed, "request before the handshake");
        return;
    }
    Backend &backend = server_.backend();

    if (const auto *hello = std::get_if<wire::Hello>(&m.body)) {
        if (greeted_) {
            drop(wire::Status::CommFailed, "second handshake");
            return;
        }
        greeted_ = true;
        deadline_armed_ = false;
        ++deadline_generation_;
        deadline_.cancel();
        wire::Status status = wire::Status::Ok;
        if (hello->magic != wire::kMagic) {
            drop(wire::Status::CommFailed, "handshake without the protocol's magic number");
            return;
        }
        if (hello->min_version > wire::kVersion || hello->max_version < wire::kVersion)
            status = wire::Status::FirmwareMismatch;
        else
            status = backend.open_status();
        log.debug("client ", id_, ": open -> ", wire::status_name(status));
        send({m.id, wire::HelloReply{status, wire::kVersion}});
        if (status != wire::Status::Ok)
            close_after_write_ = true;
        return;
    }
    if (std::holds_alternative<wire::GetInfo>(m.body)) {
        log.debug("client ", id_, ": info");
        const DeviceInfo i = backend.info();
        send({m.id,
              wire::InfoReply{wire::Status::Ok, i.firmware, i.protocol, i.day, i.month, i.year}});
        return;
    }
    if (const auto *t = std::get_if<wire::Transmit>(&m.body)) {
        log.debug("client ", id_, ": send, repeat ", t->repeat);
        wire::Sendable sendable = wire::check_sendable(server_.toggles().fill(t->code), t->repeat);
        if (!sendable.signal) {
            refuse(m.id, sendable.refusal.status, sendable.refusal.why);
            return;
        }
        server_.queue_send(shared_from_this(), m.id, std::move(*sendable.signal), sendable.repeat);
        return;
    }
    if (const auto *r = std::get_if<wire::SetReceive>(&m.body)) {
        log.debug("client ", id_, r->enabled ? ": receive on" : ": receive off");
        receiving_ = r->enabled;
        send({m.id, wire::Reply{}});
        return;
    }
    if (const auto *p = std::get_if<wire::Press>(&m.body)) {
        log.debug("client ", id_, ": press for ", p->hold_ms, " ms");
        wire::Sendable sendable = wire::check_sendable(server_.toggles().fill(p->code), 1);
        if (!sendable.signal)
            refuse(m.id, sendable.refusal.status, sendable.refusal.why);
        else
            server_.press(shared_from_this(), m.id, *sendable.signal, p->hold_ms, p->quality);
        return;
    }
    if (const auto *start = std::get_if<wire::LearnStart>(&m.body)) {
        server_.start_learn(shared_from_this(), m.id, start->timeout_ms);
        return;
    }
    if (const auto *stop = std::get_if<wire::LearnStop>(&m.body)) {
        log.debug(
            "client ", id_,
            stop->mode == wire::LearnStop::FinishWithBurst ? ": finish learn" : ": cancel learn");
        server_.stop_learn(shared_from_this(), stop->mode == wire::LearnStop::FinishWithBurst);
        send({m.id, wire::Reply{}});
        return;
    }
    if (std::holds_alternative<wire::Hook>(m.body) ||
        std::holds_alternative<wire::Unhook>(m.body)) {
        const bool hooked = std::holds_alternative<wire::Hook>(m.body);
        log.debug("client ", id_, hooked ? ": hook" : ": unhook");
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

void Session::refuse(uint32_t id, wire::Status status, std::string why) {
    if (why.size() > wire::kMaxWhy)
        why.resize(wire::kMaxWhy);
    server_.log().debug("client ", id_, ": refused: ", why);
    send({id, wire::Refusal{status, std::move(why)}});
}

void Session::send(const wire::Message &message) {
    if (!open_)
        return;
    const std::size_t before = out_.size();
    if (!wire::encode_into(message, out_))
        return;  // not representable; callers only build bounded messages
    if (queued_bytes() > share()) {
        out_.resize(before);
        drop(wire::Status::ServiceBusy,
             "not reading: " + std::to_string(queued_bytes()) +
                 " bytes of answers and events wait, and one more would pass its share of " +
                 std::to_string(share()));
        return;
    }
    server_.output_changed(static_cast<std::ptrdiff_t>(out_.size() - before));
    if (!corked_)
        flush();
}

void Session::send(const wire::Message &first, const wire::Message &second) {
    const bool corked = corked_;
    corked_ = true;
    send(first);
    send(second);
    corked_ = corked;
    if (!corked_)
        flush();
}

void Session::flush() {
    if (write_waiting_ || !open_)
        return;
    const std::size_t before = queued_bytes();
    while (out_pos_ < out_.size()) {
        const ssize_t n = ::send(socket_.native_handle(), out_.data() + out_pos_,
                                 out_.size() - out_pos_, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            out_pos_ += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        server_.output_changed(-static_cast<std::ptrdiff_t>(before - queued_bytes()));
        end();  // the client is gone
        return;
    }
    server_.output_changed(-static_cast<std::ptrdiff_t>(before - queued_bytes()));
    if (out_pos_ == out_.size()) {
        out_.clear();
        out_pos_ = 0;
        if (out_.capacity() > kKeptCapacity)
            std::vector<uint8_t>().swap(out_);
        if (close_after_write_) {
            end();
            return;
        }
    } else {
        if (out_pos_ > out_.size() / 2) {  // keep the waiting bytes at the front
            out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(out_pos_));
            out_pos_ = 0;
        }
        write_waiting_ = true;
        socket_.async_wait(stream_protocol::socket::wait_write,
                           [self = shared_from_this()](std::error_code ec) {
                               self->write_waiting_ = false;
                               if (!self->open_)
                                   return;
                               if (ec) {
                                   self->end();
                                   return;
                               }
                               self->flush();
                           });
    }
    // Its answers read: a client held back for not reading is read again.
    if (held_back_ && queued_bytes() <= share() / 4 && open_ && !corked_) {
        held_back_ = false;
        handle_frames();  // the frames already read first
    }
}

void Session::end() {
    if (!open_)
        return;
    close_now();
}

void Session::drop(wire::Status status, const std::string &why, Log::Level level) {
    if (!open_)
        return;
    switch (level) {
        case Log::Level::error:
            server_.log().error("client ", id_, ": dropped: ", why);
            break;
        case Log::Level::warn:
            server_.log().warn("client ", id_, ": dropped: ", why);
            break;
        case Log::Level::info:
            server_.log().info("client ", id_, ": dropped: ", why);
            break;
        case Log::Level::debug:
            server_.log().debug("client ", id_, ": dropped: ", why);
            break;
    }
    // Told why when its output has room for it; written now or never.
    if (queued_bytes() + 64 + wire::kMaxWhy <= share() && !write_waiting_) {
        std::string text = why.substr(0, wire::kMaxWhy);
        const std::size_t before = out_.size();
        if (wire::encode_into({0, wire::Refusal{status, std::move(text)}}, out_)) {
            server_.output_changed(static_cast<std::ptrdiff_t>(out_.size() - before));
            const ssize_t n = ::send(socket_.native_handle(), out_.data() + out_pos_,
                                     out_.size() - out_pos_, MSG_DONTWAIT | MSG_NOSIGNAL);
            (void)n;
        }
    }
    close_now();
}

void Session::close_now() {
    open_ = false;
    server_.output_changed(-static_cast<std::ptrdiff_t>(queued_bytes()));
    out_pos_ = out_.size();
    ++deadline_generation_;
    deadline_.cancel();
    std::error_code ec;
    socket_.shutdown(asio::socket_base::shutdown_both, ec);
    socket_.close(ec);
    std::vector<uint8_t>().swap(out_);
    out_pos_ = 0;
    server_.session_closed(id_);
}

}  // namespace krvxd
