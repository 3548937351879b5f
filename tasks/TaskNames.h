#pragma once

#include <functional>
#include <random>
#include <string>

namespace tarn {

// A new task name: 8 upper-case hexadecimal digits drawn at random, redrawn while the restore
// folder holds a ".var", ".con" or ".log" file of that name or `taken` says a task has it.
std::string NewTaskName(const std::string& restorePath, const std::function<bool(const std::string&)>& taken);
// The same with the caller's generator.
std::string DrawTaskName(const std::string& restorePath, const std::function<bool(const std::string&)>& taken,
                         std::mt19937& generator);

}  // namespace tarn
