#include "app/CliSession.h"

#include <pty.h>

#include <mutex>

#include "app/CopyArguments.h"
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

    // A copy of a file whose name holds control bytes into "out"; by default of 100 KB, its read
    // held until ReleaseStalls().
    CopyArguments OddCopy(const std::string& bytes = RandomBytes(100000, 1), bool hanging = true)
    {
        WriteFile(temp / "x\x1B[2Jy", bytes);
        if (hanging) StallOn(FaultOp::Read, temp / "x");
        CopyArguments arguments;
        arguments.Sources = {temp / "x\x1B[2Jy"};
        arguments.Destination = temp / "out";
        arguments.RestoreDir = temp / "restore";
        return arguments;
    }
};

// On a terminal: the hang is reported once, the progress line shows the name's control bytes
// escaped, and the copy goes on once the read returns, which the log tells.
TEST_F(CliSessionTest, AReadThatHangsIsReportedOnce)
{
    CopyArguments arguments = OddCopy();
    arguments.StallLimit = std::chrono::seconds(1);
    int master = -1, terminal = -1;
    winsize size{24, 500, 0, 0};  // wide enough for the whole line
    ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, &size), 0);
    const int savedErrors = ::dup(2);
    ::dup2(terminal, 2);
    ::close(terminal);
    std::mutex mutex;
    std::string shown;
    const auto holds = [&](const std::string& text) {
        const std::lock_guard lock(mutex);
        return shown.find(text) != npos;
    };
    const std::string report = "tarnctl: Nothing has moved for ", name = "  x\\x1B[2Jy ";
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) {
            const std::lock_guard lock(mutex);
            shown.append(buffer, static_cast<size_t>(n));
        }
    });
    std::thread releaser([&] {
        WaitUntil([&] { return holds(report) && holds(name); });
        ReleaseStalls();
    });
    const int status = CliSession(arguments).Copy();
    ::dup2(savedErrors, 2);
    ::close(savedErrors);
    releaser.join();
    reader.join();  // the terminal's last end closed
    ::close(master);

    EXPECT_EQ(status, ExitFinished);
    EXPECT_EQ(ReadFile(temp / "out/x\x1B[2Jy"), ReadFile(temp / "x\x1B[2Jy"));
    const size_t first = shown.find(report);
    EXPECT_TRUE(first != npos && shown.find(report, first + 1) == npos) << shown;
    EXPECT_NE(shown.find(" seconds: the system does not answer for \"" + temp / "x\\x1B[2Jy\""), npos) << shown;
    EXPECT_NE(shown.find(name), npos) << shown;
    EXPECT_EQ(shown.find('\x1B'), npos) << shown;
    const std::string log = ReadFile(temp / "restore/tarn_log.txt");
    EXPECT_NE(log.find(" seconds the system answers again for \"" + temp / "x\\x1B[2Jy\""), npos) << log;
}

TEST_F(CliSessionTest, AFailedRunEndsTheCommandWithItsReason)
{
    const CopyArguments arguments = OddCopy("data", false);
    InjectFault(FaultOp::Allocate, "", ENOMEM);  // the copy buffer cannot be had
    testing::internal::CaptureStderr();
    const int status = CliSession(arguments).Copy();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, ExitTaskFailed);
    EXPECT_NE(errors.find(". File \"x\\x1B[2Jy\" source \"" + temp.Path() + "\""), npos) << errors;  // Err005
    EXPECT_NE(errors.find("\"" + temp / "x\\x1B[2Jy\" failed; it stays in \"" + temp / "restore/\""), npos) << errors;
}

}  // namespace
}  // namespace tarn
