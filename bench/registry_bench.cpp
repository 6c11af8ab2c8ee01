// SPDX-License-Identifier: MIT
// vintrel's registry file: what System Info's lookups cost on the user-interface thread.
// Each key open reads and parses the whole file, so the largest file allowed is the worst
// case.
#include "vintrel/platform/registry.h"

#include <benchmark/benchmark.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

using vintrel::platform::HKEY;
using vintrel::platform::HKEY_LOCAL_MACHINE;
using vintrel::platform::Registry;

// A registry file at a temporary path, removed at the end.
class TempRegistry {
  public:
    explicit TempRegistry(const std::string &contents) {
        char name[] = "/tmp/vintrel-registry-bench-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0) {
            ::close(fd);
            path_ = name;
            std::ofstream(path_, std::ios::binary) << contents;
        }
    }
    ~TempRegistry() {
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }
    TempRegistry(const TempRegistry &) = delete;
    TempRegistry &operator=(const TempRegistry &) = delete;
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

const char *const kKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

void openAndQuery(benchmark::State &state, const std::string &contents) {
    const TempRegistry file(contents);
    Registry registry(file.path());
    for (auto _ : state) {
        HKEY key = 0;
        if (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, 0x2003F, &key) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        std::uint8_t buffer[1024] = {};
        std::uint32_t size = sizeof buffer;
        std::uint32_t type = 0;
        benchmark::DoNotOptimize(
            registry.RegQueryValueExA(key, "MSINFO", nullptr, &type, buffer, &size));
        registry.RegCloseKey(key);
    }
}

// The shipped file: comments, one key, one value.
void BM_OpenQueryShippedFile(benchmark::State &state) {
    openAndQuery(state,
                 "; vintrel's registry\n; more comment lines\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\n"
                 "MSINFO = /usr/bin\n");
}
BENCHMARK(BM_OpenQueryShippedFile);

// The largest file read: 1 MiB of short values, one key per 100 values.
void BM_OpenQueryLargestFile(benchmark::State &state) {
    std::string contents =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shared Tools Location]\n"
        "MSINFO = /usr/bin\n";
    for (int i = 0; contents.size() < Registry::kMaxFileBytes - 64; ++i) {
        if (i % 100 == 0) {
            contents += "[HKLM\\SOFTWARE\\Filler\\K" + std::to_string(i / 100) + "]\n";
        }
        contents += "v" + std::to_string(i) + " = text " + std::to_string(i) + "\n";
    }
    openAndQuery(state, contents);
}
BENCHMARK(BM_OpenQueryLargestFile)->Unit(benchmark::kMillisecond);

}  // namespace
