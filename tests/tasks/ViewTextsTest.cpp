#include "tasks/ViewTexts.h"

#include <sys/stat.h>

#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using test::MakeFolders;
using test::ReadFile;
using test::TasksTest;
using test::WriteFile;

using ViewTextsTest = TasksTest;

TEST_F(ViewTextsTest, AFinishedTaskThatLeftItemsOutSaysSoInItsRowAndItsSummary)
{
    MakeFolders(temp / "src/tree");
    WriteFile(temp / "src/tree/f", "data");
    ASSERT_EQ(::mkfifo((temp / "src/tree/pipe").c_str(), 0600), 0);
    ASSERT_TRUE(tasks->AddTask(temp / "src/tree", temp / "dst", StateCopying, 0, 2147483647));
    AddQuickTask("whole");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    EXPECT_EQ(MakeTaskRow(tasks->Task(0), msgs).Cells[0], " Finished, 1 left out");
    EXPECT_EQ(MakeTaskRow(tasks->Task(1), msgs).Cells[0], " Finished");

    ASSERT_TRUE(tasks->StopAndRemoveTask(0, Removal::Confirmed));
    const std::string log = ReadFile(LogFile());
    EXPECT_NE(log.find("\r\nFiles: 1\r\nItems left out: 1\r\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace tarn
