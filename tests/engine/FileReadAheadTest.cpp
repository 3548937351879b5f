// Small files read ahead by helpers: whatever happens or is asked meanwhile, the copy is the file as it is copied.
#include <functional>
#include <stdexcept>

#include "engine/FileReadAhead.h"
#include "engine/FolderPrefetcher.h"
#include "platform/OsError.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

class FileReadAheadTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        ::setenv("TARN_READ_AHEAD", "always", 1);
        WriteTree(Src() + "tree/", {{"hold", RandomBytes(70000, 1)}, {"sub/b", RandomBytes(5000, 'b')}, {"sub/c", RandomBytes(5000, 'c')},
                                    {"sub/d", RandomBytes(5000, 'd')}});
    }

    // A task held writing its first file once the helpers read the files after it.
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

TEST_F(FileReadAheadTest, AFileChangedOrFailingAfterItWasReadIsCopiedAsItIsNow)
{
    // As if nothing had been read ahead: b as it is when the worker gets there; c's error met again, logged once.
    const std::string b = Src() + "tree/sub/b";
    const std::string before = Source("b");
    struct Case {
        const char* name;
        std::function<void()> change;
        bool leftOut;
        FaultOp op = FaultOp::Open;
        int error = -1;  // of the fault on c, none when below zero
        const char* logged = "";
    } cases[] = {
        {"b vanishes", [&] { fs::remove(b); }, true},
        {"b shrinks", [&] { fs::resize_file(b, 1000); }, false},
        {"b grows", [&] { WriteFile(b, RandomBytes(9000, 7)); }, false},
        {"b is rewritten at its size, a second later", [&] {
             WriteFile(b, RandomBytes(5000, 8));
             const timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 1, 0}};
             ::utimensat(AT_FDCWD, b.c_str(), later, 0);
         }, false},
        {"b turns unreadable", [&] { fs::permissions(b, fs::perms::none); }, ::geteuid() != 0},
        {"c fails to open", [] {}, false, FaultOp::Open, EIO, "Input/output error"},
        {"c fails to read", [] {}, false, FaultOp::Read, EIO, "Input/output error"},
        {"c ends at once", [] {}, false, FaultOp::Read, 0, "The source stopped answering at byte 0"},
    };
    for (const Case& c : cases) {
        Fresh();
        SCOPED_TRACE(c.name);
        const long faults = FaultsInjected();
        if (c.error >= 0) InjectFault(c.op, "src/tree/sub/c", c.error);
        auto task = HeldTask(c.error >= 0 ? 2 : 3);
        ASSERT_TRUE(WaitUntil([&] { return FaultsInjected() == faults + (c.error >= 0); }));  // met by a helper
        c.change();
        const std::string now = c.leftOut ? "" : ReadFile(b);
        ReleaseStalls();
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_EQ(fs::exists(Dst() + "tree/sub/b"), !c.leftOut);
        EXPECT_TRUE(c.leftOut || Copied("b") == now);
        EXPECT_EQ(CountWith(*task, "Err010", "sub/b"), c.leftOut ? 1 : 0);
        EXPECT_TRUE(Copied("c") == Source("c") && Copied("d") == Source("d"));
        EXPECT_EQ(CountWith(*task, "Err005", c.logged), c.error >= 0 ? 1 : 0);  // "" counts every one
        fs::remove(b);
        WriteFile(b, before);
    }
}

TEST_F(FileReadAheadTest, WhatTheUserAsksMeanwhileDropsWhatWasReadAhead)
{
    struct Case {
        const char* name;
        // Asks while the worker is held; then what ends the task.
        std::function<void(std::unique_ptr<TDownloadThread>&)> ask, finish;
    } cases[] = {
        {"pause", [](auto& task) { task->Pause(); }, [&](auto& task) { ASSERT_TRUE(WaitForState(*task, StatePaused)); task->Start(); }},
        {"skip", [](auto& task) { task->SkipFile(); }, [](auto&) {}},
        {"stop", [](auto& task) { task->Stop(); }, [&](auto& task) { task = Restored(task); }},
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
        Fresh();
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
    }
}

TEST_F(FileReadAheadTest, TheSpeedLimitHoldsForFilesReadAhead)
{
    // Twenty files of 20,000 bytes at 200,000 bytes a second: however fast the helpers read, it takes two seconds.
    MakeFolders(Src() + "many");
    for (int i = 0; i < 20; ++i) WriteFile(Src() + "many/f" + std::to_string(i), RandomBytes(20000, static_cast<unsigned>(i)));
    const auto start = std::chrono::steady_clock::now();
    auto task = NewTask(Src() + "many", Dst(), {.speedLimit = 200000});
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_GT(FileReadAhead::FilesRead(), 0);
    EXPECT_EQ(task->GetCopiedFileCount(), 20);
}

class FolderPrefetcherTest : public EngineTest {
protected:
    // Three levels of four folders, each with three files: 84 folders below the root.
    void MakeTree(const std::string& folder, int depth)
    {
        for (int f = 0; f < 3; ++f) WriteFile(folder + "file" + std::to_string(f), std::string(static_cast<size_t>(f), 'x'));
        for (int d = 0; depth > 0 && d < 4; ++d) {
            MakeFolders(folder + "sub" + std::to_string(d));
            MakeTree(folder + "sub" + std::to_string(d) + "/", depth - 1);
        }
    }

    // Walks the tree as the scan does: take a folder, announce its subfolders, enter them.
    static void Walk(FolderPrefetcher& lister, const std::string& folder, std::vector<std::string>& visited)
    {
        const FolderListing listing = lister.Take(folder);
        EXPECT_EQ(listing.openError, 0) << folder;
        EXPECT_EQ(listing.endError, ErrorNoMoreFiles) << folder;
        visited.push_back(folder);
        std::vector<std::string> names, subfolders;
        for (const auto& entry : listing.entries) {
            names.push_back(entry.name);
            if (entry.isFolder) subfolders.push_back(folder + entry.name + "/");
        }
        EXPECT_EQ(names, NamesOnDisk(folder)) << folder;
        lister.Prefetch(subfolders);
        for (const auto& sub : subfolders) Walk(lister, sub, visited);
    }
};

TEST_F(FolderPrefetcherTest, EveryFolderIsListedWholeAndOnceWhateverTheHelpersAndTheirLimit)
{
    MakeTree(Src(), 3);
    std::vector<std::string> expected;
    {
        FolderPrefetcher serial(0, 1, true, [] {});
        Walk(serial, Src(), expected);
    }
    ASSERT_EQ(expected.size(), 85u);
    // With the limit full of folders needed later, the walk must list what it needs next itself.
    for (const auto& [helpers, limit] : std::vector<std::pair<int, size_t>>{{1, 1}, {2, 1}, {2, 16}, {4, 2}}) {
        SCOPED_TRACE(std::to_string(helpers) + " helpers, limit " + std::to_string(limit));
        std::vector<std::string> visited;
        FolderPrefetcher lister(helpers, limit, true, [] {});
        Walk(lister, Src(), visited);
        EXPECT_EQ(visited, expected);
    }
}

TEST_F(FolderPrefetcherTest, FailuresReachTheScanWhoeverListsTheFolder)
{
    MakeFolders(Src() + "bad/");
    for (int f = 0; f < 5; ++f) WriteFile(Src() + "bad/f" + std::to_string(f), "");
    for (const int helpers : {0, 2}) {
        SCOPED_TRACE(std::to_string(helpers) + " helpers");
        InjectFault(FaultOp::Enumerate, "/src/bad/", EIO, 1, 2);
        FolderPrefetcher lister(helpers, 4, true, [] {});
        lister.Prefetch({Src() + "bad/", Src() + "missing/"});
        const FolderListing bad = lister.Take(Src() + "bad/");
        EXPECT_EQ(bad.entries.size(), 2u);
        EXPECT_EQ(bad.endError, EIO);
        const FolderListing missing = lister.Take(Src() + "missing/");
        EXPECT_EQ(missing.openError, ENOENT);
        EXPECT_TRUE(missing.entries.empty());
        ClearFaults();
    }
}

TEST_F(FolderPrefetcherTest, WaitingForAHelperKeepsTakingCheckpointsSoTheScanCanStop)
{
    WriteTree(Src(), {{"slow/a", ""}});
    StallOn(FaultOp::Enumerate, "/src/slow/");
    int checkpoints = 0;
    {
        FolderPrefetcher lister(1, 4, true, [&] {
            if (++checkpoints == 3) throw std::runtime_error("stop");
        });
        lister.Prefetch({Src() + "slow/"});
        ASSERT_TRUE(WaitUntil([] { return StalledCalls() > 0; }));
        EXPECT_THROW(lister.Take(Src() + "slow/"), std::runtime_error);
        ReleaseStalls();
    }
    EXPECT_EQ(checkpoints, 3);
}

}  // namespace
}  // namespace tarn::test
