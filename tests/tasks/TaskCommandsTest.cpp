#include <algorithm>

#include "engine/RestoreFiles.h"
#include "platform/DateTime.h"
#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using test::RandomBytes;
using test::ReadFile;
using test::WaitUntil;
using test::WriteFile;

class TaskCommandsTest : public test::TasksTest {
protected:
    // A task that copies its 400000 bytes slowly, past its first bytes, and finished tasks.
    void AddSlowAndFinishedTasks(const std::vector<std::string>& finished)
    {
        WriteFile(temp / "src/big", RandomBytes(400000, 3));
        ASSERT_TRUE(tasks->AddTask(temp / "src/big", temp / "dst", StateCopying, 0, 50000));
        for (const auto& name : finished) AddQuickTask(name);
        ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).GetCopiedSize() > 0; }));
        for (int i = 1; i < tasks->Count(); ++i) ASSERT_TRUE(WaitForState(i, StateFinished));
    }
};

TEST_F(TaskCommandsTest, DeletesAskOnlyForUnfinishedTasksAndGoOnWithoutAProgramLog)
{
    AddSlowAndFinishedTasks({"f1", "f2"});
    host.deleteAnswer.reset();
    commands->DeleteAll();  // from the end: the finished tasks go unasked, the cancel stops the walk
    EXPECT_EQ(host.deleteQuestions, 1);
    ASSERT_EQ(tasks->Count(), 1);
    for (const char* name : {"f1", "f2"})
        EXPECT_NE(ReadFile(LogFile()).find("A file \"" + std::string(name) + "\" was copied"), std::string::npos);
    host.deleteAnswer = true;
    commands->Delete({0});
    EXPECT_FALSE(FileExists(temp / "dst/big"));
    EXPECT_NE(ReadFile(LogFile()).find("All copied files were deleted by user"), std::string::npos);

    // A program log that cannot be written stops no deletion: each task's loss is reported once,
    // and nothing is left for the next start to resume.
    WriteFile(temp / "blocker", "");  // where the program log's folder should be
    settings->SetLogFile(temp / "blocker/tarn_log.txt");
    AddSlowAndFinishedTasks({"done"});
    const std::vector<std::string> deleted = Names();
    commands->Delete({0, 1});
    EXPECT_EQ(host.deleteQuestions, 3);
    EXPECT_FALSE(FileExists(temp / "dst/big"));
    EXPECT_TRUE(FileExists(temp / "dst/done/done"));  // a finished task's files stay
    EXPECT_EQ(tasks->Count(), 0);
    EXPECT_EQ(SavedNames(), std::vector<std::string>{});
    ASSERT_EQ(views.errors.size(), deleted.size());
    for (const auto& name : deleted) {
        for (const char* extension : {".var", ".con", ".log"}) EXPECT_FALSE(FileExists(Restore() + name + extension));
        EXPECT_EQ(std::count_if(views.errors.begin(), views.errors.end(), [&](const std::string& error) {
                      return error.starts_with("Task " + name + " ") && error.find("Not a directory") != std::string::npos &&
                             error.find("program log \"" + temp / "blocker/tarn_log.txt\"") != std::string::npos;
                  }), 1) << ::testing::PrintToString(views.errors);
    }

    // A finished task the queue removes by itself stays, reported once, until new settings let it go.
    settings->SetAutoDeleteFinished(true);
    AddQuickTask("auto");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    for (int tick = 0; tick < 4; ++tick) scheduler->Tick({});
    ASSERT_EQ(tasks->Count(), 1);
    EXPECT_EQ(views.errors.size(), deleted.size() + 1);
    EXPECT_TRUE(tasks->RemovalFailed(0) && FileExists(tasks->Task(0).RestoreFilePath("var")));
    settings->SetLogFile(LogFile());
    commands->ApplyChangedSettings();
    scheduler->Tick({});
    EXPECT_EQ(tasks->Count(), 0);
}

// Ticks go on while a question is open: the command acts on the task chosen, wherever it stands
// after the answer.
TEST_F(TaskCommandsTest, CommandsActOnTheChosenTaskThoughRowsMoveDuringTheQuestion)
{
    int added = 0;
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"a row before it removed", [&] { tasks->StopAndRemoveTask(0, Removal::Confirmed); }},
        {"a row added before it", [&] {
             AddHeldTask("t" + std::to_string(++added));
             tasks->Move(tasks->Count() - 1, 0);
         }},
    };
    const struct {
        const char* name;
        std::function<void(TaskCommands&, const std::vector<int>&)> run;
        const char* record;  // what the task acted on logs; Delete removes it instead
    } rows[] = {
        {"Delete", &TaskCommands::Delete, nullptr}, {"Restart", &TaskCommands::Restart, "Inf013"},
        {"Skip", &TaskCommands::SkipFile, "Inf014"}, {"Schedule", &TaskCommands::Schedule, "Inf011"},
        {"Change Source", &TaskCommands::ChangeSource, "Inf010"},
    };
    host.scheduleAnswer = NowDateTime() + 1;
    host.newSource = temp / "src/other";
    for (const auto& row : rows)
        for (const auto& [change, apply] : changes) {
            SCOPED_TRACE(std::string(row.name) + ", " + change);
            while (tasks->Count() > 0) tasks->StopAndRemoveTask(0, Removal::Confirmed);
            for (int i = 0; i < 3; ++i) {
                const std::string name = "t" + std::to_string(++added);
                AddHeldTask(name);
                ASSERT_TRUE(WaitUntilHeldAt(i, name));
            }
            const TaskId chosen = tasks->IdOf(1);
            host.whileAsking = apply;
            row.run(*commands, {1});
            const int at = tasks->IndexOf(chosen);
            if (!row.record) {
                EXPECT_EQ(at, -1);
                continue;
            }
            ASSERT_GE(at, 0);
            EXPECT_TRUE(WaitUntil([&] { return CountId(tasks->Task(at), row.record) == 1; }));
            for (int i = 0; i < tasks->Count(); ++i) EXPECT_EQ(CountId(tasks->Task(i), row.record), i == at) << i;
        }
}

TEST_F(TaskCommandsTest, MovesShiftASelectedBlockByOnePlaceAndQueueModesAreStoredAtOnce)
{
    for (const char* name : {"a", "b", "c", "d", "e"}) AddHeldTask(name, StatePaused);
    const auto before = Names();
    EXPECT_EQ(commands->MoveUp({2, 3}), (std::vector<int>{1, 2}));
    EXPECT_EQ(Names(), (std::vector<std::string>{before[0], before[2], before[3], before[1], before[4]}));
    EXPECT_EQ(views.views, (std::vector<int>{0, 2, 3, 1, 4}));
    EXPECT_EQ(commands->MoveUp({0, 1}), (std::vector<int>{0, 1}));  // the first row cannot go up
    EXPECT_EQ(commands->MoveDown({1, 2}), (std::vector<int>{2, 3}));
    EXPECT_EQ(Names(), before);
    EXPECT_EQ(commands->MoveDown({4}), (std::vector<int>{4}));

    const auto modes = [&] { return std::pair(scheduler->Modes().GlobalQueue, scheduler->Modes().SourceQueue); };
    commands->ToggleGlobalQueue();
    commands->ToggleSourceQueue();
    EXPECT_EQ(modes(), std::pair(false, true));
    commands->ToggleSourceQueue();
    commands->ToggleShutDown();
    scheduler->Modes() = QueueModes{};
    commands->LoadQueueModes();
    EXPECT_EQ(modes(), std::pair(false, false));  // both may be off
    EXPECT_TRUE(scheduler->Modes().ShutDownWhenDone);
}

TEST_F(TaskCommandsTest, QuestionsGuardRestartSkipScheduleAndDefaultsAndSettingsReachTheTasks)
{
    AddHeldTask("a");
    ASSERT_TRUE(WaitUntilHeldAt(0, "a"));
    host.confirm = false;
    commands->Restart({0});
    commands->SkipFile({});
    commands->RestartAll();
    EXPECT_EQ(host.questions, (std::vector<std::string>{"Msg001", "Msg011"}));  // none with nothing selected
    EXPECT_EQ(CountId(tasks->Task(0), "Inf013"), 0);
    host.confirm = true;
    commands->Restart({0});
    EXPECT_TRUE(WaitUntil([&] { return CountId(tasks->Task(0), "Inf013") == 1; }));

    ASSERT_TRUE(tasks->AddTask(temp / "src/a", temp / "dst2", StateScheduled, 50000.25, 0));
    ASSERT_TRUE(WaitForState(1, StateScheduled));
    host.scheduleAnswer = 60000.5;
    commands->Schedule({0, 1});
    EXPECT_EQ(host.proposedTimes, std::vector<double>{50000.25});  // the first scheduled time
    EXPECT_EQ(tasks->Task(0).GetScheduleTime(), 60000.5);
    host.scheduleAnswer.reset();  // cancelled: nothing changes
    const double before = NowDateTime();
    commands->Schedule({0});
    EXPECT_GE(host.proposedTimes[1], before);
    EXPECT_EQ(tasks->Task(0).GetScheduleTime(), 60000.5);

    // Changed settings reach the tasks; defaults reach only new ones, and the restore folder moves
    // only when no task is listed in it.
    settings->SetMaxLinkSpeed(125000000);
    commands->Settings();
    for (int i = 0; i < 2; ++i) EXPECT_EQ(tasks->Task(i).GetSpeedScale(), 125000000);
    EXPECT_FALSE(settings->MaxLinkSpeedChanged());  // saved

    host.confirm = false;
    commands->RestoreDefaultSettings();
    EXPECT_EQ(settings->MaxLinkSpeed(), 125000000);
    host.confirm = true;
    commands->RestoreDefaultSettings();
    EXPECT_EQ(settings->MaxLinkSpeed(), 12500000);
    EXPECT_EQ(tasks->Task(0).GetSpeedScale(), 125000000);  // running tasks keep their values
    EXPECT_EQ(settings->RestorePath(), Restore());
    settings->SaveToRegistry();
    EXPECT_EQ(TSettingsStorage(Registry()).RestorePath(), Restore());  // the next start finds the tasks

    commands->Delete({0, 1});
    commands->RestoreDefaultSettings();
    const std::string defaults = temp / "data/Brenvik/Restore/";
    EXPECT_EQ(settings->RestorePath(), defaults);  // an empty list follows it at once
    AddQuickTask("c");
    Reload();
    ASSERT_EQ(tasks->Count(), 1);
    EXPECT_EQ(tasks->Task(0).RestoreFilePath("var").rfind(defaults, 0), 0u);
}

TEST_F(TaskCommandsTest, NewTasksComeOnePerQuotedSource)
{
    const std::string quoted = "\"" + temp / "src/a b" + "\" \"" + temp / "src/c" + "\"";
    host.newTask = NewTaskAnswer{quoted, temp / "dst", StatePaused, 0, 0, {}};
    scheduler->Modes().GlobalQueue = true;
    commands->AddTasksByDialog({temp / "src/a b", temp / "src/c"});
    EXPECT_FALSE(host.newTaskStartAllowed);  // a queue mode decides what runs
    EXPECT_EQ(host.newTaskSources, quoted);
    ASSERT_EQ(tasks->Count(), 2);
    EXPECT_EQ(tasks->Task(0).GetSource(), temp / "src/a b");
    EXPECT_EQ(tasks->Task(1).GetDestination(), temp / "dst/");

    settings->SetVerifyCopies(true);
    commands->AddTasksDirect({temp / "src/x"}, temp / "out");
    ASSERT_EQ(tasks->Count(), 3);
    EXPECT_EQ(tasks->Task(2).GetSpeedLimit(), settings->MaxLinkSpeed());
    EXPECT_TRUE(DecodeConFile(ReadFile(tasks->Task(2).RestoreFilePath("con")), [](TItemAttrs&&) {}).VerifyCopies);
}

}  // namespace
}  // namespace tarn
