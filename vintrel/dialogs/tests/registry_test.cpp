// SPDX-License-Identifier: MIT
// The registry file: its format, the key and value calls, and files that cannot be read.
#include "vintrel/platform/registry.h"
#include "scratch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace vintrel::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes text(const std::string &s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

class RegistryTest : public ::testing::Test {
  protected:
    // Opens key under HKLM and reads value; returns the status, type and data.
    LSTATUS read(Registry &registry, const char *key, const char *value, std::uint32_t &type,
                 Bytes &data) {
        HKEY handle = 0;
        const LSTATUS opened =
            registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle);
        if (opened != ERROR_SUCCESS) {
            return opened;
        }
        std::uint32_t size = 0;
        LSTATUS status = registry.RegQueryValueExA(handle, value, nullptr, &type, nullptr, &size);
        if (status == ERROR_SUCCESS) {
            data.assign(size, 0xEE);
            status = registry.RegQueryValueExA(handle, value, nullptr, &type, data.data(), &size);
        }
        EXPECT_EQ(registry.RegCloseKey(handle), ERROR_SUCCESS);
        return status;
    }

    Registry registryOf(const std::string &contents) {
        return Registry(scratch_.write("registry.ini", contents));
    }

    test::Scratch scratch_;
};

TEST_F(RegistryTest, ValueFormsGiveTheirTypeAndBytes) {
    Registry registry = registryOf(
        "; comment\n"
        "# another comment\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Tool]\n"
        "Bare =  /usr/bin/tool with blanks  \n"
        "Quoted = \"  edge \\\"q\\\" back\\\\slash  \"\n"
        "\"Name = with sign\" = x\n"
        "@ = default text\n"
        "Empty =\n"
        "Count = dword:0000001f\n"
        "Small = DWORD:a0B\n"
        "Blob = hex:41, 42 ,00\n"
        "Raw = hex(1):41,42\n"
        "NoBytes = hex(7):\n"
        "Windows line = crlf\r\n");
    struct Case {
        const char *name;
        std::uint32_t type;
        Bytes data;
    };
    const std::vector<Case> cases = {
        {"Bare", REG_SZ, text("/usr/bin/tool with blanks")},
        {"Quoted", REG_SZ, text("  edge \"q\" back\\slash  ")},
        {"Name = with sign", REG_SZ, text("x")},
        {"", REG_SZ, text("default text")},
        {nullptr, REG_SZ, text("default text")},
        {"Empty", REG_SZ, text("")},
        {"Count", REG_DWORD, {0x1f, 0, 0, 0}},
        {"Small", REG_DWORD, {0x0b, 0x0a, 0, 0}},
        {"Blob", REG_BINARY, {0x41, 0x42, 0x00}},
        {"Raw", REG_SZ, {0x41, 0x42}},
        {"NoBytes", 7, {}},
        {"Windows line", REG_SZ, text("crlf")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name == nullptr ? "(null name)" : c.name);
        std::uint32_t type = 0;
        Bytes data;
        ASSERT_EQ(read(registry, "SOFTWARE\\Vendor\\Tool", c.name, type, data), ERROR_SUCCESS);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(data, c.data);
    }
    EXPECT_TRUE(registry.diagnostics().empty());
    EXPECT_EQ(registry.openKeyCount(), 0u);
}

TEST_F(RegistryTest, NamesIgnoreCaseAndTheLaterDuplicateCounts) {
    Registry registry = registryOf(
        "[HKLM\\Software\\A]\n"
        "Path = first\n"
        "[hkey_local_machine\\SOFTWARE\\a]\n"
        "PATH = second\n");
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(read(registry, "software\\A", "path", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, text("second"));
}

TEST_F(RegistryTest, KeysExistThroughTheirSectionOrOneBelow) {
    Registry registry = registryOf(
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Empty]\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Deep\\Er\\Key]\n"
        "v = 1\n"
        "[HKEY_CURRENT_USER\\Other]\n");
    const auto opens = [&](HKEY root, const char *key) {
        HKEY handle = 0;
        const LSTATUS status = registry.RegOpenKeyExA(root, key, 0, KEY_READ, &handle);
        if (status == ERROR_SUCCESS) {
            EXPECT_NE(handle, 0u);
            EXPECT_EQ(registry.RegCloseKey(handle), ERROR_SUCCESS);
        } else {
            EXPECT_EQ(handle, 0u);
        }
        return status;
    };
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\Empty"), ERROR_SUCCESS);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\Deep\\Er"), ERROR_SUCCESS);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_SUCCESS);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\Dee"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\Empty\\Sub"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "Other"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(opens(HKEY_CURRENT_USER, "Other"), ERROR_SUCCESS);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\Empty"), ERROR_BAD_PATHNAME);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, "\\SOFTWARE"), ERROR_BAD_PATHNAME);
    EXPECT_EQ(opens(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str()), ERROR_BAD_PATHNAME);
    EXPECT_EQ(opens(0x1234, "SOFTWARE"), ERROR_INVALID_HANDLE);

    // A key opened below an opened key.
    HKEY software = 0;
    HKEY deep = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software),
              ERROR_SUCCESS);
    ASSERT_EQ(registry.RegOpenKeyExA(software, "Deep\\Er\\Key", 0, KEY_READ, &deep), ERROR_SUCCESS);
    std::uint32_t size = 0;
    EXPECT_EQ(registry.RegQueryValueExA(deep, "v", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(registry.RegCloseKey(deep), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(software), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(software), ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry.RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(registry.openKeyCount(), 0u);
}

TEST_F(RegistryTest, BadLinesAreListedAndSkippedWhileTheRestCounts) {
    Registry registry = registryOf(
        "[HKEY_LOCAL_MACHINE\\K]\n"                              // 1
        "good = yes\n"                                           // 2
        "no equals sign\n"                                       // 3
        "= nameless\n"                                           // 4
        "n1 = dword:123456789\n"                                 // 5: nine digits
        "n2 = dword:xyz\n"                                       // 6
        "n3 = hex:4\n"                                           // 7
        "n4 = hex(zz):41\n"                                      // 8
        "n5 = \"unterminated\n"                                  // 9
        "n6 = \"text\" tail\n"                                   // 10
        "\"open name = x\n"                                      // 11
        "[HKEY_NOWHERE\\K]\n"                                    // 12
        "lost = 1\n"                                             // 13: below a bad key line
        "[HKEY_LOCAL_MACHINE\\K\n"                               // 14
        "[HKEY_LOCAL_MACHINE\\K]\n"                              // 15
        "also = fine\n"                                          // 16
        + std::string("nul = a\0b\n", 10) +                      // 17
        "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'x') + "]\n"  // 18
        + "\"" + std::string(16384, 'n') + "\" = long name\n");  // 19
    std::uint32_t type = 0;
    Bytes data;
    EXPECT_EQ(read(registry, "K", "good", type, data), ERROR_SUCCESS);
    EXPECT_EQ(read(registry, "K", "also", type, data), ERROR_SUCCESS);
    for (const char *skipped : {"n1", "n2", "n3", "n4", "n5", "n6", "lost", "nul"}) {
        EXPECT_EQ(read(registry, "K", skipped, type, data), ERROR_FILE_NOT_FOUND) << skipped;
    }
    std::vector<int> lines;
    for (const std::string &d : registry.diagnostics()) {
        const std::size_t colon = d.find(':');
        ASSERT_NE(colon, std::string::npos) << d;
        EXPECT_EQ(d.rfind(registry.path(), 0), 0u) << d;
        lines.push_back(std::atoi(d.c_str() + colon + 1));
    }
    EXPECT_EQ(lines, (std::vector<int>{3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 17, 18, 19}));
}

TEST_F(RegistryTest, QueryHonoursTheBufferSizeAndItsArguments) {
    Registry registry = registryOf("[HKLM\\K]\nv = abcd\n");
    HKEY key = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, 0x2003F, &key), ERROR_SUCCESS);

    std::uint8_t buffer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    std::uint32_t size = 4;
    std::uint32_t type = 77;
    EXPECT_EQ(registry.RegQueryValueExA(key, "v", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(buffer[0], 9) << "a buffer that is too small is left untouched";

    size = 5;
    EXPECT_EQ(registry.RegQueryValueExA(key, "v", nullptr, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), 5), std::string("abcd\0", 5));
    EXPECT_EQ(buffer[5], 9) << "nothing written past the data";

    std::uint32_t reserved = 0;
    EXPECT_EQ(registry.RegQueryValueExA(key, "v", &reserved, &type, buffer, &size),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegQueryValueExA(key, "v", nullptr, &type, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegQueryValueExA(key, "missing", nullptr, &type, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegQueryValueExA(0x1234, "v", nullptr, &type, buffer, &size),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegQueryValueExA(key, "v", nullptr, &type, buffer, &size),
              ERROR_INVALID_HANDLE)
        << "a closed key cannot be read";
}

TEST_F(RegistryTest, AccessRightsAndOptionsAreChecked) {
    Registry registry = registryOf("[HKLM\\K]\nv = 1\n");
    HKEY key = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, 0x00400000, &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(key, 0u);
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0x1, KEY_READ, &key),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, nullptr),
              ERROR_INVALID_PARAMETER);

    // Opening for writing only succeeds, but such a key cannot be read.
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_SET_VALUE, &key),
              ERROR_SUCCESS);
    std::uint32_t size = 0;
    EXPECT_EQ(registry.RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size),
              ERROR_ACCESS_DENIED);
    registry.RegCloseKey(key);
    for (REGSAM readable : {KEY_QUERY_VALUE, GENERIC_READ, MAXIMUM_ALLOWED, REGSAM{0x2003F}}) {
        ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, readable, &key),
                  ERROR_SUCCESS);
        EXPECT_EQ(registry.RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size),
                  ERROR_SUCCESS)
            << std::hex << readable;
        registry.RegCloseKey(key);
    }
}

TEST_F(RegistryTest, OpenKeysAreBounded) {
    Registry registry = registryOf("[HKLM\\K]\n");
    std::vector<HKEY> keys;
    HKEY key = 0;
    while (registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        keys.push_back(key);
        ASSERT_LE(keys.size(), Registry::kMaxOpenKeys);
    }
    EXPECT_EQ(keys.size(), Registry::kMaxOpenKeys);
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key),
              ERROR_NO_SYSTEM_RESOURCES);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end()) << "handles are unique";
    for (HKEY k : keys) {
        EXPECT_EQ(registry.RegCloseKey(k), ERROR_SUCCESS);
    }
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &key), ERROR_SUCCESS);
    registry.RegCloseKey(key);
}

TEST_F(RegistryTest, TheFileIsReadAtEveryOpenAndAnOpenKeyKeepsWhatItRead) {
    const std::string path = scratch_.write("registry.ini", "[HKLM\\K]\nv = old\n");
    Registry registry(path);
    HKEY before = 0;
    ASSERT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, KEY_READ, &before), ERROR_SUCCESS);
    scratch_.write("registry.ini", "[HKLM\\K]\nv = newer\n");
    std::uint32_t size = 0;
    EXPECT_EQ(registry.RegQueryValueExA(before, "v", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    std::uint32_t type = 0;
    Bytes data;
    ASSERT_EQ(read(registry, "K", "v", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, text("newer"));
    registry.RegCloseKey(before);
}

TEST_F(RegistryTest, AFileThatCannotBeReadHasNoKeys) {
    std::uint32_t type = 0;
    Bytes data;
    {
        Registry missing(scratch_.path("absent.ini"));
        EXPECT_EQ(read(missing, "K", "v", type, data), ERROR_FILE_NOT_FOUND);
        HKEY root = 0;
        EXPECT_EQ(missing.RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &root),
                  ERROR_FILE_NOT_FOUND)
            << "without a file not even the root opens";
    }
    {
        Registry folder(scratch_.path(""));
        EXPECT_EQ(read(folder, "K", "v", type, data), ERROR_FILE_NOT_FOUND);
    }
    {
        Registry empty("");
        EXPECT_EQ(read(empty, "K", "v", type, data), ERROR_FILE_NOT_FOUND);
    }
    {
        // A FIFO must neither hang the open nor count as a file.
        const std::string fifo = scratch_.path("fifo.ini");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        Registry pipe(fifo);
        EXPECT_EQ(read(pipe, "K", "v", type, data), ERROR_FILE_NOT_FOUND);
    }
    {
        std::string big = "[HKLM\\K]\nv = 1\n";
        big.resize(Registry::kMaxFileBytes + 1, ';');
        Registry large(scratch_.write("big.ini", big));
        EXPECT_EQ(read(large, "K", "v", type, data), ERROR_FILE_NOT_FOUND);
        ASSERT_EQ(large.diagnostics().size(), 1u);
        EXPECT_NE(large.diagnostics()[0].find("larger than"), std::string::npos);
        big.resize(Registry::kMaxFileBytes);
        Registry largest(scratch_.write("big.ini", big));
        EXPECT_EQ(read(largest, "K", "v", type, data), ERROR_SUCCESS);
    }
}

TEST_F(RegistryTest, AFileWithoutReadPermissionHasNoKeys) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root: a file without read permission is still readable";
    }
    std::uint32_t type = 0;
    Bytes data;
    Registry locked(scratch_.write("locked.ini", "[HKLM\\K]\nv = 1\n", QFile::WriteOwner));
    EXPECT_EQ(read(locked, "K", "v", type, data), ERROR_ACCESS_DENIED);
}

TEST(RegistryPath, TheVariableNamesTheFileElseTheInstalledDefault) {
    const char *saved = std::getenv("VINTREL_REGISTRY");
    const std::string keep = saved != nullptr ? saved : "";
    ::setenv("VINTREL_REGISTRY", "/some/where.ini", 1);
    EXPECT_EQ(Registry::defaultPath(), "/some/where.ini");
    EXPECT_EQ(Registry().path(), "/some/where.ini");
    ::setenv("VINTREL_REGISTRY", "", 1);
    const std::string fallback = Registry::defaultPath();
    EXPECT_NE(fallback, "");
    EXPECT_EQ(fallback.front(), '/');
    EXPECT_NE(fallback.find("/vintrel/registry.ini"), std::string::npos) << fallback;
    ::unsetenv("VINTREL_REGISTRY");
    EXPECT_EQ(Registry::defaultPath(), fallback);
    if (saved != nullptr) {
        ::setenv("VINTREL_REGISTRY", keep.c_str(), 1);
    }
}

TEST(RegistryPath, AnInstalledProgramReadsTheFileOfItsOwnPrefix) {
    const struct {
        const char *executable, *registry;
    } rows[] = {
        {"/usr/bin/vintrel", "/etc/vintrel/registry.ini"},
        {"/usr/local/bin/vintrel", "/usr/local/etc/vintrel/registry.ini"},
        {"/tmp/p/bin/vintrel", "/tmp/p/etc/vintrel/registry.ini"},
        {"/opt/vintrel/bin/vintrel", "/opt/vintrel/etc/vintrel/registry.ini"},
        {"/bin/vintrel", "/etc/vintrel/registry.ini"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(Registry::installedPath(r.executable), r.registry) << r.executable;
    }
}

}  // namespace
}  // namespace vintrel::platform
