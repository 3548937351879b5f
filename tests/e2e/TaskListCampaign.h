#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tarn::test {

// One kill -9 campaign: rounds of `tarnctl copy` commands in one restore folder, every run killed
// at random and the list resumed (a source whose task was never listed copied again) until a run
// ends by itself; then every copy byte-identical and nothing left over. TARN_CAMPAIGN_ROUNDS runs
// more rounds, TARN_CAMPAIGN_SEED repeats a failed one.
struct Campaign {
    std::string Source;       // the trees as tarnctl reads them
    std::string Original;     // the same trees as they are compared: a share's own folder, say
    std::string Destination;  // the copies
    std::string Work;         // the restore folder and tarnctl's home
    std::vector<std::vector<std::string>> Commands = {{"one", "single.bin"}, {"two"}};  // sources by name
    std::vector<std::string> Options = {"--speed-limit", "2M", "--save-interval", "100"};  // of every run
    std::vector<std::string> CopyOptions = {};                                            // of copies only
    std::function<void()> BeforeComparing = [] {};
    int Rounds = 2;
    bool EarlyKills = true;  // a third of the kills within the first moments, else any time in 1.5 s
};
void RunCampaign(const Campaign& campaign);

// The folders "one" and "two" and "single.bin" in `root`.
void MakeTaskListCampaignTrees(const std::string& root);

}  // namespace tarn::test
