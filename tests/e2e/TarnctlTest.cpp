#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    int Tarnctl(const std::vector<std::string>& arguments, std::string* errors = nullptr, std::string* output = nullptr)
    {
        return RunCommand(TARNCTL_PATH, arguments, temp / "home", errors, output);
    }
    std::vector<std::string> RestoreFiles() const
    {
        std::vector<std::string> names;
        if (fs::exists(temp / "restore"))
            for (const auto& entry : fs::directory_iterator(temp / "restore")) names.push_back(entry.path().filename());
        return names;
    }
};

TEST_F(TarnctlTest, CopiesEverySourceAndSaysWhat)
{
    MakeFolders(temp / "a/sub");
    WriteFile(temp / "a/sub/f", RandomBytes(100000, 1));
    WriteFile(temp / "b.bin", RandomBytes(5000, 2));
    std::string errors;
    // "a/sub/.." is the folder "a", copied as "a".
    EXPECT_EQ(Tarnctl({"copy", "--restore-dir", temp / "restore", temp / "a/sub/..", temp / "b.bin", temp / "out"},
                      &errors),
              0);
    EXPECT_EQ(ReadFile(temp / "out/a/sub/f"), ReadFile(temp / "a/sub/f"));
    EXPECT_EQ(ReadFile(temp / "out/b.bin"), ReadFile(temp / "b.bin"));
    EXPECT_NE(errors.find("Copied \"" + temp / "a/\" to \"" + temp / "out/a/\""), std::string::npos) << errors;
    EXPECT_NE(errors.find("Copied \"" + temp / "b.bin\" to \"" + temp / "out/\""), std::string::npos) << errors;
    EXPECT_TRUE(errors.ends_with("\nCopied 2 files, 0 skipped as existing, 0 left out\n")) << errors;
    EXPECT_EQ(RestoreFiles(), (std::vector<std::string>{"TaskList.lock", "tarn_log.txt"}));
}

TEST_F(TarnctlTest, BadUsageAndFailuresHaveTheirExitStatus)
{
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", temp / "only-one"}, &errors), 1);
    EXPECT_NE(errors.find("Usage: tarnctl copy"), std::string::npos);
    EXPECT_EQ(Tarnctl({"copy", "--on-exists", "maybe", "a", "b"}, &errors), 1);
    EXPECT_NE(errors.find("overwrite, upload or skip"), std::string::npos);
    EXPECT_EQ(Tarnctl({"frobnicate"}), 1);

    // A destination that cannot be made fails the task, which stays for a later resume.
    WriteFile(temp / "f", "data");
    WriteFile(temp / "blocker", "");
    EXPECT_EQ(Tarnctl({"copy", "--max-errors", "2", "--delay-on-error", "10", "--restore-dir", temp / "restore",
                       temp / "f", temp / "blocker/out"},
                      &errors),
              2);
    EXPECT_NE(errors.find("Can't create a destination directory"), std::string::npos) << errors;
    EXPECT_NE(errors.find("failed after more than 2 errors"), std::string::npos) << errors;
    EXPECT_EQ(RestoreFiles().size(), 5u);  // TaskList, its lock and the task's files
    std::filesystem::remove(temp / "blocker");
    EXPECT_EQ(Tarnctl({"resume", "--quiet", "--restore-dir", temp / "restore"}), 0);
    EXPECT_EQ(ReadFile(temp / "blocker/out/f"), "data");
}

TEST_F(TarnctlTest, EverySourceIsCheckedBeforeAnythingIsCopied)
{
    WriteFile(temp / "good", "data");
    ASSERT_EQ(::mkfifo((temp / "pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink(temp / "pipe", temp / "link-to-pipe");
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--restore-dir", temp / "restore", temp / "good", temp / "missing", temp / "link-to-pipe",
                       temp / "out"},
                      &errors),
              1);
    EXPECT_NE(errors.find("tarnctl: cannot copy \"" + temp / "missing\": No such file or directory\n"),
              std::string::npos)
        << errors;
    EXPECT_NE(errors.find("tarnctl: cannot copy \"" + temp / "link-to-pipe\": not a regular file or folder\n"),
              std::string::npos)
        << errors;
    EXPECT_FALSE(fs::exists(temp / "restore"));
    EXPECT_FALSE(fs::exists(temp / "out"));
}

TEST_F(TarnctlTest, ACopyOntoItselfOntoAnotherOrOntoAFileStopsTheCommand)
{
    MakeFolders(temp / "dir/sub");
    MakeFolders(temp / "links");
    MakeFolders(temp / "hard");
    MakeFolders(temp / "a/photos");
    MakeFolders(temp / "b/photos");
    MakeFolders(temp / "b/Photos");
    WriteFile(temp / "f", "data");
    WriteFile(temp / "g", "other");
    fs::create_symlink(temp / "f", temp / "links/f");
    fs::create_hard_link(temp / "f", temp / "hard/f");
    fs::create_symlink(temp / "dir", temp / "dir-link");
    const auto onItself = [](const std::string& source, const std::string& copy) {
        return "tarnctl: cannot copy \"" + source + "\": its copy \"" + copy + "\" would be the file itself\n";
    };
    const auto inItself = [](const std::string& source, const std::string& copy,
                             const char* where = "inside the folder") {
        return "tarnctl: cannot copy \"" + source + "\": its copy \"" + copy + "\" would be " + where + "\n";
    };
    const auto sameName = [](const std::string& source, const std::string& earlier, const std::string& copy) {
        return "tarnctl: cannot copy \"" + source + "\": \"" + earlier +
               "\" has the same name; both would be copied to \"" + copy + "\"\n";
    };
    const struct {
        std::vector<std::string> sources;
        std::string destination;
        std::vector<std::string> messages;  // one per refused source
    } cases[] = {
        {{temp / "f"}, temp.Path(), {onItself(temp / "f", temp / "f")}},
        {{temp / "f"}, temp / "links", {onItself(temp / "f", temp / "links/f")}},
        {{temp / "f"}, temp / "hard/", {onItself(temp / "f", temp / "hard/f")}},
        {{temp / "g", temp / "f", temp / "dir", temp / "links/f"},
         temp / "links",
         {onItself(temp / "f", temp / "links/f"), onItself(temp / "links/f", temp / "links/f")}},
        {{temp / "dir//"}, temp.Path(), {inItself(temp / "dir//", temp / "dir/", "the folder itself")}},
        {{temp / "dir"}, temp / "dir", {inItself(temp / "dir", temp / "dir/dir/")}},
        // Links are followed, and a ".." in the part still to be made counts as it will then.
        {{temp / "dir-link"}, temp / "dir/sub/new", {inItself(temp / "dir-link", temp / "dir/sub/new/dir-link/")}},
        {{temp / "dir"}, temp / "dir-link/new/../x", {inItself(temp / "dir", temp / "dir-link/new/../x/dir/")}},
        // A source ending in ".." or "." is the folder it leads to, named as that folder.
        {{temp / "dir/sub/.."}, temp.Path(), {inItself(temp / "dir/sub/..", temp / "dir/", "the folder itself")}},
        {{temp / "dir/."}, temp / "dir", {inItself(temp / "dir/.", temp / "dir/dir/")}},
        // Two copies of one name would be one; letter case tells names apart.
        {{temp / "a/photos", temp / "b/Photos", temp / "b/photos"},
         temp / "out",
         {sameName(temp / "b/photos", temp / "a/photos", temp / "out/photos")}},
        {{temp / "g", temp / "dir/sub", temp / "a/photos/../../dir/sub/", temp / "links/f"},
         temp / "out",
         {sameName(temp / "a/photos/../../dir/sub/", temp / "dir/sub", temp / "out/sub")}},
        // A destination that is a file takes no copy.
        {{temp / "g", temp / "dir"},
         temp / "f",
         {"tarnctl: cannot copy into \"" + temp / "f\": it is a file, not a folder\n"}},
    };
    for (const auto& [sources, destination, messages] : cases) {
        std::vector<std::string> arguments = {"copy", "--restore-dir", temp / "restore"};
        arguments.insert(arguments.end(), sources.begin(), sources.end());
        arguments.push_back(destination);
        std::string errors;
        EXPECT_EQ(Tarnctl(arguments, &errors), 1) << destination;
        std::string expected;
        for (const auto& message : messages) expected += message;
        EXPECT_EQ(errors, expected);
        EXPECT_FALSE(fs::exists(temp / "restore"));
    }
    EXPECT_EQ(test::NamesOnDisk(temp / "links"), std::vector<std::string>{"f"});
    EXPECT_EQ(test::NamesOnDisk(temp / "dir/sub"), std::vector<std::string>{});

    // A destination whose path merely begins with the folder's is not inside it.
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "dir", temp / "dir2"}), 0);
    EXPECT_TRUE(fs::is_directory(temp / "dir2/dir/sub"));
}

TEST_F(TarnctlTest, ControlBytesOfNamesReachTheTerminalAndTheLogEscaped)
{
    const std::string folder = temp / "src\x1B[1m";
    MakeFolders(folder);
    WriteFile(folder + "/red\x1B[31m", "data");
    ASSERT_EQ(::mkfifo((folder + "/pipe\x1B]0;owned\x07\xC2\x9B").c_str(), 0600), 0);
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--restore-dir", temp / "restore", folder, temp / "out"}, &errors), 2);
    EXPECT_EQ(ReadFile(temp / "out/src\x1B[1m/red\x1B[31m"), "data");  // the copy keeps the name
    const std::string log = ReadFile(temp / "restore/tarn_log.txt");
    EXPECT_NE(log.find("A file \"red\\x1B[31m\" was copied from \"" + temp / "src\\x1B[1m/\""), std::string::npos)
        << log;
    EXPECT_NE(errors.find("/src\\x1B[1m/pipe\\x1B]0;owned\\x07\\xC2\\x9B\"\n"), std::string::npos) << errors;
    EXPECT_NE(errors.find("copied \"" + temp / "src\\x1B[1m/\" to \"" + temp / "out/src\\x1B[1m/\" without 1 item"),
              std::string::npos)
        << errors;

    std::string usage;
    EXPECT_EQ(Tarnctl({"copy", "--x\x1B[2J", "a", "b"}, &usage), 1);
    EXPECT_NE(usage.find("Unknown option --x\\x1B[2J"), std::string::npos) << usage;
    std::string command;
    EXPECT_EQ(Tarnctl({"\x1B[2J"}, &command), 1);
    EXPECT_NE(command.find("unknown command \"\\x1B[2J\""), std::string::npos) << command;
    for (const std::string& text : {errors, log, usage, command})
        for (const char* raw : {"\x1B", "\x07", "\xC2\x9B"}) EXPECT_EQ(text.find(raw), std::string::npos) << text;
}

TEST_F(TarnctlTest, ItemsLeftOutAndDamagedRestoreFilesFailTheRun)
{
    MakeFolders(temp / "src");
    WriteFile(temp / "src/f", "data");
    ASSERT_EQ(::mkfifo((temp / "src/pipe").c_str(), 0600), 0);
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--restore-dir", temp / "restore", temp / "src", temp / "out"}, &errors), 2);
    EXPECT_EQ(ReadFile(temp / "out/src/f"), "data");
    EXPECT_NE(errors.find(temp / "src/pipe"), std::string::npos) << errors;
    EXPECT_NE(errors.find("without 1 item(s) that could not be copied; the reasons are above and in \"" +
                          temp / "restore/tarn_log.txt\""),
              std::string::npos)
        << errors;
    EXPECT_TRUE(errors.ends_with("\nCopied 1 file, 0 skipped as existing, 1 left out\n")) << errors;
    EXPECT_NE(ReadFile(temp / "restore/tarn_log.txt").find("\r\nItems left out: 1\r\n"), std::string::npos);

    // A task whose restore files are damaged is moved aside; the rest of the list still runs.
    MakeFolders(temp / "restore");
    WriteFile(temp / "restore/0000DEAD.var", "\x03");
    WriteFile(temp / "restore/0000DEAD.con", "");
    WriteFile(temp / "restore/0000DEAD.log", "");
    WriteFile(temp / "restore/TaskList", std::string("\x03\x01\x01\0\0\0\x08\0\0\0", 10) + "0000DEAD");
    EXPECT_EQ(Tarnctl({"resume", "--restore-dir", temp / "restore"}, &errors), 2);
    EXPECT_NE(errors.find("tarnctl: Restore file was corrupted! Task 0000DEAD: its restore files are damaged"),
              std::string::npos)
        << errors;
    EXPECT_TRUE(FileExists(temp / "restore/damaged/0000DEAD.var"));
    EXPECT_EQ(Tarnctl({"resume", "--restore-dir", temp / "restore"}, &errors), 0) << errors;
}

// Attributes asked for and not set fail the run as an item left out does. A folder made
// immutable before the copy is one whose mode and times nobody can set.
TEST_F(TarnctlTest, AttributesThatCannotBeSetFailTheRun)
{
    MakeFolders(temp / "src/locked");
    WriteFile(temp / "src/f", "data");
    MakeFolders(temp / "out/src/locked");
    const int folder = ::open((temp / "out/src/locked").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    int flags = 0;
    bool locked = ::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0;
    if (locked) {
        flags |= FS_IMMUTABLE_FL;
        locked = ::ioctl(folder, FS_IOC_SETFLAGS, &flags) == 0;
    }
    if (!locked) {
        ::close(folder);
        GTEST_SKIP() << "no immutable folder here: needs root and a file system with the flag";
    }
    std::string errors;
    const int status =
        Tarnctl({"copy", "--attributes", "--restore-dir", temp / "restore", temp / "src", temp / "out"}, &errors);
    flags &= ~FS_IMMUTABLE_FL;  // so that the test's folder can go
    ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
    ::close(folder);
    EXPECT_EQ(status, 2) << errors;
    EXPECT_EQ(ReadFile(temp / "out/src/f"), "data");
    EXPECT_NE(errors.find("copied \"" + temp / "src/\" to \"" + temp / "out/src/\", but 1 attribute or security "
                          "setting(s) could not be set; the reasons are above and in \"" +
                          temp / "restore/tarn_log.txt\""),
              std::string::npos)
        << errors;
    EXPECT_TRUE(errors.ends_with(
        "\nCopied 1 file, 0 skipped as existing, 0 left out, 1 attribute or security setting not set\n"))
        << errors;
}

TEST_F(TarnctlTest, SizesTakeUnitsAndTheVersionIsTheProgramsOwn)
{
    std::string errors;
    std::string output;
    EXPECT_EQ(Tarnctl({"--version"}, &errors, &output), 0);
    EXPECT_EQ(output, "tarnctl 3.1\n");
    EXPECT_EQ(Tarnctl({"--help"}, &errors, &output), 0);
    EXPECT_NE(output.find("0 is no limit"), std::string::npos);

    WriteFile(temp / "f", RandomBytes(300000, 5));
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--speed-limit", "0", "--buffer-size", "4MiB", "--restore-dir",
                       temp / "restore", temp / "f", temp / "out"}),
              0);
    EXPECT_EQ(ReadFile(temp / "out/f"), ReadFile(temp / "f"));

    EXPECT_EQ(Tarnctl({"copy", "--buffer-size", "65M", "a", "b"}, &errors), 1);
    EXPECT_NE(errors.find("Option --buffer-size takes 1 to 67108864 bytes (64M), not \"65M\""), std::string::npos)
        << errors;
    EXPECT_EQ(Tarnctl({"copy", "--speed-limit", "2G", "a", "b"}, &errors), 1);
    EXPECT_NE(errors.find("Option --speed-limit takes at most 2147483647 bytes per second"), std::string::npos)
        << errors;
    EXPECT_EQ(Tarnctl({"resume", "--speed-limit", "10X"}, &errors), 1);
    EXPECT_NE(errors.find("with K, M or G"), std::string::npos) << errors;
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
    WriteFile(temp / "out/f", "new");
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--on-exists", "skip", "--restore-dir", temp / "restore", temp / "f", temp / "out"},
                      &errors),
              0);
    EXPECT_EQ(ReadFile(temp / "out/f"), "new");
    EXPECT_TRUE(errors.ends_with("\nCopied 0 files, 1 skipped as existing, 0 left out\n")) << errors;
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "f", temp / "out"}), 0);
    EXPECT_EQ(ReadFile(temp / "out/f"), "new content");  // upload keeps the bytes there and adds the rest
    EXPECT_NE(ReadFile(temp / "restore/tarn_log.txt").find("will be uploaded"), std::string::npos);
    WriteFile(temp / "out/f", "old");
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--on-exists", "overwrite", "--restore-dir", temp / "restore", temp / "f",
                       temp / "out"}),
              0);
    EXPECT_EQ(ReadFile(temp / "out/f"), "new content");
    EXPECT_NE(ReadFile(temp / "restore/tarn_log.txt").find("will be overwritten"), std::string::npos);
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
    EXPECT_EQ(RestoreFiles().size(), 5u);
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

    // A new copy into the same folder runs only its own task and leaves the killed one as it is.
    std::string errors;
    WriteFile(temp / "third", "the third source");
    EXPECT_EQ(Tarnctl({"copy", "--restore-dir", temp / "restore", temp / "third", temp / "out"}, &errors), 0) << errors;
    EXPECT_NE(errors.find("2 unfinished task(s) of earlier runs wait in \"" + temp / "restore/\"; tarnctl resume "
                          "finishes them"),
              std::string::npos)
        << errors;
    EXPECT_EQ(ReadFile(temp / "out/third"), "the third source");
    EXPECT_LT(fs::file_size(temp / "out/big"), data.size());

    EXPECT_EQ(Tarnctl({"resume", "--quiet", "--speed-limit", "0", "--restore-dir", temp / "restore"}, &errors), 0)
        << errors;
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
