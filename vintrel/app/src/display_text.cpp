// SPDX-License-Identifier: MIT
#include "display_text.h"

#include <algorithm>
#include <cstdint>

namespace vintrel::app {

namespace {

QString version(std::uint32_t stored) {
    const auto value = static_cast<std::int32_t>(stored);
    return QString::number(value / 256) + QLatin1Char('.') + QString::number(value % 256);
}

}  // namespace

QString deviceInfoCaption(const DeviceInfo &info) {
    return QStringLiteral("FirmwareVer=") + version(info.firmwareVersion) +
           QStringLiteral(" ProtVer=") + version(info.protocolVersion) +
           QStringLiteral(" FirmwareDate=") + QString::number(info.firmwareDateMonth) +
           QLatin1Char('/') + QString::number(info.firmwareDateDay) + QLatin1Char('/') +
           QString::number(2000 + int{info.firmwareDateYear});
}

QString receivedCodeText(const platform::MessagePayload &code) {
    const auto end = std::find(code.begin(), code.end(), '\0');
    return QString::fromLatin1(code.data(), static_cast<qsizetype>(end - code.begin()));
}

}  // namespace vintrel::app
