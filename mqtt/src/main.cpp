// SPDX-License-Identifier: MIT
// krvx-mqtt: the bridge between krvxd and an MQTT broker. SIGINT and SIGTERM stop it
// cleanly (status offline, device closed).
#include <mosquitto.h>
#include <signal.h>

#include <unistd.h>
#include <cstdlib>
#include <thread>

#include "bridge.h"
#include "options.h"

int main(int argc, char **argv) {
    auto parsed = krvx::mqtt::parse_options(argc, argv);
    if (parsed.exit >= 0)
        return parsed.exit;
    if (!parsed.options.socket.empty())
        ::setenv("KRVX_SOCKET", parsed.options.socket.c_str(), 1);

    // Signals are taken by one thread with sigwait; every other thread has them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    mosquitto_lib_init();
    int status = 0;
    {
        krvx::mqtt::Bridge bridge(std::move(parsed.options));
        std::thread waiter([&] {
            int sig = 0;
            sigwait(&signals, &sig);
            bridge.stop();
        });
        status = bridge.run();
        if (status != 0)
            ::kill(::getpid(), SIGTERM);  // wakes the waiter
        waiter.join();
    }
    mosquitto_lib_cleanup();
    return status;
}
