#include "engine/FolderPrefetcher.h"

#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/OsError.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using test::EngineTest;
using test::MakeFolders;
using test::NamesOnDisk;
using test::WaitUntil;
using test::WriteFile;

std::vector<std::string> NamesOf(const FolderListing& listing)
{
    std::vector<std::string> names;
    for (const auto& entry : listing.entries) names.push_back(entry.name);
    return names;
}

class FolderPrefetcherTest : public EngineTest {
protected:
    // Three levels of four folders, each with three files: 84 folders below the root.
    void MakeTree(const std::string& folder, int depth)
    {
        for (int f = 0; f < 3; ++f) WriteFile(folder + "file" + std::to_string(f), std::string(static_cast<size_t>(f), 'x'));
        if (depth == 0) return;
        for (int d = 0; d < 4; ++d) {
            const std::string sub = folder + "sub" + std::to_string(d) + "/";
            MakeFolders(sub);
            MakeTree(sub, depth - 1);
        }
    }

    // Walks the tree as the scan does: take a folder, announce its subfolders, enter them.
    static void Walk(FolderPrefetcher& lister, const std::string& folder, std::vector<std::string>& visited)
    {
        const FolderListing listing = lister.Take(folder);
        EXPECT_EQ(listing.openError, 0) << folder;
        EXPECT_EQ(listing.endError, ErrorNoMoreFiles) << folder;
        EXPECT_EQ(NamesOf(listing), NamesOnDisk(folder)) << folder;
        visited.push_back(folder);
        std::vector<std::string> subfolders;
        for (const auto& entry : listing.entries)
            if (entry.isFolder) subfolders.push_back(folder + entry.name + "/");
        lister.Prefetch(subfolders);
        for (const auto& sub : subfolders) Walk(lister, sub, visited);
    }
};

TEST_F(FolderPrefetcherTest, EveryFolderIsListedWholeAndOnceWhateverTheHelpersAndTheirLimit)
{
    MakeTree(Src(), 3);
    std::vector<std::string> expected;
    {
        FolderPrefetcher serial(0, 1, [] {});
        Walk(serial, Src(), expected);
    }
    ASSERT_EQ(expected.size(), 85u);
    // One listing held at a time makes the helpers fill the limit with folders the walk needs
    // later, so the walk must list what it needs next itself.
    for (const auto& [helpers, limit] : std::vector<std::pair<int, size_t>>{{1, 1}, {2, 1}, {2, 16}, {4, 2}}) {
        SCOPED_TRACE(std::to_string(helpers) + " helpers, limit " + std::to_string(limit));
        std::vector<std::string> visited;
        FolderPrefetcher lister(helpers, limit, [] {});
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
        FolderPrefetcher lister(helpers, 4, [] {});
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
    MakeFolders(Src() + "slow/");
    WriteFile(Src() + "slow/a", "");
    StallOn(FaultOp::Enumerate, "/src/slow/");
    int checkpoints = 0;
    {
        FolderPrefetcher lister(1, 4, [&] {
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
}  // namespace tarn
