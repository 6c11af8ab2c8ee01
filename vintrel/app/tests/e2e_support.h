// SPDX-License-Identifier: MIT
// End-to-end test support: a private krvxd on a temporary socket, krvx runs as another
// process, and the build tree's driver library loaded into vintrel's process state.
//
// Paths come from the build tree (compiled into this library), so a test only links
// vintrel_e2e_support. Waiting always runs the Qt event loop (test::waitUntil), so vintrel's
// window keeps handling driver callbacks while a test waits for krvxd or krvx.
//
// Threads: everything here on the test's main thread (the user-interface thread).
#pragma once

#include <sys/types.h>

#include "../../../ir/tests/pronto_codes.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace vintrel::test::e2e {

/// The build tree's programs and the driver library.
const std::string &krvxdPath();
const std::string &krvxPath();
const std::string &driverLibraryPath();

/// An NEC code (one frame, then its repeat frame) as Pronto text: what the end-to-end tests
/// and the screenshots press, learn, send and receive.
using test_codes::kNec;

/// Generous deadline for anything that waits on another process (loaded 2-core machine,
/// sanitizers).
inline constexpr int kProcessTimeoutMs = 60000;

/// A private krvxd with the simulated device: `krvxd --socket <tmp>/krvxd.sock --backend sim
/// --time-scale <timeScale> [--loopback] <extraArgs...>`. While it lives, KRVX_SOCKET names
/// its socket (the old value is put back afterwards), so the in-process driver library and
/// every krvx started here reach only this service. Stopped with SIGTERM (SIGKILL after
/// 10 s) when it goes; its folder is removed.
class PrivateService {
  public:
    struct Options {
        double timeScale = 0.01;             // slow enough that a send takes a visible moment
        bool loopback = true;                // what is sent is also received
        std::vector<std::string> extraArgs;  // e.g. {"--fail-transmit"}, {"--firmware", "1.10"}
    };

    PrivateService();
    explicit PrivateService(Options options);
    ~PrivateService();
    PrivateService(const PrivateService &) = delete;
    PrivateService &operator=(const PrivateService &) = delete;

    /// True once the socket accepts connections (waited for in the constructor).
    bool ready() const { return ready_; }
    /// Why it is not ready (empty when it is).
    const std::string &failure() const { return failure_; }
    const std::string &socket() const { return socket_; }
    pid_t pid() const { return pid_; }
    /// Sends SIGTERM and waits for the end; returns the exit status (128 + signal when
    /// killed), -1 when it was not running.
    int stop();

  private:
    std::string dir_;
    std::string socket_;
    std::string oldSocket_;
    bool hadOldSocket_ = false;
    pid_t pid_ = -1;
    bool ready_ = false;
    std::string failure_;
};

/// krvx as another process: `krvx --socket <service socket> <args...>`, standard output
/// and error captured together. Waiting runs the Qt event loop.
class KrvxProcess {
  public:
    KrvxProcess(const PrivateService &service, std::vector<std::string> args);
    ~KrvxProcess();  // kills it (SIGKILL) when still running
    KrvxProcess(const KrvxProcess &) = delete;
    KrvxProcess &operator=(const KrvxProcess &) = delete;

    bool started() const { return pid_ > 0; }
    /// True while it has not ended (reaps it when it has).
    bool running();
    /// Waits up to timeoutMs for the end, running events meanwhile. Returns the exit
    /// status, 128 + signal when killed by one, or -1 when it did not end in time or never
    /// started.
    int finish(int timeoutMs = kProcessTimeoutMs);
    /// What it wrote so far (standard output and error).
    std::string output() const;

  private:
    std::string outputFile_;
    pid_t pid_ = -1;
    int status_ = -1;
};

/// Runs krvx to its end (see KrvxProcess::finish); output, when given, receives what it
/// wrote.
int runKrvx(const PrivateService &service, std::vector<std::string> args,
            std::string *output = nullptr);

/// Loads the build tree's libkrvxdrv into processState().driver; false with the loader's
/// reason otherwise.
bool loadRealDriver(std::string &reason);

}  // namespace vintrel::test::e2e
