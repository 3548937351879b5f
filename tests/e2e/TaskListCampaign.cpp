#include "tests/e2e/TaskListCampaign.h"

#include <iostream>
#include <random>
#include <set>
#include <sstream>

#include "engine/GlobalUtils.h"
#include "engine/RestoreFiles.h"
#include "tests/e2e/E2eSupport.h"

namespace tarn::test {
namespace {

int EnvironmentNumber(const char* name, int fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

// A kill between listing a task and making its files leaves a task the next run reports and takes
// off the list (its source is then copied again): only such reports may fail a run.
bool OnlyCutOffTasksReported(const std::string& errors)
{
    std::istringstream lines(errors);
    int reports = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) continue;
        ++reports;
        if (line.find("was being created when the program ended") == npos &&
            line.find("its restore files are missing; it was taken off the list") == npos)
            return false;
    }
    return reports > 0;
}

class Runner {
public:
    explicit Runner(const Campaign& c) : c_(c) {}
    void Round(unsigned seed);

    int runs = 0, kills = 0, cutOff = 0;

private:
    // The copy of a source (a folder or a file) is byte-identical to its original.
    bool Identical(const std::string& name) const
    {
        const std::string source = original_ + name, copy = dst_ + name;
        if (fs::is_regular_file(source)) return fs::is_regular_file(copy) && ReadFile(source) == ReadFile(copy);
        return fs::is_directory(copy) && SameTree(source, copy);
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

    // A copy of `names`, a resume when there are none, killed after a random delay when `kill`;
    // names whose copy was killed may need a copy again.
    void Run(const std::vector<std::string>& names, bool kill, std::mt19937& random)
    {
        std::vector<std::string> words = {names.empty() ? "resume" : "copy", "--quiet", "--on-exists", answer_,
                                          "--restore-dir", restore_};
        words.insert(words.end(), c_.Options.begin(), c_.Options.end());
        if (!names.empty()) {
            words.insert(words.end(), {"--delay-on-error", "50"});
            words.insert(words.end(), c_.CopyOptions.begin(), c_.CopyOptions.end());
            for (const auto& name : names) words.push_back(src_ + name);
            words.push_back(dst_);
        }
        CommandRunner runner(TARNCTL_PATH, words, home_);
        if (kill) {
            // A third of the kills come within the first moments: TaskList, the restore files, the scan.
            const int limit = c_.EarlyKills && random() % 3 == 0 ? 60 : 1500;
            std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, limit)(random)));
            runner.Signal(SIGKILL);
        }
        const int status = runner.Wait();
        ++runs;
        const bool cut = status == 2 && OnlyCutOffTasksReported(runner.Errors());
        kills += status == 128 + SIGKILL;
        cutOff += cut;
        EXPECT_TRUE(status == 0 || status == 128 + SIGKILL || cut) << status << runner.Errors();
        for (const auto& name : names) {
            if (status == 128 + SIGKILL) uncopied_.insert(name);
            else uncopied_.erase(name);
        }
    }

    const Campaign& c_;
    const std::string src_ = IncludeTrailingDelimiter(c_.Source), original_ = IncludeTrailingDelimiter(c_.Original),
                      dst_ = IncludeTrailingDelimiter(c_.Destination), restore_ = IncludeTrailingDelimiter(c_.Work) + "restore/",
                      home_ = IncludeTrailingDelimiter(c_.Work) + "home";
    std::string answer_;
    std::set<std::string> uncopied_;  // killed before their task was seen listed
};

void Runner::Round(unsigned seed)
{
    // The seed alone decides the round, its answer included.
    answer_ = seed % 3 == 0 ? "upload" : seed % 3 == 1 ? "skip" : "overwrite";
    std::mt19937 random(seed);
    SCOPED_TRACE("--on-exists " + answer_ + ", TARN_CAMPAIGN_SEED=" + std::to_string(seed) + " TARN_CAMPAIGN_ROUNDS=1");
    std::vector<std::string> names;
    uncopied_.clear();
    // A later command adds its task to a list whose first tasks may be unfinished.
    for (const auto& command : c_.Commands) {
        names.insert(names.end(), command.begin(), command.end());
        Run(command, random() % 4 != 0, random);
    }
    // Resumed, killed less often as the runs go on, until nothing is left; a source whose copy was
    // killed before its task was listed is copied again, as its user would.
    for (int run = 0;; ++run) {
        ASSERT_LT(run, 40) << "the list never ended";
        if (::testing::Test::HasFailure()) return;
        const std::set<std::string> recorded = Recorded();
        std::vector<std::string> missing;
        for (const auto& name : names) {
            if (recorded.count(src_ + name)) uncopied_.erase(name);
            if (uncopied_.count(name) && !Identical(name)) missing.push_back(name);
        }
        const bool kill = run < 8 && random() % 4 != 0;
        // A kill as the last task left the list leaves its files (and an empty TaskList) for the
        // next start to clear.
        if (!missing.empty() || !recorded.empty() || fs::exists(restore_ + "TaskList"))
            Run(missing, kill, random);
        else
            break;
    }
    c_.BeforeComparing();
    for (const auto& name : names) EXPECT_TRUE(Identical(name)) << src_ + name;
    for (const auto& name : NamesOnDisk(restore_)) EXPECT_TRUE(name == "tarn_log.txt" || name == "TaskList.lock") << name;
}

}  // namespace

void MakeTaskListCampaignTrees(const std::string& folder)
{
    const std::string root = IncludeTrailingDelimiter(folder);
    unsigned seed = 11;
    for (const char* sub : {"one/x/y", "one/z", "two/p", "two/q/r", "two/empty"}) MakeFolders(root + sub);
    WriteFile(root + "one/big", RandomBytes(1536 * 1024 + 5, seed++));
    WriteFile(root + "one/x/y/big2", RandomBytes(1024 * 1024, seed++));
    for (int i = 0; i < 40; ++i)
        WriteFile(root + (i % 2 ? "one/z/s" : "one/x/s") + std::to_string(i),
                  RandomBytes(static_cast<size_t>(i * 131 % 7000), seed++));
    WriteFile(root + "single.bin", RandomBytes(1024 * 1024 + 3, seed++));
    for (int i = 0; i < 90; ++i)
        WriteFile(root + (i % 3 == 0 ? "two/p/t" : i % 3 == 1 ? "two/q/r/t" : "two/t") + std::to_string(i),
                  RandomBytes(static_cast<size_t>(i * 89 % 5000), seed++));
}

void RunCampaign(const Campaign& campaign)
{
    const int rounds = EnvironmentNumber("TARN_CAMPAIGN_ROUNDS", campaign.Rounds);
    const auto firstSeed = static_cast<unsigned>(
        EnvironmentNumber("TARN_CAMPAIGN_SEED", static_cast<int>(std::random_device()() & 0x7FFFFFFF)));
    Runner runner(campaign);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        runner.Round(firstSeed + static_cast<unsigned>(round));
        if (::testing::Test::HasFailure()) return;
        fs::remove_all(campaign.Destination);
    }
    ::testing::Test::RecordProperty("kills", runner.kills);
    std::cout << "campaign from " << campaign.Source << ": " << rounds << " rounds, " << runner.runs << " runs, "
              << runner.kills << " kills survived (" << runner.cutOff
              << " runs met a task cut off while it was created), nothing lost\n";
}

}  // namespace tarn::test
