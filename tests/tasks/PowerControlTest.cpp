#include "tasks/PowerControl.h"

#include <gtest/gtest.h>

// LogindPowerControl::PowerOff is never called here: on a machine that allows it, it would
// turn the machine off. Its fallback runner is exercised with harmless commands instead.
namespace tarn {
namespace {

TEST(PowerControlTest, TheFallbackSucceedsOnStatusZeroAndOtherwiseSaysWhy)
{
    std::string error = "untouched";
    EXPECT_TRUE(LogindPowerControl::RunCommand("true", {}, error));
    EXPECT_EQ(error, "untouched");

    const std::pair<QStringList, std::string> said[] = {
        {{"sh", "-c", "exit 3"}, "sh -c exit 3: exit status 3"},
        {{"sh", "-c", "echo 'Failed to power off: Access denied' >&2; exit 1"}, "Failed to power off: Access denied"},
    };
    for (const auto& [command, expected] : said) {
        EXPECT_FALSE(LogindPowerControl::RunCommand(command.front(), command.mid(1), error));
        EXPECT_EQ(error, expected);
    }
    // A command that did not start or did not end by itself: the command, then the system's text.
    const std::pair<QStringList, std::string> stopped[] = {
        {{"/nonexistent/systemctl", "poweroff"}, "/nonexistent/systemctl poweroff: "},
        {{"sh", "-c", "kill -9 $$"}, "sh -c kill -9 $$: "},
    };
    for (const auto& [command, prefix] : stopped) {
        EXPECT_FALSE(LogindPowerControl::RunCommand(command.front(), command.mid(1), error));
        EXPECT_EQ(error.rfind(prefix, 0), 0u) << error;
        EXPECT_GT(error.size(), prefix.size()) << error;
    }
}

}  // namespace
}  // namespace tarn
