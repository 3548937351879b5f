// A destination others can write to never lets a task touch anything outside it, whatever links stand in it.
#include "platform/OsError.h"
#include "platform/PathBeneath.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

class DestinationLinkTest : public EngineTest {
protected:
    std::string Outside() const { return temp / "outside/"; }
    void SetUp() override
    {
        EngineTest::SetUp();
        WriteTree(temp.Path(), {{"outside/", ""}, {"src/tree/top", RandomBytes(4000, 1)}, {"src/tree/sub/a", RandomBytes(3000, 2)},
                                {"src/tree/sub/b", RandomBytes(5000, 3)}});
    }
    bool OutsideEmpty() const { return fs::is_empty(Outside()); }
};

TEST_F(DestinationLinkTest, PathsBelowTheRootAreReachedWithoutFollowingALink)
{
    WriteTree(temp.Path(), {{"root/real/f", "x"}});
    fs::create_directory_symlink(Outside(), temp / "root/link");
    fs::create_directory_symlink(temp / "root", temp / "rootlink");
    // A root the caller holds, named by its descriptor, is used through that descriptor.
    const int held = ::open((temp / "root").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    const std::string heldRoot = DescriptorPath(held) + "/";
    const struct {
        std::string root, path;
        int error;  // 0: valid
    } cases[] = {
        {heldRoot, heldRoot + "real/f", 0}, {heldRoot, heldRoot + "link/f", ErrorLinkInPath},
        {temp / "root/", temp / "root/real/f", 0}, {temp / "root/", temp / "root/", 0},
        {temp / "rootlink/", temp / "rootlink/real/f", 0},  // the root itself is the user's choice
        {temp / "root/", temp / "root/link/f", ErrorLinkInPath}, {temp / "root/", temp / "root/link/deeper/f", ErrorLinkInPath},
        {temp / "root/", temp / "root/real/../link/f", EINVAL}, {temp / "root/", temp / "other/f", EINVAL},
        {temp / "root/", temp / "root/missing/f", ENOENT},
    };
    for (const auto& c : cases) {
        const PathBeneath path(c.root, c.path);
        EXPECT_EQ(path.Valid(), c.error == 0) << c.path;
        EXPECT_EQ(path.Valid() ? 0 : path.Error(), c.error) << c.path;
        // Resolved in one call or walked, an open below the root meets the same.
        const int fd = OpenBeneath(c.root, c.path, O_RDONLY | O_CLOEXEC, 0);
        EXPECT_EQ(fd >= 0 ? 0 : errno, c.error) << c.path;
        if (fd >= 0) ::close(fd);
    }
    ::close(held);
    // The last component is left to the caller, who does not follow it.
    const PathBeneath link(temp / "root/", temp / "root/link");
    ASSERT_TRUE(link.Valid());
    EXPECT_EQ(link.Name(), "link");
    EXPECT_LT(PlatformOpen(temp / "root/link/new", FileAccess::Write, CreationMode::CreateNew, {.beneath = temp / "root/"}), 0);
    EXPECT_EQ(errno, ErrorLinkInPath);
    EXPECT_LT(PlatformMakeFolderBeneath(temp / "root/", temp / "root/link/made"), 0);
    EXPECT_TRUE(OutsideEmpty());
}

TEST_F(DestinationLinkTest, WhatIsSwappedForALinkDuringTheCopyIsNeverWrittenThrough)
{
    // Held at the second file of "sub", whose folder becomes a link, as does "top" before its attributes are set.
    const std::string target = temp / "secret";
    WriteFile(target, "private");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const auto before = fs::last_write_time(target);
    ::chmod((Src() + "tree/top").c_str(), 0755);
    StallOn(FaultOp::Open, "dst/tree/sub/", 1);
    auto task = NewTask(Src() + "tree", Dst(), {.copyAttributes = true, .copySecurity = true});
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    fs::rename(Dst() + "tree/sub", temp / "moved-sub");
    fs::create_directory_symlink(Outside(), Dst() + "tree/sub");
    fs::remove(Dst() + "tree/top");
    fs::create_symlink(target, Dst() + "tree/top");
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(OutsideEmpty());
    EXPECT_TRUE(Logged(*task, "Err010", "symbolic link"));
    EXPECT_EQ(task->GetLeftOutCount(), 1);
    // The file copied before the swap is whole in the folder it was written to.
    const std::string first = fs::exists(temp / "moved-sub/a") ? "a" : "b";
    EXPECT_EQ(ReadFile(temp / "moved-sub/" + first), ReadFile(Src() + "tree/sub/" + first));
    EXPECT_FALSE(fs::exists(temp / "moved-sub/" + (first == "a" ? "b" : "a")));
    EXPECT_EQ(ModeOf(target), 0600u);
    EXPECT_EQ(fs::last_write_time(target), before);
    EXPECT_EQ(ReadFile(target), "private");
    EXPECT_TRUE(Logged(*task, "Err009", "tree/top"));
}

TEST_F(DestinationLinkTest, LinksStandingInTheDestinationAreReplacedOrLeftOutNeverFollowed)
{
    // Made before the task: a file's link is replaced whatever the answer; a folder's is left out with its files.
    WriteFile(temp / "secret", "must stay");
    for (const uint8_t answer : {AnswerOverwrite, AnswerUpload}) {
        Fresh();
        MakeFolders(Dst() + "tree");
        fs::create_symlink(temp / "secret", Dst() + "tree/top");
        fs::create_directory_symlink(Outside(), Dst() + "tree/sub");
        auto task = NewTask(Src() + "tree", Dst(), {.copyAttributes = true});
        ASSERT_TRUE(Answered(*task, answer));
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_EQ(ReadFile(temp / "secret"), "must stay");
        EXPECT_TRUE(OutsideEmpty());
        EXPECT_TRUE(fs::is_symlink(Dst() + "tree/sub"));
        EXPECT_EQ(CountId(*task, "Err010"), 3);  // the folder and its two files
        EXPECT_EQ(ReadFile(Dst() + "tree/top"), ReadFile(Src() + "tree/top"));
    }
}

// Honest results where a destination or a source does not do what the copy asks (sticks: tests/e2e).
using DestinationResultTest = EngineTest;
constexpr TaskSetup NoRetry{.delayOnError = 600000};  // a retry would wait this long: a test that finishes took none

TEST_F(DestinationResultTest, ErrorsNoWaitMendsLeaveTheirItemOutAtOnce)
{
    // As a stick refuses a name, a long name, 4 GiB, an attribute; a folder takes its files; a source unreadable.
    const struct {
        FaultOp op;
        const char* path;
        int error, leftOut;
    } cases[] = {{FaultOp::Open, "dst/tree/bad", EINVAL, 1}, {FaultOp::Open, "dst/tree/bad", ENAMETOOLONG, 1},
                 {FaultOp::Open, "dst/tree/bad", EILSEQ, 1}, {FaultOp::Write, "dst/tree/bad", EFBIG, 1},
                 {FaultOp::Open, "dst/tree/sub", EINVAL, 2}, {FaultOp::Open, "src/tree/bad", EACCES, 1}};
    WriteTree(Src() + "tree/", {{"good", RandomBytes(100000, 1)}, {"bad", RandomBytes(300000, 2)}, {"sub/inner", "x"}});
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        fs::remove_all(Dst() + "tree");
        InjectFault(c.op, c.path, c.error, 1000000);
        auto task = NewTask(Src() + "tree", Dst(), NoRetry, "0000000" + std::to_string(i + 1));
        ASSERT_TRUE(WaitForState(*task, StateFinished)) << c.path << " " << c.error;
        ClearFaults();
        EXPECT_EQ(task->GetErrorCount(), 0) << c.error;
        EXPECT_EQ(task->GetLeftOutCount(), c.leftOut) << c.error;
        EXPECT_TRUE(Logged(*task, "Err010", SystemErrorText(c.error)) || Logged(*task, "Err010", "could not be made"));
        EXPECT_EQ(ReadFile(Dst() + "tree/good"), ReadFile(Src() + "tree/good"));
        EXPECT_FALSE(fs::exists(Dst() + "tree/bad") && c.op == FaultOp::Write);  // no partial copy stays
    }
}

TEST_F(DestinationResultTest, AFileAnotherTaskWritesIsWaitedFor)
{
    WriteFile(Src() + "f", RandomBytes(100000, 1));
    WriteFile(Dst() + "f", "being written");
    const int other = ::open((Dst() + "f").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    struct flock lock = {F_WRLCK, SEEK_SET, 0, 0, 0};  // the whole file
    ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
    auto task = NewTask(Src() + "f", Dst());
    ASSERT_TRUE(Answered(*task, AnswerOverwrite));
    ASSERT_TRUE(WaitForLog(*task, "Err005", 2));
    EXPECT_TRUE(Logged(*task, "Err005", "Another task is writing this file"));
    EXPECT_EQ(ReadFile(Dst() + "f"), "being written");  // not emptied under the other
    ::close(other);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(ReadFile(Dst() + "f"), ReadFile(Src() + "f"));
}

TEST_F(DestinationResultTest, WhatVanishedFromAStillPresentSourceIsLeftOut)
{
    WriteTree(Src() + "tree/", {{"gone/", ""}, {"kept/", ""}, {"a", "a"}, {"kept/b", "b"}, {"gone/f", "f"}, {"z", "z"}});
    StallOn(FaultOp::Open, "src/tree/a");
    auto task = NewTask(Src() + "tree", Dst(), NoRetry);
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    fs::remove(Src() + "tree/kept/b");
    fs::remove_all(Src() + "tree/gone");
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(task->GetLeftOutCount(), 2);
    EXPECT_TRUE(Logged(*task, "Err010", "Its folder vanished"));
    EXPECT_TRUE(Logged(*task, "Err010", "The file vanished after the scan"));
    EXPECT_FALSE(fs::exists(Dst() + "tree/kept/b"));
    EXPECT_EQ(ReadFile(Dst() + "tree/z"), "z");
}

}  // namespace
}  // namespace tarn::test
