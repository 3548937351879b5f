#include "tasks/DestinationHistory.h"

#include <filesystem>
#include <string>
#include <vector>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

class DestinationHistoryTest : public test::TempFolderTest {
protected:
    std::unique_ptr<QSettings> Key() { return OpenRegistryKey({temp / "user.ini", ""}, regkey::FormNewTask); }

    std::vector<std::string> StoredPaths(int count)
    {
        const auto key = Key();
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) paths.push_back(ReadRegString(*key, PathValueName(i), "<absent>"));
        return paths;
    }
};

TEST_F(DestinationHistoryTest, TheDestinationMovesToTheFrontAndItsOtherCaseIsDropped)
{
    struct Case {
        const char* name;
        std::string destination;
        std::vector<std::string> history;
        std::vector<std::string> written;  // Path0 on, followed by one value that must be absent
        int32_t count;
    };
    const std::vector<Case> cases = {
        {"other case", "/mnt/D/x", {"/mnt/d/X", "/mnt/E/y"}, {"/mnt/D/x", "/mnt/E/y", "<absent>"}, 2},
        {"beyond ASCII", "/media/Übertragung", {"/media/übertragung"}, {"/media/Übertragung", "<absent>"}, 1},
        {"used before", "/srv/b", {"/srv/a", "/srv/b", "/srv/c"}, {"/srv/b", "/srv/a", "/srv/c", "<absent>"}, 3},
        {"first use", "/srv/new", {}, {"/srv/new", "<absent>"}, 1},
        {"a prefix", "/srv/a", {"/srv/a/b", "/srv/ab"}, {"/srv/a", "/srv/a/b", "/srv/ab", "<absent>"}, 3},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(temp / "user.ini");
        {
            const auto key = Key();
            WriteDestinationHistory(*key, c.destination, c.history);
        }
        EXPECT_EQ(StoredPaths(static_cast<int>(c.written.size())), c.written) << c.name;
        EXPECT_EQ(ReadRegInteger(*Key(), regvalue::PathsCount, -1), c.count) << c.name;
        EXPECT_FALSE(Key()->contains(regvalue::MaxPathsCount)) << c.name;
    }
}

TEST_F(DestinationHistoryTest, EveryEntryIsWrittenButTheCountStopsAtMaxPathsCount)
{
    const std::vector<std::string> five = {"/a", "/b", "/c", "/d", "/e"};
    {
        const auto key = Key();
        WriteDestinationHistory(*key, "/new", five);
    }
    EXPECT_EQ(StoredPaths(7), (std::vector<std::string>{"/new", "/a", "/b", "/c", "/d", "/e", "<absent>"}));
    EXPECT_EQ(ReadRegInteger(*Key(), regvalue::PathsCount, -1), 5);
    EXPECT_EQ(ReadDestinationHistory(*Key()), (std::vector<std::string>{"/new", "/a", "/b", "/c", "/d"}));

    {
        const auto key = Key();
        WriteRegInteger(*key, regvalue::MaxPathsCount, 2);
        WriteDestinationHistory(*key, "/b", ReadDestinationHistory(*key));
    }
    EXPECT_EQ(ReadDestinationHistory(*Key()), (std::vector<std::string>{"/b", "/new"}));
    EXPECT_EQ(ReadRegInteger(*Key(), regvalue::MaxPathsCount, -1), 2);
}

TEST_F(DestinationHistoryTest, ReadingTakesTheCountAsStoredWithinBounds)
{
    const std::pair<int32_t, size_t> counts[] = {{2, 2}, {-4, 0}, {2000000000, 1000}};
    for (const auto& [stored, read] : counts) {
        {
            const auto key = Key();
            WriteRegInteger(*key, regvalue::PathsCount, stored);
            WriteRegString(*key, PathValueName(0), "/x");
        }
        const auto history = ReadDestinationHistory(*Key());
        ASSERT_EQ(history.size(), read) << stored;
        if (read > 1) {
            EXPECT_EQ(history[1], "") << stored;  // an absent entry
        }
    }
}

}  // namespace
}  // namespace tarn
