#pragma once

#include <string>

namespace tarn::test {

// Where one kill -9 campaign over a whole task list runs.
struct TaskListCampaignPlace {
    std::string Source;       // the trees as tarnctl reads them
    std::string Original;     // the same trees as they are compared: a share's own folder, say
    std::string Destination;  // the copies
    std::string Work;         // the restore folder and tarnctl's home
};

// Makes the campaign's three sources in `root`: the folders "one" and "two" and "single.bin".
void MakeTaskListCampaignTrees(const std::string& root);

// The rounds of the campaign, each through gtest's assertions: two `tarnctl copy` commands list
// the three sources in one restore folder, every run is killed at a random moment and the list
// resumed until a run ends by itself; every copy must end byte-identical with nothing left over.
// TARN_CAMPAIGN_ROUNDS gives the count of rounds (`defaultRounds` without it), TARN_CAMPAIGN_SEED
// the first round's seed; each failure names its seed. Prints the figures.
void RunTaskListCampaign(const TaskListCampaignPlace& place, int defaultRounds);

// The number an environment variable holds, `fallback` without it.
int EnvironmentNumber(const char* name, int fallback);
// Every task finished and left the list: only the program log and the list's lock are left.
void ExpectNothingLeftIn(const std::string& restore);

}  // namespace tarn::test
