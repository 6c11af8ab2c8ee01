// SPDX-License-Identifier: MIT
// The file test and the launcher: Linux paths from registry paths, what counts as a normal
// file, and starting a program detached.
#include "vintrel/platform/launcher.h"
#include "qt_test_support.h"
#include "scratch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace vintrel::platform {
namespace {

class LauncherTest : public ::testing::Test {
  protected:
    test::Scratch scratch_;
};

TEST_F(LauncherTest, RegistryPathsBecomeLinuxPaths) {
    EXPECT_EQ(programPath("/usr/bin/tool"), "/usr/bin/tool");
    EXPECT_EQ(programPath("\\opt\\vendor\\tool"), "/opt/vendor/tool");
    EXPECT_EQ(programPath(""), "");
    EXPECT_EQ(programPath("/usr/bin/msinfo32.exe.old"), "/usr/bin/msinfo32.exe.old");

    // No system-information tool in the folder: the first name, which is not there.
    const std::string folder = scratch_.path("");
    EXPECT_EQ(programPath(folder + "\\MSINFO32.EXE"), folder + "/msinfo32");
    EXPECT_FALSE(isNormalFile(folder + "\\MSINFO32.EXE"));
}

TEST_F(LauncherTest, TheSystemInfoNameFindsTheFirstToolInItsFolder) {
    const std::string folder = scratch_.path("");
    ASSERT_EQ(::mkdir(scratch_.path("hardinfo2").c_str(), 0700), 0);  // a folder: skipped
    scratch_.writeFakeProgram("kinfocenter");
    scratch_.writeFakeProgram("cpu-x");
    EXPECT_EQ(programPath(folder + "\\MSINFO32.EXE"), folder + "/kinfocenter");
    EXPECT_EQ(programPath(folder + "/msinfo32.exe"), folder + "/kinfocenter") << "any case";

    scratch_.writeFakeProgram("hardinfo");
    EXPECT_EQ(programPath(folder + "\\MSINFO32.EXE"), folder + "/hardinfo");
    scratch_.writeFakeProgram("msinfo32");
    EXPECT_EQ(programPath(folder + "\\MSINFO32.EXE"), folder + "/msinfo32")
        << "a program the administrator named msinfo32 comes first";
    EXPECT_TRUE(isNormalFile(folder + "\\MSINFO32.EXE"));
}

TEST_F(LauncherTest, OnlyVisibleRegularFilesAreNormalFiles) {
    const std::string plain = scratch_.write("plain", "x");
    EXPECT_TRUE(isNormalFile(plain));
    EXPECT_FALSE(isNormalFile(scratch_.write(".hidden", "x")));
    EXPECT_FALSE(isNormalFile(scratch_.path("")));  // the folder itself
    EXPECT_FALSE(isNormalFile(scratch_.path("absent")));
    EXPECT_FALSE(isNormalFile(""));
    EXPECT_FALSE(isNormalFile("/dev/null"));  // a device: a system file
    const std::string link = scratch_.path("link");
    ASSERT_EQ(::symlink(plain.c_str(), link.c_str()), 0);
    EXPECT_TRUE(isNormalFile(link)) << "a link to a normal file is one";
    const std::string dangling = scratch_.path("dangling");
    ASSERT_EQ(::symlink(scratch_.path("absent").c_str(), dangling.c_str()), 0);
    EXPECT_FALSE(isNormalFile(dangling));
    EXPECT_FALSE(isNormalFile(std::string(5000, 'a')));
}

TEST_F(LauncherTest, StartsTheProgramByItsPathWithoutWaiting) {
    const std::string program = scratch_.writeFakeProgram("tool");
    std::string error = "unchanged";
    ASSERT_TRUE(startProgram(program, &error)) << error;
    EXPECT_EQ(error, "unchanged");
    EXPECT_TRUE(test::waitUntil([&] { return !scratch_.startedAs("tool").empty(); }, 60000));
    EXPECT_EQ(scratch_.startedAs("tool"), program);
}

TEST_F(LauncherTest, StartFailuresAreReportedAtOnce) {
    struct Case {
        const char *what;
        std::string path;
        const char *reason;
    };
    const std::vector<Case> cases = {
        {"empty", "", "not an absolute path"},
        {"relative", "bin/tool", "not an absolute path"},
        {"missing", scratch_.path("absent"), "No such file"},
        {"folder", scratch_.path(""), "not a regular file"},
        {"not executable", scratch_.write("data", "#!/bin/sh\n"), "not executable"},
        {"too long", "/" + std::string(5000, 'a'), "too long"},
    };
    for (const Case &c : cases) {
        std::string error;
        EXPECT_FALSE(startProgram(c.path, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

}  // namespace
}  // namespace vintrel::platform
