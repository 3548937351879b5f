#include <sys/stat.h>

#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using test::ReadFile;
using test::WaitUntil;
using test::WriteFile;

class QueueSchedulerTest : public test::TasksTest {
protected:
    bool Started(int index) const { return CountId(tasks->Task(index), "Inf005") > 0; }
    std::string States() const
    {
        std::string states;
        for (int i = 0; i < tasks->Count(); ++i) states += "SCEPZF"[tasks->Task(i).GetState()];
        return states;
    }
    std::string StartedTasks() const
    {
        std::string started;
        for (int i = 0; i < tasks->Count(); ++i) started += Started(i) ? 'y' : 'n';
        return started;
    }
};

// Tasks: H held Copying, h held Paused, Q finished, "//..." a paused task of a network source.
// States: S Scanning, C Copying, E Error, P Paused, Z Scheduled, F Finished; '.' any.
TEST_F(QueueSchedulerTest, TheQueueRuleStartsAndPausesTasksByTheirStates)
{
    const struct {
        const char* name;
        bool global, source;
        std::vector<std::string> tasks;
        int ticks;
        std::string states, started;
    } rows[] = {
        {"no queue: nothing started or paused", false, false, {"H", "H", "h"}, 3, "CCP", "..n"},
        {"global: the earliest active task stays", true, false, {"H", "H", "h"}, 1, "CPP", "..n"},
        {"global: the first paused task starts, once", true, false, {"Q", "h", "h"}, 2, "F.P", ".yn"},
        {"by server: one mount is one queue", false, true, {"h", "h"}, 1, "..", "yn"},
        {"by server: names compare without letter case", false, true,
         {"//Srv1/share/a", "//SRV1/share/b", "//srv2/share/c"}, 1, "...", "yny"},
    };
    int rowNumber = 0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ++rowNumber;
        while (tasks->Count() > 0) tasks->StopAndRemoveTask(0, Removal::Confirmed);
        scheduler->Modes().GlobalQueue = row.global;
        scheduler->Modes().SourceQueue = row.source;
        for (size_t i = 0; i < row.tasks.size(); ++i) {
            const std::string& kind = row.tasks[i];
            const std::string name = kind + std::to_string(rowNumber) + "-" + std::to_string(i);
            const int index = static_cast<int>(i);
            if (kind.starts_with("//")) {
                ASSERT_TRUE(tasks->AddTask(kind, temp / "dst", StatePaused, 0, 0));
            } else if (kind == "Q") {
                AddQuickTask(name);
                ASSERT_TRUE(WaitForState(index, StateFinished));
            } else {
                AddHeldTask(name, kind == "H" ? StateCopying : StatePaused);
                ASSERT_TRUE(kind == "h" || WaitUntilHeldAt(index, name));
            }
        }
        for (int tick = 0; tick < row.ticks; ++tick) scheduler->Tick({});
        for (size_t i = 0; i < row.states.size(); ++i) {
            if (row.states[i] == '.') continue;
            EXPECT_TRUE(WaitUntil([&] { return States()[i] == row.states[i]; })) << States();
        }
        std::string started = StartedTasks();
        for (size_t i = 0; i < started.size(); ++i)
            if (row.started[i] == '.') started[i] = '.';
        EXPECT_EQ(started, row.started);
    }
}

// Retries over the limit of errors in a row, or a run that failed beyond what retries mend: the
// queue pauses the task (Inf020) and starts the next; the task is tried again when its turn comes.
TEST_F(QueueSchedulerTest, ATaskOverTheErrorLimitIsPausedAndTriedAgainLater)
{
    settings->SetCountOfErrorsForSkip(2);
    scheduler->Modes().SourceQueue = true;
    WriteFile(temp / "src/unreadable", "data");
    InjectFault(FaultOp::Read, "/src/unreadable", EIO, 1000000);
    for (const std::string& source : {std::string("//one/share/missing"), temp / "src/unreadable"})
        ASSERT_TRUE(tasks->AddTask(source, temp / "dst", StateCopying, 0, INT32_MAX));
    ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).GetErrorCount() > 2 && tasks->Task(1).GetErrorCount() > 2; }));
    scheduler->Tick({});
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(WaitForState(i, StatePaused)) << i;  // each worker pauses itself at once
        EXPECT_EQ(CountId(tasks->Task(i), "Inf020"), 1) << i;  // each group suspends its own
        EXPECT_FALSE(Started(i)) << i;
    }
    scheduler->Tick({});
    EXPECT_EQ(StartedTasks(), "yy");
    ClearFaults();
    while (tasks->Count() > 0) tasks->StopAndRemoveTask(0, Removal::Confirmed);

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
    scheduler->Tick({});
    ASSERT_TRUE(WaitForState(0, StateFinished));
    EXPECT_EQ(ReadFile(temp / "dst/a/a"), "a");
}

// Tasks waiting for an answer are asked in list order; when all is done the shut-down is asked
// once, then the finished tasks leave.
TEST_F(QueueSchedulerTest, WaitingTasksAreAskedInListOrderAndTheShutDownOnceAllIsDone)
{
    settings->SetAutoDeleteFinished(true);
    scheduler->Modes().ShutDownWhenDone = true;
    scheduler->Tick({});
    EXPECT_EQ(host.shutDownQuestions, 0);  // an empty list is not "all done"
    host.confirmShutDown = true;
    power.succeed = false;
    for (const std::string name : {"x", "y"}) {
        test::MakeFolders(temp / ("dst/" + name));
        WriteFile(temp / ("src/" + name), "new");
        WriteFile(temp / ("dst/" + name + "/" + name), "old");
        ASSERT_TRUE(tasks->AddTask(temp / ("src/" + name), temp / ("dst/" + name), StateCopying, 0, INT32_MAX));
    }
    ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).IsWaitingForAnswer() && tasks->Task(1).IsWaitingForAnswer(); }));
    const std::string var = tasks->Task(0).RestoreFilePath("var");
    scheduler->Tick({});
    EXPECT_EQ(host.asked, Names());
    ASSERT_TRUE(WaitForState(0, StateFinished));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    EXPECT_EQ(ReadFile(temp / "dst/y/y"), "new");
    for (int tick = 0; tick < 3; ++tick) scheduler->Tick({});
    // The finished tasks counted before they left.
    EXPECT_EQ(std::tuple(host.shutDownQuestions, power.calls, scheduler->Modes().ShutDownWhenDone), std::tuple(1, 1, false));
    EXPECT_EQ(host.errors, std::vector<std::string>{"Access denied"});
    EXPECT_EQ(tasks->Count(), 0);
    EXPECT_FALSE(FileExists(var));
    EXPECT_NE(ReadFile(LogFile()).find("Task was finished successfully"), std::string::npos);
}

// A finished tree's row and the program log count what was left out; the fastest speed is the top.
TEST_F(QueueSchedulerTest, RefreshShowsRowsStatusAndTheCurrentTask)
{
    EXPECT_EQ(scheduler->Tick({}).StatusTexts[0], "Tasks: 0");
    test::MakeFolders(temp / "src/tree");
    WriteFile(temp / "src/tree/f", "data");
    ASSERT_EQ(::mkfifo((temp / "src/tree/pipe").c_str(), 0600), 0);
    ASSERT_TRUE(tasks->AddTask(temp / "src/none", temp / "dst", StatePaused, 0, 1000000));
    ASSERT_TRUE(tasks->AddTask(temp / "src/tree", temp / "dst", StateCopying, 0, INT32_MAX));
    AddHeldTask("held");
    ASSERT_TRUE(WaitForState(1, StateFinished));
    ASSERT_TRUE(WaitUntilHeldAt(2, "held"));
    const ViewRefresh view = scheduler->Tick({0});
    // Nothing to copy is 0 percent.
    EXPECT_EQ(view.Rows[0].Cells, (std::array<std::string, TaskListColumnCount>{
                                      " Paused", temp / "src/none", temp / "dst/", "", "0", "0.00", "0.00", "0",
                                      "00:00:00", "00:00:00", "0.00 B/s"}));
    EXPECT_EQ(view.Rows[1].Cells[0], " Finished, 1 left out");
    EXPECT_EQ(view.QuickInfo[1].Progress, 1.0f);
    EXPECT_EQ(view.QuickInfo[2].Text, temp / "src/held");  // a file source shows its file
    EXPECT_EQ(view.StatusTexts[2], "Paused: 1");
    EXPECT_EQ(view.TrackBarPosition, view.TrackBarMax - 1000000);
    EXPECT_EQ(view.SpeedLabel, "976.6 Kb/s");
    EXPECT_EQ(view.LogRecordCounts[0], 1);  // each log list learns how many records its task holds
    scheduler->Modes().GlobalQueue = true;
    const ViewRefresh queued = scheduler->Refresh({0, 1});
    EXPECT_TRUE(!queued.Commands.Start && queued.Commands.Selected && !queued.Commands.ChangeSource);
    ASSERT_TRUE(tasks->StopAndRemoveTask(1, Removal::Confirmed));
    EXPECT_NE(ReadFile(LogFile()).find("\r\nFiles: 1\r\nItems left out: 1\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tarn
