// SPDX-License-Identifier: MIT
#include "vintrel/platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#ifndef VINTREL_BINDIR
#define VINTREL_BINDIR "bin"
#endif
#ifndef VINTREL_SYSCONFDIR
#define VINTREL_SYSCONFDIR "etc"
#endif

namespace vintrel::platform {

namespace {

constexpr REGSAM kKnownAccess = 0x3F | KEY_WOW64_64KEY | KEY_WOW64_32KEY | 0x001F0000u |
                                MAXIMUM_ALLOWED | GENERIC_ALL | GENERIC_EXECUTE | GENERIC_WRITE |
                                GENERIC_READ;
constexpr REGSAM kQueryRights = KEY_QUERY_VALUE | GENERIC_READ | GENERIC_ALL | MAXIMUM_ALLOWED;

struct RootName {
    HKEY handle;
    std::string_view name;   // canonical, upper case
    std::string_view alias;  // short form accepted in the file
};
constexpr std::array<RootName, 4> kRoots = {{
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"},
    {HKEY_USERS, "HKEY_USERS", "HKU"},
}};

using KeyMap = std::map<std::string, Registry::ValueMap>;

struct FileContents {
    LSTATUS status = ERROR_SUCCESS;
    KeyMap keys;
    std::vector<std::string> diagnostics;
};

std::string upper(std::string_view text) {
    std::string out(text);
    for (char &c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && upper(text.substr(0, prefix.size())) == upper(prefix);
}

const RootName *rootByHandle(HKEY handle) {
    for (const RootName &root : kRoots) {
        if (root.handle == handle) {
            return &root;
        }
    }
    return nullptr;
}

const RootName *rootByName(std::string_view name) {
    const std::string key = upper(name);
    for (const RootName &root : kRoots) {
        if (key == root.name || key == root.alias) {
            return &root;
        }
    }
    return nullptr;
}

// Appends the "\"-separated parts of sub to path (upper-cased); false when a part is empty
// or longer than the registry allows.
bool appendKeyParts(std::string &path, std::string_view sub) {
    while (true) {
        const std::size_t cut = sub.find('\\');
        const std::string_view part = sub.substr(0, cut);
        if (part.empty() || part.size() > Registry::kMaxKeyPartChars) {
            return false;
        }
        path += '\\';
        path += upper(part);
        if (cut == std::string_view::npos) {
            return true;
        }
        sub.remove_prefix(cut + 1);
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to 8 hex digits, nothing else.
std::optional<std::uint32_t> parseHex32(std::string_view text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// "41,42 , 00": two hex digits per byte; the empty text is no bytes.
std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    text = trim(text);
    if (text.empty()) {
        return bytes;
    }
    while (true) {
        const std::size_t cut = text.find(',');
        const std::string_view item = trim(text.substr(0, cut));
        if (item.size() != 2 || hexDigit(item[0]) < 0 || hexDigit(item[1]) < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(hexDigit(item[0]) * 16 + hexDigit(item[1])));
        if (cut == std::string_view::npos) {
            return bytes;
        }
        text.remove_prefix(cut + 1);
    }
}

// Reads a quoted text starting at text[0] == '"'. On success returns the unescaped text
// and leaves in rest what follows the closing quote.
std::optional<std::string> parseQuoted(std::string_view text, std::string_view &rest) {
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            rest = text.substr(i + 1);
            return out;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
            out += text[++i];
        } else {
            out += c;
        }
    }
    return std::nullopt;  // no closing quote
}

std::vector<std::uint8_t> textData(std::string_view text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

// Parses one "name = data" line; returns the error text, or empty on success.
std::string parseValueLine(std::string_view line, std::string &name, Registry::Value &value) {
    std::string_view rest;
    if (line.front() == '"') {
        const auto quoted = parseQuoted(line, rest);
        if (!quoted) {
            return "value name without closing quote";
        }
        name = *quoted;
        rest = trim(rest);
        if (rest.empty() || rest.front() != '=') {
            return "no \"=\" after the value name";
        }
        rest.remove_prefix(1);
    } else {
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            return "neither a [key] nor a \"name = value\" line";
        }
        const std::string_view bare = trim(line.substr(0, eq));
        if (bare.empty()) {
            return "empty value name (write @ for the default value)";
        }
        name = bare == "@" ? std::string() : std::string(bare);
        rest = line.substr(eq + 1);
    }
    if (name.size() > Registry::kMaxValueNameChars) {
        return "value name too long";
    }
    rest = trim(rest);

    if (!rest.empty() && rest.front() == '"') {
        std::string_view after;
        const auto quoted = parseQuoted(rest, after);
        if (!quoted) {
            return "value text without closing quote";
        }
        if (!trim(after).empty()) {
            return "text after the closing quote";
        }
        value = {REG_SZ, textData(*quoted)};
        return {};
    }
    if (startsWithNoCase(rest, "dword:")) {
        const auto number = parseHex32(trim(rest.substr(6)));
        if (!number) {
            return "dword: needs 1 to 8 hex digits";
        }
        value.type = REG_DWORD;
        value.data.clear();
        for (int shift = 0; shift < 32; shift += 8) {
            value.data.push_back(static_cast<std::uint8_t>((*number >> shift) & 0xFF));
        }
        return {};
    }
    if (startsWithNoCase(rest, "hex:") || startsWithNoCase(rest, "hex(")) {
        std::uint32_t type = REG_BINARY;
        std::string_view bytes = rest.substr(4);
        if (rest[3] == '(') {
            const std::size_t close = rest.find("):");
            const auto number = close == std::string_view::npos
                                    ? std::nullopt
                                    : parseHex32(rest.substr(4, close - 4));
            if (!number) {
                return "hex(type): needs a type of 1 to 8 hex digits";
            }
            type = *number;
            bytes = rest.substr(close + 2);
        }
        auto data = parseHexBytes(bytes);
        if (!data) {
            return "hex data must be two-digit hex bytes separated by commas";
        }
        value = {type, std::move(*data)};
        return {};
    }
    value = {REG_SZ, textData(rest)};
    return {};
}

void parse(std::string_view text, const std::string &filePath, FileContents &out) {
    std::optional<std::string> current;  // the key of the lines below, if valid
    int lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        line = trim(line);
        const auto complain = [&](std::string_view reason) {
            out.diagnostics.push_back(filePath + ":" + std::to_string(lineNumber) + ": " +
                                      std::string(reason));
        };
        if (line.empty() || line.front() == ';' || line.front() == '#') {
            continue;
        }
        if (line.find('\0') != std::string_view::npos) {
            complain("NUL byte in the line");
            continue;
        }
        if (line.front() == '[') {
            current.reset();
            if (line.back() != ']') {
                complain("key line without closing ]");
                continue;
            }
            const std::string_view inner = line.substr(1, line.size() - 2);
            const std::size_t cut = inner.find('\\');
            const RootName *root = rootByName(inner.substr(0, cut));
            if (root == nullptr) {
                complain("key must start with HKEY_LOCAL_MACHINE or another root");
                continue;
            }
            std::string path(root->name);
            if (cut != std::string_view::npos && !appendKeyParts(path, inner.substr(cut + 1))) {
                complain("empty or too long part in the key path");
                continue;
            }
            out.keys[path];  // the key exists even without values
            current = std::move(path);
            continue;
        }
        std::string name;
        Registry::Value value;
        const std::string error = parseValueLine(line, name, value);
        if (!error.empty()) {
            complain(error);
            continue;
        }
        if (!current) {
            complain("value outside any valid [key]");
            continue;
        }
        out.keys[*current][upper(name)] = std::move(value);
    }
}

FileContents readFile(const std::string &filePath) {
    FileContents out;
    if (filePath.empty()) {
        out.status = ERROR_FILE_NOT_FOUND;
        return out;
    }
    // O_NONBLOCK: a FIFO at the path must not hang the caller.
    const int fd = ::open(filePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        out.status =
            (errno == EACCES || errno == EPERM) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        return out;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        out.status = ERROR_FILE_NOT_FOUND;
        return out;
    }
    std::string text;
    // Sized from the file's size, grown if it grows meanwhile; one byte past the limit
    // tells a file that is too large.
    constexpr std::size_t kLimit = Registry::kMaxFileBytes + 1;
    const auto reported = static_cast<std::size_t>(std::max<off_t>(info.st_size, 0));
    text.resize(std::min(reported + 1, kLimit));
    std::size_t used = 0;
    while (true) {
        if (used == text.size()) {
            if (text.size() == kLimit) {
                break;
            }
            text.resize(std::min(text.size() * 2, kLimit));
        }
        const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            ::close(fd);
            out.status = ERROR_ACCESS_DENIED;
            return out;
        }
        if (got == 0) {
            break;
        }
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    if (used > Registry::kMaxFileBytes) {
        out.diagnostics.push_back(filePath + ": larger than " +
                                  std::to_string(Registry::kMaxFileBytes) + " bytes, not read");
        out.status = ERROR_FILE_NOT_FOUND;
        return out;
    }
    text.resize(used);
    parse(text, filePath, out);
    return out;
}

bool keyExists(const KeyMap &keys, const std::string &path) {
    if (keys.count(path) != 0) {
        return true;
    }
    const std::string prefix = path + '\\';
    const auto below = keys.lower_bound(prefix);
    return below != keys.end() && below->first.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

Registry::Registry() : Registry(defaultPath()) {}

Registry::Registry(std::string filePath) : path_(std::move(filePath)) {}

std::string Registry::defaultPath() {
    const char *named = std::getenv("VINTREL_REGISTRY");
    if (named != nullptr && *named != '\0') {
        return named;
    }
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    return installedPath(n > 0 ? std::string(self, static_cast<std::size_t>(n))
                               : std::string("/usr/" VINTREL_BINDIR "/vintrel"));
}

std::string Registry::installedPath(const std::string &executable) {
    const std::string_view sysconf = VINTREL_SYSCONFDIR;
    if (sysconf.starts_with('/')) {
        return std::string(sysconf) + "/vintrel/registry.ini";
    }
    // <prefix>/<bindir>/program: drop the program, then each folder of bindir.
    const std::string_view bindir = VINTREL_BINDIR;
    const auto levels = 2 + std::count(bindir.begin(), bindir.end(), '/');
    std::string prefix = executable;
    for (std::ptrdiff_t i = 0; i < levels; ++i) {
        const auto slash = prefix.rfind('/');
        prefix.erase(slash == std::string::npos ? 0 : slash);
    }
    if (prefix == "/usr") {
        prefix.clear();  // /usr's configuration is in /etc
    }
    return prefix + "/" + std::string(sysconf) + "/vintrel/registry.ini";
}

LSTATUS Registry::RegOpenKeyExA(HKEY root, const char *subKey, std::uint32_t options,
                                REGSAM desired, HKEY *result) {
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *result = 0;
    if ((options & ~REG_OPTION_OPEN_LINK) != 0 || (desired & ~kKnownAccess) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::string keyPath;
    if (const RootName *predefined = rootByHandle(root)) {
        keyPath = predefined->name;
    } else if (const auto parent = open_.find(root); parent != open_.end()) {
        keyPath = parent->second.path;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    if (subKey != nullptr && *subKey != '\0' && !appendKeyParts(keyPath, subKey)) {
        return ERROR_BAD_PATHNAME;
    }
    if (open_.size() >= kMaxOpenKeys) {
        return ERROR_NO_SYSTEM_RESOURCES;
    }

    FileContents file = readFile(path_);
    diagnostics_ = std::move(file.diagnostics);
    if (file.status != ERROR_SUCCESS) {
        return file.status;
    }
    const bool isRoot = keyPath.find('\\') == std::string::npos;
    if (!isRoot && !keyExists(file.keys, keyPath)) {
        return ERROR_FILE_NOT_FOUND;
    }

    while (open_.count(nextHandle_) != 0 || nextHandle_ < 0x100 || nextHandle_ >= 0x80000000u) {
        nextHandle_ = nextHandle_ >= 0x80000000u ? 0x100 : nextHandle_ + 4;
    }
    OpenKey key;
    key.path = keyPath;
    key.access = desired;
    if (const auto found = file.keys.find(keyPath); found != file.keys.end()) {
        key.values = std::move(found->second);
    }
    *result = nextHandle_;
    open_.emplace(nextHandle_, std::move(key));
    nextHandle_ += 4;
    return ERROR_SUCCESS;
}

LSTATUS Registry::RegQueryValueExA(HKEY key, const char *valueName, std::uint32_t *reserved,
                                   std::uint32_t *type, std::uint8_t *data,
                                   std::uint32_t *dataSize) {
    if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    const ValueMap *values = nullptr;
    ValueMap rootValues;
    if (const RootName *predefined = rootByHandle(key)) {
        FileContents file = readFile(path_);
        diagnostics_ = std::move(file.diagnostics);
        if (file.status != ERROR_SUCCESS) {
            return file.status;
        }
        rootValues = std::move(file.keys[std::string(predefined->name)]);
        values = &rootValues;
    } else if (const auto open = open_.find(key); open != open_.end()) {
        if ((open->second.access & kQueryRights) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        values = &open->second.values;
    } else {
        return ERROR_INVALID_HANDLE;
    }

    const auto found = values->find(upper(valueName == nullptr ? "" : valueName));
    if (found == values->end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const Value &value = found->second;
    if (type != nullptr) {
        *type = value.type;
    }
    const auto needed = static_cast<std::uint32_t>(value.data.size());
    if (data == nullptr) {
        if (dataSize != nullptr) {
            *dataSize = needed;
        }
        return ERROR_SUCCESS;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    if (needed != 0) {
        std::memcpy(data, value.data.data(), needed);
    }
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LSTATUS Registry::RegCloseKey(HKEY key) {
    if (rootByHandle(key) != nullptr) {
        return ERROR_SUCCESS;
    }
    return open_.erase(key) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

}  // namespace vintrel::platform
