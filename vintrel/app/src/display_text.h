// SPDX-License-Identifier: MIT
// The texts of frmMain's two read-only displays: the device information line and the last
// received code. Pure functions; any thread.
#pragma once

#include <krvxdrv.h>

#include <QString>

#include "vintrel/platform/window_system.h"

namespace vintrel::app {

/// "FirmwareVer=<major>.<minor> ProtVer=<major>.<minor> FirmwareDate=<month>/<day>/<year>".
/// Versions are read as signed 32-bit values, major = value / 256 and minor = value % 256
/// (truncating, the remainder with the value's sign); the year is 2000 + the stored byte.
/// Numbers in plain decimal; month and day are printed as stored, unchecked.
QString deviceInfoCaption(const DeviceInfo &info);

/// The received code in the 16 bytes a WM_RXCODE brings: the bytes before the first NUL
/// (all 16 when there is none), one ISO-8859-1 character per byte. What follows a NUL is
/// not part of the code.
QString receivedCodeText(const platform::MessagePayload &code);

}  // namespace vintrel::app
