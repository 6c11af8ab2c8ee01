// SPDX-License-Identifier: MIT
// Test helpers around the fake driver: environment settings that are undone at the end of
// a test, and the fake's call log.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace vintrel::test {

/// Sets environment variables and puts the old values back when it goes away.
class ScopedEnv {
  public:
    ScopedEnv() = default;
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;
    ~ScopedEnv() {
        for (const auto &[name, old] : saved_) {
            if (old) {
                ::setenv(name.c_str(), old->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    void set(const std::string &name, const std::string &value) {
        remember(name);
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string &name) {
        remember(name);
        ::unsetenv(name.c_str());
    }

  private:
    void remember(const std::string &name) {
        if (saved_.count(name) == 0) {
            const char *old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
    }
    std::map<std::string, std::optional<std::string>> saved_;
};

/// A fresh log file for the fake driver, named in FAKE_KRVX_LOG while this lives.
class FakeLog {
  public:
    FakeLog() {
        char name[] = "/tmp/vintrel-fake-log.XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0) {
            ::close(fd);
        }
        path_ = name;
        env_.set("FAKE_KRVX_LOG", path_);
    }
    FakeLog(const FakeLog &) = delete;
    FakeLog &operator=(const FakeLog &) = delete;
    ~FakeLog() { ::unlink(path_.c_str()); }

    const std::string &path() const { return path_; }
    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        std::ifstream in(path_);
        for (std::string line; std::getline(in, line);) {
            result.push_back(line);
        }
        return result;
    }
    std::size_t count(const std::string &line) const {
        std::size_t n = 0;
        for (const std::string &l : lines()) {
            n += l == line ? 1 : 0;
        }
        return n;
    }

  private:
    std::string path_;
    ScopedEnv env_;
};

}  // namespace vintrel::test
