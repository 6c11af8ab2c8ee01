// SPDX-License-Identifier: MIT
#include "codes.h"

#include <fmt/format.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "../../tools/krvx/code_file.h"
#include "json.h"

namespace krvx::mqtt {

namespace {

constexpr std::size_t kMaxFiles = 200;
constexpr uintmax_t kMaxFileBytes = 1 << 20;

/// The files of the folder worth reading, sorted by name.
std::vector<std::filesystem::directory_entry> code_files(const std::string &dir) {
    std::vector<std::filesystem::directory_entry> out;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string name = e.path().filename().string();
        if (!file_name_refusal(name).empty() || !e.is_regular_file(ec))
            continue;
        out.push_back(e);
        if (out.size() == kMaxFiles)
            break;
    }
    std::sort(out.begin(), out.end());
    return out;
}

/// FNV-1a, 64 bits: a stable name for any text.
uint64_t fnv1a(std::string_view s, uint64_t h = 0xcbf29ce484222325ull) {
    for (const char c : s) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ull;
    }
    return h;
}

}  // namespace

std::string file_name_refusal(std::string_view name) {
    if (name.empty() || name.size() > 128)
        return "a file name of 1 to 128 characters is expected";
    if (name.front() == '.')
        return "hidden files and \"..\" are not code files";
    for (const char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "a file name without '/' or control characters is expected";
    return {};
}

std::string codes_signature(const std::string &dir) {
    std::string sig;
    std::error_code ec;
    for (const auto &e : code_files(dir)) {
        struct stat st {};
        if (::stat(e.path().c_str(), &st) == 0)
            sig += fmt::format("{}:{}:{}.{}\n", e.path().filename().string(), st.st_size,
                               st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
    }
    return sig;
}

CodesScan scan_codes(const std::string &dir) {
    CodesScan scan;
    for (const auto &e : code_files(dir)) {
        const std::string name = e.path().filename().string();
        std::error_code ec;
        if (e.file_size(ec) > kMaxFileBytes) {
            scan.problems.push_back(fmt::format("{}: larger than 1 MiB, left out", name));
            continue;
        }
        const ir::files::ReadResult r = ir::files::read_file(e.path().string());
        if (!r.ok()) {
            scan.problems.push_back(r.error);
            continue;
        }
        for (const auto &remote : r.file.remotes)
            for (const auto &key : remote.keys)
                if (key.has_signal())
                    scan.keys.push_back({name, remote.name, key.name});
    }
    return scan;
}

KeyCode key_code(const std::string &dir, const KeyRef &ref) {
    if (dir.empty())
        return {{}, "no code folder: the bridge runs without --codes"};
    if (std::string why = file_name_refusal(ref.file); !why.empty())
        return {{}, "\"file\": " + why};
    std::error_code ec;
    const auto path = std::filesystem::path(dir) / ref.file;
    if (!std::filesystem::is_regular_file(path, ec))
        return {{}, fmt::format("no code file \"{}\"", ref.file)};
    if (std::filesystem::file_size(path, ec) > kMaxFileBytes)
        return {{}, fmt::format("{}: larger than 1 MiB", ref.file)};
    cli::FileOptions o{path.string(), ref.remote};
    const cli::CodeInput in = cli::code_or_key(o, {ref.key});
    // Messages name the file as the command did, not by its place on this machine.
    std::string error = in.error;
    for (std::size_t at; (at = error.find(path.string())) != std::string::npos;)
        error.replace(at, path.string().size(), ref.file);
    return {in.code, error};
}

std::string button_object_id(const KeyRef &ref) {
    uint64_t h = fnv1a(ref.file);
    h = fnv1a(std::string_view("\n"), h);
    h = fnv1a(ref.remote, h);
    h = fnv1a(std::string_view("\n"), h);
    h = fnv1a(ref.key, h);
    return fmt::format("key_{:016x}", h);
}

std::string ha_key_button_config(const Topics &t, const std::string &sw, const KeyRef &ref) {
    const std::string object = button_object_id(ref);
    const std::string press =
        JsonWriter().text("file", ref.file).text("remote", ref.remote).text("key", ref.key).str();
    return JsonWriter()
        .text("name", ref.remote.empty() ? ref.key : ref.remote + " " + ref.key)
        .text("unique_id", fmt::format("krvx_{}_{}", t.node(), object))
        .text("object_id", fmt::format("krvx_{}_{}", t.node(), object))
        .raw("device", ha_device_json(t, sw))
        .text("availability_topic", t.status())
        .text("payload_available", "online")
        .text("payload_not_available", "offline")
        .text("command_topic", t.send())
        .text("payload_press", press)
        .text("icon", "mdi:remote")
        .str();
}

}  // namespace krvx::mqtt
