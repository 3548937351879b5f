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

// The folders "one" and "two" and "single.bin" in `root`.
void MakeTaskListCampaignTrees(const std::string& root);
// Rounds of two `tarnctl copy` commands listing the three sources in one restore folder, every run
// killed at random and the list resumed until a run ends by itself; every copy byte-identical,
// nothing left over. TARN_CAMPAIGN_ROUNDS, else `defaultRounds`, rounds from TARN_CAMPAIGN_SEED.
void RunTaskListCampaign(const TaskListCampaignPlace& place, int defaultRounds);

int EnvironmentNumber(const char* name, int fallback);
unsigned CampaignSeed();  // TARN_CAMPAIGN_SEED, else a random one
// Every task finished and left the list: only the program log and the list's lock are left.
void ExpectNothingLeftIn(const std::string& restore);

}  // namespace tarn::test
