// The kill -9 campaign over a whole task list: two `tarnctl copy` commands put three tasks (two
// folders and a single file) into one restore folder, each under a speed limit, with the task
// position saved every 100 ms; every run is killed at a random moment (while TaskList and the
// restore files are made, during a scan, mid-file, between files, during a save, as a finished
// task leaves the list) and the list is resumed with `tarnctl resume` until a run ends by itself.
// Every round must end with every tree byte-identical and no task lost or left behind.
//
// The test command runs a few rounds; TARN_CAMPAIGN_ROUNDS runs more and TARN_CAMPAIGN_SEED
// repeats a failed round (each failure prints its seed). TARN_CAMPAIGN_SOURCE and
// TARN_CAMPAIGN_DESTINATION name folders to make the trees and the copies in (a mounted share,
// say) instead of the test's temporary folder.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "engine/RestoreFiles.h"
#include "tests/e2e/CommandRunner.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using test::CommandRunner;
using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::TempFolderTest;
using test::WriteFile;
namespace fs = std::filesystem;

// Tasks are listed before their files are made: a kill in between leaves a listed task that never
// started, which the next run reports and takes off the list (its source is then copied again).
// Only such reports may fail a run.
bool OnlyCutOffTasksReported(const std::string& errors)
{
    std::istringstream lines(errors);
    int reports = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        if (line.find("was being created when the program ended") == std::string::npos &&
            line.find("its restore files are missing; it was taken off the list") == std::string::npos)
            return false;
        ++reports;
    }
    return reports > 0;
}

int EnvironmentNumber(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

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
        restore_ = temp / "restore/";
        MakeTrees();
    }
    void TearDown() override
    {
        fs::remove_all(fs::path(src_).parent_path().parent_path());
        fs::remove_all(fs::path(dst_).parent_path().parent_path());
    }

    void MakeTrees()
    {
        unsigned seed = 11;
        for (const char* folder : {"one/x/y", "one/z", "two/p", "two/q/r", "two/empty"}) MakeFolders(src_ + folder);
        WriteFile(src_ + "one/big", RandomBytes(1536 * 1024 + 5, seed++));
        WriteFile(src_ + "one/x/y/big2", RandomBytes(1024 * 1024, seed++));
        for (int i = 0; i < 40; ++i)
            WriteFile(src_ + (i % 2 ? "one/z/s" : "one/x/s") + std::to_string(i),
                      RandomBytes(static_cast<size_t>(i * 131 % 7000), seed++));
        WriteFile(src_ + "single.bin", RandomBytes(1024 * 1024 + 3, seed++));
        for (int i = 0; i < 90; ++i)
            WriteFile(src_ + (i % 3 == 0 ? "two/p/t" : i % 3 == 1 ? "two/q/r/t" : "two/t") + std::to_string(i),
                      RandomBytes(static_cast<size_t>(i * 89 % 5000), seed++));
    }

    // The copy of a source (a folder or a file) is byte-identical to it; adds the bytes compared.
    bool Identical(const std::string& source, uint64_t& compared) const
    {
        const std::string copy = dst_ + ExtractFileName(source);
        if (fs::is_regular_file(source)) {
            if (!fs::is_regular_file(copy)) return false;
            compared += fs::file_size(source);
            return ReadFile(source) == ReadFile(copy);
        }
        std::set<std::string> left;
        std::set<std::string> right;
        for (const auto& e : fs::recursive_directory_iterator(source)) left.insert(fs::relative(e.path(), source));
        if (fs::is_directory(copy))
            for (const auto& e : fs::recursive_directory_iterator(copy)) right.insert(fs::relative(e.path(), copy));
        if (left != right) return false;
        for (const auto& name : left) {
            const std::string path = source + "/" + name;
            if (!fs::is_regular_file(path)) continue;
            compared += fs::file_size(path);
            if (ReadFile(path) != ReadFile(copy + "/" + name)) return false;
        }
        return true;
    }

    // Sources of the tasks the restore folder lists with their files: those a resume carries on.
    std::set<std::string> Recorded() const
    {
        std::set<std::string> sources;
        if (!fs::exists(restore_ + "TaskList")) return sources;
        for (const auto& name : DecodeTaskList(ReadFile(restore_ + "TaskList")).Names) {
            if (!fs::exists(restore_ + name + ".var")) continue;
            const TaskVariables v = DecodeVarFile(ReadFile(restore_ + name + ".var"));
            // A file's task keeps the file's folder as its source, and the file as its first item.
            std::string file;
            if (v.SourceKind == SourceFile)
                DecodeConFile(ReadFile(restore_ + name + ".con"), [&](TItemAttrs&& item) {
                    if (file.empty()) file = item.Name;
                });
            sources.insert(StripTrailingDelimiters(v.Source + file));
        }
        return sources;
    }

    // One run, killed after a random delay unless `kill` is false: -1 when it was killed,
    // otherwise its exit status.
    int Run(const std::vector<std::string>& arguments, bool kill, std::mt19937& random, std::string& errors)
    {
        CommandRunner runner(TARNCTL_PATH, arguments, temp / "home");
        if (kill) {
            // A third of the kills come within the first moments: TaskList, the restore files, the scan.
            const int limit = random() % 3 == 0 ? 60 : 1500;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, limit)(random)));
            runner.Signal(SIGKILL);
        }
        const int status = runner.Wait();
        errors = runner.Errors();
        return status == 128 + SIGKILL ? -1 : status;
    }

    std::vector<std::string> Command(const std::string& verb, const std::string& answer) const
    {
        std::vector<std::string> words = {verb,          "--quiet",      "--speed-limit", "2M",      "--on-exists",
                                          answer,        "--restore-dir", restore_,       "--save-interval", "100"};
        if (verb == "copy") words.insert(words.end(), {"--delay-on-error", "50"});
        return words;
    }

    std::string src_;
    std::string dst_;
    std::string restore_;
};

TEST_F(TaskListCampaignTest, EveryTaskOfAKilledListEndsByteIdentical)
{
    const int rounds = EnvironmentNumber("TARN_CAMPAIGN_ROUNDS", 2);
    const unsigned firstSeed = static_cast<unsigned>(
        EnvironmentNumber("TARN_CAMPAIGN_SEED", static_cast<int>(std::random_device()() & 0x7FFFFFFF)));
    const std::vector<std::vector<std::string>> commands = {{src_ + "one", src_ + "single.bin"}, {src_ + "two"}};
    int kills = 0;
    int runs = 0;
    int cutOff = 0;
    uint64_t compared = 0;
    for (int round = 0; round < rounds; ++round) {
        // The seed alone decides the round, its answer for existing files included.
        const unsigned seed = firstSeed + static_cast<unsigned>(round);
        const std::string answer = seed % 3 == 0 ? "upload" : seed % 3 == 1 ? "skip" : "overwrite";
        std::mt19937 random(seed);
        SCOPED_TRACE("round " + std::to_string(round) + ", --on-exists " + answer + ", TARN_CAMPAIGN_SEED=" +
                     std::to_string(seed) + " TARN_CAMPAIGN_ROUNDS=1");
        std::vector<std::string> sources;
        for (const auto& command : commands) sources.insert(sources.end(), command.begin(), command.end());

        // The second command adds its task to a list whose first tasks may be unfinished.
        std::string errors;
        for (const auto& command : commands) {
            std::vector<std::string> words = Command("copy", answer);
            words.insert(words.end(), command.begin(), command.end());
            words.push_back(dst_);
            const int status = Run(words, random() % 4 != 0, random, errors);
            ++runs;
            if (status < 0) {
                ++kills;
                continue;
            }
            if (status == 2 && OnlyCutOffTasksReported(errors)) {
                ++cutOff;
                continue;
            }
            ASSERT_EQ(status, 0) << errors;
        }
        // Resumed, and killed less often as the runs go on, until a run ends by itself with
        // nothing left. A source whose copy was killed before its task was listed is copied again,
        // as its user would.
        for (int run = 0;; ++run) {
            ASSERT_LT(run, 40) << "the list never ended";
            const std::set<std::string> recorded = Recorded();
            std::vector<std::string> missing;
            uint64_t ignored = 0;
            for (const auto& source : sources)
                if (!recorded.count(source) && !Identical(source, ignored)) missing.push_back(source);
            std::vector<std::string> words = Command(missing.empty() ? "resume" : "copy", answer);
            words.insert(words.end(), missing.begin(), missing.end());
            if (!missing.empty()) words.push_back(dst_);
            if (missing.empty() && recorded.empty()) break;
            const int status = Run(words, run < 8 && random() % 4 != 0, random, errors);
            ++runs;
            if (status < 0) {
                ++kills;
                continue;
            }
            if (status == 2 && OnlyCutOffTasksReported(errors)) {
                ++cutOff;
                continue;
            }
            ASSERT_EQ(status, 0) << errors;
        }
        // A kill as the last task left the list leaves its files (and an empty TaskList) for the
        // next start to clear.
        if (fs::exists(restore_ + "TaskList")) {
            const int status = Run(Command("resume", answer), false, random, errors);
            ++runs;
            ASSERT_EQ(status, 0) << errors;
        }
        for (const auto& source : sources) EXPECT_TRUE(Identical(source, compared)) << source;
        // Nothing is left behind: every task finished and left the list, nothing was damaged.
        EXPECT_FALSE(fs::exists(restore_ + "TaskList"));
        for (const auto& entry : fs::directory_iterator(restore_)) {
            const std::string name = entry.path().filename();
            EXPECT_TRUE(name == "tarn_log.txt" || name == "TaskList.lock") << name;
        }
        if (HasFailure()) return;
        fs::remove_all(dst_);
    }
    RecordProperty("kills", kills);
    RecordProperty("runs", runs);
    RecordProperty("bytes_compared", std::to_string(compared));
    std::cout << "task list campaign: " << rounds << " rounds, " << runs << " runs, " << kills << " kills survived ("
              << cutOff << " runs met a task cut off while it was created), " << compared
              << " bytes compared, nothing lost\n";
}

}  // namespace
}  // namespace tarn
