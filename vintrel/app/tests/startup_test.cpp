// SPDX-License-Identifier: MIT
// Start-up through every path, each in its own vintrel process against the fake driver:
// the exact boxes, whether the window comes up, the exit status and the driver calls made.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

#include <csignal>
#include <string>
#include <utility>
#include <vector>

#include "fake_driver_support.h"

namespace {

using Env = std::vector<std::pair<QString, QString>>;

const QString kVersionMessage = QStringLiteral(
    "This application requires Korvex API driver DLL (KRVXDRV.DLL) version 2.6.8 or later. "
    "Please verify you are running the latest API DLL and that you're using the latest version "
    "of Korvex firmware!  If problem persists, contact Technical Support!");
const QString kUnknownOpenError = QStringLiteral("Unable to initialize Korvex (unknown error)!");

struct ProbeRun {
    int exitCode = -1;
    bool finished = false;
    QStringList boxes;  // "title|text"
    bool shown = false;
    bool badBox = false;
    std::vector<std::string> calls;
    QStringList causes;  // the lines vintrel wrote to standard error, without "vintrel: "
};

ProbeRun runProbe(const Env &settings, const QString &library = QStringLiteral(FAKE_DRIVER)) {
    vintrel::test::FakeLog log;
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("KRVXDRV_LIBRARY"), library);
    environment.insert(QStringLiteral("FAKE_KRVX_LOG"), QString::fromStdString(log.path()));
    environment.insert(QStringLiteral("PROBE_QUIT"), QStringLiteral("close"));
    for (const auto &[name, value] : settings) {
        environment.insert(name, value);
    }
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::SeparateChannels);
    probe.start(QStringLiteral(PROBE), {});
    ProbeRun run;
    run.finished = probe.waitForFinished(90000);
    if (!run.finished) {
        probe.kill();
        probe.waitForFinished();
        return run;
    }
    run.exitCode = probe.exitStatus() == QProcess::NormalExit ? probe.exitCode() : -2;
    for (const QString &line : QString::fromUtf8(probe.readAllStandardOutput()).split('\n')) {
        if (line.startsWith(QStringLiteral("BOX|"))) {
            run.boxes << line.mid(4).replace(QStringLiteral("\\n"), QStringLiteral("\n"));
        } else if (line == QStringLiteral("SHOWN|1|Korvex Vintrel Utility")) {
            run.shown = true;
        } else if (line == QStringLiteral("BADBOX")) {
            run.badBox = true;
        }
    }
    for (const QString &line : QString::fromUtf8(probe.readAllStandardError()).split('\n')) {
        if (line.startsWith(QStringLiteral("vintrel: "))) {
            run.causes << line.mid(9);
        }
    }
    // The code checks that every change of the code box makes are left out.
    for (const std::string &line : log.lines()) {
        if (line.rfind("KRVXConvertProntoCode", 0) != 0) {
            run.calls.push_back(line);
        }
    }
    return run;
}

struct FatalCase {
    const char *name;
    Env settings;
    QString message;
    QString cause;  // the one line on standard error
};

class FatalStartup : public ::testing::TestWithParam<FatalCase> {};

TEST_P(FatalStartup, ShowsOneErrorBoxAndEndsWithStatusOne) {
    const FatalCase &c = GetParam();
    const ProbeRun run = runProbe(c.settings);
    ASSERT_TRUE(run.finished) << "vintrel did not end";
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.boxes.size(), 1) << run.boxes.join(QStringLiteral(" / ")).toStdString();
    EXPECT_EQ(run.boxes[0], QStringLiteral("ERROR|") + c.message);
    EXPECT_FALSE(run.badBox);
    EXPECT_FALSE(run.shown);
    EXPECT_EQ(run.causes.join('\n').toStdString(), c.cause.toStdString());
    // Nothing was opened or registered, so nothing is closed or unhooked.
    for (const std::string &call : run.calls) {
        EXPECT_EQ(call.rfind("KRVXClose", 0), std::string::npos) << call;
        EXPECT_EQ(call.rfind("KRVXSetReceiveCallback", 0), std::string::npos) << call;
        EXPECT_EQ(call.rfind("KRVXLearnIR", 0), std::string::npos) << call;
    }
}

Env openFailing(const char *lastError) {
    return {{"FAKE_KRVX_OPEN", "-1"}, {"FAKE_KRVX_OPEN_ERRNO", lastError}};
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FatalStartup,
    ::testing::Values(
        FatalCase{"InfoQueryFails",
                  {{"FAKE_KRVX_INFO_RESULT", "0"}},
                  QStringLiteral("Unable to retrieve krvxdrv version!"),
                  QStringLiteral("KRVXGetDrvInfo failed (last error 0): fake text for 0")},
        FatalCase{"InfoQueryFailsWhateverTheValue",
                  {{"FAKE_KRVX_INFO_RESULT", "0"}, {"FAKE_KRVX_INFO", "255"}},
                  QStringLiteral("Unable to retrieve krvxdrv version!"),
                  QStringLiteral("KRVXGetDrvInfo failed (last error 0): fake text for 0")},
        FatalCase{"Info255",
                  {{"FAKE_KRVX_INFO", "255"}},
                  QStringLiteral("Invalid krvxdrv version!"),
                  QStringLiteral("KRVXGetDrvInfo reports interface 255, vintrel needs 256")},
        FatalCase{"Info257",
                  {{"FAKE_KRVX_INFO", "257"}},
                  QStringLiteral("Invalid krvxdrv version!"),
                  QStringLiteral("KRVXGetDrvInfo reports interface 257, vintrel needs 256")},
        FatalCase{"Version2679",
                  {{"FAKE_KRVX_VERSION", "2679"}},
                  kVersionMessage,
                  QStringLiteral("KRVXGetDrvVersion reports 2679, vintrel needs 2680 or later")},
        FatalCase{"VersionQueryFails",
                  {{"FAKE_KRVX_VERSION_RESULT", "0"}, {"FAKE_KRVX_VERSION", "2700"}},
                  kVersionMessage,
                  QStringLiteral("KRVXGetDrvVersion failed (last error 0): fake text for 0")},
        FatalCase{
            "OpenDriverNotFound", openFailing("0x20000003"),
            QStringLiteral("Unable to find Korvex Driver. Please make sure driver is Installed!"),
            QStringLiteral("KRVXOpen failed (last error 0x20000003): fake text for 536870915")},
        FatalCase{
            "OpenDeviceNotFound", openFailing("0x20000001"),
            QStringLiteral("Unable to connect to Korvex device!  Please ensure device is "
                           "connected to the computer!"),
            QStringLiteral("KRVXOpen failed (last error 0x20000001): fake text for 536870913")},
        FatalCase{
            "OpenCommFailed", openFailing("0x20000002"),
            QStringLiteral("Unable to communicate with Korvex device!  Please check "
                           "connections and try again.  If you still have problems, try "
                           "unplugging and reconnecting your Korvex.  If problem "
                           "persists, contact Technical Support!"),
            QStringLiteral("KRVXOpen failed (last error 0x20000002): fake text for 536870914")},
        FatalCase{
            "OpenFirmwareMismatch", openFailing("0x20000004"),
            QStringLiteral("Your Korvex's firmware is not compatible with this API DLL. "
                           "Please verify you are running the latest API DLL and that "
                           "you're using the latest version of Korvex firmware!  If "
                           "problem persists, contact Technical Support!"),
            QStringLiteral("KRVXOpen failed (last error 0x20000004): fake text for 536870916")},
        FatalCase{"OpenFailsWithLastError0", openFailing("0"), kUnknownOpenError,
                  QStringLiteral("KRVXOpen failed (last error 0): fake text for 0")},
        FatalCase{"OpenFailsWithLastError5", openFailing("5"), kUnknownOpenError,
                  QStringLiteral("KRVXOpen failed (last error 0x5): fake text for 5")}),
    [](const ::testing::TestParamInfo<FatalCase> &row) { return std::string(row.param.name); });

TEST(Startup, LibraryWithoutTheVersionEntryPointIsRefused) {
    const ProbeRun run = runProbe({}, QStringLiteral(FAKE_DRIVER_NO_VERSION));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.boxes.size(), 1);
    EXPECT_EQ(run.boxes[0], QStringLiteral("ERROR|") + kVersionMessage);
    EXPECT_EQ(run.calls, std::vector<std::string>{"KRVXGetDrvInfo"});
    EXPECT_EQ(run.causes.join('\n').toStdString(),
              "KRVXGetDrvVersion cannot be called: Can't find DLL entry point KRVXGetDrvVersion "
              "in " FAKE_DRIVER_NO_VERSION);
}

TEST(Startup, WithoutTheServiceTheLibrarysReasonGoesToStandardError) {
    const ProbeRun run =
        runProbe({{"KRVX_SOCKET", "/nonexistent/dir/krvxd.sock"}}, QStringLiteral(REAL_DRIVER));
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes, QStringList{QStringLiteral(
                             "ERROR|Unable to find Korvex Driver. Please make sure driver is "
                             "Installed!")});
    EXPECT_EQ(run.causes.join('\n').toStdString(),
              "KRVXOpen failed (last error 0x20000003): the device service krvxd is not running "
              "(no socket at /nonexistent/dir/krvxd.sock)");
}

TEST(Startup, LibraryThatCannotBeLoadedIsNamedWithTheLoadersReason) {
    const QString missing = QStringLiteral("/nonexistent/dir/libkrvxdrv.so.1");
    const ProbeRun run = runProbe({}, missing);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.boxes.size(), 1);
    EXPECT_TRUE(
        run.boxes[0].startsWith(QStringLiteral("ERROR|Unable to load the Korvex driver "
                                               "library /nonexistent/dir/libkrvxdrv.so.1")))
        << run.boxes[0].toStdString();
    EXPECT_TRUE(run.boxes[0].contains(QStringLiteral("No such file or directory")))
        << run.boxes[0].toStdString();
    ASSERT_EQ(run.causes.size(), 1);
    EXPECT_TRUE(run.causes[0].startsWith(
        QStringLiteral("cannot load the driver library /nonexistent/dir/libkrvxdrv.so.1: ")))
        << run.causes[0].toStdString();
}

TEST(Startup, Version2680StartsAndClosesTheDeviceOnceAtTheEnd) {
    const ProbeRun run = runProbe({{"FAKE_KRVX_VERSION", "2680"}, {"FAKE_KRVX_OPEN", "7"}});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.boxes.isEmpty()) << run.boxes.join(QStringLiteral(" / ")).toStdString();
    EXPECT_TRUE(run.shown);
    const std::vector<std::string> expected = {"KRVXGetDrvInfo",
                                               "KRVXGetDrvVersion",
                                               "KRVXOpen -> 7",
                                               "KRVXSetReceiveCallback 7 set",
                                               "KRVXLearnIR 7 16 KRVX+HOOK",
                                               "KRVXGetKRVXInfo 7",
                                               "KRVXLearnIR 7 5 KRVX-HOOK",
                                               "KRVXClose 7"};
    EXPECT_EQ(run.calls, expected);
}

TEST(Startup, WindowCreationFailureIsReportedAndTheProgramRunsOn) {
    for (const char *quit : {"close", "exit"}) {
        const ProbeRun run = runProbe({{"PROBE_FAIL_CREATE_WINDOW", "8"}, {"PROBE_QUIT", quit}});
        ASSERT_TRUE(run.finished) << quit;
        EXPECT_EQ(run.exitCode, 0) << quit;
        ASSERT_EQ(run.boxes.size(), 1) << quit;
        EXPECT_EQ(run.boxes[0], QStringLiteral("vintrel|Unable to create window, LastError = 8"));
        EXPECT_FALSE(run.badBox);
        EXPECT_TRUE(run.shown) << quit;
        ASSERT_FALSE(run.calls.empty());
        EXPECT_EQ(run.calls.back(), "KRVXClose 7") << quit;
    }
}

TEST(Startup, TerminationSignalClosesLikeTheCloseBox) {
    vintrel::test::FakeLog log;
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("KRVXDRV_LIBRARY"), QStringLiteral(FAKE_DRIVER));
    environment.insert(QStringLiteral("FAKE_KRVX_LOG"), QString::fromStdString(log.path()));
    environment.insert(QStringLiteral("PROBE_QUIT"), QStringLiteral("no"));
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(PROBE), {});
    QByteArray output;
    QDeadlineTimer deadline(60000);
    while (!output.contains("SHOWN|1") && !deadline.hasExpired() &&
           probe.state() != QProcess::NotRunning) {
        probe.waitForReadyRead(500);
        output += probe.readAllStandardOutput();
    }
    ASSERT_TRUE(output.contains("SHOWN|1")) << output.toStdString();
    // The window is up but the event loop may not run yet: the signal waits in the pipe.
    ASSERT_EQ(::kill(static_cast<pid_t>(probe.processId()), SIGTERM), 0);
    ASSERT_TRUE(probe.waitForFinished(60000)) << "SIGTERM did not end vintrel";
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);
    const std::vector<std::string> calls = log.lines();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "KRVXClose 7");
}

TEST(Startup, ExitUnloadsTheCompanionWindowsAndTheProcessEnds) {
    for (const char *quit : {"close", "exit"}) {
        const ProbeRun run = runProbe({{"PROBE_LOAD_FORMS", "1"}, {"PROBE_QUIT", quit}});
        ASSERT_TRUE(run.finished) << "a loaded window kept vintrel alive (" << quit << ")";
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.boxes.isEmpty());
    }
}

}  // namespace
