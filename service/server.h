// SPDX-License-Identifier: MIT
// krvxd's socket server: accepts clients, speaks the wire protocol with each, and owns the
// service-wide rules (one send at a time on the device, received codes to every listening
// client).
//
// Threads: everything runs on the one loop thread that runs the io_context given to the
// constructor; no member may be called from another thread. The Log outlives the Server.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "backend.h"
#include "learn/learn_engine.h"
#include "toggles.h"
#include "log.h"
#include "wire/protocol.h"

namespace krvxd {

class Session;

// Every bound of the service: what one client and all of them together may hold.
struct ServerLimits {
    /// Clients at once; one more is refused with ServiceBusy (or takes the place of a
    /// client that has not read its answers for a while).
    std::size_t max_clients = 256;
    /// Bytes of replies and events waiting for all clients together. Each client's share is
    /// output_budget / max_clients; see session.h for what happens at half and at all of it.
    std::size_t output_budget = 16 << 20;
    /// A client must send its Hello within this time of connecting.
    std::chrono::milliseconds handshake_timeout{2000};
    /// A frame begun must be complete within this time.
    std::chrono::milliseconds frame_timeout{10000};
    /// Sends of one client waiting for the device (or on air), and of all clients.
    std::size_t max_pending_sends = 8;
    std::size_t max_queued_sends = 64;
    /// Presses held in front of the simulated receiver at once, per client and in all.
    std::size_t max_client_presses = 4;
    std::size_t max_presses = 16;
    /// Longest press a client may ask for.
    uint32_t max_hold_ms = 60000;
    /// A learn that has not completed by then ends (with what it captured, as a failure).
    std::chrono::milliseconds learn_timeout{10000};
};

class Server final : public BackendListener {
  public:
    Server(asio::io_context &io, const Log &log, ServerLimits limits = {});
    ~Server();
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    /// The device; set once, before listen(). The Backend outlives the Server's use of it.
    void set_backend(Backend *backend) { backend_ = backend; }

    /// Binds `path` and starts accepting. The socket has mode 0600 from the moment it exists
    /// (set on the socket before bind, whatever the umask); the path is never changed
    /// afterwards. A stale socket file is replaced; a path that a live service answers on,
    /// or that is not a socket, is refused. Returns an empty string or the reason it failed.
    std::string listen(const std::string &path);

    /// Closes the socket, removes its file (when it is still the one bound) and ends every
    /// client.
    void stop();

    // BackendListener, on the loop.
    void on_frame(const ReceivedFrame &frame) override;
    void on_device_lost(const std::string &reason) override;
    void on_device_back() override;
    void on_receive_code(const std::string &code) override;
    bool device_lost() const { return device_lost_; }

    // For sessions.
    Backend &backend() { return *backend_; }
    const Log &log() const { return log_; }
    const ServerLimits &limits() const { return limits_; }
    /// Queues a send of `session` (answered with SendAccepted, then its Reply), or refuses it
    /// while the device is lost or too many sends wait. A send whose client has hung up by
    /// the time its turn comes is not sent; one whose client leaves while it is on air stops
    /// after the frame on air.
    void queue_send(const std::shared_ptr<Session> &session, uint32_t request_id, ir::Signal signal,
                    int repeat);
    /// A press of the virtual remote, within the press limits; answers the request.
    void press(const std::shared_ptr<Session> &session, uint32_t request_id,
               const ir::Signal &signal, uint32_t hold_ms, uint8_t quality);
    void session_closed(uint64_t id);
    /// Every session tells the server how its waiting output grew or shrank.
    void output_changed(std::ptrdiff_t delta) { queued_output_ += static_cast<std::size_t>(delta); }
    std::size_t output_share() const { return limits_.output_budget / limits_.max_clients; }
    /// Bytes of output waiting for all clients together.
    std::size_t queued_output() const { return queued_output_; }

    /// Own learn of `session` (one learn at a time on the device). Answers the request: a
    /// LearnBegin event and then Reply 0, or Reply ERR_LEARN_BUSY while another client
    /// learns, or ERR_INVALID_ARGUMENT for a timeout beyond wire::kMaxLearnTimeoutMs. A
    /// second learn of the same client ends its first one (superseded). The learn fails
    /// when it has not completed after timeout_ms (0: limits().learn_timeout).
    void start_learn(const std::shared_ptr<Session> &session, uint32_t request_id,
                     uint32_t timeout_ms);
    /// Ends `session`'s own learn: with the burst captured so far (when usable) or cancelled.
    void stop_learn(const std::shared_ptr<Session> &session, bool with_burst);

    /// Registers or removes `session` as a hook: it is told of every learn another client
    /// runs (LearnBegin with own = false, its progress, its LearnEnd with the code that
    /// client received) and may answer it; of one already running as it registers, too.
    void set_hook(const std::shared_ptr<Session> &session, bool hooked);
    /// A hook's answer to the running learn; the first answer wins. Returns Ok, or
    /// InvalidArgument (not hooked, no such learn, already answered, its own learn) or
    /// InvalidCode (an injected text that is not a valid code).
    wire::Status answer_hook(const std::shared_ptr<Session> &session,
                             const wire::HookAnswer &answer);
    std::size_t client_count() const { return sessions_.size(); }
    /// The device's toggle values of protocol codes sent without one (toggles.h).
    Toggles &toggles() { return toggles_; }

  private:
    struct PendingSend {
        std::weak_ptr<Session> session;
        uint32_t request_id;
        ir::Signal signal;
        int repeat;
    };
    struct ActiveLearn {
        uint32_t id;
        uint64_t owner;
        LearnEngine engine;
        bool reported = false;  ///< a progress report went out
    };
    void accept_next();
    void on_accept(std::error_code ec, asio::local::stream_protocol::socket socket);
    /// Makes room for one more client by dropping the one that has not read its answers for
    /// the longest time (a second at least); false when every client reads.
    bool make_room();
    void pause_accepting(const std::error_code &ec);
    void resume_accepting();
    /// Tells every receiving client the code, after what the frame is when there is one.
    void tell_receivers(const std::string &code, const ReceivedFrame *frame = nullptr);
    /// Ends the running learn for its owner and the hooks; `answer` says whether a hook's
    /// answer ended it.
    void end_learn(const LearnOutcome &outcome, uint8_t answer = wire::LearnEnd::None);
    /// Sends `message` to every hooked client but `except` (the learning client).
    void tell_hooks(const wire::Message &message, uint64_t except);
    std::shared_ptr<Session> session_of(uint64_t id) const;
    void start_next_send();

    asio::io_context &io_;
    Backend *backend_ = nullptr;
    const Log &log_;
    ServerLimits limits_;
    asio::local::stream_protocol::acceptor acceptor_;
    std::string path_;
    dev_t path_dev_ = 0;  ///< the socket file bound, removed at stop() only if still there
    ino_t path_ino_ = 0;
    uid_t uid_;
    bool accept_paused_ = false;  ///< out of descriptors: accepting resumes when one is free
    asio::steady_timer accept_retry_;
    bool at_capacity_ = false;  ///< the client limit was reached (logged once per episode)
    std::size_t refused_at_capacity_ = 0;
    std::size_t queued_output_ = 0;
    std::size_t presses_ = 0;      ///< presses held now, all clients
    uint64_t sending_client_ = 0;  ///< the client whose send is on air
    asio::steady_timer trim_timer_;
    bool trim_pending_ = false;
    uint64_t next_session_ = 1;
    std::map<uint64_t, std::shared_ptr<Session>> sessions_;
    std::deque<PendingSend> sends_;
    bool sending_ = false;
    /// When the send on air ends, at real air time (an upper bound under a time scale).
    std::chrono::steady_clock::time_point on_air_until_{};
    uint64_t queued_air_us_ = 0;  ///< air time of the sends waiting in sends_
    bool device_lost_ = false;
    std::optional<ActiveLearn> learn_;
    std::set<uint64_t> hooks_;  ///< sessions registered as hooks
    Toggles toggles_;
    uint32_t next_learn_id_ = 1;
    asio::steady_timer learn_timer_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace krvxd
