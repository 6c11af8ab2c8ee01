// SPDX-License-Identifier: MIT
// Code files: reading every remote of Debian's lirc-compat-remotes (as krvx keys and send
// --file do, files from the page cache), and converting a Pronto file of all their keys to
// lircd.conf, here and with LIRC's pronto2lirc (both as programs started for the job).
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ir/files.h"

namespace {

std::vector<std::string> compat_remotes() {
    std::vector<std::string> out;
    FILE *p = ::popen("dpkg -L lirc-compat-remotes 2>/dev/null", "r");
    char line[4096];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
        std::string path(line);
        path.pop_back();
        const std::string name = std::filesystem::path(path).filename();
        if (path.find("/remotes/") != std::string::npos && name != "README" &&
            name.rfind("lircmd", 0) != 0 && name.rfind("lircrc", 0) != 0 &&
            std::filesystem::is_regular_file(path)) {
            out.push_back(path);
        }
    }
    if (p != nullptr) {
        ::pclose(p);
    }
    return out;
}

void BM_ReadCompatRemotes(benchmark::State &state) {
    const std::vector<std::string> paths = compat_remotes();
    if (paths.empty()) {
        state.SkipWithError("lirc-compat-remotes is not installed");
        return;
    }
    std::size_t keys = 0;
    for (auto _ : state) {
        keys = 0;
        for (const std::string &p : paths) {
            const ir::files::ReadResult r = ir::files::read_file(p, ir::files::Format::Lircd);
            for (const ir::files::Remote &remote : r.file.remotes) {
                keys += remote.keys.size();
            }
        }
    }
    state.counters["files"] = double(paths.size());
    state.counters["keys"] = double(keys);
}
BENCHMARK(BM_ReadCompatRemotes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same, each key also decoded (what krvx keys shows).
void BM_ReadAndDecodeCompatRemotes(benchmark::State &state) {
    const std::vector<std::string> paths = compat_remotes();
    if (paths.empty()) {
        state.SkipWithError("lirc-compat-remotes is not installed");
        return;
    }
    for (auto _ : state) {
        for (const std::string &p : paths) {
            ir::files::ReadResult r = ir::files::read_file(p, ir::files::Format::Lircd);
            ir::files::decode_keys(r.file);
        }
    }
}
BENCHMARK(BM_ReadAndDecodeCompatRemotes)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every key with timings of lirc-compat-remotes as "NAME:CODE" Pronto lines.
std::string pronto_file() {
    ir::files::CodeFile all;
    all.remotes.push_back({"", nullptr, 0, {}});
    for (const std::string &p : compat_remotes()) {
        const ir::files::ReadResult r = ir::files::read_file(p, ir::files::Format::Lircd);
        for (const ir::files::Remote &remote : r.file.remotes) {
            for (ir::files::Key k : remote.keys) {
                if (k.has_signal()) {
                    k.name = std::to_string(all.remotes.front().keys.size());
                    all.remotes.front().keys.push_back(std::move(k));
                }
            }
        }
    }
    return ir::files::write(all, ir::files::Format::Pronto).text;
}

int run(const std::string &command, const std::string &dir) {
    const int st = std::system(("cd " + dir + " && " + command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

class ProntoFile {
  public:
    ProntoFile() {
        std::string templ = (std::filesystem::temp_directory_path() / "krvx-bench-XXXXXX").string();
        dir = ::mkdtemp(templ.data()) != nullptr ? templ : "";
        text = pronto_file();
        std::ofstream(dir + "/codes.txt") << text;
    }
    ~ProntoFile() { std::filesystem::remove_all(dir); }
    std::string dir, text;
};

void BM_ProntoToLircdHere(benchmark::State &state) {
    ProntoFile f;
    if (f.text.empty()) {
        state.SkipWithError("lirc-compat-remotes is not installed");
        return;
    }
    for (auto _ : state) {
        const ir::files::ReadResult r =
            ir::files::read(f.text, ir::files::Format::Pronto, "codes.txt");
        benchmark::DoNotOptimize(ir::files::write(r.file, ir::files::Format::Lircd).text.size());
    }
}
BENCHMARK(BM_ProntoToLircdHere)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProntoToLircdKrvxConvert(benchmark::State &state) {
    ProntoFile f;
    if (f.text.empty()) {
        state.SkipWithError("lirc-compat-remotes is not installed");
        return;
    }
    for (auto _ : state) {
        if (run(std::string(KRVX_PATH) + " convert --to lircd codes.txt lircd.conf", f.dir) != 0) {
            state.SkipWithError("krvx convert failed");
            break;
        }
    }
}
BENCHMARK(BM_ProntoToLircdKrvxConvert)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ProntoToLircdPronto2lirc(benchmark::State &state) {
    ProntoFile f;
    if (f.text.empty() || ::access("/usr/bin/pronto2lirc", X_OK) != 0) {
        state.SkipWithError("needs lirc and lirc-compat-remotes");
        return;
    }
    for (auto _ : state) {
        if (run("/usr/bin/pronto2lirc codes.txt", f.dir) != 0) {
            state.SkipWithError("pronto2lirc failed");
            break;
        }
    }
}
BENCHMARK(BM_ProntoToLircdPronto2lirc)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
