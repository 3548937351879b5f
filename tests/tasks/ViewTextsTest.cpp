#include "tasks/ViewTexts.h"

#include <sys/stat.h>

#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using ViewTextsTest = test::TasksTest;

TEST_F(ViewTextsTest, AFinishedTaskThatLeftItemsOutSaysSoInItsRowAndItsSummary)
{
    test::MakeFolders(temp / "src/tree");
    test::WriteFile(temp / "src/tree/f", "data");
    ASSERT_EQ(::mkfifo((temp / "src/tree/pipe").c_str(), 0600), 0);
    ASSERT_TRUE(tasks->AddTask(temp / "src/tree", temp / "dst", StateCopying, 0, INT32_MAX));
    AddQuickTask("whole");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    EXPECT_EQ(MakeTaskRow(tasks->Task(0), msgs).Cells[0], " Finished, 1 left out");
    EXPECT_EQ(MakeTaskRow(tasks->Task(1), msgs).Cells[0], " Finished");
    EXPECT_EQ(MakeQuickInfoRow(tasks->Task(1), msgs).Progress, 1.0f);
    AddHeldTask("held");
    ASSERT_TRUE(WaitUntilHeldAt(2, "held"));
    const QuickInfoRow quick = MakeQuickInfoRow(tasks->Task(2), msgs);
    EXPECT_EQ(quick.Text, temp / "src/held");  // a file source shows its file
    EXPECT_EQ(quick.ImageIndex, StateCopying);
    ASSERT_TRUE(tasks->StopAndRemoveTask(0, Removal::Confirmed));
    const std::string log = test::ReadFile(LogFile());
    EXPECT_NE(log.find("\r\nFiles: 1\r\nItems left out: 1\r\n"), std::string::npos) << log;
}

TEST(ViewTextsTableTest, LogIconsAndSpeedLimitLabels)
{
    const std::pair<const char*, int> icons[] = {
        {"Inf001", LogIconInformation}, {"inf020", LogIconInformation}, {"Err001", LogIconOther}, {"In", LogIconOther}};
    for (const auto& [id, icon] : icons) EXPECT_EQ(LogIcon({id, 0, {}}), icon) << id;
    const TMsgList msgs;
    const std::pair<int32_t, const char*> labels[] = {
        {0, "0.0 B/s"}, {1024, "1024.0 B/s"}, {1000000, "976.6 Kb/s"}, {12500000, "11.9 Mb/s"}};
    for (const auto& [speed, label] : labels) EXPECT_EQ(SpeedLimitLabel(speed, msgs), label) << speed;
}

}  // namespace
}  // namespace tarn
