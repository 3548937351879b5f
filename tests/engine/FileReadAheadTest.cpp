// Small files read ahead by helper threads, as a share's are: whatever happens to a file after it
// was read, and whatever the user asks meanwhile, the copy is the file as it is copied, its errors
// are met once by the worker, and the speed limit holds. The worker is held writing the tree's first
// file while the helpers read the three after it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "engine/FileReadAhead.h"
#include "platform/FaultInjection.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using test::EngineTest;
using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::TaskSetup;
using test::WaitUntil;
using test::WriteFile;
namespace fs = std::filesystem;

class FileReadAheadTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ::setenv("TARN_READ_AHEAD", "always", 1);
        MakeFolders(Src() + "tree/sub");
        WriteFile(Src() + "tree/hold", RandomBytes(70000, 1));
        for (const char* name : {"b", "c", "d"}) WriteFile(Src() + "tree/sub/" + name, RandomBytes(5000, name[0]));
    }
    void TearDown() override
    {
        ::unsetenv("TARN_READ_AHEAD");
        EngineTest::TearDown();
    }

    // A task held at its first file once the helpers read the files after it.
    std::unique_ptr<TDownloadThread> HeldTask(long filesRead = 3)
    {
        const long before = FileReadAhead::FilesRead();
        StallOn(FaultOp::Write, "dst/tree/hold");
        auto task = NewTask(Src() + "tree", Dst());
        EXPECT_TRUE(WaitUntil([&] { return StalledCalls() == 1 && FileReadAhead::FilesRead() >= before + filesRead; }));
        return task;
    }
    std::string Copied(const char* name) const { return ReadFile(Dst() + "tree/sub/" + name); }
    std::string Source(const char* name) const { return ReadFile(Src() + "tree/sub/" + name); }

    static int OpenDescriptors() { return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {})); }
};

TEST_F(FileReadAheadTest, AFileChangedAfterItWasReadIsCopiedAsItIsNow)
{
    // As if nothing had been read ahead: the copy holds the file as it is when the worker gets
    // there, or leaves it out when it is gone or cannot be read.
    const std::string b = Src() + "tree/sub/b";
    struct Case {
        const char* name;
        std::function<void()> change;
        bool leftOut;
    } cases[] = {
        {"vanishes", [&] { fs::remove(b); }, true},
        {"shrinks", [&] { fs::resize_file(b, 1000); }, false},
        {"grows", [&] { WriteFile(b, RandomBytes(9000, 7)); }, false},
        {"is rewritten at its size, a second later",
         [&] {
             WriteFile(b, RandomBytes(5000, 8));
             const timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 1, 0}};
             ::utimensat(AT_FDCWD, b.c_str(), later, 0);
         },
         false},
        {"turns unreadable", [&] { fs::permissions(b, fs::perms::none); }, ::geteuid() != 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = Source("b");
        auto task = HeldTask();
        c.change();
        const std::string now = c.leftOut ? "" : ReadFile(b);
        ReleaseStalls();
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_EQ(fs::exists(Dst() + "tree/sub/b"), !c.leftOut);
        EXPECT_TRUE(c.leftOut || Copied("b") == now);
        EXPECT_EQ(CountWith(*task, "Err010", "sub/b"), c.leftOut ? 1 : 0);
        EXPECT_TRUE(Copied("c") == Source("c") && Copied("d") == Source("d"));
        task.reset();
        ClearFaults();
        fs::remove_all(Dst());
        fs::remove_all(RestoreDir());
        MakeFolders(RestoreDir());
        fs::remove(b);
        WriteFile(b, before);
    }
}

TEST_F(FileReadAheadTest, AnErrorAHelperMetIsMetOnceWhenTheWorkerGetsThere)
{
    struct Case {
        FaultOp op;
        int error;
        const char* logged;
    } cases[] = {
        {FaultOp::Open, EIO, "Input/output error"},
        {FaultOp::Read, EIO, "Input/output error"},
        {FaultOp::Read, 0, "The source stopped answering at byte 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        const long faults = FaultsInjected();
        InjectFault(c.op, "src/tree/sub/c", c.error);
        auto task = HeldTask(2);
        ASSERT_TRUE(WaitUntil([&] { return FaultsInjected() == faults + 1; }));  // met by a helper
        ReleaseStalls();
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_EQ(CountWith(*task, "Err005", c.logged), 1);
        EXPECT_TRUE(Logged(*task, "Err005", "c"));
        EXPECT_TRUE(Copied("b") == Source("b") && Copied("c") == Source("c") && Copied("d") == Source("d"));
        task.reset();
        ClearFaults();
        fs::remove_all(Dst());
        fs::remove_all(RestoreDir());
        MakeFolders(RestoreDir());
    }
}

TEST_F(FileReadAheadTest, WhatTheUserAsksMeanwhileDropsWhatWasReadAhead)
{
    struct Case {
        const char* name;
        // Asks while the worker is held; then what ends the task.
        std::function<void(std::unique_ptr<TDownloadThread>&)> ask, finish;
    } cases[] = {
        {"pause", [](auto& task) { task->Pause(); },
         [&](auto& task) {
             ASSERT_TRUE(WaitForState(*task, StatePaused));
             task->Start();
         }},
        {"skip", [](auto& task) { task->SkipFile(); }, [](auto&) {}},
        {"stop", [](auto& task) { task->Stop(); },
         [&](auto& task) {
             task->WaitFor();
             task = RestoreTask();
         }},
        {"change source",
         [&](auto& task) {
             fs::rename(Src() + "tree", Src() + "moved");
             WriteFile(Src() + "moved/sub/b", RandomBytes(6000, 9));  // the new source's own b
             task->ChangeSource(Src() + "moved");
         },
         [](auto&) {}},
    };
    const int descriptors = OpenDescriptors();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto task = HeldTask();
        c.ask(task);
        ReleaseStalls();
        c.finish(task);
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        const std::string source = fs::exists(Src() + "moved") ? Src() + "moved/" : Src() + "tree/";
        for (const char* name : {"b", "c", "d"})
            EXPECT_TRUE(Copied(name) == ReadFile(source + "sub/" + name)) << name;
        task.reset();
        EXPECT_EQ(OpenDescriptors(), descriptors);  // nothing read ahead stays open
        if (fs::exists(Src() + "moved")) fs::rename(Src() + "moved", Src() + "tree");
        fs::remove_all(Dst());
        fs::remove_all(RestoreDir());
        MakeFolders(RestoreDir());
    }
}

TEST_F(FileReadAheadTest, TheSpeedLimitHoldsForFilesReadAhead)
{
    // Forty files of 20,000 bytes at 200,000 bytes a second: however fast the helpers read,
    // writing them takes four seconds.
    MakeFolders(Src() + "many");
    for (int i = 0; i < 40; ++i) WriteFile(Src() + "many/f" + std::to_string(i), RandomBytes(20000, static_cast<unsigned>(i)));
    TaskSetup setup;
    setup.speedLimit = 200000;
    const auto start = std::chrono::steady_clock::now();
    auto task = NewTask(Src() + "many", Dst(), setup);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));
    EXPECT_GT(FileReadAhead::FilesRead(), 0);
    EXPECT_EQ(task->GetCopiedFileCount(), 40);
}

}  // namespace
}  // namespace tarn
