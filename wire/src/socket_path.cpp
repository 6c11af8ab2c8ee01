// SPDX-License-Identifier: MIT
// Socket path rules shared by the service and the library.
#include "wire/socket_path.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace wire {

std::string default_socket_path() {
    const char *explicit_path = std::getenv("KRVX_SOCKET");
    if (explicit_path != nullptr && explicit_path[0] != '\0')
        return explicit_path;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
        return std::string(runtime) + "/krvxd.sock";
    return fallback_socket_dir() + "/krvxd.sock";
}

std::string fallback_socket_dir() {
    return "/tmp/krvxd-" + std::to_string(::geteuid());
}

std::string make_private_dir(const std::string &dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return "cannot create " + dir + ": " + std::strerror(errno);
    // Checked through a descriptor opened without following links: what is checked is what
    // the socket will be bound in, even if the name is swapped meanwhile.
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            return dir + " is not a folder (a symbolic link or a file): remove it";
        return "cannot open " + dir + ": " + std::strerror(errno);
    }
    struct stat st {};
    const int r = ::fstat(fd, &st);
    ::close(fd);
    if (r != 0)
        return "cannot check " + dir + ": " + std::strerror(errno);
    if (st.st_uid != ::geteuid())
        return dir + " belongs to user " + std::to_string(st.st_uid) +
               ": remove it, or choose another socket path";
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return dir + " has mode " + mode + ", others may enter it: expected 0700";
    }
    return {};
}

std::size_t max_socket_path() {
    return sizeof(sockaddr_un{}.sun_path) - 1;
}

}  // namespace wire
