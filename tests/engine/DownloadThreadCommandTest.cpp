// What the commands leave behind beyond state and records: when a flush fails under a pause,
// an error is paused, the source changes during the scan, and files are skipped.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <filesystem>
#include <thread>

#include "platform/FaultInjection.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using namespace test;
namespace fs = std::filesystem;

class DownloadThreadCommandTest : public EngineTest {
protected:
    static int64_t ModifiedOf(const std::string& path)
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
    }
};

TEST_F(DownloadThreadCommandTest, AFailedFlushIsAnErrorOfTheFileAndNeverUndoesAPause)
{
    const std::string data = RandomBytes(2000000, 1);
    WriteFile(Src() + "f", data);
    auto task = NewTask(Src() + "f", Dst(), {.speedLimit = 400000});
    ASSERT_TRUE(WaitUntil([&] { return task->GetCopiedSize() > 100000; }));
    // The save that makes the pause durable cannot flush the file.
    InjectFault(FaultOp::Sync, "dst/f", EIO);
    task->Pause();
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(task->GetState(), StatePaused);
    EXPECT_EQ(CountWith(*task, "Err005", ""), 0);
    // Going on, the failure is an error of the file like any other: logged, counted, retried.
    task->Start();
    ASSERT_TRUE(WaitForLog(*task, "Err005"));
    EXPECT_EQ(CountWith(*task, "Err005", "Input/output error"), 1);
    EXPECT_GE(CountId(*task, "Inf006"), 1);
    task->SetSpeedLimit(2147483647);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
}

TEST_F(DownloadThreadCommandTest, APausedErrorGoesOnWithoutAnErrorOfItsOwnMaking)
{
    const std::string data = RandomBytes(500000, 2);
    WriteFile(Src() + "f", data);
    InjectFault(FaultOp::Read, "src/f", EIO, 1, 1);
    auto task = NewTask(Src() + "f", Dst(), {.delayOnError = 60000});
    ASSERT_TRUE(WaitForState(*task, StateError));
    task->Pause();
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    task->Start();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(CountWith(*task, "Err005", ""), 1);
    EXPECT_EQ(CountWith(*task, "Err005", "Bad file descriptor"), 0);
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
}

TEST_F(DownloadThreadCommandTest, ANewSourceDuringTheScanStartsACleanScanOfIt)
{
    for (const std::string tree : {"old/", "new/"}) {
        MakeFolders(Src() + tree + "a/b");
        for (int i = 0; i < 200; ++i) WriteFile(Src() + tree + "f" + std::to_string(i), tree);
        WriteFile(Src() + tree + "a/b/deep", tree);
    }
    StallOn(FaultOp::Enumerate, "src/old/a");
    auto task = NewTask(Src() + "old", Dst());
    ASSERT_TRUE(WaitUntil([&] { return StalledCalls() > 0; }));
    task->ChangeSource(Src() + "new");
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    // The copy is the new tree, in the folder named after the old one, and nothing else.
    size_t entries = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Dst())) {
        ++entries;
        if (entry.is_regular_file()) {
            EXPECT_EQ(ReadFile(entry.path()), "new/") << entry.path();
        }
    }
    EXPECT_EQ(entries, 1u + 2 + 201);
    EXPECT_TRUE(fs::exists(Dst() + "old/a/b/deep"));
    // And it restores: every item is inside the task's tree.
    task.reset();
    EXPECT_NO_THROW(RestoreTask());
}

TEST_F(DownloadThreadCommandTest, SkippedFilesKeepTheirAttributesAndStreams)
{
    MakeFolders(Src() + "tree");
    MakeFolders(Dst() + "tree");
    WriteFile(Src() + "tree/there", "new content");
    WriteFile(Dst() + "tree/there", "old");
    if (::setxattr((Src() + "tree/there").c_str(), "user.tag", "source", 6, 0) != 0) GTEST_SKIP() << "no user attributes here";
    ASSERT_EQ(::setxattr((Dst() + "tree/there").c_str(), "user.tag", "mine", 4, 0), 0);
    fs::last_write_time(Src() + "tree/there", fs::file_time_type::clock::now() - std::chrono::hours(48));
    const int64_t mine = ModifiedOf(Dst() + "tree/there");

    // An existing file the user chose to skip: neither its attribute nor its times change.
    TaskSetup setup{.copyAttributes = true, .copyStreams = true};
    auto task = NewTask(Src() + "tree", Dst(), setup);
    ASSERT_TRUE(WaitUntil([&] { return task->IsWaitingForAnswer(); }));
    task->Answer(AnswerSkipAll);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    char value[16] = {};
    ASSERT_EQ(::getxattr((Dst() + "tree/there").c_str(), "user.tag", value, sizeof value), 4);
    EXPECT_EQ(std::string(value, 4), "mine");
    EXPECT_EQ(ModifiedOf(Dst() + "tree/there"), mine);
    EXPECT_EQ(ReadFile(Dst() + "tree/there"), "old");
    task.reset();

    // A file left by Skip File half copied does not get the source's time either.
    WriteFile(Src() + "big", RandomBytes(2000000, 3));
    ASSERT_EQ(::setxattr((Src() + "big").c_str(), "user.tag", "big", 3, 0), 0);
    fs::last_write_time(Src() + "big", fs::file_time_type::clock::now() - std::chrono::hours(48));
    setup.speedLimit = 300000;
    auto skipped = NewTask(Src() + "big", Dst(), setup, "00000002");
    ASSERT_TRUE(WaitUntil([&] { return skipped->GetCopiedSize() > 0; }));
    skipped->SkipFile();
    ASSERT_TRUE(WaitForState(*skipped, StateFinished));
    EXPECT_NE(ModifiedOf(Dst() + "big"), ModifiedOf(Src() + "big"));
    EXPECT_LT(::getxattr((Dst() + "big").c_str(), "user.tag", value, sizeof value), 0);
}

}  // namespace
}  // namespace tarn
