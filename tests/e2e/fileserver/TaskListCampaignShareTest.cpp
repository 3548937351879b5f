// The kill -9 campaign over a whole task list with its sources on a real file server: the trees
// are made in the server's own folder and copied through its sshfs mount to the local disk, so
// that every kill also leaves the share's connection with reads in flight. Each copy is compared
// with the server's own files. The test command runs two rounds; TARN_CAMPAIGN_ROUNDS runs more
// and TARN_CAMPAIGN_SEED repeats a failed round.
//
// Needs root, FUSE, network namespaces, sshd and sshfs; without them it is skipped with the reason.
#include "tests/e2e/TaskListCampaign.h"
#include "tests/e2e/fileserver/FileServer.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using test::FileServer;

class TaskListCampaignShareTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        if (const std::string why = FileServer::WhyUnavailable(); !why.empty())
            GTEST_SKIP() << "no file server on this machine: " << why;
    }
};

TEST_F(TaskListCampaignShareTest, EveryTaskOfAKilledListFromAShareEndsByteIdentical)
{
    FileServer server("c", temp / "bed");
    test::MakeTaskListCampaignTrees(server.Export() + "src/");
    test::RunTaskListCampaign({server.Mount() + "src/", server.Export() + "src/", temp / "dst/", temp.Path()}, 2);
}

}  // namespace
}  // namespace tarn
