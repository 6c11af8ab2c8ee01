#include "server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "ir/pronto.h"
#include "ir/receive_code.h"
#include "session.h"
#include "wire/socket_path.h"

namespace krvxd {

using asio::local::stream_protocol;

Server::Server(asio::io_context &io, const Log &log, ServerLimits limits)
    : io_(io), log_(log), limits_(limits), acceptor_(io), uid_(::geteuid()), learn_timer_(io) {}

Server::~Server() {
    stop();
}

namespace {

// True when a service answers on `path` right now.
bool someone_listens(const std::string &path) {
    asio::io_context probe_io;
    stream_protocol::socket probe(probe_io);
    std::error_code ec;
    probe.connect(stream_protocol::endpoint(path), ec);
    return !ec;
}

}  // namespace

std::string Server::listen(const std::string &path) {
    if (path.empty() || path.size() > wire::max_socket_path())
        return "socket path is empty or longer than " + std::to_string(wire::max_socket_path()) +
               " bytes";
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            return path + " exists and is not a socket";
        if (someone_listens(path))
            return "another service already listens on " + path;
        ::unlink(path.c_str());
    }
    std::error_code ec;
    acceptor_.open(stream_protocol(), ec);
    if (!ec) {
        // The socket file gets mode 0600 from the start: no window where others may connect.
        const mode_t old_mask = ::umask(0177);
        acceptor_.bind(stream_protocol::endpoint(path), ec);
        ::umask(old_mask);
    }
    if (!ec)
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        acceptor_.close();
        return "cannot listen on " + path + ": " + ec.message();
    }
    ::chmod(path.c_str(), 0600);
    path_ = path;
    accept_next();
    return {};
}

void Server::accept_next() {
    acceptor_.async_accept([this, alive = std::weak_ptr<bool>(alive_)](
                               std::error_code ec, stream_protocol::socket socket) {
        if (alive.expired() || !acceptor_.is_open())
            return;
        if (!ec) {
            ucred cred{};
            socklen_t len = sizeof cred;
            if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 ||
                cred.uid != uid_) {
                log_.info("refused a client of user " + std::to_string(cred.uid) + " (pid " +
                          std::to_string(cred.pid) + ")");
                socket.close();
            } else {
                const uint64_t id = next_session_++;
                auto session = std::make_shared<Session>(*this, id, std::move(socket));
                sessions_.emplace(id, session);
                log_.debug("client " + std::to_string(id) + ": connected (pid " +
                           std::to_string(cred.pid) + ")");
                session->start();
            }
        } else if (ec != asio::error::operation_aborted) {
            log_.info("accept failed: " + ec.message());
        }
        accept_next();
    });
}

void Server::stop() {
    if (acceptor_.is_open()) {
        std::error_code ec;
        acceptor_.close(ec);
    }
    if (!path_.empty()) {
        ::unlink(path_.c_str());
        path_.clear();
    }
    auto sessions = std::move(sessions_);
    sessions_.clear();
    for (auto &[id, session] : sessions)
        session->close({});
    sends_.clear();
    queued_air_us_ = 0;
    learn_.reset();
    learn_timer_.cancel();
}

void Server::session_closed(uint64_t id) {
    if (sessions_.erase(id) > 0)
        log_.debug("client " + std::to_string(id) + ": disconnected");
    hooks_.erase(id);
    if (learn_ && learn_->owner == id)
        end_learn({LEARN_FAIL_CANCELLED, {}});
}

void Server::tell_hooks(const wire::Message &message, uint64_t except) {
    std::vector<std::shared_ptr<Session>> targets;
    for (uint64_t id : hooks_)
        if (id != except)
            if (auto s = session_of(id))
                targets.push_back(std::move(s));
    for (auto &s : targets)
        s->send(message);  // send() may drop a slow client
}

void Server::set_hook(const std::shared_ptr<Session> &session, bool hooked) {
    if (hooked)
        hooks_.insert(session->id());
    else
        hooks_.erase(session->id());
}

wire::Status Server::answer_hook(const std::shared_ptr<Session> &session,
                                 const wire::HookAnswer &answer) {
    if (hooks_.count(session->id()) == 0 || !learn_ || learn_->id != answer.learn_id ||
        learn_->owner == session->id())
        return wire::Status::InvalidArgument;
    if (answer.kind == wire::HookAnswer::Inject) {
        if (answer.code.size() > ir::kMaxProntoChars || !ir::is_valid_pronto(answer.code))
            return wire::Status::InvalidCode;
        log_.debug("client " + std::to_string(session->id()) + ": injects into learn " +
                   std::to_string(learn_->id));
        end_learn({LEARN_PROGRESS_DONE, answer.code});
        return wire::Status::Ok;
    }
    log_.debug("client " + std::to_string(session->id()) + ": accepts the burst of learn " +
               std::to_string(learn_->id));
    if (learn_->engine.usable())
        end_learn(learn_->engine.finish());
    else
        end_learn({LEARN_FAIL_ANSWERED_EMPTY, {}});
    return wire::Status::Ok;
}

std::shared_ptr<Session> Server::session_of(uint64_t id) const {
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second;
}

void Server::start_learn(const std::shared_ptr<Session> &session, uint32_t request_id) {
    if (learn_ && learn_->owner != session->id()) {
        session->send({request_id, wire::Reply{wire::Status::LearnBusy}});
        return;
    }
    if (device_lost_) {
        session->send({request_id, wire::Reply{wire::Status::CommFailed}});
        return;
    }
    if (learn_)
        end_learn({LEARN_FAIL_CANCELLED, {}});  // superseded by this one
    const uint32_t id = next_learn_id_++;
    if (next_learn_id_ == 0)
        next_learn_id_ = 1;
    learn_.emplace(ActiveLearn{id, session->id(), {}, false});
    log_.debug("client " + std::to_string(session->id()) + ": learn " + std::to_string(id));
    const int32_t status = backend_->set_learning(true);
    session->send({0, wire::LearnBegin{id, true}});
    session->send({request_id, wire::Reply{}});
    tell_hooks({0, wire::LearnBegin{id, false}}, session->id());
    if (status != 0) {
        // The learn cannot run: it ends at once, saying why, for the learner and the hooks.
        log_.info("learn " + std::to_string(id) + ": the device cannot learn (" +
                  std::to_string(status) + ")");
        end_learn({status < 0 ? status : LEARN_FAIL_CANNOT_LEARN, {}});
        return;
    }
    learn_timer_.expires_after(limits_.learn_timeout);
    learn_timer_.async_wait([this, id, alive = std::weak_ptr<bool>(alive_)](std::error_code ec) {
        if (ec || alive.expired() || !learn_ || learn_->id != id)
            return;
        end_learn({learn_->engine.failure_reason(), {}});
    });
}

void Server::stop_learn(const std::shared_ptr<Session> &session, bool with_burst) {
    if (!learn_ || learn_->owner != session->id())
        return;  // already ended: nothing to do
    if (with_burst && learn_->engine.usable())
        end_learn(learn_->engine.finish());
    else
        end_learn({LEARN_FAIL_CANCELLED, {}});
}

void Server::end_learn(const LearnOutcome &outcome) {
    if (!learn_)
        return;
    const ActiveLearn ended = std::move(*learn_);
    learn_.reset();
    learn_timer_.cancel();
    backend_->set_learning(false);
    log_.debug("learn " + std::to_string(ended.id) + " ended: " + std::to_string(outcome.result));
    const wire::Message end{0, wire::LearnEnd{ended.id, outcome.result, outcome.code}};
    if (auto owner = session_of(ended.owner))
        owner->send(end);
    tell_hooks(end, ended.owner);
}

void Server::queue_send(const std::shared_ptr<Session> &session, uint32_t request_id,
                        ir::Signal signal, int repeat) {
    if (device_lost_) {
        session->send({request_id, wire::Reply{wire::Status::CommFailed}});
        return;
    }
    // Tell the client when its send will have ended at the latest, so that it can tell a
    // queue behind other clients' sends from a hung service.
    const auto now = std::chrono::steady_clock::now();
    const uint64_t own_us = ir::air_time_us(signal, repeat);
    uint64_t wait_us = queued_air_us_;
    if (sending_ && on_air_until_ > now)
        wait_us += static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(on_air_until_ - now).count());
    session->send({request_id, wire::SendAccepted{wait_us + own_us}});
    ++session->pending_sends();
    queued_air_us_ += own_us;
    sends_.push_back({session, request_id, std::move(signal), repeat});
    start_next_send();
}

void Server::start_next_send() {
    while (!sending_ && !sends_.empty()) {
        PendingSend next = std::move(sends_.front());
        sends_.pop_front();
        const uint64_t air_us = ir::air_time_us(next.signal, next.repeat);
        queued_air_us_ -= std::min(queued_air_us_, air_us);
        auto session = next.session.lock();
        if (!session || !session->open())
            continue;  // its client left: nothing to send
        sending_ = true;
        on_air_until_ = std::chrono::steady_clock::now() + std::chrono::microseconds(air_us);
        backend_->transmit(next.signal, next.repeat,
                           [this, alive = std::weak_ptr<bool>(alive_), weak = next.session,
                            id = next.request_id](wire::Status status) {
                               if (alive.expired())
                                   return;
                               sending_ = false;
                               if (auto s = weak.lock()) {
                                   --s->pending_sends();
                                   s->send({id, wire::Reply{status}});
                               }
                               // Not recursive: the backend calls `done` from the loop.
                               asio::post(io_, [this, alive2 = std::weak_ptr<bool>(alive_)] {
                                   if (!alive2.expired())
                                       start_next_send();
                               });
                           });
    }
}

void Server::on_frame(const ReceivedFrame &frame) {
    if (learn_) {
        const LearnReport before = learn_->engine.report();
        const LearnReport r = learn_->engine.add(frame);
        // A report when something changed (noise alone changes nothing), and for the first
        // frame, so that a learner sees that IR arrives.
        if (r.progress != before.progress || r.quality != before.quality ||
            r.carrier_hz != before.carrier_hz || !learn_->reported) {
            learn_->reported = true;
            const wire::Message progress{
                0, wire::LearnProgress{learn_->id, r.progress, r.quality, r.carrier_hz}};
            const uint64_t owner_id = learn_->owner;
            if (auto owner = session_of(owner_id))
                owner->send(progress);
            tell_hooks(progress, owner_id);
        }
        if (learn_ && learn_->engine.complete())
            end_learn(learn_->engine.finish());
    }
    if (!frame.burst_start || !frame.report_code || frame.durations_us.empty())
        return;
    tell_receivers(ir::receive_code(frame.durations_us));
}

void Server::on_receive_code(const std::string &code) {
    tell_receivers(code);
}

void Server::tell_receivers(const std::string &code) {
    log_.debug("received " + code);
    const wire::Message event{0, wire::Received{code}};
    // send() may close a slow client and so change the table: iterate over a copy.
    std::vector<std::shared_ptr<Session>> listeners;
    for (auto &[id, session] : sessions_)
        if (session->receiving())
            listeners.push_back(session);
    for (auto &s : listeners)
        s->send(event);
}

void Server::on_device_lost(const std::string &reason) {
    if (device_lost_)
        return;
    device_lost_ = true;
    log_.info("device lost: " + reason);
    end_learn({LEARN_FAIL_DEVICE_LOST, {}});
    std::vector<std::shared_ptr<Session>> all;
    for (auto &[id, session] : sessions_)
        all.push_back(session);
    for (auto &s : all)
        s->send({0, wire::DeviceLost{}});
}

void Server::on_device_back() {
    if (!device_lost_)
        return;
    device_lost_ = false;
    log_.info("device back: serving it again");
}

}  // namespace krvxd
