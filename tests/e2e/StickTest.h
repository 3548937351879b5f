#pragma once

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/CommandRunner.h"
#include "tests/support/FuseStick.h"
#include "tests/support/TestSupport.h"

namespace tarn::test {

// A test that copies onto a USB stick of its own, with tarnctl and a restore folder in its folder.
class StickTest : public TempFolderTest {
protected:
    // From SetUp, so that a machine without FUSE skips the test.
    void MountStick(FuseStick::Kind kind, uint64_t size = uint64_t{512} << 20)
    {
        std::string why;
        stick_ = FuseStick::Make(kind, temp.Path(), &why, size);
        if (!stick_) GTEST_SKIP() << why;
    }

    int Tarnctl(std::vector<std::string> arguments, std::string* errors = nullptr)
    {
        arguments.insert(arguments.begin() + 1, {"--quiet", "--restore-dir", temp / "restore"});
        return RunCommand(TARNCTL_PATH, arguments, temp / "home", errors);
    }

    // The lines of the restore folder's program log that name `name` as a file or the end of a path.
    std::vector<std::string> LogLinesNaming(const std::string& name) const
    {
        std::vector<std::string> lines;
        std::istringstream log(Log());
        for (std::string line; std::getline(log, line);)
            if (Names(line, name)) lines.push_back(line);
        return lines;
    }
    static bool Names(const std::string& line, const std::string& name)
    {
        return line.find('"' + name + '"') != std::string::npos || line.find('/' + name + '"') != std::string::npos;
    }
    // Written when a task ends; a failed task leaves none.
    std::string Log() const
    {
        return std::filesystem::exists(temp / "restore/tarn_log.txt") ? ReadFile(temp / "restore/tarn_log.txt") : "";
    }

    std::unique_ptr<FuseStick> stick_;
};

}  // namespace tarn::test
