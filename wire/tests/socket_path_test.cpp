// SPDX-License-Identifier: MIT
// The socket path: the folder of last resort is private, checked without following links.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "wire/socket_path.h"

using namespace wire;
namespace fs = std::filesystem;

TEST(SocketPath, TheLastResortIsAPrivateFolderNeverTheSharedTmpItself) {
    const char *saved_socket = std::getenv("KRVX_SOCKET");
    const std::string keep = saved_socket != nullptr ? saved_socket : "";
    ::unsetenv("KRVX_SOCKET");
    ::setenv("XDG_RUNTIME_DIR", "relative/not/used", 1);
    const std::string path = default_socket_path();
    EXPECT_EQ(path, fallback_socket_dir() + "/krvxd.sock");
    EXPECT_NE(fs::path(path).parent_path(), fs::path("/tmp"));
    EXPECT_NE(fallback_socket_dir().find(std::to_string(::geteuid())), std::string::npos);
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4711", 1);
    EXPECT_EQ(default_socket_path(), "/run/user/4711/krvxd.sock");
    ::setenv("KRVX_SOCKET", keep.c_str(), 1);
}

TEST(SocketPath, APrivateFolderIsMadeOrCheckedAndAnythingElseRefusedWithItsReason) {
    char name[] = "/tmp/wire-socket-path-test.XXXXXX";
    const fs::path base = ::mkdtemp(name);
    const auto mode_of = [](const fs::path &p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    fs::create_directory(base / "open");
    fs::permissions(base / "open", fs::perms(0755));
    fs::create_directory(base / "mine");
    fs::permissions(base / "mine", fs::perms(0700));
    fs::create_directory_symlink(base / "mine", base / "link");
    std::ofstream(base / "file") << "x";
    fs::create_directory(base / "theirs");
    fs::permissions(base / "theirs", fs::perms(0700));
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((base / "theirs").c_str(), 65534, 65534), 0);
    }
    struct Row {
        const char *name;
        const char *why;  ///< empty: usable
    };
    const Row rows[] = {
        {"missing", ""},
        {"mine", ""},
        {"open", "has mode 0755"},
        {"link", "not a folder"},
        {"file", "not a folder"},
        {"theirs", root ? "belongs to user 65534" : ""},
    };
    for (const Row &row : rows) {
        const std::string why = make_private_dir((base / row.name).string());
        if (std::string(row.why).empty()) {
            EXPECT_EQ(why, "") << row.name;
            EXPECT_EQ(mode_of(base / row.name), 0700u) << row.name;
        } else {
            EXPECT_NE(why.find(row.why), std::string::npos) << row.name << ": " << why;
        }
    }
    EXPECT_EQ(mode_of(base / "open"), 0755u) << "a refused folder is left as it was";
    fs::remove_all(base);
}
