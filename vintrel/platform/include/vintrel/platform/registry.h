// SPDX-License-Identifier: MIT
// Registry reads. On Linux the machine's registry is one text file, read afresh at every key
// open, so an edit takes effect at the next lookup. vintrel never writes it.
//
// Which file: $VINTREL_REGISTRY when set and not empty, else the installed one, found from
// the program's own place so that an installed tree works from any prefix:
// <prefix>/bin/vintrel reads <prefix>/etc/vintrel/registry.ini, and /usr/bin/vintrel reads
// /etc/vintrel/registry.ini.
//
// File format (INI style, single-byte ISO-8859-1 text, at most kMaxFileBytes):
//
//   ; a comment (so is a line starting with #); blank lines are ignored
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools Location]
//   MSINFO = /usr/bin                      REG_SZ: the text to the end of the line
//   Label = " edge blanks kept "           REG_SZ, quoted; inside, \" is " and \\ is one backslash
//   "Name = with sign" = text              a quoted value name may hold = and blanks
//   @ = text                               the key's default (unnamed) value
//   Count = dword:0000001f                 REG_DWORD: 1 to 8 hex digits, kept little-endian
//   Blob = hex:41,42,00                    REG_BINARY: bytes as two-digit hex, comma separated
//   Raw = hex(1):41,42                     bytes of any value type, here REG_SZ without a NUL
//
// A section names a key by its root (HKEY_LOCAL_MACHINE or HKLM, HKEY_CURRENT_USER or HKCU,
// HKEY_CLASSES_ROOT or HKCR, HKEY_USERS or HKU) and its path, "\" between the parts. Key
// and value names compare without regard to ASCII case. A key exists when a section names
// it or a key below it. REG_SZ data is the text followed by one NUL byte, as the registry
// stores it. Blanks around names and values are dropped; a comment is a whole line, so a
// ";" after a value belongs to the value. The same value given twice: the later one counts.
// A line that cannot be read (no "=", bad number, bad hex, a NUL byte, a name or key part
// that is too long, a value outside any valid section) is skipped and listed in
// diagnostics(); the rest of the file still counts.
//
// Access: a key opens when the file is a readable regular file of at most kMaxFileBytes and
// the key exists; otherwise the open fails and the key counts as missing. The rights asked
// for are checked against the known access bits; read rights are what a read needs, and
// write rights are granted without a check because there is no write operation to guard.
// A query needs KEY_QUERY_VALUE (or a generic read or MAXIMUM_ALLOWED) in the open's rights.
//
// Threads: a Registry is used by one thread at a time (in vintrel the user-interface
// thread); separate instances are independent.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vintrel::platform {

using HKEY = std::uint32_t;
using REGSAM = std::uint32_t;
using LSTATUS = std::int32_t;

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr HKEY HKEY_USERS = 0x80000003u;

inline constexpr std::uint32_t REG_NONE = 0;
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_EXPAND_SZ = 2;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
inline constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
inline constexpr REGSAM DELETE_ACCESS = 0x00010000;
inline constexpr REGSAM READ_CONTROL = 0x00020000;
inline constexpr REGSAM WRITE_DAC = 0x00040000;
inline constexpr REGSAM WRITE_OWNER = 0x00080000;
inline constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
inline constexpr REGSAM GENERIC_ALL = 0x10000000;
inline constexpr REGSAM GENERIC_EXECUTE = 0x20000000;
inline constexpr REGSAM GENERIC_WRITE = 0x40000000;
inline constexpr REGSAM GENERIC_READ = 0x80000000;
inline constexpr REGSAM KEY_READ =
    READ_CONTROL | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;

inline constexpr std::uint32_t REG_OPTION_OPEN_LINK = 0x0008;

inline constexpr LSTATUS ERROR_SUCCESS = 0;
inline constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
inline constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
inline constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
inline constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
inline constexpr LSTATUS ERROR_BAD_PATHNAME = 161;
inline constexpr LSTATUS ERROR_MORE_DATA = 234;
inline constexpr LSTATUS ERROR_NO_SYSTEM_RESOURCES = 1450;

class Registry {
  public:
    /// Largest registry file read; a larger one counts as unreadable.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;
    /// Longest key path part and value name (the registry's own limits).
    static constexpr std::size_t kMaxKeyPartChars = 255;
    static constexpr std::size_t kMaxValueNameChars = 16383;
    /// Keys open at one time per instance.
    static constexpr std::size_t kMaxOpenKeys = 256;

    /// Reads the file that $VINTREL_REGISTRY names, else the installed default.
    Registry();
    /// Reads filePath.
    explicit Registry(std::string filePath);

    /// $VINTREL_REGISTRY when set and not empty, else installedPath() of this program.
    static std::string defaultPath();
    /// The registry file of the installed tree that holds `executable` (an absolute path,
    /// <prefix>/bin/program): <prefix>/etc/vintrel/registry.ini, /etc/... for prefix /usr.
    static std::string installedPath(const std::string &executable);
    const std::string &path() const { return path_; }

    /// Opens subKey below root (a predefined root or a key this instance opened); a null or
    /// empty subKey opens root itself. options is 0 or REG_OPTION_OPEN_LINK. On success
    /// *result is a new handle to close with RegCloseKey. Errors: ERROR_FILE_NOT_FOUND (no
    /// such key, or the file is missing, not a regular file or too large),
    /// ERROR_ACCESS_DENIED (the file cannot be read), ERROR_INVALID_HANDLE,
    /// ERROR_INVALID_PARAMETER (result null, unknown option or access bits),
    /// ERROR_BAD_PATHNAME (an empty or too long key part), ERROR_NO_SYSTEM_RESOURCES (too
    /// many open keys). *result is 0 after a failure.
    LSTATUS RegOpenKeyExA(HKEY root, const char *subKey, std::uint32_t options, REGSAM desired,
                          HKEY *result);

    /// Reads value valueName (null or empty: the default value) of key. reserved must be
    /// null. type, when not null, receives the value's type. With data null, *dataSize (when
    /// not null) receives the size the data needs. Otherwise *dataSize is the buffer's size
    /// on entry and the data's size on return; a buffer that is too small gets
    /// ERROR_MORE_DATA and is left untouched. Errors: ERROR_FILE_NOT_FOUND (no such value),
    /// ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED (key opened without query rights),
    /// ERROR_INVALID_PARAMETER (reserved not null, data without dataSize), ERROR_MORE_DATA.
    LSTATUS RegQueryValueExA(HKEY key, const char *valueName, std::uint32_t *reserved,
                             std::uint32_t *type, std::uint8_t *data, std::uint32_t *dataSize);

    /// Closes a key this instance opened. Closing a predefined root succeeds and does
    /// nothing; any other handle gets ERROR_INVALID_HANDLE.
    LSTATUS RegCloseKey(HKEY key);

    /// Lines of the last file read that were skipped, as "<path>:<line>: <reason>".
    const std::vector<std::string> &diagnostics() const { return diagnostics_; }
    /// Keys currently open.
    std::size_t openKeyCount() const { return open_.size(); }

    struct Value {
        std::uint32_t type = REG_NONE;
        std::vector<std::uint8_t> data;
    };
    /// Values of one key, by upper-cased value name ("" is the default value).
    using ValueMap = std::map<std::string, Value>;

  private:
    struct OpenKey {
        std::string path;  // upper-cased, root name first
        REGSAM access = 0;
        ValueMap values;  // as the file held them when the key was opened
    };

    std::string path_;
    std::map<HKEY, OpenKey> open_;
    HKEY nextHandle_ = 0x100;
    std::vector<std::string> diagnostics_;
};

}  // namespace vintrel::platform
