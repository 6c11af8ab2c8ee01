// SPDX-License-Identifier: MIT
#include "e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "qt_test_support.h"
#include "vintrel/device/process_state.h"

extern char **environ;

namespace vintrel::test::e2e {

namespace {

bool canConnect(const std::string &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// Starts args[0]; output goes to outputFile when it is not empty. Returns the pid or -1.
pid_t spawn(const std::vector<std::string> &args, const std::string &outputFile) {
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (const std::string &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// Reaps pid once it has ended, running events meanwhile; the decoded status, or -1 on
// timeout (the process is then still running).
int reap(pid_t pid, int timeoutMs) {
    int status = 0;
    bool ended = false;
    waitUntil(
        [&] {
            const pid_t got = ::waitpid(pid, &status, WNOHANG);
            ended = got == pid || (got < 0 && errno == ECHILD);
            return ended;
        },
        timeoutMs);
    return ended ? decodeStatus(status) : -1;
}

}  // namespace

const std::string &krvxdPath() {
    static const std::string path = VINTREL_E2E_KRVXD;
    return path;
}

const std::string &krvxPath() {
    static const std::string path = VINTREL_E2E_KRVX;
    return path;
}

const std::string &driverLibraryPath() {
    static const std::string path = VINTREL_E2E_DRIVER;
    return path;
}

PrivateService::PrivateService() : PrivateService(Options{}) {}

PrivateService::PrivateService(Options options) {
    char dirTemplate[] = "/tmp/vintrel-e2e.XXXXXX";
    if (::mkdtemp(dirTemplate) == nullptr) {
        failure_ = std::string("mkdtemp: ") + std::strerror(errno);
        return;
    }
    dir_ = dirTemplate;
    socket_ = dir_ + "/krvxd.sock";
    if (const char *old = std::getenv("KRVX_SOCKET")) {
        hadOldSocket_ = true;
        oldSocket_ = old;
    }
    ::setenv("KRVX_SOCKET", socket_.c_str(), 1);

    std::ostringstream scale;
    scale << options.timeScale;
    std::vector<std::string> args = {krvxdPath(), "--socket",     socket_,    "--backend",
                                     "sim",       "--time-scale", scale.str()};
    if (options.loopback) {
        args.emplace_back("--loopback");
    }
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    pid_ = spawn(args, dir_ + "/krvxd.log");
    if (pid_ <= 0) {
        failure_ = "cannot start " + krvxdPath();
        return;
    }
    bool exited = false;
    ready_ = waitUntil(
        [&] {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited = true;
                pid_ = -1;
                return true;
            }
            return canConnect(socket_);
        },
        kProcessTimeoutMs);
    ready_ = ready_ && !exited;
    if (!ready_) {
        std::ifstream log(dir_ + "/krvxd.log");
        failure_ = std::string(exited ? "krvxd exited: " : "krvxd socket never came up: ") +
                   std::string(std::istreambuf_iterator<char>(log), {});
    }
}

PrivateService::~PrivateService() {
    stop();
    if (hadOldSocket_) {
        ::setenv("KRVX_SOCKET", oldSocket_.c_str(), 1);
    } else {
        ::unsetenv("KRVX_SOCKET");
    }
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

int PrivateService::stop() {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, SIGTERM);
    int result = reap(pid_, 10000);
    if (result < 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        result = decodeStatus(status);
    }
    pid_ = -1;
    return result;
}

KrvxProcess::KrvxProcess(const PrivateService &service, std::vector<std::string> args) {
    char fileTemplate[] = "/tmp/vintrel-e2e-krvx.XXXXXX";
    const int fd = ::mkstemp(fileTemplate);
    if (fd < 0) {
        return;
    }
    ::close(fd);
    outputFile_ = fileTemplate;
    args.insert(args.begin(), {krvxPath(), "--socket", service.socket()});
    pid_ = spawn(args, outputFile_);
}

KrvxProcess::~KrvxProcess() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (!outputFile_.empty()) {
        ::unlink(outputFile_.c_str());
    }
}

bool KrvxProcess::running() {
    if (pid_ <= 0 || status_ >= 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = decodeStatus(status);
        return false;
    }
    return true;
}

int KrvxProcess::finish(int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    waitUntil([this] { return !running(); }, timeoutMs);
    return status_;
}

std::string KrvxProcess::output() const {
    std::ifstream in(outputFile_);
    return {std::istreambuf_iterator<char>(in), {}};
}

int runKrvx(const PrivateService &service, std::vector<std::string> args, std::string *output) {
    KrvxProcess krvx(service, std::move(args));
    const int status = krvx.finish();
    if (output != nullptr) {
        *output = krvx.output();
    }
    return status;
}

bool loadRealDriver(std::string &reason) {
    return processState().driver.load(driverLibraryPath(), reason);
}

}  // namespace vintrel::test::e2e
