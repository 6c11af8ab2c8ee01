// One client connection of libkrvxdrv to krvxd, with the handle's library thread.
//
// Threads
//   request() and set_receive_callback() may be called from any thread; the handle's calls
//   are serialised by the caller (api.cpp holds the handle's call lock). The library thread
//   reads the socket, hands replies to the waiting caller and runs the receive callback.
//   It sleeps in poll() without a timeout while nothing is in progress: no periodic wake-up.
//   While an own learn runs it wakes every kAbortPollMs to read the learn's abort word, and
//   it runs the learn callback and writes the learn buffer (under the connection's lock, so
//   that a superseding call knows no write is under way after it returns).
//   shutdown() may be called from any thread, also from inside a callback of this connection
//   (then the thread ends after the callback returns instead of being joined); after it
//   returns on another thread, no callback of this connection runs any more.
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

#include "krvxdrv.h"
#include "wire/client.h"
#include "wire/frame_reader.h"
#include "wire/protocol.h"

namespace krvxdrv {

/// How long the service may take to answer anything that does not wait for air time.
inline constexpr std::chrono::milliseconds kAnswerTimeout = wire::kAnswerTimeout;
/// How often the library thread reads a running learn's abort word.
inline constexpr int kAbortPollMs = 5;

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

    /// Installs the callback the library thread runs for each received code.
    void set_receive_callback(KRVXReceiveCallback callback, void *user_data);

    /// Starts an own learn in the service (caller holds the handle's call lock). From now
    /// on the library thread reads *abort_word every 5 ms, reports progress to `callback`
    /// and writes the result into `buffer`. Returns 0, or ERR_LEARN_BUSY / ERR_COMM_FAILED.
    int32_t start_learn(char *buffer, int32_t *abort_word, KRVXLearnCallback callback,
                        void *user_data);

    /// Forgets the own learn (a later learn, hook or unhook call supersedes it): after this
    /// returns nothing more is written into its buffer, and the service is told to cancel it.
    void drop_learn();

    /// Registers the handle as a hook (caller holds the handle's call lock): for every learn
    /// another client runs, the library thread reports BEGIN, the progress and END to
    /// `callback`, writes the code that client received into `buffer` before END, and reads
    /// *abort_word every kAbortPollMs while such a learn runs (-2 inject the text in
    /// `buffer`, -1 accept the burst; one answer per learn). Returns 0 or ERR_*.
    int32_t set_hook(char *buffer, int32_t *abort_word, KRVXLearnCallback callback,
                     void *user_data);
    /// Removes the hook; after this returns nothing is written into its buffer.
    int32_t remove_hook();

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
    /// Sends a request whose reply nobody waits for (it is dropped as unknown on arrival).
    void send_unanswered(wire::Body body);
    /// Library thread: reads the abort word of a running own learn.
    void check_abort_word();
    /// Library thread, after the connection ended: fails a running own learn.
    void fail_learn_on_loss();
    void dispatch_learn_event(const wire::Body &body);

    int fd_;
    int wake_fd_;
    wire::FrameReader reader_;  // library thread only (after open)
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
    wire::Outcome death_;  ///< why the connection ended, when the service said or we know
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
    struct HookState {
        char *buffer = nullptr;
        int32_t *abort_word = nullptr;
        KRVXLearnCallback callback = nullptr;
        void *user_data = nullptr;
        uint32_t observed = 0;  ///< id of the other client's learn now running, 0 none
        bool answered = false;  ///< this hook answered the observed learn
        int32_t quality = 0;
        int32_t carrier_hz = 0;
    };
    std::optional<HookState> hook_;
    KRVXReceiveCallback receive_callback_ = nullptr;
    void *receive_user_data_ = nullptr;
};

}  // namespace krvxdrv
