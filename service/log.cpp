#include "log.h"

#include <cstdio>

namespace krvxd {

void Log::info(std::string_view line) const {
    std::fprintf(stderr, "krvxd: %.*s\n", static_cast<int>(line.size()), line.data());
}

void Log::debug(std::string_view line) const {
    if (verbose_)
        info(line);
}

}  // namespace krvxd
