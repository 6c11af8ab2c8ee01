// SPDX-License-Identifier: MIT
// Finding kernel IR devices and describing them.
//
// Every receiver or transmitter rc-core knows appears as /sys/class/rc/rcN/ with a child
// lircM/ for its /dev/lircM node. From rcN/ we read uevent (DRV_NAME, DEV_NAME, NAME = the
// keymap) and protocols ("[nec] rc-5 ...", enabled ones in brackets). Files are read with a
// size bound; a missing or odd file leaves its field empty.
//
// DeviceInfo mapping (the record has no room for names; the backend logs them instead):
//   firmwareVersion  the running kernel's major.minor (uname release "6.1.0-13-amd64"
//                    gives 6 * 256 + 1): for this device the kernel driver is the firmware
//   protocolVersion  1.0: the kernel IR interface (mode2/pulse/scancode) has one version
//   firmwareDate     the kernel's build date from uname's version text, "(YYYY-MM-DD)"
//                    or a "Mon DD ... YYYY" date; all zero when none is found
//
// Threads: plain functions; they touch only the file system (and devices via DeviceIo).
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "krvxdrv.h"
#include "lirc/device_io.h"
#include "lirc/features.h"

namespace krvxd::lirc {

struct RcDevice {
    std::string rc_name;                 ///< "rc0"
    std::string lirc_name;               ///< "lirc0"; empty when the device has no lirc node
    std::string node;                    ///< "/dev/lirc0"; empty when the device has no lirc node
    std::string driver;                  ///< "mceusb", "rc-loopback", ...
    std::string device_name;             ///< the driver's name for the device
    std::string keymap;                  ///< the keymap's name
    std::vector<std::string> protocols;  ///< protocols the device can decode
    std::vector<std::string> enabled_protocols;  ///< of those, the enabled ones
};

/// Parses a uevent file: KEY=VALUE lines. Lines without '=' are skipped.
std::map<std::string, std::string> parse_uevent(std::string_view text);

/// Parses a protocols file: every word is a protocol, a bracketed one is enabled.
void parse_protocols(std::string_view text, std::vector<std::string> &all,
                     std::vector<std::string> &enabled);

/// Reads every rcN under sys_class_rc, ordered by N; nodes are named under dev_dir.
std::vector<RcDevice> scan_rc_devices(const std::filesystem::path &sys_class_rc = "/sys/class/rc",
                                      const std::filesystem::path &dev_dir = "/dev");

/// /dev/lircN nodes present in dev_dir, ordered by N (for machines without sysfs data).
std::vector<std::string> list_lirc_nodes(const std::filesystem::path &dev_dir = "/dev");

/// The rc device whose lirc node is `node` (compared by the node's file name), if any.
std::optional<RcDevice> find_by_node(const std::vector<RcDevice> &devices, const std::string &node);

/// Result of choosing a device: the node and what its probe found.
struct Choice {
    std::string node;
    Capabilities caps;
};

/// The first node (in the order given) that opens, probes and can receive in mode2.
/// `skipped` collects one line per node passed over, saying why.
std::optional<Choice> first_mode2_device(const std::vector<std::string> &nodes,
                                         const DeviceIoFactory &factory,
                                         std::vector<std::string> *skipped = nullptr);

/// Candidate nodes: those from sysfs, then any other /dev/lircN, without duplicates.
std::vector<std::string> candidate_nodes(
    const std::filesystem::path &sys_class_rc = "/sys/class/rc",
    const std::filesystem::path &dev_dir = "/dev");

/// Kernel version numbers for DeviceInfo, from uname's release and version texts.
::DeviceInfo device_info_from_kernel(std::string_view release, std::string_view version);
/// The same for the running kernel.
::DeviceInfo device_info_for_running_kernel();

/// One line for logs: "/dev/lirc0 (rc0, driver mceusb, protocols [nec] rc-5)".
std::string describe(const RcDevice &device);

/// True when poll() events say the device is gone.
inline bool unplugged(short revents) {
    return (revents & (kPollHup | kPollErr | kPollNval)) != 0;
}

}  // namespace krvxd::lirc
