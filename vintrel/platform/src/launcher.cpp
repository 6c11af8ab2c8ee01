// SPDX-License-Identifier: MIT
#include "vintrel/platform/launcher.h"

#include <QFile>
#include <QProcess>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace vintrel::platform {

namespace {

constexpr std::string_view kSystemInfoName = "MSINFO32.EXE";

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto up = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; };
        if (up(a[i]) != up(b[i])) {
            return false;
        }
    }
    return true;
}

bool isNormalNativeFile(const std::string &path) {
    if (path.empty() || path.size() >= PATH_MAX || path.find('\0') != std::string::npos) {
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(slash + 1);
    if (name.empty() || name.front() == '.') {
        return false;  // a folder path, or a hidden file
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string programPath(std::string_view path) {
    std::string out(path);
    for (char &c : out) {
        if (c == '\\') {
            c = '/';
        }
    }
    const std::size_t slash = out.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (!equalsNoCase(std::string_view(out).substr(nameStart), kSystemInfoName)) {
        return out;
    }
    const std::string folder = out.substr(0, nameStart);
    for (std::string_view tool : kSystemInfoTools) {
        std::string candidate = folder + std::string(tool);
        if (isNormalNativeFile(candidate)) {
            return candidate;
        }
    }
    return folder + std::string(kSystemInfoTools.front());
}

bool isNormalFile(std::string_view path) {
    return isNormalNativeFile(programPath(path));
}

bool startProgram(std::string_view path, std::string *error) {
    const auto fail = [error](std::string reason) {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return false;
    };
    const std::string native = programPath(path);
    if (native.empty() || native.front() != '/') {
        return fail("not an absolute path: \"" + native + "\"");
    }
    if (native.size() >= PATH_MAX || native.find('\0') != std::string::npos) {
        return fail("path too long or with a NUL byte");
    }
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0) {
        return fail(native + ": " + std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(native + ": not a regular file");
    }
    if (::access(native.c_str(), X_OK) != 0) {
        return fail(native + ": not executable");
    }
    // decodeName: the bytes of the path reach execve unchanged.
    QProcess process;
    process.setProgram(QFile::decodeName(QByteArray(native.data(), qsizetype(native.size()))));
    process.setStandardInputFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        return fail(native + ": could not be started: " + process.errorString().toStdString());
    }
    return true;
}

}  // namespace vintrel::platform
