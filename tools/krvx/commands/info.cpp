// SPDX-License-Identifier: MIT
// krvx info: the device's firmware, protocol and date, the library version and the socket.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>

#include "../commands.h"
#include "krvxdrv.h"

namespace krvx::cli {

namespace {

int info(const Context &ctx) {
    const int32_t h = open_device(ctx);
    if (h < 0)
        return kNoService;
    DeviceInfo info{};
    const int ok = KRVXGetKRVXInfo(h, &info);
    const int e = errno;
    KRVXClose(h);
    if (!ok)
        return fail(ctx, kRefused, std::string("device information: ") + KRVXErrorText(e));
    char date[16], firmware[16], protocol[16];
    std::snprintf(date, sizeof date, "%04u-%02u-%02u", 2000u + info.firmwareDateYear,
                  info.firmwareDateMonth, info.firmwareDateDay);
    std::snprintf(firmware, sizeof firmware, "%u.%u", info.firmwareVersion / 256u,
                  info.firmwareVersion % 256u);
    std::snprintf(protocol, sizeof protocol, "%u.%u", info.protocolVersion / 256u,
                  info.protocolVersion % 256u);
    uint32_t version = 0;
    KRVXGetDrvVersion(&version);
    if (ctx.json) {
        print_line(JsonObject(true)
                       .text("firmware", firmware)
                       .text("protocol", protocol)
                       .text("firmware_date", date)
                       .number("library_version", static_cast<long long>(version))
                       .text("socket", ctx.socket)
                       .str());
    } else {
        std::printf(
            "Firmware version:  %s\nProtocol version:  %s\nFirmware date:     %s\n"
            "Library version:   %u\nService socket:    %s\n",
            firmware, protocol, date, version, ctx.socket.c_str());
    }
    return kDone;
}

}  // namespace

Command add_info(CLI::App &parent) {
    auto *cmd = parent.add_subcommand("info", "Show the device's firmware, protocol and date");
    return {cmd, info};
}

}  // namespace krvx::cli
