// The files of the restore folder say what the user copies from where: the folder and every file
// in it are the user's alone, whatever the umask, and the program log is never written through a
// link planted in its place.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using namespace test;
namespace fs = std::filesystem;

unsigned Mode(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0xFFFF;
}

class PrivateFilesTest : public TempFolderTest {
protected:
    void SetUp() override { oldMask_ = ::umask(022); }
    void TearDown() override { ::umask(oldMask_); }
    int Tarnctl(const std::vector<std::string>& arguments, std::string* errors = nullptr)
    {
        return RunCommand(TARNCTL_PATH, arguments, temp / "home", errors);
    }
    mode_t oldMask_ = 0;
};

TEST_F(PrivateFilesTest, TheRestoreFolderAndItsFilesAreTheUsersAlone)
{
    WriteFile(temp / "big", RandomBytes(200000, 5));
    const std::string restore = temp / "new/restore/";
    {
        // Slow enough to be killed with its files in place.
        CommandRunner runner(TARNCTL_PATH, {"copy", "--quiet", "--speed-limit", "10K", "--restore-dir", restore,
                                            temp / "big", temp / "dst"},
                             temp / "home");
        ASSERT_TRUE(WaitUntil([&] {
            std::error_code error;
            for (const auto& entry : fs::directory_iterator(restore, error))
                if (entry.path().extension() == ".var") return true;
            return false;
        }));
        runner.Signal(SIGKILL);
        runner.Wait();
    }
    EXPECT_EQ(Mode(temp / "new/restore"), 0700u);
    EXPECT_EQ(Mode(temp / "new"), 0700u);  // made for it, so the user's alone too
    // TaskList, its lock, the three files of the task, and the new file of a save the kill cut off.
    std::set<std::string> kinds;
    for (const auto& entry : fs::directory_iterator(restore)) {
        EXPECT_EQ(Mode(entry.path()), 0600u) << entry.path();
        const std::string name = entry.path().filename();
        kinds.insert(name.rfind("TaskList", 0) == 0 ? name : entry.path().extension().string());
    }
    for (const char* kind : {"TaskList", "TaskList.lock", ".var", ".con", ".log"}) EXPECT_TRUE(kinds.count(kind)) << kind;
    std::string errors;
    ASSERT_EQ(Tarnctl({"resume", "--quiet", "--speed-limit", "0", "--restore-dir", restore}, &errors), 0) << errors;
    EXPECT_EQ(ReadFile(temp / "dst/big"), ReadFile(temp / "big"));
    EXPECT_EQ(Mode(restore + "tarn_log.txt"), 0600u);
}

TEST_F(PrivateFilesTest, ARestoreFolderOthersCanWriteIsRefusedByEveryCommand)
{
    const std::string restore = temp / "shared";
    fs::create_directories(restore);
    fs::permissions(restore, fs::perms(0775));
    WriteFile(temp / "f", "contents");
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"copy", "--restore-dir", restore, temp / "f", temp / "dst"}, {"resume", "--restore-dir", restore}}) {
        std::string errors;
        EXPECT_EQ(Tarnctl(command, &errors), 2) << command[0];
        EXPECT_NE(errors.find("tarnctl: The restore folder \"" + restore + "\" can be written by other users (mode "
                              "0775); only its owner may write it: chmod go-w \"" + restore + "\"\n"),
                  std::string::npos)
            << errors;
    }
    EXPECT_TRUE(fs::is_empty(restore));
    EXPECT_FALSE(fs::exists(temp / "dst"));
}

TEST_F(PrivateFilesTest, AProgramLogReplacedByALinkIsNotWrittenThrough)
{
    fs::create_directories(temp / "restore");
    WriteFile(temp / "victim", "keep me");
    fs::create_symlink(temp / "victim", temp / "restore/tarn_log.txt");
    WriteFile(temp / "f", "contents");
    std::string errors;
    Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "f", temp / "dst"}, &errors);
    EXPECT_EQ(ReadFile(temp / "victim"), "keep me");
    EXPECT_NE(errors.find("tarn_log.txt\" cannot be written: it is a symbolic link"), std::string::npos) << errors;
    EXPECT_EQ(ReadFile(temp / "dst/f"), "contents");
}

}  // namespace
}  // namespace tarn
