#include <signal.h>

#include <filesystem>

#include "engine/GlobalUtils.h"
#include "tests/e2e/CommandRunner.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using test::CommandRunner;
using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::RunCommand;
using test::TempFolderTest;
using test::WaitUntil;
using test::WriteFile;
namespace fs = std::filesystem;

class TarnctlTest : public TempFolderTest {
protected:
    int Tarnctl(const std::vector<std::string>& arguments, std::string* errors = nullptr)
    {
        return RunCommand(TARNCTL_PATH, arguments, temp / "home", errors);
    }
    std::vector<std::string> RestoreFiles() const
    {
        std::vector<std::string> names;
        if (fs::exists(temp / "restore"))
            for (const auto& entry : fs::directory_iterator(temp / "restore")) names.push_back(entry.path().filename());
        return names;
    }
};

TEST_F(TarnctlTest, CopiesEverySourceAndCleansUp)
{
    MakeFolders(temp / "a/sub");
    WriteFile(temp / "a/sub/f", RandomBytes(100000, 1));
    WriteFile(temp / "b.bin", RandomBytes(5000, 2));
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "a", temp / "b.bin", temp / "out"}), 0);
    EXPECT_EQ(ReadFile(temp / "out/a/sub/f"), ReadFile(temp / "a/sub/f"));
    EXPECT_EQ(ReadFile(temp / "out/b.bin"), ReadFile(temp / "b.bin"));
}

TEST_F(TarnctlTest, BadUsageAndFailuresHaveTheirExitStatus)
{
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", temp / "only-one"}, &errors), 1);
    EXPECT_NE(errors.find("Usage: tarnctl copy"), std::string::npos);
    EXPECT_EQ(Tarnctl({"copy", "--on-exists", "maybe", "a", "b"}, &errors), 1);
    EXPECT_NE(errors.find("overwrite, upload or skip"), std::string::npos);
    EXPECT_EQ(Tarnctl({"frobnicate"}), 1);

    EXPECT_EQ(Tarnctl({"copy", "--max-errors", "2", "--delay-on-error", "10", "--restore-dir", temp / "restore",
                       temp / "missing", temp / "out"},
                      &errors),
              2);
    EXPECT_NE(errors.find("Source doesn't exists"), std::string::npos);
    EXPECT_NE(errors.find("failed after more than 2 errors"), std::string::npos);
    EXPECT_EQ(RestoreFiles().size(), 4u);  // TaskList and the task's files, for a later resume
    // The source comes back: resume finishes the task.
    MakeFolders(temp / "missing");
    WriteFile(temp / "missing/f", "back");
    EXPECT_EQ(Tarnctl({"resume", "--quiet", "--restore-dir", temp / "restore"}), 0);
    EXPECT_EQ(ReadFile(temp / "out/missing/f"), "back");
}

TEST_F(TarnctlTest, AnUnwritableProgramLogDoesNotHoldTheCopyUp)
{
    WriteFile(temp / "f", "data");
    MakeFolders(temp / "restore/tarn_log.txt");  // a folder where the program log should be
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "f", temp / "out"}, &errors), 0);
    EXPECT_EQ(ReadFile(temp / "out/f"), "data");
    EXPECT_NE(errors.find("tarn_log.txt"), std::string::npos);
    EXPECT_TRUE(FileExists(temp / "restore/TaskList"));  // the task stays until its summary is written
}

TEST_F(TarnctlTest, ExistingFilesFollowThePolicy)
{
    WriteFile(temp / "f", "new content");
    MakeFolders(temp / "out");
    WriteFile(temp / "out/f", "old");
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--on-exists", "skip", "--restore-dir", temp / "restore", temp / "f", temp / "out"}), 0);
    EXPECT_EQ(ReadFile(temp / "out/f"), "old");
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "f", temp / "out"}), 0);
    EXPECT_EQ(ReadFile(temp / "out/f"), "old content");  // upload keeps the bytes there and adds the rest
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--on-exists", "overwrite", "--restore-dir", temp / "restore", temp / "f",
                       temp / "out"}),
              0);
    EXPECT_EQ(ReadFile(temp / "out/f"), "new content");
}

TEST_F(TarnctlTest, ASignalStopsInOrderAndKeepsTheRestoreFiles)
{
    WriteFile(temp / "big", RandomBytes(2000000, 3));
    CommandRunner run(TARNCTL_PATH, {"copy", "--quiet", "--speed-limit", "500000", "--restore-dir", temp / "restore",
                                     temp / "big", temp / "out"},
                      temp / "home");
    ASSERT_TRUE(WaitUntil([&] { return FileExists(temp / "out/big") && fs::file_size(temp / "out/big") > 100000; }));
    run.Signal(SIGTERM);
    EXPECT_EQ(run.Wait(), 128 + SIGTERM);
    EXPECT_NE(run.Errors().find("stopped"), std::string::npos);
    EXPECT_EQ(RestoreFiles().size(), 4u);
}

TEST_F(TarnctlTest, ACopyKilledMidFileIsFinishedByResume)
{
    const std::string data = RandomBytes(3000000, 4);
    WriteFile(temp / "big", data);
    WriteFile(temp / "second", "the second source");
    CommandRunner run(TARNCTL_PATH, {"copy", "--quiet", "--speed-limit", "1000000", "--restore-dir", temp / "restore",
                                     temp / "big", temp / "second", temp / "out"},
                      temp / "home");
    // Past the first save of the position (every 15 s) is not needed: the resume goes on from
    // the last saved position and writes the rest again.
    ASSERT_TRUE(WaitUntil([&] { return FileExists(temp / "out/big") && fs::file_size(temp / "out/big") > 500000; }));
    run.Signal(SIGKILL);
    EXPECT_EQ(run.Wait(), 128 + SIGKILL);
    EXPECT_LT(fs::file_size(temp / "out/big"), data.size());

    std::string errors;
    EXPECT_EQ(Tarnctl({"resume", "--quiet", "--restore-dir", temp / "restore"}, &errors), 0) << errors;
    EXPECT_TRUE(ReadFile(temp / "out/big") == data);
    EXPECT_EQ(ReadFile(temp / "out/second"), "the second source");
    // Finished tasks left the list with their summaries in the folder's program log.
    EXPECT_FALSE(FileExists(temp / "restore/TaskList"));
    const std::string log = ReadFile(temp / "restore/tarn_log.txt");
    EXPECT_NE(log.find("Task was restored"), std::string::npos);
    EXPECT_NE(log.find("Task was finished successfully"), std::string::npos);
    EXPECT_EQ(Tarnctl({"resume", "--restore-dir", temp / "restore"}, &errors), 0);
    EXPECT_NE(errors.find("Nothing to resume"), std::string::npos);
}

}  // namespace
}  // namespace tarn
