#pragma once
// What the end-to-end tests share: the usual headers, tarnctl run as its user would, file facts.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "tests/support/TestSupport.h"

namespace tarn::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr auto npos = std::string::npos;

inline int64_t FileSize(const std::string& path)  // -1 when it is not there
{
    std::error_code missing;
    return static_cast<int64_t>(fs::file_size(path, missing));
}
inline std::string ReadIfAny(const std::string& path) { return fs::is_regular_file(path) ? ReadFile(path) : ""; }

class CommandTest : public TempFolderTest {
protected:
    int Tarnctl(const std::vector<std::string>& arguments, std::string* errors = nullptr, std::string* output = nullptr)
    {
        return RunCommand(TARNCTL_PATH, arguments, temp / "home", errors, output);
    }
};

}  // namespace tarn::test
