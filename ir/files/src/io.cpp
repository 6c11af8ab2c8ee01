// SPDX-License-Identifier: MIT
#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ir/files.h"

namespace ir::files::detail {
namespace {

std::string errno_text(const std::string &path, int e) {
    return (path == "-" ? std::string("standard input") : path) + ": " + std::strerror(e);
}

std::string too_large(const std::string &path, unsigned long long size) {
    return (path == "-" ? std::string("standard input") : path) + ": " +
           (size > kMaxFileBytes ? std::to_string(size) + " bytes, more" : "more bytes") +
           " than a code file may have (" + std::to_string(kMaxFileBytes) + ")";
}

}  // namespace

FileText read_bounded(const std::string &path) {
    FileText out;
    const int fd = path == "-" ? ::dup(0) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        out.missing = errno == ENOENT;
        out.error = errno_text(path, errno);
        return out;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            ::close(fd);
            out.error = path + ": a folder, not a file";
            return out;
        }
        if (S_ISREG(st.st_mode) && static_cast<unsigned long long>(st.st_size) > kMaxFileBytes) {
            ::close(fd);
            out.error = too_large(path, static_cast<unsigned long long>(st.st_size));
            return out;
        }
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            out.error = errno_text(path, errno);
            break;
        }
        if (n == 0) {
            break;
        }
        if (out.text.size() + std::size_t(n) > kMaxFileBytes) {
            out.error = too_large(path, 0);
            break;
        }
        out.text.append(buf, std::size_t(n));
    }
    ::close(fd);
    if (!out.error.empty()) {
        out.text.clear();
    }
    return out;
}

}  // namespace ir::files::detail

namespace ir::files {

std::string replace_file(const std::string &path, std::string_view text) {
    mode_t mode = 0666;
    struct stat st {};
    bool exists = ::stat(path.c_str(), &st) == 0;
    if (exists) {
        mode = st.st_mode & 07777;
    }
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        return "cannot write next to " + path + ": " + std::strerror(errno);
    }
    std::string error;
    std::size_t done = 0;
    while (done < text.size() && error.empty()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
        } else {
            done += std::size_t(n);
        }
    }
    if (error.empty()) {
        if (!exists) {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode &= ~mask;
        }
        if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
            error = "cannot write " + temp + ": " + std::strerror(errno);
        }
    }
    if (::close(fd) != 0 && error.empty()) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
    }
    if (error.empty() && ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
    }
    if (!error.empty()) {
        ::unlink(temp.c_str());
    }
    return error;
}

}  // namespace ir::files
