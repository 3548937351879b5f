#include "tasks/PowerControl.h"

#include <gtest/gtest.h>

// LogindPowerControl::PowerOff is never called here: on a machine that allows it, it would
// turn the machine off. Its fallback runner is exercised with harmless commands instead.
namespace tarn {
namespace {

TEST(PowerControlTest, TheFallbackSucceedsOnlyOnExitStatusZero)
{
    std::string error = "untouched";
    EXPECT_TRUE(LogindPowerControl::RunCommand("true", {}, error));
    EXPECT_EQ(error, "untouched");

    EXPECT_FALSE(LogindPowerControl::RunCommand("sh", {"-c", "exit 3"}, error));
    EXPECT_EQ(error, "sh -c exit 3: exit status 3");
}

TEST(PowerControlTest, TheFallbackReportsWhatTheCommandSaidOrWhyItDidNotRun)
{
    std::string error;
    EXPECT_FALSE(LogindPowerControl::RunCommand(
        "sh", {"-c", "echo 'Failed to power off system via logind: Access denied' >&2; exit 1"}, error));
    EXPECT_EQ(error, "Failed to power off system via logind: Access denied");

    EXPECT_FALSE(LogindPowerControl::RunCommand("/nonexistent/systemctl", {"poweroff"}, error));
    EXPECT_EQ(error.rfind("/nonexistent/systemctl poweroff: ", 0), 0u) << error;
    EXPECT_GT(error.size(), std::string("/nonexistent/systemctl poweroff: ").size());

    EXPECT_FALSE(LogindPowerControl::RunCommand("sh", {"-c", "kill -9 $$"}, error));
    EXPECT_EQ(error.rfind("sh -c kill -9 $$: ", 0), 0u) << error;
}

}  // namespace
}  // namespace tarn
