// Socket path rules shared by the service and the library.
#include "wire/socket_path.h"

#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>

namespace wire {

std::string default_socket_path() {
    const char *explicit_path = std::getenv("KRVX_SOCKET");
    if (explicit_path != nullptr && explicit_path[0] != '\0')
        return explicit_path;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/')
        return std::string(runtime) + "/krvxd.sock";
    return "/tmp/krvxd-" + std::to_string(::getuid()) + ".sock";
}

std::size_t max_socket_path() {
    return sizeof(sockaddr_un{}.sun_path) - 1;
}

}  // namespace wire
