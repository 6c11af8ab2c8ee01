// One client connection of libkrvxdrv to krvxd, with the handle's library thread.
//
// Threads
//   request() and set_receive_callback() may be called from any thread; the handle's calls
//   are serialised by the caller (api.cpp holds the handle's call lock). The library thread
//   reads the socket, hands replies to the waiting caller and runs the receive callback.
//   It sleeps in poll() without a timeout while nothing is in progress: no periodic wake-up.
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
#include "wire/frame_reader.h"
#include "wire/protocol.h"

namespace krvxdrv {

/// How long the service may take to answer anything that does not wait for air time.
inline constexpr std::chrono::milliseconds kAnswerTimeout{2000};

class Connection : public std::enable_shared_from_this<Connection> {
  public:
    struct OpenResult {
        std::shared_ptr<Connection> connection;
        int32_t error = 0;  ///< ERR_* when connection is null
    };

    /// Connects to `socket_path`, performs the handshake and starts the library thread.
    /// All within kAnswerTimeout.
    static OpenResult open(const std::string &socket_path);

    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    /// Sends a request and waits for its reply up to `timeout`. Returns the reply, or
    /// nullopt with `error` = ERR_COMM_FAILED (service gone, hung or misbehaving).
    std::optional<wire::Message> request(wire::Body body, std::chrono::milliseconds timeout,
                                         int32_t &error);

    /// Installs the callback the library thread runs for each received code.
    void set_receive_callback(KRVXReceiveCallback callback, void *user_data);

    /// Ends the connection and the library thread. See "Threads" above.
    void shutdown();

    /// True on the connection's own library thread (inside one of its callbacks).
    bool on_library_thread() const;

  private:
    Connection(int fd, wire::FrameReader reader);
    void run();
    void dispatch(wire::Message message);
    void mark_dead();

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
    bool stopping_ = false;
    KRVXReceiveCallback receive_callback_ = nullptr;
    void *receive_user_data_ = nullptr;
};

}  // namespace krvxdrv
