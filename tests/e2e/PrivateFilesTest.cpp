// The restore folder says what the user copies from where: it and its files are the user's alone,
// whatever the umask, and the program log is never written through a link planted in its place.
#include <set>

#include "tests/e2e/E2eSupport.h"

namespace tarn {
namespace {

using namespace test;

class PrivateFilesTest : public CommandTest {
protected:
    void SetUp() override { oldMask_ = ::umask(022); }
    void TearDown() override { ::umask(oldMask_); }
    mode_t oldMask_ = 0;
};

TEST_F(PrivateFilesTest, TheRestoreFolderAndItsFilesAreTheUsersAlone)
{
    WriteFile(temp / "big", RandomBytes(200000, 5));
    const std::string restore = temp / "new/restore/";
    {
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
    EXPECT_EQ(ModeOf(temp / "new/restore"), 0700u);
    EXPECT_EQ(ModeOf(temp / "new"), 0700u);  // made for it, so the user's alone too
    std::set<std::string> kinds;
    for (const auto& entry : fs::directory_iterator(restore)) {
        EXPECT_EQ(ModeOf(entry.path()), 0600u) << entry.path();
        const std::string name = entry.path().filename();
        kinds.insert(name.rfind("TaskList", 0) == 0 ? name : entry.path().extension().string());
    }
    for (const char* kind : {"TaskList", "TaskList.lock", ".var", ".con", ".log"}) EXPECT_TRUE(kinds.count(kind)) << kind;
    std::string errors;
    ASSERT_EQ(Tarnctl({"resume", "--quiet", "--speed-limit", "0", "--restore-dir", restore}, &errors), 0) << errors;
    EXPECT_EQ(ReadFile(temp / "dst/big"), ReadFile(temp / "big"));
    EXPECT_EQ(ModeOf(restore + "tarn_log.txt"), 0600u);
}

TEST_F(PrivateFilesTest, ARestoreFolderOthersCanWriteIsRefusedByEveryCommand)
{
    const std::string restore = temp / "shared";
    MakeFolders(restore);
    fs::permissions(restore, fs::perms(0775));
    WriteFile(temp / "f", "contents");
    for (const std::vector<std::string>& command : {std::vector<std::string>{"copy", "--restore-dir", restore,
                                                                             temp / "f", temp / "dst"},
                                                    {"resume", "--restore-dir", restore}}) {
        std::string errors;
        EXPECT_EQ(Tarnctl(command, &errors), 2) << command[0];
        EXPECT_NE(errors.find("chmod go-w \"" + restore + "\"\n"), npos) << errors;
    }
    EXPECT_TRUE(fs::is_empty(restore));
    EXPECT_FALSE(fs::exists(temp / "dst"));
}

TEST_F(PrivateFilesTest, AProgramLogReplacedByALinkIsNotWrittenThrough)
{
    MakeFolders(temp / "restore");
    WriteFile(temp / "victim", "keep me");
    fs::create_symlink(temp / "victim", temp / "restore/tarn_log.txt");
    WriteFile(temp / "f", "contents");
    std::string errors;
    Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "f", temp / "dst"}, &errors);
    EXPECT_EQ(ReadFile(temp / "victim"), "keep me");
    EXPECT_NE(errors.find("tarn_log.txt\" cannot be written: it is a symbolic link"), npos) << errors;
    EXPECT_EQ(ReadFile(temp / "dst/f"), "contents");
}

}  // namespace
}  // namespace tarn
