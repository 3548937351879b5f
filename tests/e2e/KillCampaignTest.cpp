// The kill -9 campaigns (docs/reliability.md): a tree copied by tarnctl, and a task list, killed at
// random moments and resumed until a run ends by itself. TARN_CAMPAIGN_ROUNDS runs more rounds,
// TARN_CAMPAIGN_SEED repeats a failed one; TARN_CAMPAIGN_SOURCE and TARN_CAMPAIGN_DESTINATION
// name folders for the task list's trees and copies instead of the test's own.
#include <random>

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
    void SetUp() override
    {
        destination_ = temp / "dst";
        if (GetParam().readAhead) ::setenv("TARN_READ_AHEAD", "always", 1);
        if (!GetParam().exFatStick) return;
        std::string why;
        stick_ = FuseStick::Make(FuseStick::Kind::ExFat, temp.Path(), &why);
        if (!stick_) GTEST_SKIP() << why;
        destination_ = stick_->Path() + "dst";
    }
    void TearDown() override { ::unsetenv("TARN_READ_AHEAD"); }

    // One round: a copy, killed and resumed until a run ends by itself; that run's exit status.
    int Round(const std::string& answer, std::mt19937& random, int& kills)
    {
        const std::string restore = temp / "restore";
        std::vector<std::string> copy = {"copy", "--quiet", "--speed-limit", "3M", "--delay-on-error", "50",
                                         "--on-exists", answer, "--restore-dir", restore, temp / "src/tree",
                                         destination_};
        if (GetParam().verify) copy.insert(copy.begin() + 1, "--verify");
        if (GetParam().links) copy.insert(copy.begin() + 1, {"--security", "--hard-links"});
        const std::vector<std::string> resume = {"resume", "--quiet", "--speed-limit", "3M", "--on-exists", answer,
                                                 "--restore-dir", restore};
        // Until the task is in TaskList it has written nothing: a run killed before leaves nothing
        // to resume, and the user copies again; so does one killed before the task's files were made.
        bool started = false;
        for (int run = 0;; ++run) {
            CommandRunner runner(TARNCTL_PATH, started && fs::exists(restore + "/TaskList") ? resume : copy,
                                 temp / "home");
            started = true;
            const bool killed = run < 6 && random() % 4 != 0;  // less often later, so that rounds end
            if (killed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 1501));
                runner.Signal(SIGKILL);
            }
            const int status = runner.Wait();
            if (killed && status == 128 + SIGKILL) {
                ++kills;
                continue;
            }
            started = !(status == 2 && runner.Errors().find("was being created") != npos);
            if (!started) continue;
            if (status != 0) ADD_FAILURE() << runner.Errors();
            return status;
        }
    }

    std::unique_ptr<FuseStick> stick_;
    std::string destination_;
};

TEST_P(KillCampaignTest, EveryKilledCopyEndsByteIdenticalWithNoTaskLost)
{
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
    if (GetParam().links) MakeLinkTree(root + "links/");
    const int rounds = EnvironmentNumber("TARN_CAMPAIGN_ROUNDS", GetParam().rounds);
    const unsigned firstSeed = CampaignSeed();
    int kills = 0;
    for (int round = 0; round < rounds; ++round) {
        const unsigned seed = firstSeed + static_cast<unsigned>(round);  // decides the round, its answer too
        const std::string answer = seed % 3 == 0 ? "skip" : seed % 3 == 1 ? "upload" : "overwrite";
        std::mt19937 random(seed);
        SCOPED_TRACE("round " + std::to_string(round) + ", --on-exists " + answer + ", TARN_CAMPAIGN_SEED=" +
                     std::to_string(seed) + " TARN_CAMPAIGN_ROUNDS=1");
        ASSERT_EQ(Round(answer, random, kills), 0);
        ASSERT_TRUE(!stick_ || stick_->Remount());
        ASSERT_TRUE(SameTree(temp / "src/tree", destination_ + "/tree"));
        if (GetParam().links) {
            ASSERT_EQ(TreeListing(temp / "src/tree"), TreeListing(destination_ + "/tree"));
        }
        // Every file was read back, those whose reading a kill cut short again after the resume.
        EXPECT_TRUE(!GetParam().verify ||
                    ReadFile(temp / "restore/tarn_log.txt").find("123 files were read back and found equal") != npos);
        ExpectNothingLeftIn(temp / "restore");
        fs::remove_all(destination_);
    }
    RecordProperty("kills", kills);
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
    RunTaskListCampaign({src, src, dst, temp.Path()}, 2);
    fs::remove_all(folder("TARN_CAMPAIGN_SOURCE"));
    fs::remove_all(folder("TARN_CAMPAIGN_DESTINATION"));
}

}  // namespace
}  // namespace tarn
