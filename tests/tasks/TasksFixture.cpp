#include "tests/tasks/TasksFixture.h"

#include <cstdlib>

#include "engine/DataBytes.h"

namespace tarn::test {

void TasksTest::SetUp()
{
    // The default folders (after "Restore default settings") are the test's, never the user's.
    UsePrivateUserFolders(temp);
    settings = std::make_unique<TSettingsStorage>(Registry());
    settings->SetRestorePath(Restore());
    settings->SetLogFile(LogFile());
    settings->SetDelayOnError(20);
    tasks = std::make_unique<TaskList>(*settings, msgs, views);
    scheduler = std::make_unique<QueueScheduler>(*tasks, *settings, msgs, host, power);
    commands = std::make_unique<TaskCommands>(*tasks, *scheduler, *settings, msgs, host);
    MakeFolders(temp / "src");
    tasks->LoadTaskList();
}

void TasksTest::TearDown()
{
    commands.reset();
    scheduler.reset();
    if (tasks) tasks->Close();
}

void TasksTest::AddHeldTask(const std::string& name, uint8_t state)
{
    WriteFile(temp / ("src/" + name), RandomBytes(1000, 1));
    ASSERT_TRUE(tasks->AddTask(temp / ("src/" + name), temp / ("dst/" + name), state, 0, 0));
}

void TasksTest::AddQuickTask(const std::string& name, uint8_t state)
{
    WriteFile(temp / ("src/" + name), name);
    ASSERT_TRUE(tasks->AddTask(temp / ("src/" + name), temp / ("dst/" + name), state, 0, 2147483647));
}

void TasksTest::BlockProgramLog()
{
    WriteFile(temp / "blocker", "");
    settings->SetLogFile(BlockedLogFile());
}

bool TasksTest::WaitForState(int index, uint8_t state)
{
    return WaitUntil([&] { return tasks->Task(index).GetState() == state; });
}

bool TasksTest::WaitUntilHeldAt(int index, const std::string& name)
{
    // The scan makes the item current before it saves the list and leaves the Scanning state.
    return WaitUntil([&] { return tasks->Task(index).GetCurrentName() == name && tasks->Task(index).GetState() == StateCopying; });
}

std::vector<std::string> TasksTest::Names() const
{
    std::vector<std::string> names;
    for (int i = 0; i < tasks->Count(); ++i) names.push_back(tasks->Task(i).TaskName());
    return names;
}

int TasksTest::CountId(const TDownloadThread& task, const std::string& id)
{
    int count = 0;
    TMsg record;
    for (int i = 0; task.GetLogRecord(i, record); ++i) count += record.Id == id;
    return count;
}

std::vector<std::string> TasksTest::SavedNames() const
{
    const std::string bytes = ReadFile(Restore() + "TaskList");
    ByteReader reader(bytes);
    reader.Byte();
    reader.Byte();
    std::vector<std::string> names(static_cast<size_t>(reader.Int32()));
    for (auto& name : names) name = reader.LenString();
    return names;
}

}  // namespace tarn::test
