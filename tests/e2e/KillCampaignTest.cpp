// The kill -9 campaigns (docs/reliability.md): a tree copied by tarnctl, and a task list, killed at
// random moments and resumed until a run ends by itself. TARN_CAMPAIGN_SOURCE and
// TARN_CAMPAIGN_DESTINATION name folders for the task list's trees and copies instead of the test's own.
#include "engine/GlobalUtils.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/e2e/TaskListCampaign.h"
#include "tests/support/FuseStick.h"

namespace tarn {
namespace {

using namespace test;

struct Destination {
    const char* name;
    bool exFatStick;
    int rounds;  // without TARN_CAMPAIGN_ROUNDS
    bool readAhead;
    bool verify;  // copy --verify: a kill may come while a copy is read back
    bool links;   // links, hard links and special files in the tree, kept as they are
};

class KillCampaignTest : public TempFolderTest, public ::testing::WithParamInterface<Destination> {
protected:
    void TearDown() override { ::unsetenv("TARN_READ_AHEAD"); }
};

TEST_P(KillCampaignTest, EveryKilledCopyEndsByteIdenticalWithNoTaskLost)
{
    const Destination& d = GetParam();
    if (d.readAhead) ::setenv("TARN_READ_AHEAD", "always", 1);
    std::unique_ptr<FuseStick> stick;
    if (d.exFatStick) {
        std::string why;
        stick = FuseStick::Make(FuseStick::Kind::ExFat, temp.Path(), &why);
        if (!stick) GTEST_SKIP() << why;
    }
    // Big files to be killed in, many small ones to be killed between.
    const std::string root = temp / "src/tree/";
    unsigned seed = 1;
    for (const char* folder : {"a/b/c", "a/d", "e", "empty"}) MakeFolders(root + folder);
    WriteFile(root + "big1", RandomBytes(3 * 1024 * 1024, seed++));
    WriteFile(root + "a/b/c/big2", RandomBytes(2 * 1024 * 1024 + 17, seed++));
    WriteFile(root + "zero", "");
    for (int i = 0; i < 120; ++i)
        WriteFile(root + (i % 3 == 0 ? "a/d/" : i % 3 == 1 ? "e/" : "a/b/") + "small" + std::to_string(i),
                  RandomBytes(static_cast<size_t>(i * 97 % 9000), seed++));
    if (d.links) MakeLinkTree(root + "links/");
    const std::string dst = stick ? stick->Path() + "dst/" : temp / "dst/";
    Campaign campaign{.Source = temp / "src", .Original = temp / "src", .Destination = dst, .Work = temp.Path(),
                      .Commands = {{"tree"}}, .Options = {"--speed-limit", "3M"}, .Rounds = d.rounds,
                      .EarlyKills = false};
    if (d.verify) campaign.CopyOptions = {"--verify"};
    if (d.links) campaign.CopyOptions = {"--security", "--hard-links"};
    campaign.BeforeComparing = [&] {
        ASSERT_TRUE(!stick || stick->Remount());
        EXPECT_TRUE(!d.links || TreeListing(temp / "src/tree") == TreeListing(dst + "tree"));
        // Every file was read back, those whose reading a kill cut short again after the resume.
        EXPECT_TRUE(!d.verify ||
                    ReadFile(temp / "restore/tarn_log.txt").find("123 files were read back and found equal") != npos);
    };
    RunCampaign(campaign);
}

INSTANTIATE_TEST_SUITE_P(KillCampaign, KillCampaignTest,
                         ::testing::Values(Destination{"LocalDisk", false, 2, false, false, false},
                                           Destination{"LocalDiskReadAhead", false, 2, true, false, false},
                                           Destination{"LocalDiskVerify", false, 1, false, true, false},
                                           Destination{"LocalDiskLinks", false, 2, false, false, true},
                                           Destination{"ExFatStick", true, 2, false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TaskListCampaignTest, EveryTaskOfAKilledListEndsByteIdentical)
{
    const TempFolder temp;
    // A folder of our own inside the given one, so that nothing else there is touched.
    const auto folder = [&](const char* variable) {
        const char* value = std::getenv(variable);
        return (value && *value ? IncludeTrailingDelimiter(value) : temp.Path()) + "tarn-campaign-" +
               std::to_string(::getpid()) + "/";
    };
    const std::string src = folder("TARN_CAMPAIGN_SOURCE") + "src/", dst = folder("TARN_CAMPAIGN_DESTINATION") + "dst/";
    MakeTaskListCampaignTrees(src);
    RunCampaign({.Source = src, .Original = src, .Destination = dst, .Work = temp.Path()});
    fs::remove_all(folder("TARN_CAMPAIGN_SOURCE"));
    fs::remove_all(folder("TARN_CAMPAIGN_DESTINATION"));
}

}  // namespace
}  // namespace tarn
