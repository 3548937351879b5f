#include "tests/e2e/TaskListCampaign.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/GlobalUtils.h"
#include "engine/RestoreFiles.h"
#include "tests/e2e/CommandRunner.h"
#include "tests/support/TestSupport.h"

namespace tarn::test {
namespace {

namespace fs = std::filesystem;

// The sources, as named inside the campaign's root; the commands list them in this order.
const std::vector<std::vector<std::string>> Commands = {{"one", "single.bin"}, {"two"}};

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

class Campaign {
public:
    explicit Campaign(const TaskListCampaignPlace& place)
        : src_(IncludeTrailingDelimiter(place.Source)), original_(IncludeTrailingDelimiter(place.Original)),
          dst_(IncludeTrailingDelimiter(place.Destination)),
          restore_(IncludeTrailingDelimiter(place.Work) + "restore/"),
          home_(IncludeTrailingDelimiter(place.Work) + "home")
    {
    }

    void Round(unsigned seed);

    int runs = 0;
    int kills = 0;
    int cutOff = 0;
    uint64_t compared = 0;

private:
    // The copy of a source (a folder or a file) is byte-identical to its original; adds the bytes
    // compared.
    bool Identical(const std::string& name, uint64_t& bytes) const
    {
        const std::string source = original_ + name;
        const std::string copy = dst_ + name;
        if (fs::is_regular_file(source)) {
            if (!fs::is_regular_file(copy)) return false;
            bytes += fs::file_size(source);
            return ReadFile(source) == ReadFile(copy);
        }
        std::set<std::string> left;
        std::set<std::string> right;
        for (const auto& e : fs::recursive_directory_iterator(source)) left.insert(fs::relative(e.path(), source));
        if (fs::is_directory(copy))
            for (const auto& e : fs::recursive_directory_iterator(copy)) right.insert(fs::relative(e.path(), copy));
        if (left != right) return false;
        for (const auto& entry : left) {
            const std::string path = source + "/" + entry;
            if (!fs::is_regular_file(path)) continue;
            bytes += fs::file_size(path);
            if (ReadFile(path) != ReadFile(copy + "/" + entry)) return false;
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
        CommandRunner runner(TARNCTL_PATH, arguments, home_);
        if (kill) {
            // A third of the kills come within the first moments: TaskList, the restore files, the scan.
            const int limit = random() % 3 == 0 ? 60 : 1500;
            const int delayMs = std::uniform_int_distribution<int>(0, limit)(random);
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            runner.Signal(SIGKILL);
        }
        const int status = runner.Wait();
        errors = runner.Errors();
        ++runs;
        if (status == 128 + SIGKILL) {
            ++kills;
            return -1;
        }
        return status;
    }

    // A run that is not killed either succeeds or only reports tasks cut off while they were made.
    void Expect(int status, const std::string& errors)
    {
        if (status < 0) return;
        if (status == 2 && OnlyCutOffTasksReported(errors)) {
            ++cutOff;
            return;
        }
        ASSERT_EQ(status, 0) << errors;
    }

    std::vector<std::string> Command(const std::string& verb, const std::string& answer) const
    {
        std::vector<std::string> words = {verb,          "--quiet",      "--speed-limit", "2M",      "--on-exists",
                                          answer,        "--restore-dir", restore_,       "--save-interval", "100"};
        if (verb == "copy") words.insert(words.end(), {"--delay-on-error", "50"});
        return words;
    }

    std::string src_;
    std::string original_;
    std::string dst_;
    std::string restore_;
    std::string home_;
};

void Campaign::Round(unsigned seed)
{
    // The seed alone decides the round, its answer for existing files included.
    const std::string answer = seed % 3 == 0 ? "upload" : seed % 3 == 1 ? "skip" : "overwrite";
    std::mt19937 random(seed);
    SCOPED_TRACE("--on-exists " + answer + ", TARN_CAMPAIGN_SEED=" + std::to_string(seed) +
                 " TARN_CAMPAIGN_ROUNDS=1");
    std::vector<std::string> names;
    for (const auto& command : Commands) names.insert(names.end(), command.begin(), command.end());

    // The second command adds its task to a list whose first tasks may be unfinished.
    std::string errors;
    for (const auto& command : Commands) {
        std::vector<std::string> words = Command("copy", answer);
        for (const auto& name : command) words.push_back(src_ + name);
        words.push_back(dst_);
        const int status = Run(words, random() % 4 != 0, random, errors);
        Expect(status, errors);
        if (::testing::Test::HasFatalFailure()) return;
    }
    // Resumed, and killed less often as the runs go on, until a run ends by itself with nothing
    // left. A source whose copy was killed before its task was listed is copied again, as its user
    // would.
    for (int run = 0;; ++run) {
        ASSERT_LT(run, 40) << "the list never ended";
        const std::set<std::string> recorded = Recorded();
        std::vector<std::string> missing;
        uint64_t ignored = 0;
        for (const auto& name : names)
            if (!recorded.count(src_ + name) && !Identical(name, ignored)) missing.push_back(src_ + name);
        if (missing.empty() && recorded.empty()) break;
        std::vector<std::string> words = Command(missing.empty() ? "resume" : "copy", answer);
        words.insert(words.end(), missing.begin(), missing.end());
        if (!missing.empty()) words.push_back(dst_);
        const int status = Run(words, run < 8 && random() % 4 != 0, random, errors);
        Expect(status, errors);
        if (::testing::Test::HasFatalFailure()) return;
    }
    // A kill as the last task left the list leaves its files (and an empty TaskList) for the next
    // start to clear.
    if (fs::exists(restore_ + "TaskList")) {
        const int status = Run(Command("resume", answer), false, random, errors);
        ASSERT_EQ(status, 0) << errors;
    }
    for (const auto& name : names) EXPECT_TRUE(Identical(name, compared)) << src_ + name;
    // Nothing is left behind: every task finished and left the list, nothing was damaged.
    EXPECT_FALSE(fs::exists(restore_ + "TaskList"));
    for (const auto& entry : fs::directory_iterator(restore_)) {
        const std::string name = entry.path().filename();
        EXPECT_TRUE(name == "tarn_log.txt" || name == "TaskList.lock") << name;
    }
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

void RunTaskListCampaign(const TaskListCampaignPlace& place, int defaultRounds)
{
    const int rounds = EnvironmentNumber("TARN_CAMPAIGN_ROUNDS", defaultRounds);
    const unsigned firstSeed = static_cast<unsigned>(
        EnvironmentNumber("TARN_CAMPAIGN_SEED", static_cast<int>(std::random_device()() & 0x7FFFFFFF)));
    Campaign campaign(place);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        campaign.Round(firstSeed + static_cast<unsigned>(round));
        if (::testing::Test::HasFailure()) return;
        fs::remove_all(place.Destination);
    }
    ::testing::Test::RecordProperty("kills", campaign.kills);
    ::testing::Test::RecordProperty("runs", campaign.runs);
    ::testing::Test::RecordProperty("bytes_compared", std::to_string(campaign.compared));
    std::cout << "task list campaign from " << place.Source << ": " << rounds << " rounds, " << campaign.runs
              << " runs, " << campaign.kills << " kills survived (" << campaign.cutOff
              << " runs met a task cut off while it was created), " << campaign.compared
              << " bytes compared, nothing lost\n";
}

}  // namespace tarn::test
