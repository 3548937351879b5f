#include "app/CliSession.h"

#include <sys/ioctl.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "app/ConsoleProgress.h"
#include "app/CopyArguments.h"
#include "app/StopSignals.h"
#include "engine/DownloadThread.h"
#include "platform/FaultInjection.h"
#include "tests/e2e/E2eSupport.h"

namespace tarn {
namespace {

using namespace test;

TEST(CopyArgumentsTest, ByteCountsTakeBinaryUnits)
{
    const std::pair<const char*, int64_t> good[] = {
        {"0", 0}, {"500", 500}, {"500K", 512000}, {"500k", 512000}, {"10M", 10485760}, {"1G", 1073741824},
        {"4MiB", 4194304}, {"4mib", 4194304}, {"2KB", 2048}, {"2kb", 2048}, {"99999999999999999999", INT64_MAX},
        {"9999999999G", INT64_MAX}};
    for (const auto& [text, value] : good) {
        int64_t parsed = -1;
        EXPECT_TRUE(ParseByteCount(text, parsed) && parsed == value) << text << " " << parsed;
    }
    for (const char* text : {"", "K", "-1", "+5", "1.5M", "5T", "5KiBB", "5 K", "5Ki", "5B", "0x10"}) {
        int64_t parsed = 0;
        EXPECT_FALSE(ParseByteCount(text, parsed)) << text;
    }
}

class CliSessionTest : public TempFolderTest {
protected:
    void TearDown() override { ClearFaults(); }

    // A copy of the file "f" into "out"; by default of 100 KB, its read held until ReleaseStalls().
    CopyArguments CopyOfF(const std::string& bytes = RandomBytes(100000, 1), bool hanging = true)
    {
        WriteFile(temp / "f", bytes);
        if (hanging) StallOn(FaultOp::Read, temp / "f");
        CopyArguments arguments;
        arguments.Sources = {temp / "f"};
        arguments.Destination = temp / "out";
        arguments.RestoreDir = temp / "restore";
        return arguments;
    }
    // A task log in the restore folder holds `id`: the record reached the disk.
    bool TaskLogHolds(const std::string& id) const
    {
        for (const auto& entry : fs::directory_iterator(temp / "restore"))
            if (entry.path().extension() == ".log" && ReadFile(entry.path()).find(id) != npos) return true;
        return false;
    }
};

using CliSessionDeathTest = CliSessionTest;

// In a child process (a death test): a stop asked by a signal stays asked. Exits 0 when the session
// ended as stopped within a generous bound, not waiting for a worker that cannot end.
[[noreturn]] void StopWhileAReadHangs(const CopyArguments& arguments)
{
    constexpr auto Bound = std::chrono::milliseconds(1500);
    InstallStopSignals();
    std::atomic<std::chrono::steady_clock::time_point> stopped{};
    std::thread stopper([&] {
        WaitUntil([] { return StalledCalls() == 1; });
        stopped = std::chrono::steady_clock::now();
        std::raise(SIGINT);
    });
    const int status = CliSession(arguments).Copy();
    const auto took = std::chrono::steady_clock::now() - stopped.load();
    stopper.join();
    std::fprintf(stderr, "status %d, %lld ms after the stop\n", status,
                 static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    std::_Exit(status == 128 + SIGINT && took < Bound ? 0 : 1);
}

TEST_F(CliSessionDeathTest, AStopDoesNotWaitForAReadThatHangs)
{
    const CopyArguments arguments = CopyOfF();
    EXPECT_EXIT(StopWhileAReadHangs(arguments), testing::ExitedWithCode(0),
                "tarnctl: stopped; the unfinished tasks stay");
    EXPECT_TRUE(TaskLogHolds("Inf005"));
    EXPECT_TRUE(fs::exists(temp / "restore/TaskList"));
}

TEST_F(CliSessionTest, AReadThatHangsIsReportedOnce)
{
    CopyArguments arguments = CopyOfF();
    arguments.StallLimit = std::chrono::seconds(1);
    const std::string report = "tarnctl: Nothing has moved for ";
    // Standard error to a file, which the releasing thread watches for the report.
    const std::string printed = temp / "stderr.txt";
    const int savedErrors = ::dup(2);
    const int file = ::open(printed.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, 2);
    ::close(file);
    std::thread releaser([&] {
        WaitUntil([&] { return ReadFile(printed).find(report) != npos; });
        ReleaseStalls();
    });
    const int status = CliSession(arguments).Copy();
    ::dup2(savedErrors, 2);
    ::close(savedErrors);
    releaser.join();

    EXPECT_EQ(status, ExitFinished);
    EXPECT_EQ(ReadFile(temp / "out/f"), ReadFile(temp / "f"));
    const std::string errors = ReadFile(printed);
    const size_t first = errors.find(report);
    EXPECT_TRUE(first != npos && errors.find(report, first + 1) == npos) << errors;
    EXPECT_NE(errors.find(" seconds: the system does not answer for \"" + temp / "f\"\n"), npos) << errors;
}

TEST_F(CliSessionTest, TheProgressLineShowsControlBytesOfNamesEscaped)
{
    // A terminal wide enough for the whole line.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    winsize size{};
    size.ws_col = 500;
    ASSERT_EQ(::ioctl(master, TIOCSWINSZ, &size), 0);
    std::FILE* const terminal = std::fopen(::ptsname(master), "w");
    ASSERT_NE(terminal, nullptr);

    MakeFolders(temp / "restore");
    WriteFile(temp / "x\x1B[2Jy", "data");
    StallOn(FaultOp::Read, temp / "x");
    auto task = std::make_unique<TDownloadThread>("0000A001", temp / "restore/", temp / "x\x1B[2Jy", temp / "out",
                                                  StateCopying, 0, 20, 15000, 65536, INT32_MAX, INT32_MAX);
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    ConsoleProgress(terminal, true).Show(*task, 1, 1);
    char shown[1024] = {};
    const ssize_t length = ::read(master, shown, sizeof shown - 1);
    ReleaseStalls();
    task.reset();
    std::fclose(terminal);
    ::close(master);

    const std::string line(shown, static_cast<size_t>(std::max<ssize_t>(length, 0)));
    EXPECT_NE(line.find("  x\\x1B[2Jy "), npos) << line;
    EXPECT_EQ(line.find('\x1B'), npos) << line;
}

TEST_F(CliSessionTest, AFailedRunEndsTheCommandWithItsReason)
{
    const CopyArguments arguments = CopyOfF("data", false);
    InjectFault(FaultOp::Allocate, "", ENOMEM);  // the copy buffer cannot be had
    testing::internal::CaptureStderr();
    const int status = CliSession(arguments).Copy();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, ExitTaskFailed);
    EXPECT_NE(errors.find(". File \"f\" source \"" + temp.Path() + "\""), npos) << errors;  // Err005
    EXPECT_NE(errors.find("\"" + temp / "f\" failed; it stays in \"" + temp / "restore/\""), npos) << errors;
}

}  // namespace
}  // namespace tarn
