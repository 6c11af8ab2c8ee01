// SPDX-License-Identifier: MIT
// One client connection of libkrvxdrv to krvxd, with the handle's library thread.
//
// Threads
//   request() and set_receive_callback() may be called from any thread; the handle's calls
//   are serialised by the caller (api.cpp holds the handle's call lock). The library thread
//   runs the callbacks and, while events may come, reads the socket and hands replies to
//   the waiting caller. It sleeps in poll() without a timeout while nothing is in progress:
//   no periodic wake-up.
//
// Who reads the socket
//   Events may come while a receive or frame callback is set, an own learn runs or a hook
//   is registered (see events_expected()). Then the library thread reads the socket
//   (library_reads_) and a request waits for the reply it hands over. Otherwise a request
//   is direct: the calling thread writes it and reads its own reply (caller_reads_), so a
//   round trip costs one write, one read and one wake-up on each side. The library thread
//   decides at the top of its loop, under mutex_, whether it reads: never while a caller
//   does, and it lets go of the socket as soon as nothing is expected (after handing over
//   the last reply, or once the learn, the hook and the callbacks are gone). A request that
//   finds it still reading takes the waiting path; one that needs it while it sleeps wakes
//   it through wake_fd_. The two flags never hold together, and the frame reader and the
//   socket's receive timeout belong to whichever side holds the socket, handed over under
//   mutex_. A direct caller passes replies of other requests on to their waiters and drops
//   events: no callback, learn or hook exists while it reads, since the calls that set one
//   are serialised with it. KRVXClose() on another thread shuts the socket down, which ends
//   a direct read at once.
//   While a learn runs (the handle's own, or another client's that its hook observes) it
//   wakes every kAbortPollMs to read the abort word and to watch that the service lives.
//   shutdown() may be called from any thread, also from inside a callback of this connection
//   (then the thread ends after the callback returns instead of being joined); after it
//   returns on another thread, no callback of this connection runs any more.
//
// Learns and the hook
//   Own learn (learn_), started by start_learn() on the caller's thread:
//     starting   LearnStart sent; id 0 until the service's LearnBegin(own) names the learn
//     running    the library thread reads *abort_word every kAbortPollMs
//     stopping   it read -1 and asked the service to finish with the burst (stop_sent)
//     ended      LearnEnd: the code (or buffer[0] = 0) is written, *abort_word goes back to
//                0 only from the -1 that was read (compare-and-swap), then the end is
//                reported and learn_ is cleared
//   A later KRVXLearnIR call on the handle ends it in begin_learn_call(): learn_ is cleared
//   under mutex_ before that call reads its command word, and every write of the library
//   thread into a learn's buffer or abort word happens under mutex_ for the current learn
//   only. So nothing is written into a buffer once a later call has begun.
//   Hook (hook_), registered by set_hook():
//     idle       no other client's learn runs; *abort_word is not read
//     observing  LearnBegin(other): *abort_word set to 0, then BEGIN reported; from then on
//                the word is read every kAbortPollMs (an answer stored before BEGIN was
//                reported, e.g. for the previous learn, counts for nothing)
//     pending    -2 or -1 read: HookAnswer sent; the word is not read until the ruling
//     taken      the service's Reply 0: the answer is the learn's; nothing more is sent
//     refused    any other ruling: *abort_word goes back to 0 from the answer read
//                (compare-and-swap), the last report is repeated, observing again
//     END        LearnEnd: the learner's code is written into buffer, END reported, idle
//   Liveness: while a learn runs, a request of the library thread that gets nothing back
//   from the service within kAnswerTimeout means the service is gone (after kQuietTime
//   without a frame the library thread asks for a sign of life). The connection is then
//   shut: the learn and the hook end with LEARN_FAIL_SERVICE_GONE.
//   Who owns what: learn_ and hook_ are created, replaced and cleared by the API calls and
//   advanced by the library thread, both under mutex_; buffers and abort words are written
//   under mutex_; callbacks run on the library thread without any lock held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "krvxdrv.h"
#include "wire/client.h"
#include "wire/frame_reader.h"
#include "wire/protocol.h"

namespace krvxdrv {

/// How long the service may take to answer anything that does not wait for air time.
inline constexpr std::chrono::milliseconds kAnswerTimeout = wire::kAnswerTimeout;
/// How often the library thread reads a running learn's abort word.
inline constexpr int kAbortPollMs = 5;
/// How long a running learn's service may be silent before the library asks it for a sign
/// of life, which is then due within kAnswerTimeout.
inline constexpr std::chrono::milliseconds kQuietTime{500};

/// How an own learn's code came about, as its LearnEnd said.
struct LearnedCode {
    uint8_t answer = 0;  ///< wire::LearnEnd::Answer
    uint8_t shape = 0;   ///< wire::LearnEnd::Shape
    std::string decode;  ///< what a snapped code decodes as
};

/// What a KRVXLearnIR call asks for, by its format and command word.
enum class LearnCall { Learn, Hook, Unhook };

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    struct OpenResult {
        std::shared_ptr<Connection> connection;
        wire::Outcome failure;  ///< why, when connection is null
    };

    /// Connects to `socket_path` (wire::Client: a service of this user or root only),
    /// performs the handshake and starts the library thread. All within kAnswerTimeout.
    static OpenResult open(const std::string &socket_path);

    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    /// Sends a request and waits for its reply up to `timeout`. Returns the reply, or
    /// nullopt with `error` = the status of the service's Refusal, ERR_COMM_FAILED (service
    /// gone, hung or misbehaving), or ERR_INVALID_ARGUMENT when called from one of this
    /// connection's callbacks (the thread that would read the reply). The reason is noted
    /// for KRVXErrorText (last_error.h). A timeout ends the connection, so that the request
    /// is never carried out later: every later request fails with ERR_COMM_FAILED.
    std::optional<wire::Message> request(wire::Body body, std::chrono::milliseconds timeout,
                                         int32_t &error);

    /// Installs the callback the library thread runs for each received code; returns
    /// whether a receive or frame callback is set now.
    bool set_receive_callback(KRVXReceiveCallback callback, void *user_data);
    /// Installs the callback the library thread runs for each received frame; returns
    /// whether a receive or frame callback is set now.
    bool set_frame_callback(KRVXReceiveFrameCallback callback, void *user_data);

    /// First step of every KRVXLearnIR call (caller holds the handle's call lock). Under
    /// mutex_: reads the command word in buffer[0..9]; refuses (nullopt) format FMT_UNHOOK
    /// without the unhook word, or an own learn whose timeout_ms is outside
    /// 0..wire::kMaxLearnTimeoutMs; otherwise ends the handle's own learn (the service is
    /// told to cancel it) and says what the call asks for.
    std::optional<LearnCall> begin_learn_call(const char *buffer, int32_t format,
                                              int32_t timeout_ms);

    /// Starts an own learn in the service (caller holds the handle's call lock). From now
    /// on the library thread reads *abort_word, reports progress to `callback` and writes
    /// the result into `buffer`. timeout_ms 0: the service's default. Returns 0, or
    /// ERR_LEARN_BUSY / ERR_INVALID_ARGUMENT / ERR_COMM_FAILED.
    int32_t start_learn(char *buffer, int32_t *abort_word, KRVXLearnCallback callback,
                        void *user_data, uint32_t timeout_ms);

    /// Registers the handle as a hook (caller holds the handle's call lock): for every learn
    /// another client runs, the library thread reports BEGIN, the progress and END to
    /// `callback`, writes the code that client received into `buffer` before END, and reads
    /// *abort_word while such a learn runs (-2 inject the text in `buffer`, -1 accept the
    /// burst). Returns 0 or ERR_*.
    int32_t set_hook(char *buffer, int32_t *abort_word, KRVXLearnCallback callback,
                     void *user_data);
    /// Removes the hook; after this returns nothing is written into its buffer.
    int32_t remove_hook();

    /// How the code of the handle's last own learn came about; all 0 when no learn ended
    /// with a code since the last start.
    LearnedCode last_code();

    /// Ends the connection and the library thread. See "Threads" above.
    void shutdown();

    /// True on the connection's own library thread (inside one of its callbacks).
    bool on_library_thread() const;

  private:
    Connection(int fd, wire::FrameReader reader);
    void run();
    void dispatch(wire::Message message);
    void mark_dead();
    /// Ends the connection for `why` (caller holds mutex_ through `lock`; released here).
    void end_connection(std::unique_lock<std::mutex> &lock, wire::Outcome why);
    /// Sends a request whose reply nobody waits for; returns its id, 0 when not sent.
    uint32_t send_async(wire::Body body);
    /// Library thread: reads the abort words of a running learn and asks the service for a
    /// sign of life when it has been quiet. False when the service is to be taken as gone.
    bool watch_learns();
    /// Library thread, after the connection ended: fails a running learn and the hook.
    void fail_learn_on_loss();
    void dispatch_learn_event(const wire::Body &body);
    /// Library thread: the service's ruling on the hook's answer `id`; false when `id` was
    /// not that answer.
    bool take_ruling(const wire::Message &message);
    bool learn_active() const;  ///< with mutex_ held
    /// Whether anything but a direct caller's reply may come (mutex_ held): a receive or
    /// frame callback is set, an own learn runs, a hook is registered, or a request waits
    /// for a reply the library thread is to hand over.
    bool events_expected() const;
    /// The direct round trip of request `id` (the caller holds the socket: caller_reads_).
    std::optional<wire::Message> request_direct(uint32_t id, const std::vector<uint8_t> &frame,
                                                std::chrono::steady_clock::time_point deadline,
                                                std::chrono::milliseconds timeout, int32_t &error);
    enum class DirectEnd { Reply, Closed, TimedOut };
    /// Reads until request `id` is answered, the stream ends or breaks, or `deadline` passes
    /// (a SendAccepted moves it); `wait` false: only what the socket holds already.
    DirectEnd read_direct(uint32_t id, std::chrono::steady_clock::time_point &deadline, bool wait,
                          std::optional<wire::Message> &reply);
    /// A reply read by a direct caller for request `message.id` of someone else.
    void hand_over(wire::Message message);
    void wake_library_thread();

    int fd_;
    int wake_fd_;
    wire::FrameReader reader_;     // whoever holds the socket (see above)
    long receive_timeout_us_ = 0;  ///< SO_RCVTIMEO set on fd_, 0 none; direct callers only
    std::thread thread_;
    std::thread::id thread_id_;

    std::mutex write_mutex_;  // one writer at a time on the socket

    std::mutex mutex_;  // guards everything below
    std::condition_variable replies_cv_;
    uint32_t next_id_ = 1;
    struct Pending {
        std::optional<wire::Message> reply;
        std::chrono::steady_clock::time_point extended_until{};  ///< set by SendAccepted
    };
    std::map<uint32_t, Pending> pending_;
    bool dead_ = false;
    bool library_reads_ = false;  ///< the library thread polls and reads the socket
    bool caller_reads_ = false;   ///< a direct request's thread reads the socket
    wire::Outcome death_;         ///< why the connection ended, when the service said or we know
    bool stopping_ = false;
    struct OwnLearn {
        uint32_t id = 0;  ///< the service's learn id; 0 until its LearnBegin arrived
        char *buffer = nullptr;
        int32_t *abort_word = nullptr;
        KRVXLearnCallback callback = nullptr;
        void *user_data = nullptr;
        bool stop_sent = false;  ///< the abort word said -1 and the service was told
        int32_t quality = 0;
        int32_t carrier_hz = 0;
    };
    std::optional<OwnLearn> learn_;
    LearnedCode last_code_;  ///< how the last own learn's code came about
    struct HookState {
        enum class Answer { None, Pending, Taken };
        char *buffer = nullptr;
        int32_t *abort_word = nullptr;
        KRVXLearnCallback callback = nullptr;
        void *user_data = nullptr;
        uint32_t observed = 0;  ///< id of the other client's learn now running, 0 none
        Answer answer = Answer::None;
        uint32_t answer_id = 0;   ///< request id of the pending answer
        int32_t answer_word = 0;  ///< the abort word's value that answer was read from
        int32_t progress = 0;     ///< the last report of the observed learn
        int32_t quality = 0;
        int32_t carrier_hz = 0;
    };
    std::optional<HookState> hook_;
    // Library thread only: when the service was last heard, and since when a request of
    // the library thread waits for any sign of it.
    std::chrono::steady_clock::time_point heard_at_{};
    std::optional<std::chrono::steady_clock::time_point> asked_at_;
    KRVXReceiveCallback receive_callback_ = nullptr;
    void *receive_user_data_ = nullptr;
    KRVXReceiveFrameCallback frame_callback_ = nullptr;
    void *frame_user_data_ = nullptr;
};

}  // namespace krvxdrv
