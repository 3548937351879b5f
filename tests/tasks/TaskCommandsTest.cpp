#include <algorithm>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "engine/RestoreFiles.h"
#include "platform/DateTime.h"
#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using test::RandomBytes;
using test::ReadFile;
using test::TasksTest;
using test::WaitUntil;
using test::WriteFile;

class TaskCommandsTest : public TasksTest {};

TEST_F(TaskCommandsTest, DeletingFinishedTasksAsksNothing)
{
    AddQuickTask("a");
    AddQuickTask("b");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    const std::string var = tasks->Task(1).RestoreFilePath("var");
    commands->Delete({0, 1});
    EXPECT_EQ(host.deleteQuestions, 0);
    EXPECT_EQ(tasks->Count(), 0);
    EXPECT_FALSE(FileExists(var));
    const std::string log = ReadFile(LogFile());
    EXPECT_NE(log.find("A file \"a\" was copied"), std::string::npos);
    EXPECT_NE(log.find("A file \"b\" was copied"), std::string::npos);
}

TEST_F(TaskCommandsTest, DeletingAnUnfinishedTaskAsksOnceAndCanTakeItsFiles)
{
    WriteFile(temp / "src/big", RandomBytes(400000, 3));
    ASSERT_TRUE(tasks->AddTask(temp / "src/big", temp / "dst", StateCopying, 0, 100000));
    AddQuickTask("done");
    ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).GetCopiedSize() > 0; }));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    host.deleteAnswer = true;
    commands->Delete({0, 1});
    EXPECT_EQ(host.deleteQuestions, 1);
    EXPECT_EQ(tasks->Count(), 0);
    EXPECT_FALSE(FileExists(temp / "dst/big"));
    EXPECT_TRUE(FileExists(temp / "dst/done/done"));  // a finished task's files stay
    EXPECT_NE(ReadFile(LogFile()).find("All copied files were deleted by user"), std::string::npos);
}

TEST_F(TaskCommandsTest, AConfirmedDeleteCompletesWhenTheProgramLogCannotBeWritten)
{
    BlockProgramLog();
    WriteFile(temp / "src/big", RandomBytes(400000, 3));
    ASSERT_TRUE(tasks->AddTask(temp / "src/big", temp / "dst", StateCopying, 0, 100000));
    AddQuickTask("done");
    ASSERT_TRUE(WaitUntil([&] { return tasks->Task(0).GetCopiedSize() > 0; }));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    std::vector<std::string> deleted = Names();
    host.deleteAnswer = true;
    commands->Delete({0, 1});
    ASSERT_EQ(tasks->Count(), 0);
    EXPECT_FALSE(FileExists(temp / "dst/big"));
    // Delete All and Delete Finished take a finished task the same way.
    for (const auto& [command, source] : {std::pair{&TaskCommands::DeleteAll, "all"},
                                          std::pair{&TaskCommands::DeleteFinished, "finished"}}) {
        AddQuickTask(source);
        ASSERT_TRUE(WaitForState(0, StateFinished));
        deleted.push_back(Names()[0]);
        ((*commands).*command)();
    }

    // Nothing is left for the next start to resume.
    EXPECT_EQ(tasks->Count(), 0);
    EXPECT_EQ(SavedNames(), std::vector<std::string>{});
    for (const auto& name : deleted)
        for (const char* extension : {".var", ".con", ".log"}) EXPECT_FALSE(FileExists(Restore() + name + extension));
    ASSERT_EQ(views.errors.size(), deleted.size());
    for (const auto& name : deleted)
        EXPECT_EQ(std::count_if(views.errors.begin(), views.errors.end(),
                                [&](const std::string& error) { return error.rfind("Task " + name + " ", 0) == 0; }),
                  1);
    for (const auto& error : views.errors) {
        EXPECT_NE(error.find("program log \"" + BlockedLogFile() + "\""), std::string::npos) << error;
        EXPECT_NE(error.find("Not a directory"), std::string::npos) << error;
    }
}

TEST_F(TaskCommandsTest, DeleteAllWalksFromTheEndAndStopsAtACancel)
{
    AddHeldTask("copying");
    AddQuickTask("f1");
    AddQuickTask("f2");
    ASSERT_TRUE(WaitUntilHeldAt(0, "copying"));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    ASSERT_TRUE(WaitForState(2, StateFinished));
    host.deleteAnswer.reset();
    commands->DeleteAll();
    EXPECT_EQ(host.deleteQuestions, 1);
    ASSERT_EQ(tasks->Count(), 1);
    EXPECT_EQ(tasks->Task(0).GetState(), StateCopying);
}

TEST_F(TaskCommandsTest, MovesShiftASelectedBlockByOnePlace)
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
}

TEST_F(TaskCommandsTest, QueueModesExcludeEachOtherAndAreStoredAtOnce)
{
    commands->ToggleGlobalQueue();
    commands->ToggleSourceQueue();
    EXPECT_FALSE(scheduler->Modes().GlobalQueue);
    EXPECT_TRUE(scheduler->Modes().SourceQueue);
    const auto key = settings->OpenKey(regkey::FormMain);
    key->sync();
    EXPECT_FALSE(ReadRegBool(*key, regvalue::GlobalQueueEnabled, true));
    EXPECT_TRUE(ReadRegBool(*key, regvalue::SourceQueueEnabled, false));
    commands->ToggleSourceQueue();
    EXPECT_FALSE(scheduler->Modes().SourceQueue);
    EXPECT_FALSE(scheduler->Modes().GlobalQueue);  // both may be off

    commands->ToggleShutDown();
    scheduler->Modes() = QueueModes{};
    commands->LoadQueueModes();
    EXPECT_TRUE(scheduler->Modes().ShutDownWhenDone);
    EXPECT_FALSE(scheduler->Modes().SourceQueue);
}

TEST_F(TaskCommandsTest, ScheduleProposesTheFirstScheduledTime)
{
    AddHeldTask("a", StatePaused);
    ASSERT_TRUE(tasks->AddTask(temp / "src/a", temp / "dst2", StateScheduled, 50000.25, 0));
    ASSERT_TRUE(WaitForState(1, StateScheduled));
    host.scheduleAnswer = 60000.5;
    commands->Schedule({0, 1});
    ASSERT_EQ(host.proposedTimes.size(), 1u);
    EXPECT_EQ(host.proposedTimes[0], 50000.25);
    EXPECT_EQ(tasks->Task(0).GetScheduleTime(), 60000.5);

    host.scheduleAnswer.reset();  // cancelled: nothing changes
    const double before = NowDateTime();
    commands->Schedule({0});
    EXPECT_GE(host.proposedTimes[1], before);  // no scheduled task: now
    EXPECT_EQ(tasks->Task(0).GetScheduleTime(), 60000.5);
}

TEST_F(TaskCommandsTest, QuestionsGuardRestartAndSkip)
{
    AddHeldTask("a");
    ASSERT_TRUE(WaitUntilHeldAt(0, "a"));
    host.confirm = false;
    commands->Restart({0});
    commands->SkipFile({});
    commands->RestartAll();
    EXPECT_EQ(host.questions, (std::vector<std::string>{"Msg001", "Msg011"}));  // no question with nothing selected
    EXPECT_EQ(CountId(tasks->Task(0), "Inf013"), 0);
    host.confirm = true;
    commands->Restart({0});
    EXPECT_TRUE(WaitUntil([&] { return CountId(tasks->Task(0), "Inf013") == 1; }));
}

TEST_F(TaskCommandsTest, NewTasksComeOnePerQuotedSource)
{
    NewTaskAnswer answer;
    answer.SourceText = "\"" + temp / "src/a b" + "\" \"" + temp / "src/c" + "\"";
    answer.Destination = temp / "dst";
    answer.State = StatePaused;
    host.newTask = answer;
    scheduler->Modes().GlobalQueue = true;
    commands->AddTasksByDialog({temp / "src/a b", temp / "src/c"});
    EXPECT_FALSE(host.newTaskStartAllowed);
    EXPECT_EQ(host.newTaskSources, answer.SourceText);
    ASSERT_EQ(tasks->Count(), 2);
    EXPECT_EQ(tasks->Task(0).GetSource(), temp / "src/a b");
    EXPECT_EQ(tasks->Task(1).GetDestination(), temp / "dst/");

    settings->SetVerifyCopies(true);
    commands->AddTasksDirect({temp / "src/x"}, temp / "out");
    ASSERT_EQ(tasks->Count(), 3);
    EXPECT_EQ(tasks->Task(2).GetSpeedLimit(), settings->MaxLinkSpeed());
    const std::string con = ReadFile(tasks->Task(2).RestoreFilePath("con"));
    EXPECT_TRUE(DecodeConFile(con, [](TItemAttrs&&) {}).VerifyCopies);
}

TEST_F(TaskCommandsTest, ChangedSettingsReachTheTasksAndDefaultsDoNot)
{
    AddHeldTask("a", StatePaused);
    AddHeldTask("b", StatePaused);
    settings->SetMaxLinkSpeed(125000000);
    settings->SetCountOfErrorsForSkip(5);
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
}

TEST_F(TaskCommandsTest, DefaultSettingsMoveTheRestoreFolderOnlyWhenNoTaskIsListed)
{
    AddHeldTask("a", StatePaused);
    commands->RestoreDefaultSettings();
    EXPECT_EQ(settings->RestorePath(), Restore());
    EXPECT_EQ(settings->LogFile(), temp / "docs/tarn_log.txt");  // the other defaults apply
    settings->SaveToRegistry();
    EXPECT_EQ(TSettingsStorage(Registry()).RestorePath(), Restore());  // the next start finds the task

    // With the list empty the default folder takes over at once, and a new task is listed there.
    commands->Delete({0});
    commands->RestoreDefaultSettings();
    const std::string defaults = temp / "data/Brenvik/Restore/";
    EXPECT_EQ(settings->RestorePath(), defaults);
    AddQuickTask("b");
    tasks->Close();
    views = test::FakeViews{};
    tasks = std::make_unique<TaskList>(*settings, msgs, views);
    tasks->LoadTaskList();
    ASSERT_EQ(tasks->Count(), 1);
    EXPECT_EQ(tasks->Task(0).RestoreFilePath("var").rfind(defaults, 0), 0u);
}

}  // namespace
}  // namespace tarn
