// SPDX-License-Identifier: MIT
#include "connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include <cstdlib>

#include "ir/pronto.h"
#include "last_error.h"

namespace krvxdrv {

using Clock = std::chrono::steady_clock;

namespace {

// A 12-character receive code of upper-case hex digits; anything else is not passed on.
bool plausible_receive_code(const std::string &code) {
    if (code.size() != KRVX_RECEIVE_CODE_LENGTH)
        return false;
    for (char c : code)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return true;
}

// Runs the frame callback with the event's data in the callback's record: the decode text
// "PROTOCOL NAME=VALUE ..." split into protocol and parameters, the kernel text
// "name:0xSCANCODE" into name and number. Text that does not have that shape (a newer or a
// confused service) reads as no decode.
void deliver_frame(const wire::ReceivedFrame &f, KRVXReceiveFrameCallback callback,
                   void *user_data) {
    const std::size_t blank = f.decode.find(' ');
    const std::string protocol = f.decode.substr(0, blank);
    const std::string params = blank == std::string::npos ? "" : f.decode.substr(blank + 1);
    std::string kernel;
    uint32_t scancode = 0;
    const std::size_t colon = f.kernel.find(':');
    if (colon != std::string::npos && f.kernel.compare(colon + 1, 2, "0x") == 0) {
        char *end = nullptr;
        const unsigned long v = std::strtoul(f.kernel.c_str() + colon + 3, &end, 16);
        if (end != nullptr && *end == '\0' && end != f.kernel.c_str() + colon + 3 &&
            v <= 0xFFFFFFFFul) {
            kernel = f.kernel.substr(0, colon);
            scancode = static_cast<uint32_t>(v);
        }
    }
    const KRVXReceivedFrame record{sizeof(KRVXReceivedFrame),
                                   scancode,
                                   f.carrier_hz,
                                   static_cast<uint32_t>(f.durations_us.size()),
                                   f.code.c_str(),
                                   protocol.c_str(),
                                   params.c_str(),
                                   kernel.c_str(),
                                   f.durations_us.data()};
    callback(&record, user_data);
}

// The reply as a caller gets it: a Refusal becomes nullopt with its status in `error`, its
// reason noted for KRVXErrorText; anything else sets `error` to 0.
std::optional<wire::Message> unless_refused(std::optional<wire::Message> reply, int32_t &error) {
    if (const auto *refusal = std::get_if<wire::Refusal>(&reply->body)) {
        error = wire::to_int(refusal->status);
        note_failure({refusal->status, refusal->why});
        return std::nullopt;
    }
    error = 0;
    return reply;
}

// How late a direct request's blocking read may end after its deadline; below this the
// socket's receive timeout is not set again for every request.
constexpr long kReceiveTimeoutSlackUs = 10000;

struct FdGuard {
    int fd;
    ~FdGuard() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

}  // namespace

Connection::OpenResult Connection::open(const std::string &socket_path) {
    const auto deadline = Clock::now() + kAnswerTimeout;
    wire::Client client;
    wire::Outcome outcome = client.connect(socket_path, deadline);
    if (outcome.ok())
        outcome = client.hello(deadline);
    if (!outcome.ok())
        return {nullptr, std::move(outcome)};
    wire::FrameReader reader = client.take_reader();
    FdGuard fd{client.release_fd()};
    // Blocking, so that a direct request waits in its read (with SO_RCVTIMEO as deadline);
    // every other send and receive on it passes MSG_DONTWAIT.
    if (const int flags = ::fcntl(fd.fd, F_GETFL);
        flags < 0 || ::fcntl(fd.fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return {nullptr, {wire::Status::CommFailed, "cannot set up the connection's socket"}};
    std::shared_ptr<Connection> c(new Connection(fd.fd, std::move(reader)));
    fd.release();  // c's destructor closes it
    if (c->wake_fd_ < 0)
        return {nullptr, {wire::Status::CommFailed, "cannot create an event descriptor"}};
    // The thread holds the connection: it may outlive the handle when closed from inside
    // one of its own callbacks.
    {
        std::lock_guard lock(c->mutex_);  // run() starts by taking it: it sees both members
        c->thread_ = std::thread([c] { c->run(); });
        c->thread_id_ = c->thread_.get_id();
    }
    return {c, {}};
}

Connection::Connection(int fd, wire::FrameReader reader)
    : fd_(fd), wake_fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), reader_(std::move(reader)) {}

Connection::~Connection() {
    if (thread_.joinable()) {
        if (std::this_thread::get_id() == thread_.get_id()) {
            thread_.detach();
        } else {
            shutdown();
        }
    }
    if (fd_ >= 0)
        ::close(fd_);
    if (wake_fd_ >= 0)
        ::close(wake_fd_);
}

bool Connection::on_library_thread() const {
    return std::this_thread::get_id() == thread_id_;
}

void Connection::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        receive_callback_ = nullptr;
        if (caller_reads_)
            ::shutdown(fd_, SHUT_RDWR);  // ends the direct read at once
    }
    replies_cv_.notify_all();
    const uint64_t one = 1;
    if (wake_fd_ >= 0)
        (void)!::write(wake_fd_, &one, sizeof one);
    if (!thread_.joinable())
        return;
    if (on_library_thread())
        thread_.detach();  // ends when the running callback returns
    else
        thread_.join();
}

void Connection::mark_dead() {
    {
        std::lock_guard lock(mutex_);
        dead_ = true;
        library_reads_ = false;  // the library thread ends
        if (death_.why.empty())
            death_ = {wire::Status::CommFailed, "krvxd ended the connection"};
    }
    replies_cv_.notify_all();
}

bool Connection::set_receive_callback(KRVXReceiveCallback callback, void *user_data) {
    std::lock_guard lock(mutex_);
    receive_callback_ = callback;
    receive_user_data_ = user_data;
    return receive_callback_ != nullptr || frame_callback_ != nullptr;
}

bool Connection::set_frame_callback(KRVXReceiveFrameCallback callback, void *user_data) {
    std::lock_guard lock(mutex_);
    frame_callback_ = callback;
    frame_user_data_ = user_data;
    return receive_callback_ != nullptr || frame_callback_ != nullptr;
}

std::optional<wire::Message> Connection::request(wire::Body body, std::chrono::milliseconds timeout,
                                                 int32_t &error) {
    auto deadline = Clock::now() + timeout;
    error = ERR_COMM_FAILED;
    // Only the library thread reads replies: waiting on it from inside a callback would
    // wait for itself until the timeout.
    if (on_library_thread()) {
        error = ERR_INVALID_ARGUMENT;
        return std::nullopt;
    }
    uint32_t id = 0;
    bool direct = false, wake = false;
    {
        std::lock_guard lock(mutex_);
        if (dead_ || stopping_) {
            note_failure({wire::Status::CommFailed, death_.why});
            return std::nullopt;
        }
        id = next_id_++;
        if (next_id_ == 0)
            next_id_ = 1;
        direct = !library_reads_ && !caller_reads_ && !events_expected();
        if (direct) {
            caller_reads_ = true;
        } else {
            pending_[id];
            wake = !library_reads_;  // it reads from its next turn on
        }
    }
    if (wake)
        wake_library_thread();
    const auto frame = wire::encode({id, std::move(body)});
    if (direct)
        return request_direct(id, frame, deadline, timeout, error);
    bool written = false;
    if (!frame.empty()) {
        std::lock_guard write_lock(write_mutex_);
        written = wire::write_frame(fd_, frame, deadline);
    }
    std::unique_lock lock(mutex_);
    if (!written) {
        pending_.erase(id);
        if (frame.empty()) {
            error = ERR_INVALID_ARGUMENT;
            return std::nullopt;
        }
        // A frame cut short would corrupt the stream: end the connection.
        end_connection(lock, {wire::Status::CommFailed, "krvxd did not take a request within " +
                                                            std::to_string(timeout.count()) +
                                                            " ms: the connection is closed"});
        return std::nullopt;
    }
    bool timed_out = false;
    for (;;) {
        auto &slot = pending_[id];
        if (slot.reply || dead_ || stopping_)
            break;
        if (slot.extended_until > deadline)
            deadline = slot.extended_until;
        if (replies_cv_.wait_until(lock, deadline) == std::cv_status::timeout &&
            pending_[id].extended_until <= deadline && !pending_[id].reply) {
            timed_out = true;
            break;
        }
    }
    auto reply = std::move(pending_[id].reply);
    pending_.erase(id);
    if (timed_out && !dead_ && !stopping_) {
        // The service may wake up and read the request later: it must not carry it out
        // then. Closing the connection tells it that this client gave up.
        end_connection(lock, {wire::Status::CommFailed,
                              "krvxd did not answer in time: the connection is closed; open "
                              "the device again"});
        return std::nullopt;
    }
    if (!reply) {
        note_failure({wire::Status::CommFailed, death_.why});
        return std::nullopt;
    }
    return unless_refused(std::move(reply), error);
}

void Connection::end_connection(std::unique_lock<std::mutex> &lock, wire::Outcome why) {
    dead_ = true;
    if (death_.why.empty())
        death_ = std::move(why);
    note_failure({wire::Status::CommFailed, death_.why});
    ::shutdown(fd_, SHUT_RDWR);  // the library thread sees the end and fails a running learn
    lock.unlock();
    replies_cv_.notify_all();
    wake_library_thread();  // also when it does not read the socket: it ends
}

void Connection::wake_library_thread() {
    const uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
}

bool Connection::events_expected() const {
    if (receive_callback_ != nullptr || frame_callback_ != nullptr || learn_ || hook_)
        return true;
    return std::any_of(pending_.begin(), pending_.end(),
                       [](const auto &p) { return !p.second.reply; });
}

std::optional<wire::Message> Connection::request_direct(uint32_t id,
                                                        const std::vector<uint8_t> &frame,
                                                        Clock::time_point deadline,
                                                        std::chrono::milliseconds timeout,
                                                        int32_t &error) {
    std::optional<wire::Message> reply;
    DirectEnd end = DirectEnd::Closed;
    bool written = false;
    if (!frame.empty()) {
        {
            std::lock_guard write_lock(write_mutex_);
            written = wire::write_frame(fd_, frame, deadline);
        }
        // Not taken: a service that has gone left its last words and the end of the stream;
        // one that is only stuck left nothing.
        end = read_direct(id, deadline, written, reply);
    }
    std::unique_lock lock(mutex_);
    caller_reads_ = false;  // the socket goes back; the library thread reads when it must
    const bool wake = events_expected();
    if (frame.empty()) {
        error = ERR_INVALID_ARGUMENT;
        return std::nullopt;
    }
    if (end == DirectEnd::TimedOut && !dead_ && !stopping_) {
        // As on the waiting path: the service must not carry the request out later.
        end_connection(lock, {wire::Status::CommFailed,
                              written ? "krvxd did not answer in time: the connection is closed; "
                                        "open the device again"
                                      : "krvxd did not take a request within " +
                                            std::to_string(timeout.count()) +
                                            " ms: the connection is closed"});
        return std::nullopt;
    }
    if (end != DirectEnd::Reply) {
        if (!dead_ && !stopping_) {
            dead_ = true;
            if (death_.why.empty())
                death_ = {wire::Status::CommFailed, "krvxd ended the connection"};
            ::shutdown(fd_, SHUT_RDWR);
        }
        note_failure({wire::Status::CommFailed, death_.why});
        lock.unlock();
        replies_cv_.notify_all();
        wake_library_thread();  // it ends (or, with waiters, reads the end of the stream)
        return std::nullopt;
    }
    lock.unlock();
    if (wake)
        wake_library_thread();
    return unless_refused(std::move(reply), error);
}

Connection::DirectEnd Connection::read_direct(uint32_t id, Clock::time_point &deadline, bool wait,
                                              std::optional<wire::Message> &reply) {
    std::vector<uint8_t> payload;
    uint8_t buffer[4096];
    for (;;) {
        // Every complete frame first: what follows the reply is not left for later.
        for (;;) {
            const auto status = reader_.next(payload);
            if (status == wire::FrameReader::Status::NeedMore)
                break;
            auto decoded = status == wire::FrameReader::Status::Frame ? wire::decode(payload)
                                                                      : wire::DecodeResult{};
            if (!decoded.message)
                return DirectEnd::Closed;  // a stream that makes no sense ends here
            wire::Message &m = *decoded.message;
            if (m.id == id) {
                if (const auto *accepted = std::get_if<wire::SendAccepted>(&m.body))
                    deadline = std::max(deadline, wire::send_deadline(*accepted));
                else
                    reply = std::move(m);
            } else if (m.id != 0) {
                hand_over(std::move(m));
            } else if (const auto *refusal = std::get_if<wire::Refusal>(&m.body)) {
                std::lock_guard lock(mutex_);
                if (death_.why.empty())
                    death_ = {refusal->status, "krvxd ended the connection: " + refusal->why};
            }
            // Other events: nothing is registered to take them (see connection.h).
        }
        if (reply)
            return DirectEnd::Reply;
        const auto now = Clock::now();
        if (wait && now >= deadline)
            return DirectEnd::TimedOut;
        if (wait) {
            // The read blocks until the deadline at most (kReceiveTimeoutSlackUs late at
            // worst): SO_RCVTIMEO is set only when it is off by more, so a run of requests
            // with the same timeout sets it once.
            const long want = std::max<long>(
                1,
                static_cast<long>(
                    std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count()));
            if (receive_timeout_us_ == 0 || receive_timeout_us_ > want + kReceiveTimeoutSlackUs ||
                receive_timeout_us_ + kReceiveTimeoutSlackUs < want) {
                const timeval tv{want / 1000000, want % 1000000};
                if (::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0)
                    return DirectEnd::Closed;
                receive_timeout_us_ = want;
            }
        }
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, wait ? 0 : MSG_DONTWAIT);
        if (n > 0) {
            reader_.append(std::span<const uint8_t>(buffer, static_cast<std::size_t>(n)));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait)
                return DirectEnd::TimedOut;
            continue;  // the receive timeout: the deadline decides
        }
        return DirectEnd::Closed;
    }
}

void Connection::hand_over(wire::Message message) {
    {
        std::lock_guard lock(mutex_);
        auto it = pending_.find(message.id);
        if (it == pending_.end())
            return;  // late answer to a request that timed out, or one nobody awaits
        if (const auto *accepted = std::get_if<wire::SendAccepted>(&message.body))
            it->second.extended_until = wire::send_deadline(*accepted);
        else
            it->second.reply = std::move(message);
    }
    replies_cv_.notify_all();
}

void Connection::run() {
    { std::lock_guard lock(mutex_); }
    std::vector<uint8_t> buffer(4096), payload;
    heard_at_ = Clock::now();
    for (;;) {
        int timeout_ms = -1;  // nothing to do until a byte arrives
        bool reads = false;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
            // The socket while events may come; otherwise it is left to direct requests.
            reads = !caller_reads_ && events_expected();
            if (dead_ && !reads)
                break;  // ended on a direct request: nothing more will come
            library_reads_ = reads;
            if (learn_active())
                timeout_ms = kAbortPollMs;  // a learn runs: watch the abort words
        }
        pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        const int r = ::poll(fds, reads ? 2 : 1, timeout_ms);
        if (r < 0 && errno != EINTR)
            break;
        if (r > 0 && fds[0].revents != 0) {
            uint64_t count = 0;
            (void)!::read(wake_fd_, &count, sizeof count);
        }
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
        }
        if (r > 0 && reads && fds[1].revents != 0) {
            const ssize_t n = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                break;  // the service closed the connection or it failed
            if (n > 0) {
                heard_at_ = Clock::now();
                asked_at_.reset();
                reader_.append(
                    std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
                bool bad = false;
                for (;;) {
                    const auto status = reader_.next(payload);
                    if (status == wire::FrameReader::Status::NeedMore)
                        break;
                    auto decoded = status == wire::FrameReader::Status::Frame
                                       ? wire::decode(payload)
                                       : wire::DecodeResult{};
                    if (!decoded.message) {
                        bad = true;
                        break;
                    }
                    dispatch(std::move(*decoded.message));
                }
                if (bad)
                    break;
            }
        }
        if (!watch_learns()) {
            // Silent for longer than any answer may take: tell the service (should it wake
            // up) that this client gave up, and end here.
            ::shutdown(fd_, SHUT_RDWR);
            break;
        }
    }
    mark_dead();
    fail_learn_on_loss();
}

bool Connection::learn_active() const {
    return learn_ || (hook_ && hook_->observed != 0);
}

uint32_t Connection::send_async(wire::Body body) {
    uint32_t id = 0;
    {
        std::lock_guard lock(mutex_);
        if (dead_ || stopping_)
            return 0;
        id = next_id_++;
        if (next_id_ == 0)
            next_id_ = 1;
    }
    const auto frame = wire::encode({id, std::move(body)});
    std::lock_guard write_lock(write_mutex_);
    if (!wire::write_frame(fd_, frame, Clock::now() + kAnswerTimeout)) {
        ::shutdown(fd_, SHUT_RDWR);
        return 0;
    }
    return id;
}

std::optional<LearnCall> Connection::begin_learn_call(const char *buffer, int32_t format,
                                                      int32_t timeout_ms) {
    // Command words fill bytes 0..9 (nine characters and their 0 byte).
    LearnCall call = LearnCall::Learn;
    bool superseded = false;
    {
        // Under the lock no end-of-learn write of the library thread can change the word.
        std::lock_guard lock(mutex_);
        if (std::memcmp(buffer, HOOK_COMMAND, sizeof HOOK_COMMAND) == 0)
            call = LearnCall::Hook;
        else if (std::memcmp(buffer, UNHOOK_COMMAND, sizeof UNHOOK_COMMAND) == 0)
            call = LearnCall::Unhook;
        if (format == FMT_UNHOOK && call != LearnCall::Unhook)
            return std::nullopt;
        if (format == FMT_PRONTO && call == LearnCall::Unhook)
            call = LearnCall::Learn;  // the unhook word counts only with the unhook format
        if (call == LearnCall::Learn &&
            (timeout_ms < 0 || static_cast<uint32_t>(timeout_ms) > wire::kMaxLearnTimeoutMs))
            return std::nullopt;
        superseded = learn_.has_value();
        learn_.reset();  // from here on nothing is written for the earlier learn
    }
    if (superseded)
        send_async(wire::LearnStop{wire::LearnStop::Cancel});
    return call;
}

int32_t Connection::start_learn(char *buffer, int32_t *abort_word, KRVXLearnCallback callback,
                                void *user_data, uint32_t timeout_ms) {
    {
        std::lock_guard lock(mutex_);
        learn_.emplace(OwnLearn{0, buffer, abort_word, callback, user_data, false, 0, 0});
        last_code_ = {};
    }
    wake_library_thread();  // it reads, and polls with a timeout from now on
    int32_t error = 0;
    auto reply = request(wire::LearnStart{timeout_ms}, kAnswerTimeout, error);
    const auto *r = reply ? std::get_if<wire::Reply>(&reply->body) : nullptr;
    const int32_t status =
        r == nullptr ? (error != 0 ? error : ERR_COMM_FAILED) : wire::to_int(r->status);
    if (status != 0) {
        std::lock_guard lock(mutex_);
        if (learn_ && learn_->buffer == buffer)
            learn_.reset();
    }
    return status;
}

LearnedCode Connection::last_code() {
    std::lock_guard lock(mutex_);
    return last_code_;
}

bool Connection::watch_learns() {
    const auto now = Clock::now();
    std::optional<wire::Body> message;
    bool active = false;
    {
        std::lock_guard lock(mutex_);
        active = learn_active();
        if (learn_ && learn_->id != 0 && !learn_->stop_sent) {
            const int32_t word =
                std::atomic_ref<int32_t>(*learn_->abort_word).load(std::memory_order_acquire);
            if (word == -1) {
                learn_->stop_sent = true;
                message = wire::LearnStop{wire::LearnStop::FinishWithBurst};
            }
        }
        // The hook's word only while another client's learn runs and no answer is pending
        // or taken.
        if (!message && hook_ && hook_->observed != 0 && hook_->answer == HookState::Answer::None) {
            const int32_t word =
                std::atomic_ref<int32_t>(*hook_->abort_word).load(std::memory_order_acquire);
            if (word == -2) {
                // The text written before the -2 was stored: at most 2048 bytes, 0-ended.
                const void *nul = std::memchr(hook_->buffer, 0, ir::kMaxProntoChars + 1);
                const std::size_t n =
                    nul == nullptr
                        ? ir::kMaxProntoChars
                        : static_cast<std::size_t>(static_cast<const char *>(nul) - hook_->buffer);
                message = wire::HookAnswer{hook_->observed, wire::HookAnswer::Inject,
                                           std::string(hook_->buffer, n)};
            } else if (word == -1) {
                message = wire::HookAnswer{hook_->observed, wire::HookAnswer::AcceptBurst, {}};
            }
            if (message) {
                hook_->answer = HookState::Answer::Pending;
                hook_->answer_word = word;
            }
        }
    }
    if (!active) {
        asked_at_.reset();
        return true;
    }
    if (!message && !asked_at_ && now - heard_at_ >= kQuietTime)
        message = wire::GetInfo{};  // any answer shows that the service lives
    if (message) {
        const bool answer = std::holds_alternative<wire::HookAnswer>(*message);
        const uint32_t id = send_async(std::move(*message));
        if (answer) {
            std::lock_guard lock(mutex_);
            if (hook_ && hook_->answer == HookState::Answer::Pending)
                hook_->answer_id = id;
        }
        if (id != 0 && !asked_at_)
            asked_at_ = now;
    }
    return !asked_at_ || now - *asked_at_ < kAnswerTimeout;
}

bool Connection::take_ruling(const wire::Message &message) {
    KRVXLearnCallback callback = nullptr;
    void *user_data = nullptr;
    int32_t progress = 0, quality = 0, carrier = 0;
    {
        std::lock_guard lock(mutex_);
        if (!hook_ || hook_->answer != HookState::Answer::Pending || hook_->answer_id == 0 ||
            hook_->answer_id != message.id)
            return false;
        const auto *reply = std::get_if<wire::Reply>(&message.body);
        if (reply != nullptr && reply->status == wire::Status::Ok) {
            hook_->answer = HookState::Answer::Taken;
            return true;
        }
        // Refused (a Reply with another status, or a Refusal): the learn stays open. The word goes
        // back to 0 unless the application has stored another answer meanwhile, and the hook hears
        // its last report again.
        hook_->answer = HookState::Answer::None;
        hook_->answer_id = 0;
        int32_t seen = hook_->answer_word;
        std::atomic_ref<int32_t>(*hook_->abort_word)
            .compare_exchange_strong(seen, 0, std::memory_order_acq_rel);
        callback = hook_->callback;
        user_data = hook_->user_data;
        progress = hook_->progress;
        quality = hook_->quality;
        carrier = hook_->carrier_hz;
    }
    if (callback != nullptr)
        callback(progress, quality, carrier, user_data);
    return true;
}

void Connection::fail_learn_on_loss() {
    KRVXLearnCallback own = nullptr, hooked = nullptr;
    void *own_data = nullptr, *hooked_data = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        if (learn_) {
            learn_->buffer[0] = '\0';
            own = learn_->callback;
            own_data = learn_->user_data;
            learn_.reset();
        }
        // Every hook hears it, observing a learn or not: it would never see one again.
        if (hook_) {
            hook_->buffer[0] = '\0';
            hooked = hook_->callback;
            hooked_data = hook_->user_data;
            hook_.reset();
        }
    }
    if (own != nullptr)
        own(LEARN_FAIL_SERVICE_GONE, 0, 0, own_data);
    if (hooked != nullptr)
        hooked(LEARN_FAIL_SERVICE_GONE, 0, 0, hooked_data);
}

void Connection::dispatch(wire::Message message) {
    if (const auto *refusal = std::get_if<wire::Refusal>(&message.body);
        refusal && message.id == 0) {
        // The service ends the connection and says why; requests fail with that reason.
        std::lock_guard lock(mutex_);
        if (death_.why.empty())
            death_ = {refusal->status, "krvxd ended the connection: " + refusal->why};
        return;
    }
    if (message.id != 0) {
        if (take_ruling(message))
            return;
        {
            std::lock_guard lock(mutex_);
            auto it = pending_.find(message.id);
            if (it == pending_.end())
                return;  // late answer to a request that timed out, or one nobody awaits
            if (const auto *accepted = std::get_if<wire::SendAccepted>(&message.body)) {
                it->second.extended_until = wire::send_deadline(*accepted);
            } else {
                it->second.reply = std::move(message);
            }
        }
        replies_cv_.notify_all();
        return;
    }
    if (const auto *frame = std::get_if<wire::ReceivedFrame>(&message.body)) {
        if (!plausible_receive_code(frame->code))
            return;
        KRVXReceiveFrameCallback callback = nullptr;
        void *user_data = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            callback = frame_callback_;
            user_data = frame_user_data_;
        }
        if (callback != nullptr)
            deliver_frame(*frame, callback, user_data);
        return;
    }
    if (const auto *received = std::get_if<wire::Received>(&message.body)) {
        if (!plausible_receive_code(received->code))
            return;
        KRVXReceiveCallback callback = nullptr;
        void *user_data = nullptr;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            callback = receive_callback_;
            user_data = receive_user_data_;
        }
        if (callback == nullptr)
            return;
        // NUL-terminated and zero-padded well beyond the 16 bytes callers may copy.
        char text[32] = {};
        std::memcpy(text, received->code.data(), received->code.size());
        callback(text, user_data);
    }
    if (std::holds_alternative<wire::LearnBegin>(message.body) ||
        std::holds_alternative<wire::LearnProgress>(message.body) ||
        std::holds_alternative<wire::LearnEnd>(message.body))
        dispatch_learn_event(message.body);
    // DeviceLost: a running learn ends by its own LearnEnd from the service.
}

namespace {

// The carrier of a valid code in whole Hz.
int32_t carrier_of(const std::string &code) {
    const auto parsed = ir::parse_pronto(code);
    return parsed.ok() ? static_cast<int32_t>(std::lround(parsed.signal.carrier_hz)) : 0;
}

}  // namespace

void Connection::dispatch_learn_event(const wire::Body &body) {
    // Decided under the lock: which callback runs with which values, after any buffer write.
    KRVXLearnCallback callback = nullptr;
    void *user_data = nullptr;
    int32_t progress = 0, quality = 0, carrier = 0;
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        if (const auto *begin = std::get_if<wire::LearnBegin>(&body)) {
            if (begin->own) {
                if (learn_ && learn_->id == 0)
                    learn_->id = begin->learn_id;
                return;
            }
            if (!hook_)
                return;
            hook_->observed = begin->learn_id;
            hook_->answer = HookState::Answer::None;
            hook_->answer_id = 0;
            hook_->progress = hook_->quality = hook_->carrier_hz = 0;
            // Whatever the word says now was meant for an earlier learn.
            std::atomic_ref<int32_t>(*hook_->abort_word).store(0, std::memory_order_release);
            callback = hook_->callback;
            user_data = hook_->user_data;
            progress = LEARN_PROGRESS_BEGIN;
        } else if (const auto *p = std::get_if<wire::LearnProgress>(&body)) {
            progress = std::clamp(p->progress, 0, 100);
            quality = std::clamp(p->quality, 0, 100);
            carrier = std::max(p->carrier_hz, 0);
            if (learn_ && learn_->id == p->learn_id) {
                learn_->quality = quality;
                learn_->carrier_hz = carrier;
                callback = learn_->callback;
                user_data = learn_->user_data;
            } else if (hook_ && hook_->observed == p->learn_id) {
                hook_->progress = progress;
                hook_->quality = quality;
                hook_->carrier_hz = carrier;
                callback = hook_->callback;
                user_data = hook_->user_data;
            } else {
                return;
            }
        } else if (const auto *end = std::get_if<wire::LearnEnd>(&body)) {
            // The code is checked like any input before it lands in a caller's buffer.
            const bool code_ok = end->code.size() <= ir::kMaxProntoChars &&
                                 (end->code.empty() || ir::is_valid_pronto(end->code));
            int32_t result = end->result;
            if (result == LEARN_PROGRESS_DONE && (!code_ok || end->code.empty()))
                result = LEARN_FAIL_NOISE;
            if (result != LEARN_PROGRESS_DONE && result >= 0)
                result = LEARN_FAIL_SERVICE_GONE;
            if (learn_ && learn_->id == end->learn_id) {
                quality = learn_->quality;
                carrier = learn_->carrier_hz;
                if (result == LEARN_PROGRESS_DONE) {
                    std::memcpy(learn_->buffer, end->code.data(), end->code.size());
                    learn_->buffer[end->code.size()] = '\0';
                    // Stopped with -1 and finished with the burst: the word goes back to 0,
                    // but only from the -1 that was read.
                    if (learn_->stop_sent) {
                        int32_t seen = -1;
                        std::atomic_ref<int32_t>(*learn_->abort_word)
                            .compare_exchange_strong(seen, 0, std::memory_order_acq_rel);
                    }
                    last_code_ = {end->answer, end->shape, end->decode};
                    if (end->answer == wire::LearnEnd::Injected) {
                        quality = 0;  // nothing was measured: the code is another program's
                        carrier = carrier_of(end->code);
                    }
                } else {
                    learn_->buffer[0] = '\0';
                }
                progress = result;
                callback = learn_->callback;
                user_data = learn_->user_data;
                learn_.reset();
            } else if (hook_ && hook_->observed == end->learn_id) {
                // The code the learning client received; empty when it got none.
                const std::size_t n =
                    result == LEARN_PROGRESS_DONE && code_ok ? end->code.size() : 0;
                std::memcpy(hook_->buffer, end->code.data(), n);
                hook_->buffer[n] = '\0';
                hook_->observed = 0;
                hook_->answer = HookState::Answer::None;
                hook_->answer_id = 0;
                progress = LEARN_PROGRESS_END;
                quality = hook_->quality;
                carrier = hook_->carrier_hz;
                callback = hook_->callback;
                user_data = hook_->user_data;
            } else {
                return;
            }
        }
    }
    if (callback != nullptr)
        callback(progress, quality, carrier, user_data);
}

int32_t Connection::set_hook(char *buffer, int32_t *abort_word, KRVXLearnCallback callback,
                             void *user_data) {
    {
        std::lock_guard lock(mutex_);
        hook_.emplace(HookState{buffer, abort_word, callback, user_data});
    }
    int32_t error = 0;
    auto reply = request(wire::Hook{}, kAnswerTimeout, error);
    const auto *r = reply ? std::get_if<wire::Reply>(&reply->body) : nullptr;
    const int32_t status =
        r == nullptr ? (error != 0 ? error : ERR_COMM_FAILED) : wire::to_int(r->status);
    if (status != 0) {
        std::lock_guard lock(mutex_);
        if (hook_ && hook_->buffer == buffer)
            hook_.reset();
    }
    return status;
}

int32_t Connection::remove_hook() {
    {
        std::lock_guard lock(mutex_);
        hook_.reset();  // from here on nothing is written into the hook's buffer
    }
    int32_t error = 0;
    auto reply = request(wire::Unhook{}, kAnswerTimeout, error);
    const auto *r = reply ? std::get_if<wire::Reply>(&reply->body) : nullptr;
    return r == nullptr ? (error != 0 ? error : ERR_COMM_FAILED) : wire::to_int(r->status);
}

}  // namespace krvxdrv
