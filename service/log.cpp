// SPDX-License-Identifier: MIT
#include "log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace krvxd {

Log::Log(bool verbose)
    : max_(verbose ? Level::debug : Level::info),
      journal_(std::getenv("JOURNAL_STREAM") != nullptr) {}

bool Log::admit() const {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - refilled_).count();
    refilled_ = now;
    tokens_ = std::min(kBurst, tokens_ + seconds * kPerSecond);
    if (tokens_ < 1) {
        ++left_out_;
        ++left_out_total_;
        return false;
    }
    tokens_ -= 1;
    return true;
}

void Log::emit(Level level) const {
    static constexpr const char *kPriority[] = {"<3>", "<4>", "<6>", "<7>"};
    static constexpr const char *kWord[] = {"error: ", "warning: ", "", ""};
    const auto i = static_cast<std::size_t>(level);
    const char *priority = journal_ ? kPriority[i] : "";
    if (left_out_ > 0) {
        std::fprintf(stderr, "%skrvxd: %llu log lines left out (more than %.0f a second)\n",
                     priority, static_cast<unsigned long long>(left_out_), kPerSecond);
        left_out_ = 0;
    }
    std::fprintf(stderr, "%skrvxd: %s%.*s\n", priority, kWord[i], static_cast<int>(line_.size()),
                 line_.data());
}

}  // namespace krvxd
