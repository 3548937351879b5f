#include <chrono>
#include <thread>

#include "core/ProgramLog.h"
#include "platform/FaultInjection.h"
#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using test::MakeFolders;
using test::TasksTest;
using test::WaitUntil;
using test::WriteFile;

class QueueSchedulerTest : public TasksTest {
protected:
    void TearDown() override
    {
        ClearFaults();
        TasksTest::TearDown();
    }
    // A task whose source is missing, so it keeps failing; with the limit of errors at 2 the
    // queue soon suspends it.
    void AddFailingTask(const std::string& source)
    {
        ASSERT_TRUE(tasks->AddTask(source, temp / "dst", StateCopying, 0, 0));
    }
    std::vector<uint8_t> States() const
    {
        std::vector<uint8_t> states;
        for (int i = 0; i < tasks->Count(); ++i) states.push_back(tasks->Task(i).GetState());
        return states;
    }
    bool Started(int index) { return CountId(tasks->Task(index), "Inf005") > 0; }
};

TEST_F(QueueSchedulerTest, GlobalQueueKeepsTheEarliestActiveTask)
{
    scheduler->Modes().GlobalQueue = true;
    AddHeldTask("a");
    AddHeldTask("b");
    AddHeldTask("c", StatePaused);
    ASSERT_TRUE(WaitUntilHeldAt(0, "a"));
    ASSERT_TRUE(WaitUntilHeldAt(1, "b"));
    scheduler->Tick({});
    ASSERT_TRUE(WaitForState(1, StatePaused));
    EXPECT_EQ(States(), (std::vector<uint8_t>{StateCopying, StatePaused, StatePaused}));
    EXPECT_FALSE(Started(2));
}

TEST_F(QueueSchedulerTest, GlobalQueueStartsTheFirstPausedTaskOnce)
{
    scheduler->Modes().GlobalQueue = true;
    AddQuickTask("a");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    AddHeldTask("b", StatePaused);
    AddHeldTask("c", StatePaused);
    scheduler->Tick({});
    EXPECT_TRUE(Started(1));
    EXPECT_FALSE(Started(2));
    scheduler->Tick({});
    EXPECT_FALSE(Started(2));
    EXPECT_EQ(tasks->Task(2).GetState(), StatePaused);
}

TEST_F(QueueSchedulerTest, QueueByFileServersGroupsWithoutLetterCase)
{
    scheduler->Modes().SourceQueue = true;
    for (const char* source : {"//Srv1/share/a", "//SRV1/share/b", "//srv2/share/c"})
        ASSERT_TRUE(tasks->AddTask(source, temp / "dst", StatePaused, 0, 0));
    scheduler->Tick({});
    EXPECT_TRUE(Started(0));
    EXPECT_FALSE(Started(1));
    EXPECT_TRUE(Started(2));
}

TEST_F(QueueSchedulerTest, LocalSourcesOnOneMountShareAQueue)
{
    scheduler->Modes().SourceQueue = true;
    AddHeldTask("a", StatePaused);
    AddHeldTask("b", StatePaused);
    scheduler->Tick({});
    EXPECT_TRUE(Started(0));
    EXPECT_FALSE(Started(1));
}

TEST_F(QueueSchedulerTest, AFailingTaskIsSuspendedThenStartedOnTheNextTick)
{
    settings->SetCountOfErrorsForSkip(2);
    scheduler->Modes().SourceQueue = true;
    AddFailingTask("//one/share/missing");
    AddFailingTask("//two/share/missing");
    ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).GetErrorCount() > 2 && tasks->Task(1).GetErrorCount() > 2; }));
    scheduler->Tick({});
    for (int i = 0; i < 2; ++i) {
        // Each worker pauses itself on the request, at once.
        EXPECT_TRUE(WaitUntil([&] { return tasks->Task(i).GetState() == StatePaused; })) << i;
        EXPECT_EQ(CountId(tasks->Task(i), "Inf020"), 1) << i;  // each group suspends its own
        EXPECT_FALSE(Started(i)) << i;
    }
    scheduler->Tick({});
    EXPECT_TRUE(Started(0));
    EXPECT_TRUE(Started(1));
}

TEST_F(QueueSchedulerTest, ARunThatFailedIsPassedByTheQueueAndStartsAgainLater)
{
    scheduler->Modes().GlobalQueue = true;
    InjectFault(FaultOp::Allocate, "", ENOMEM);
    AddQuickTask("a");
    ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).HasRunFailed(); }));
    ClearFaults();
    AddQuickTask("b", StatePaused);
    scheduler->Tick({});
    ASSERT_TRUE(WaitForState(0, StatePaused));
    EXPECT_EQ(CountId(tasks->Task(0), "Inf020"), 1);
    EXPECT_TRUE(Started(1));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    // With the other task done, the queue tries the failed one again.
    scheduler->Tick({});
    ASSERT_TRUE(WaitForState(0, StateFinished));
    EXPECT_EQ(test::ReadFile(temp / "dst/a/a"), "a");
}

TEST_F(QueueSchedulerTest, WithoutAQueueModeNothingIsStartedOrPaused)
{
    AddHeldTask("a");
    AddHeldTask("b");
    AddHeldTask("c", StatePaused);
    ASSERT_TRUE(WaitUntilHeldAt(0, "a"));
    ASSERT_TRUE(WaitUntilHeldAt(1, "b"));
    for (int tick = 0; tick < 3; ++tick) scheduler->Tick({});
    EXPECT_EQ(States(), (std::vector<uint8_t>{StateCopying, StateCopying, StatePaused}));
    EXPECT_FALSE(Started(2));
}

TEST_F(QueueSchedulerTest, ShutDownWhenDoneAsksExactlyOnce)
{
    scheduler->Modes().ShutDownWhenDone = true;
    scheduler->Tick({});
    EXPECT_EQ(host.shutDownQuestions, 0);  // an empty list is not "all done"
    EXPECT_TRUE(scheduler->Modes().ShutDownWhenDone);

    host.confirmShutDown = true;
    power.succeed = false;
    AddQuickTask("a");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    for (int tick = 0; tick < 3; ++tick) scheduler->Tick({});
    EXPECT_EQ(host.shutDownQuestions, 1);
    EXPECT_EQ(power.calls, 1);
    EXPECT_FALSE(scheduler->Modes().ShutDownWhenDone);
    EXPECT_EQ(host.errors, std::vector<std::string>{"Access denied"});
}

TEST_F(QueueSchedulerTest, AutoDeleteRemovesFinishedTasksAfterTheShutDownCheck)
{
    settings->SetAutoDeleteFinished(true);
    scheduler->Modes().ShutDownWhenDone = true;
    AddQuickTask("a");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    const std::string var = tasks->Task(0).RestoreFilePath("var");
    scheduler->Tick({});
    EXPECT_EQ(host.shutDownQuestions, 1);  // the finished task still counted
    EXPECT_EQ(tasks->Count(), 0);
    EXPECT_FALSE(FileExists(var));
    EXPECT_NE(test::ReadFile(LogFile()).find("Task was finished successfully"), std::string::npos);
}

TEST_F(QueueSchedulerTest, WaitingTasksAreAskedInListOrder)
{
    MakeFolders(temp / "dst/x");
    MakeFolders(temp / "dst/y");
    for (const char* name : {"x", "y"}) {
        WriteFile(temp / ("src/" + std::string(name)), "new");
        WriteFile(temp / ("dst/" + std::string(name) + "/" + name), "old");
    }
    ASSERT_TRUE(tasks->AddTask(temp / "src/x", temp / "dst/x", StateCopying, 0, 2147483647));
    ASSERT_TRUE(tasks->AddTask(temp / "src/y", temp / "dst/y", StateCopying, 0, 2147483647));
    ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).IsWaitingForAnswer() && tasks->Task(1).IsWaitingForAnswer(); }));
    scheduler->Tick({});
    EXPECT_EQ(host.asked, Names());
    ASSERT_TRUE(WaitForState(0, StateFinished));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    EXPECT_EQ(test::ReadFile(temp / "dst/y/y"), "new");
}

TEST_F(QueueSchedulerTest, RefreshShowsRowsStatusAndTheCurrentTask)
{
    ViewRefresh empty = scheduler->Tick({});
    EXPECT_EQ(empty.StatusTexts, (std::array<std::string, 6>{"Tasks: 0", "Working: 0", "Paused: 0", "Scheduled: 0",
                                                               "Finished: 0", "Total speed: 0 B/s"}));
    EXPECT_TRUE(empty.OverallViewsVisible);
    EXPECT_FALSE(empty.TrackBarEnabled);
    EXPECT_EQ(empty.SpeedLabel, "Unavailable");
    EXPECT_FALSE(empty.Commands.AllTasks);

    ASSERT_TRUE(tasks->AddTask(temp / "src/none", temp / "dst", StatePaused, 0, 1000000));
    AddFailingTask(temp / "src/missing");
    ASSERT_TRUE(WaitUntil([&] { return CountId(tasks->Task(1), "Err001") > 0; }));
    const ViewRefresh view = scheduler->Tick({0});
    ASSERT_EQ(view.Rows.size(), 2u);
    EXPECT_EQ(view.Rows[0].Cells[0], " Paused");
    EXPECT_EQ(view.Rows[0].Icon, StatePaused);
    EXPECT_EQ(view.Rows[0].Cells[1], temp / "src/none");
    EXPECT_EQ(view.Rows[0].Cells[7], "0");  // nothing to copy is 0 percent
    EXPECT_EQ(view.Rows[0].Cells[5], "0.00");
    EXPECT_EQ(view.Rows[1].Cells[10], "0.00 B/s");
    EXPECT_EQ(view.QuickInfo[0].Progress, 0.0f);
    EXPECT_EQ(view.StatusTexts[2], "Paused: 1");
    EXPECT_EQ(view.CurrentRow, 0);
    EXPECT_TRUE(view.TrackBarEnabled);
    EXPECT_EQ(view.TrackBarMax, 12500000);  // the link speed sets the scale
    EXPECT_EQ(view.TrackBarPosition, 12500000 - 1000000);
    EXPECT_EQ(view.SpeedLabel, "976.6 Kb/s");
    EXPECT_FALSE(view.OverallViewsVisible);
    EXPECT_TRUE(view.Commands.ChangeSource);

    // Each log list learns how many records its task holds: the paused task its creation, the
    // other its creation and the missing source at least.
    ASSERT_EQ(view.LogRecordCounts.size(), 2u);
    EXPECT_EQ(view.LogRecordCounts[0], 1);
    EXPECT_GE(view.LogRecordCounts[1], 2);
    EXPECT_EQ(tasks->Graph(0).Sample(0), 0);

    scheduler->Modes().GlobalQueue = true;
    const ViewRefresh queued = scheduler->Refresh({0, 1});
    EXPECT_FALSE(queued.Commands.Start);
    EXPECT_TRUE(queued.Commands.Selected);
    EXPECT_FALSE(queued.Commands.ChangeSource);
}

TEST_F(QueueSchedulerTest, TheTickHasACallThatHangsLoggedOnceAndShown)
{
    scheduler->SetStallLimit(std::chrono::seconds(0));
    WriteFile(temp / "src/slow", "data");
    StallOn(FaultOp::Read, temp / "src/slow");
    ASSERT_TRUE(tasks->AddTask(temp / "src/slow", temp / "dst", StateCopying, 0, INT32_MAX));
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    const ViewRefresh view = scheduler->Tick({0});
    scheduler->Tick({0});
    ReleaseStalls();
    EXPECT_EQ(CountId(tasks->Task(0), "Err011"), 1);
    TMsg shown;
    ASSERT_TRUE(tasks->Task(0).GetLogRecord(view.LogRecordCounts[0] - 1, shown));
    EXPECT_EQ(RenderLogRecord(msgs, shown),
              "Nothing has moved for 0 seconds: the system does not answer for \"" + temp / "src/slow\"");
}

}  // namespace
}  // namespace tarn
