// SPDX-License-Identifier: MIT
// krvxd: the device service. One event loop serves every client and the device.
#include <asio.hpp>
#include <csignal>
#include <cstdio>
#include <memory>

#include "lirc/lirc_backend.h"
#include "log.h"
#include "options.h"
#include "server.h"
#include "sim/sim_backend.h"
#include "wire/socket_path.h"

int main(int argc, char **argv) {
    const auto parsed = krvxd::parse_options(argc, argv);
    if (!parsed.options) {
        std::fputs(parsed.text.c_str(), parsed.exit_code == 0 ? stdout : stderr);
        return parsed.exit_code;
    }
    const krvxd::Options &o = *parsed.options;
    std::signal(SIGPIPE, SIG_IGN);

    asio::io_context io(1);
    const krvxd::Log log(o.verbose);
    krvxd::Server server(io, log, o.limits);
    std::unique_ptr<krvxd::Backend> backend;
    if (o.backend == "sim") {
        backend = std::make_unique<krvxd::SimBackend>(io.get_executor(), server, o.sim);
    } else {
        krvxd::lirc::LircSettings lirc;
        lirc.device = o.lirc_device;
        backend = std::make_unique<krvxd::lirc::LircBackend>(io.get_executor(), server, log,
                                                             std::move(lirc));
    }
    server.set_backend(backend.get());

    const std::string path = o.socket_path.empty() ? wire::default_socket_path() : o.socket_path;
    // The folder of last resort is made private before anything is bound in it.
    if (path.rfind(wire::fallback_socket_dir() + "/", 0) == 0) {
        if (const std::string error = wire::make_private_dir(wire::fallback_socket_dir());
            !error.empty()) {
            log.error(error);
            return 1;
        }
    }
    if (const std::string error = server.listen(path); !error.empty()) {
        log.error(error);
        return 1;
    }
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](std::error_code ec, int signo) {
        if (ec)
            return;
        log.info("stopping on ", signo == SIGINT ? "SIGINT" : "SIGTERM");
        server.stop();
        io.stop();
    });
    log.info("serving the ", backend->name(), " device on ", path);
    io.run();
    server.stop();
    backend.reset();
    return 0;
}
