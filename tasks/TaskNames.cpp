#include "tasks/TaskNames.h"

#include <chrono>
#include <cstdio>

#include "engine/GlobalUtils.h"

namespace tarn {

std::string NewTaskName(const std::string& restorePath, const std::function<bool(const std::string&)>& taken)
{
    // Seeded once per call; two programs starting in the same tick still differ by the device.
    std::seed_seq seed{static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()),
                       std::random_device{}()};
    std::mt19937 generator(seed);
    return DrawTaskName(restorePath, taken, generator);
}

std::string DrawTaskName(const std::string& restorePath, const std::function<bool(const std::string&)>& taken,
                         std::mt19937& generator)
{
    for (;;) {
        char name[9];
        std::snprintf(name, sizeof name, "%08X", static_cast<unsigned>(generator()));
        const std::string base = restorePath + name;
        if (FileExists(base + ".var") || FileExists(base + ".con") || FileExists(base + ".log")) continue;
        if (taken && taken(name)) continue;
        return name;
    }
}

}  // namespace tarn
