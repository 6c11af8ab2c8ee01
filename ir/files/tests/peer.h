// SPDX-License-Identifier: MIT
// Running LIRC's own programs from the tests: a child process in a folder of its own, with a
// deadline, and the Debian package files they work on.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace peer {

inline bool installed(const std::string &program) {
    return ::access(program.c_str(), X_OK) == 0;
}

struct Run {
    int status = -1;  ///< exit status, or 128 + signal
    bool timed_out = false;
};

/// Runs argv in `dir` with XDG_CACHE_HOME there (LIRC's tools log into it), output to
/// `dir`/out.txt, killed after `timeout`.
inline Run run(const std::vector<std::string> &argv, const std::string &dir,
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) != 0) {
            ::_exit(126);
        }
        ::setenv("XDG_CACHE_HOME", dir.c_str(), 1);
        const int out = ::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        std::vector<char *> args;
        for (const std::string &a : argv) {
            args.push_back(const_cast<char *>(a.c_str()));
        }
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    Run r;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int st = 0;
    while (::waitpid(pid, &st, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &st, 0);
            r.timed_out = true;
            return r;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

inline std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// The remote files of Debian's lirc-compat-remotes, as `dpkg -L` lists them (mouse and
/// lircrc files left out). Empty when the package is not installed.
inline std::vector<std::string> compat_remotes() {
    std::vector<std::string> out;
    FILE *p = ::popen("dpkg -L lirc-compat-remotes 2>/dev/null", "r");
    if (p == nullptr) {
        return out;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string path(line);
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) {
            path.pop_back();
        }
        const std::string name = std::filesystem::path(path).filename();
        if (path.find("/remotes/") == std::string::npos || name == "README" ||
            name.rfind("lircmd.conf", 0) == 0 || name.rfind("lircrc", 0) == 0 ||
            !std::filesystem::is_regular_file(path)) {
            continue;
        }
        out.push_back(path);
    }
    ::pclose(p);
    return out;
}

/// lircd on a private socket with its `file` driver, which writes what it sends to `out`;
/// its own options file and log keep it away from /etc/lirc. Stopped with the object.
class Lircd {
  public:
    Lircd(const std::string &dir, const std::string &conf, const std::string &out)
        : sock_(dir + "/lircd.sock") {
        std::ofstream(dir + "/lirc_options.conf") << "[lircd]\nnodaemon = True\n";
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            const std::string opts = dir + "/lirc_options.conf", pid = dir + "/lircd.pid",
                              log = dir + "/lircd.log";
            ::execl("/usr/sbin/lircd", "lircd", "-O", opts.c_str(), "-n", "-H", "file", "-d",
                    out.c_str(), "-o", sock_.c_str(), "-P", pid.c_str(), "-L", log.c_str(),
                    conf.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500 && !std::filesystem::exists(sock_); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~Lircd() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Lircd(const Lircd &) = delete;
    Lircd &operator=(const Lircd &) = delete;
    bool ready() const { return pid_ > 0 && std::filesystem::exists(sock_); }
    const std::string &socket() const { return sock_; }

  private:
    std::string sock_;
    pid_t pid_ = -1;
};

/// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
  public:
    TempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "krvx-files-XXXXXX").string();
        path_ = ::mkdtemp(templ.data()) != nullptr ? templ : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace peer
