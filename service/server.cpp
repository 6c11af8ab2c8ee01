// SPDX-License-Identifier: MIT
#include "server.h"

#include <malloc.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "frame_decode.h"
#include "ir/pronto.h"
#include "ir/receive_code.h"
#include "session.h"
#include "wire/socket_path.h"

namespace krvxd {

using asio::local::stream_protocol;

Server::Server(asio::io_context &io, const Log &log, ServerLimits limits)
    : io_(io),
      log_(log),
      limits_(limits),
      acceptor_(io),
      uid_(::geteuid()),
      accept_retry_(io),
      trim_timer_(io),
      learn_timer_(io) {
    limits_.max_clients = std::max<std::size_t>(limits_.max_clients, 1);
}

Server::~Server() {
    stop();
}

namespace {

// True when a service listens on `path` right now. Never waits: a service that is stopped
// with its backlog full still counts (EAGAIN) and must not hold this one's start.
bool someone_listens(const std::string &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    int r = 0;
    do
        r = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr);
    while (r != 0 && errno == EINTR);
    const bool listens = r == 0 || errno == EAGAIN;
    ::close(fd);
    return listens;
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
    // The socket file takes its mode from the socket when bind creates it: 0600 from the
    // first moment, whatever the umask, and the path is never touched again (a name can be
    // swapped for a link to another file between two calls that use it).
    if (!ec && ::fchmod(acceptor_.native_handle(), 0600) != 0)
        ec.assign(errno, std::generic_category());
    if (!ec)
        acceptor_.bind(stream_protocol::endpoint(path), ec);
    if (!ec)
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        acceptor_.close();
        return "cannot listen on " + path + ": " + ec.message();
    }
    if (::lstat(path.c_str(), &st) == 0) {
        path_dev_ = st.st_dev;
        path_ino_ = st.st_ino;
    }
    path_ = path;
    accept_next();
    return {};
}

void Server::accept_next() {
    if (accept_paused_ || !acceptor_.is_open())
        return;
    acceptor_.async_accept([this, alive = std::weak_ptr<bool>(alive_)](
                               std::error_code ec, stream_protocol::socket socket) {
        if (alive.expired() || !acceptor_.is_open())
            return;
        on_accept(ec, std::move(socket));
    });
}

void Server::on_accept(std::error_code ec, stream_protocol::socket socket) {
    if (ec == asio::error::operation_aborted)
        return;
    if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space ||
        ec == asio::error::no_memory || ec.value() == ENFILE) {
        pause_accepting(ec);
        return;
    }
    if (accept_paused_ || ec) {
        if (ec)
            log_.debug("accept: ", ec.message());
        accept_next();
        return;
    }
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(socket.native_handle(), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 ||
        cred.uid != uid_) {
        log_.warn("refused a client of user ", cred.uid, " (pid ", cred.pid, ")");
        socket.close();
        accept_next();
        return;
    }
    if (sessions_.size() >= limits_.max_clients && !make_room()) {
        // Told why, in the one frame its empty socket buffer certainly takes.
        const auto frame = wire::encode(
            {0, wire::Refusal{wire::Status::ServiceBusy, "krvxd serves its limit of " +
                                                             std::to_string(limits_.max_clients) +
                                                             " clients; try again later"}});
        (void)!::send(socket.native_handle(), frame.data(), frame.size(),
                      MSG_DONTWAIT | MSG_NOSIGNAL);
        socket.close();
        if (!at_capacity_) {
            at_capacity_ = true;
            log_.warn("the limit of ", limits_.max_clients,
                      " clients is reached: new clients are refused until one leaves");
        }
        ++refused_at_capacity_;
        accept_next();
        return;
    }
    const uint64_t id = next_session_++;
    auto session = std::make_shared<Session>(*this, id, std::move(socket));
    sessions_.emplace(id, session);
    log_.debug("client ", id, ": connected (pid ", cred.pid, ")");
    session->start();
    accept_next();
}

bool Server::make_room() {
    const auto now = Session::Clock::now();
    std::shared_ptr<Session> oldest;
    Session::Clock::time_point oldest_since = now - std::chrono::seconds(1);
    for (auto &[id, session] : sessions_)
        if (const auto since = session->stalled_since(); since && *since <= oldest_since) {
            oldest = session;
            oldest_since = *since;
        }
    if (!oldest)
        return false;
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(now - oldest_since).count();
    oldest->drop(wire::Status::ServiceBusy, "not reading its answers for " +
                                                std::to_string(seconds) +
                                                " s, and a new client needs its place");
    return true;
}

void Server::pause_accepting(const std::error_code &ec) {
    // Accepting again at once would fail again at once: a busy loop and a log line each time.
    // Accepting resumes when a client leaves (a descriptor is free), or after a second.
    if (!accept_paused_)
        log_.error("cannot accept clients: ", ec.message(), " (", sessions_.size(),
                   " clients); accepting again when one leaves");
    accept_paused_ = true;
    accept_retry_.expires_after(std::chrono::seconds(1));
    accept_retry_.async_wait([this, alive = std::weak_ptr<bool>(alive_)](std::error_code e) {
        if (!e && !alive.expired())
            resume_accepting();
    });
}

void Server::resume_accepting() {
    if (!accept_paused_)
        return;
    accept_paused_ = false;
    accept_retry_.cancel();
    accept_next();
}

void Server::stop() {
    if (acceptor_.is_open()) {
        std::error_code ec;
        acceptor_.close(ec);
    }
    accept_retry_.cancel();
    trim_timer_.cancel();
    if (!path_.empty()) {
        // Only the socket this service bound: never what someone put in its place.
        struct stat st {};
        if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_dev == path_dev_ &&
            st.st_ino == path_ino_)
            ::unlink(path_.c_str());
        path_.clear();
    }
    auto sessions = std::move(sessions_);
    sessions_.clear();
    for (auto &[id, session] : sessions)
        session->end();
    sends_.clear();
    queued_air_us_ = 0;
    learn_.reset();
    learn_timer_.cancel();
}

void Server::session_closed(uint64_t id) {
    if (sessions_.erase(id) > 0)
        log_.debug("client ", id, ": disconnected");
    if (sending_ && sending_client_ == id) {
        log_.info("client ", id, " left during its send: it stops after the frame on air");
        backend_->cancel_transmit();
    }
    if (at_capacity_ && sessions_.size() < limits_.max_clients) {
        at_capacity_ = false;
        log_.info("below the client limit again; ", refused_at_capacity_,
                  " clients were refused meanwhile");
        refused_at_capacity_ = 0;
    }
    if (accept_paused_) {
        log_.info("accepting clients again");
        resume_accepting();
    }
    // Memory freed by clients that left goes back to the system a moment later, once for
    // any number of them.
    if (!trim_pending_) {
        trim_pending_ = true;
        trim_timer_.expires_after(std::chrono::seconds(1));
        trim_timer_.async_wait([this, alive = std::weak_ptr<bool>(alive_)](std::error_code ec) {
            if (ec || alive.expired())
                return;
            trim_pending_ = false;
            ::malloc_trim(0);
        });
    }
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
    if (!hooked) {
        hooks_.erase(session->id());
        return;
    }
    hooks_.insert(session->id());
    // Registered while another client learns: told of that learn at once (and of how far it
    // got), so that it also hears its end. The registration's Reply follows these events.
    if (learn_ && learn_->owner != session->id()) {
        session->send({0, wire::LearnBegin{learn_->id, false}});
        if (learn_->reported) {
            const LearnReport r = learn_->engine.report();
            session->send(
                {0, wire::LearnProgress{learn_->id, r.progress, r.quality, r.carrier_hz}});
        }
    }
}

wire::Status Server::answer_hook(const std::shared_ptr<Session> &session,
                                 const wire::HookAnswer &answer) {
    if (hooks_.count(session->id()) == 0 || !learn_ || learn_->id != answer.learn_id ||
        learn_->owner == session->id())
        return wire::Status::InvalidArgument;
    if (answer.kind == wire::HookAnswer::Inject) {
        if (answer.code.size() > ir::kMaxProntoChars || !ir::is_valid_pronto(answer.code)) {
            log_.debug("client " + std::to_string(session->id()) + ": its answer to learn " +
                       std::to_string(learn_->id) +
                       " is no valid code: refused, the learn goes on");
            return wire::Status::InvalidCode;
        }
        log_.debug("client " + std::to_string(session->id()) + ": injects into learn " +
                   std::to_string(learn_->id));
        end_learn({LEARN_PROGRESS_DONE, answer.code}, wire::LearnEnd::Injected);
        return wire::Status::Ok;
    }
    log_.debug("client " + std::to_string(session->id()) + ": accepts the burst of learn " +
               std::to_string(learn_->id));
    if (learn_->engine.usable())
        end_learn(learn_->engine.finish(), wire::LearnEnd::BurstAccepted);
    else
        end_learn({LEARN_FAIL_ANSWERED_EMPTY, {}}, wire::LearnEnd::BurstAccepted);
    return wire::Status::Ok;
}

std::shared_ptr<Session> Server::session_of(uint64_t id) const {
    auto it = sessions_.find(id);
    return it == sessions_.end() ? nullptr : it->second;
}

void Server::start_learn(const std::shared_ptr<Session> &session, uint32_t request_id,
                         uint32_t timeout_ms) {
    if (timeout_ms > wire::kMaxLearnTimeoutMs) {
        session->send({request_id, wire::Reply{wire::Status::InvalidArgument}});
        return;
    }
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
    learn_timer_.expires_after(timeout_ms == 0 ? limits_.learn_timeout
                                               : std::chrono::milliseconds(timeout_ms));
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

void Server::end_learn(const LearnOutcome &outcome, uint8_t answer) {
    if (!learn_)
        return;
    const ActiveLearn ended = std::move(*learn_);
    learn_.reset();
    learn_timer_.cancel();
    backend_->set_learning(false);
    log_.debug("learn " + std::to_string(ended.id) + " ended: " + std::to_string(outcome.result));
    wire::LearnEnd told{ended.id, outcome.result, outcome.code, answer};
    if (outcome.result == LEARN_PROGRESS_DONE && answer != wire::LearnEnd::Injected) {
        // How the code was built; a snapped code whose decode would not fit stays unsaid.
        if (!outcome.snapped) {
            told.shape = wire::LearnEnd::Averaged;
        } else if (!outcome.decode.empty() && outcome.decode.size() <= wire::kMaxDecode) {
            told.shape = wire::LearnEnd::Snapped;
            told.decode = outcome.decode;
        }
    }
    const wire::Message end{0, std::move(told)};
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
    if (session->pending_sends() >= limits_.max_pending_sends) {
        session->refuse(request_id, wire::Status::ServiceBusy,
                        "this client has " + std::to_string(session->pending_sends()) +
                            " sends waiting already");
        return;
    }
    if (sends_.size() >= limits_.max_queued_sends) {
        session->refuse(request_id, wire::Status::ServiceBusy,
                        std::to_string(sends_.size()) + " sends wait for the device already");
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
        if (session->peer_gone()) {
            // It gave up waiting (a timeout closes the connection): sending now would put on
            // air what it was told had failed.
            log_.info("client ", session->id(), " gave up before its send went on air: not sent");
            --session->pending_sends();
            continue;
        }
        sending_ = true;
        sending_client_ = session->id();
        on_air_until_ = std::chrono::steady_clock::now() + std::chrono::microseconds(air_us);
        backend_->transmit(next.signal, next.repeat,
                           [this, alive = std::weak_ptr<bool>(alive_), weak = next.session,
                            id = next.request_id](wire::Status status) {
                               if (alive.expired())
                                   return;
                               sending_ = false;
                               sending_client_ = 0;
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

void Server::press(const std::shared_ptr<Session> &session, uint32_t request_id,
                   const ir::Signal &signal, uint32_t hold_ms, uint8_t quality) {
    if (hold_ms > limits_.max_hold_ms) {
        session->refuse(
            request_id, wire::Status::InvalidArgument,
            "a press is held for at most " + std::to_string(limits_.max_hold_ms) + " ms");
        return;
    }
    if (session->presses() >= limits_.max_client_presses) {
        session->refuse(
            request_id, wire::Status::ServiceBusy,
            "this client holds " + std::to_string(session->presses()) + " presses already");
        return;
    }
    if (presses_ >= limits_.max_presses) {
        session->refuse(request_id, wire::Status::ServiceBusy,
                        std::to_string(presses_) + " presses are held already");
        return;
    }
    if (session->peer_gone())
        return;  // it gave up waiting: nothing to do for it
    const wire::Status status = backend_->press(
        signal, hold_ms, quality,
        [this, alive = std::weak_ptr<bool>(alive_), weak = std::weak_ptr<Session>(session)] {
            if (alive.expired())
                return;
            --presses_;
            if (auto s = weak.lock())
                --s->presses();
        });
    if (status == wire::Status::Ok) {
        ++presses_;
        ++session->presses();
    }
    session->send({request_id, wire::Reply{status}});
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
    tell_receivers(ir::receive_code(frame.durations_us), &frame);
}

void Server::on_receive_code(const std::string &code) {
    tell_receivers(code);
}

void Server::tell_receivers(const std::string &code, const ReceivedFrame *frame) {
    log_.debug("received ", code);
    const wire::Message event{0, wire::Received{code}};
    std::optional<wire::Message> described;
    if (frame != nullptr)
        described = wire::Message{0, describe_frame(code, *frame)};
    // send() may close a slow client and so change the table: iterate over a copy.
    std::vector<std::shared_ptr<Session>> listeners;
    for (auto &[id, session] : sessions_)
        if (session->receiving())
            listeners.push_back(session);
    for (auto &s : listeners) {
        if (described)
            s->send(*described, event);  // what the frame is, then its code, in one write
        else
            s->send(event);
    }
}

void Server::on_device_lost(const std::string &reason) {
    if (device_lost_)
        return;
    device_lost_ = true;
    log_.error("device lost: ", reason);
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
