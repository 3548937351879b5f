// The kill -9 campaign: tarnctl copies a tree and is killed at random moments (during the scan,
// mid-file, between files, during a save), then resumed and killed again, until it finishes.
// Every run must end byte-identical with no task lost, whatever the answer for existing files.
// It copies onto the local disk, with and without the read-ahead of small files that shares get,
// and onto an exFAT stick mounted through FUSE (read back from its image after a remount; skipped
// without root and FUSE).
//
// The test command runs a few rounds; TARN_CAMPAIGN_ROUNDS runs more, and TARN_CAMPAIGN_SEED
// repeats the kill times of a failed round (each failure prints its seed).
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "tests/e2e/CommandRunner.h"
#include "tests/support/FuseStick.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using test::CommandRunner;
using test::FuseStick;
using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::SameTree;
using test::TempFolderTest;
using test::WriteFile;
namespace fs = std::filesystem;

int EnvironmentNumber(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

struct Destination {
    const char* name;
    bool exFatStick;
    int rounds;  // without TARN_CAMPAIGN_ROUNDS
    bool readAhead;
    bool verify;  // copy --verify: a kill may come while a copy is read back
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

    // A tree with big files to be killed in, and many small ones to be killed between.
    void MakeTree()
    {
        const std::string root = temp / "src/tree/";
        unsigned seed = 1;
        for (const char* folder : {"a/b/c", "a/d", "e", "empty"}) MakeFolders(root + folder);
        WriteFile(root + "big1", RandomBytes(3 * 1024 * 1024, seed++));
        WriteFile(root + "a/b/c/big2", RandomBytes(2 * 1024 * 1024 + 17, seed++));
        WriteFile(root + "zero", "");
        for (int i = 0; i < 120; ++i)
            WriteFile(root + (i % 3 == 0 ? "a/d/" : i % 3 == 1 ? "e/" : "a/b/") + "small" + std::to_string(i),
                      RandomBytes(static_cast<size_t>(i * 97 % 9000), seed++));
    }

    // One round: a copy, killed and resumed until a run ends by itself. Returns that run's
    // exit status.
    int Round(const std::string& answer, std::mt19937& random, int& kills)
    {
        const std::string restore = temp / "restore";
        std::vector<std::string> copy = {"copy", "--quiet", "--speed-limit", "3M", "--delay-on-error", "50",
                                         "--on-exists", answer, "--restore-dir", restore,
                                         temp / "src/tree", destination_};
        if (GetParam().verify) copy.insert(copy.begin() + 1, "--verify");
        const std::vector<std::string> resume = {"resume", "--quiet", "--speed-limit", "3M", "--on-exists", answer,
                                                 "--restore-dir", restore};

        std::uniform_int_distribution<int> delay(0, 1500);
        bool started = false;
        for (int run = 0;; ++run) {
            // Until the task is in TaskList it has written nothing: a run killed before that
            // leaves nothing to resume, and the user copies again.
            const bool recorded = fs::exists(restore + "/TaskList");
            CommandRunner runner(TARNCTL_PATH, started && recorded ? resume : copy, temp / "home");
            started = true;
            // Later runs are killed less often, so every round comes to an end.
            const bool killed = run < 6 && random() % 4 != 0;
            if (killed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(delay(random)));
                runner.Signal(SIGKILL);
            }
            const int status = runner.Wait();
            if (killed && status == 128 + SIGKILL) {
                ++kills;
                continue;
            }
            // A kill between listing the task and making its files leaves a task that never
            // started: the resume takes it off the list and says to copy again, as the user does.
            if (status == 2 && runner.Errors().find("was being created") != std::string::npos) {
                started = false;
                continue;
            }
            if (status != 0) ADD_FAILURE() << runner.Errors();
            return status;
        }
    }

    void TearDown() override { ::unsetenv("TARN_READ_AHEAD"); }

    std::unique_ptr<FuseStick> stick_;
    std::string destination_;
};

TEST_P(KillCampaignTest, EveryKilledCopyEndsByteIdenticalWithNoTaskLost)
{
    MakeTree();
    const int rounds = EnvironmentNumber("TARN_CAMPAIGN_ROUNDS", GetParam().rounds);
    const unsigned firstSeed = static_cast<unsigned>(
        EnvironmentNumber("TARN_CAMPAIGN_SEED", static_cast<int>(std::random_device()() & 0x7FFFFFFF)));
    int kills = 0;
    for (int round = 0; round < rounds; ++round) {
        // The seed alone decides the round, its answer included, so that the seed a failure
        // prints repeats it.
        const unsigned seed = firstSeed + static_cast<unsigned>(round);
        const std::string answer = seed % 3 == 0 ? "skip" : seed % 3 == 1 ? "upload" : "overwrite";
        std::mt19937 random(seed);
        SCOPED_TRACE("round " + std::to_string(round) + ", --on-exists " + answer + ", TARN_CAMPAIGN_SEED=" +
                     std::to_string(seed) + " TARN_CAMPAIGN_ROUNDS=1");
        ASSERT_EQ(Round(answer, random, kills), 0);
        if (stick_) {
            ASSERT_TRUE(stick_->Remount());
        }
        ASSERT_TRUE(SameTree(temp / "src/tree", destination_ + "/tree"));
        // Every file was read back, those whose reading a kill cut short again after the resume.
        if (GetParam().verify) {
            const std::string log = ReadFile(temp / "restore/tarn_log.txt");
            EXPECT_NE(log.find("123 files were read back and found equal"), std::string::npos) << log;
        }
        // Nothing is left behind: every task finished and left the list.
        EXPECT_FALSE(fs::exists(temp / "restore/TaskList"));
        for (const auto& entry : fs::directory_iterator(temp / "restore")) {
            const std::string name = entry.path().filename();
            EXPECT_TRUE(name == "tarn_log.txt" || name == "TaskList.lock") << name;
        }
        fs::remove_all(destination_);
    }
    RecordProperty("kills", kills);
}

INSTANTIATE_TEST_SUITE_P(KillCampaign, KillCampaignTest,
                         ::testing::Values(Destination{"LocalDisk", false, 2, false, false},
                                           Destination{"LocalDiskReadAhead", false, 2, true, false},
                                           Destination{"LocalDiskVerify", false, 1, false, true},
                                           Destination{"ExFatStick", true, 2, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarn
