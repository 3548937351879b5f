// The kill -9 campaign over a whole task list, on the local disk: two `tarnctl copy` commands put
// three tasks (two folders and a single file) into one restore folder, each under a speed limit,
// with the task position saved every 100 ms; every run is killed at a random moment (while
// TaskList and the restore files are made, during a scan, mid-file, between files, during a save,
// as a finished task leaves the list) and the list is resumed with `tarnctl resume` until a run
// ends by itself. Every round must end with every tree byte-identical and no task lost or left
// behind.
//
// The test command runs a few rounds; TARN_CAMPAIGN_ROUNDS runs more and TARN_CAMPAIGN_SEED
// repeats a failed round (each failure prints its seed). TARN_CAMPAIGN_SOURCE and
// TARN_CAMPAIGN_DESTINATION name folders to make the trees and the copies in (a mounted share,
// say) instead of the test's temporary folder.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "engine/GlobalUtils.h"
#include "tests/e2e/TaskListCampaign.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using test::TempFolderTest;
namespace fs = std::filesystem;

std::string EnvironmentFolder(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? IncludeTrailingDelimiter(value) : fallback;
}

class TaskListCampaignTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        // A folder of our own inside the given one, so that nothing else there is touched.
        const std::string unique = "tarn-campaign-" + std::to_string(::getpid()) + "/";
        src_ = EnvironmentFolder("TARN_CAMPAIGN_SOURCE", temp.Path()) + unique + "src/";
        dst_ = EnvironmentFolder("TARN_CAMPAIGN_DESTINATION", temp.Path()) + unique + "dst/";
        test::MakeTaskListCampaignTrees(src_);
    }
    void TearDown() override
    {
        fs::remove_all(fs::path(src_).parent_path().parent_path());
        fs::remove_all(fs::path(dst_).parent_path().parent_path());
    }

    std::string src_;
    std::string dst_;
};

TEST_F(TaskListCampaignTest, EveryTaskOfAKilledListEndsByteIdentical)
{
    test::RunTaskListCampaign({src_, src_, dst_, temp.Path()}, 2);
}

}  // namespace
}  // namespace tarn
