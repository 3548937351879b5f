#include "engine/DataBytes.h"
#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using test::FakeViews;
using test::MakeFolders;
using test::ReadFile;
using test::TasksTest;
using test::WriteFile;

std::string TaskListBytes(const std::vector<std::string>& names, uint8_t major = 3, uint8_t minor = 1, int32_t count = -1)
{
    ByteWriter writer;
    writer.Byte(major);
    writer.Byte(minor);
    writer.Int32(count < 0 ? static_cast<int32_t>(names.size()) : count);
    for (const auto& name : names) writer.LenString(name);
    return writer.Bytes();
}

class TaskListTest : public TasksTest {
protected:
    // Closes the list and opens it again from the files, as a new start of the program does.
    void Reload()
    {
        tasks->Close();
        views = FakeViews{};
        tasks = std::make_unique<TaskList>(*settings, msgs, views);
        tasks->LoadTaskList();
    }
    // Writes restore files of finished tasks by hand, so that a TaskList can name them.
    void WriteFinishedTask(const std::string& name)
    {
        TaskVariables v;
        v.State = StateFinished;
        v.Source = temp / "src/";
        v.Destination = temp / "dst/";
        WriteFile(Restore() + name + ".var", EncodeVarFile(v));
        WriteFile(Restore() + name + ".con", EncodeConFile({}, {}));
        WriteFile(Restore() + name + ".log", LogFileHeader());
    }
};

TEST_F(TaskListTest, TheFileListsTheTasksInOrderAndNeverShrinks)
{
    AddQuickTask("a");
    AddQuickTask("b");
    AddQuickTask("c");
    EXPECT_EQ(ReadFile(Restore() + "TaskList"), TaskListBytes(Names()));
    EXPECT_EQ(views.views, (std::vector<int>{0, 1, 2}));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(WaitForState(i, StateFinished));
    const std::string kept = Names()[1];
    const std::string removed = Names()[0];
    ASSERT_TRUE(tasks->StopAndRemoveTask(2));
    ASSERT_TRUE(tasks->StopAndRemoveTask(0));
    EXPECT_EQ(views.views, (std::vector<int>{1}));
    EXPECT_EQ(ReadFile(Restore() + "TaskList").size(), TaskListBytes({"12345678", "12345678", "12345678"}).size());
    EXPECT_EQ(SavedNames(), std::vector<std::string>{kept});
    Reload();
    ASSERT_EQ(tasks->Count(), 1);
    EXPECT_EQ(tasks->Task(0).TaskName(), kept);
    // The removed tasks' restore files are gone; their summaries are in the program log.
    EXPECT_EQ(ReadFile(LogFile()).find("Log file - Tarnwell version 3.1"), 0u);
    for (const char* extension : {".var", ".con", ".log"}) EXPECT_FALSE(FileExists(Restore() + removed + extension));
}

TEST_F(TaskListTest, ShortOrEmptyFilesHoldNoTasks)
{
    for (size_t size = 0; size <= 6; ++size) {
        tasks->Close();
        WriteFile(Restore() + "TaskList", TaskListBytes({}, 3, 1, 0).substr(0, size));
        views = FakeViews{};
        tasks = std::make_unique<TaskList>(*settings, msgs, views);
        tasks->LoadTaskList();
        EXPECT_EQ(tasks->Count(), 0) << size;
        EXPECT_TRUE(views.errors.empty()) << size;
    }
    tasks->Close();
    EXPECT_FALSE(FileExists(Restore() + "TaskList"));  // no task left: no file
}

TEST_F(TaskListTest, BadEntriesAreReportedOnceAndTheRestLoadInOrder)
{
    tasks->Close();
    WriteFinishedTask("AAAAAAAA");
    WriteFinishedTask("CCCCCCCC");
    WriteFile(Restore() + "TaskList", TaskListBytes({"AAAAAAAA", "BBBBBBBB", "../../etc", "CCCCCCCC"}, 2, 7));
    views = FakeViews{};
    tasks = std::make_unique<TaskList>(*settings, msgs, views);
    tasks->LoadTaskList();
    EXPECT_EQ(Names(), (std::vector<std::string>{"AAAAAAAA", "CCCCCCCC"}));
    ASSERT_EQ(views.errors.size(), 2u);
    EXPECT_EQ(views.errors[0].rfind("Restore file was corrupted!\nTask BBBBBBBB:", 0), 0u) << views.errors[0];
    EXPECT_NE(views.errors[1].find("invalid task name"), std::string::npos);

    // A Count beyond the entries the file holds: one report for the whole damage.
    tasks->Close();
    WriteFile(Restore() + "TaskList", TaskListBytes({"AAAAAAAA"}, 3, 1, 1000000));
    views = FakeViews{};
    tasks = std::make_unique<TaskList>(*settings, msgs, views);
    tasks->LoadTaskList();
    EXPECT_EQ(Names(), std::vector<std::string>{"AAAAAAAA"});
    ASSERT_EQ(views.errors.size(), 1u);
    EXPECT_NE(views.errors[0].find("names 1000000 tasks but holds only 1"), std::string::npos);
}

TEST_F(TaskListTest, ASecondProgramCannotTakeTheSameFolder)
{
    FakeViews otherViews;
    TaskList other(*settings, msgs, otherViews);
    other.LoadTaskList();
    EXPECT_FALSE(other.IsOpen());
    ASSERT_EQ(otherViews.errors.size(), 1u);
    EXPECT_NE(otherViews.errors[0].find("TaskList"), std::string::npos);
    other.Close();
    EXPECT_TRUE(FileExists(Restore() + "TaskList"));  // not its file to delete
}

TEST_F(TaskListTest, MovesKeepTheViewsAndReachTheFileOnlyWithTheNextSave)
{
    AddHeldTask("a", StatePaused);
    AddHeldTask("b", StatePaused);
    AddHeldTask("c", StatePaused);
    const auto before = Names();
    tasks->Move(2, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{before[2], before[0], before[1]}));
    EXPECT_EQ(views.views, (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(SavedNames(), before);  // a forced end now restarts in the saved order
    tasks->SaveTaskList();
    EXPECT_EQ(SavedNames(), Names());
}

TEST_F(TaskListTest, AnUnwritableProgramLogKeepsTheTaskAndIsReportedOnce)
{
    settings->SetAutoDeleteFinished(true);
    MakeFolders(temp / "log");
    WriteFile(temp / "blocker", "");
    settings->SetLogFile(temp / "blocker/tarn_log.txt");  // a file where its folder should be
    AddQuickTask("a");
    ASSERT_TRUE(WaitForState(0, StateFinished));
    for (int tick = 0; tick < 4; ++tick) scheduler->Tick({});
    EXPECT_EQ(tasks->Count(), 1);
    EXPECT_EQ(views.errors.size(), 1u);
    EXPECT_TRUE(FileExists(tasks->Task(0).RestoreFilePath("var")));

    settings->SetLogFile(LogFile());
    commands->ApplyChangedSettings();  // new settings: the removal is tried again
    scheduler->Tick({});
    EXPECT_EQ(tasks->Count(), 0);
}

}  // namespace
}  // namespace tarn
