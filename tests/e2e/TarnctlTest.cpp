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
    EXPECT_EQ(RestoreFiles().size(), 3u);  // kept for a later resume
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
    EXPECT_EQ(RestoreFiles().size(), 3u);
}

}  // namespace
}  // namespace tarn
