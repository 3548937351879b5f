#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "engine/RestoreFiles.h"
#include "platform/FaultInjection.h"
#include "tasks/CommandHost.h"
#include "tasks/PowerControl.h"
#include "tasks/QueueScheduler.h"
#include "tasks/SchedulerHost.h"
#include "tasks/TaskCommands.h"
#include "tasks/TaskList.h"
#include "tests/support/TestSupport.h"

namespace tarn::test {

// Each task's views are the number of the task they were made for: a test sees whether they
// stayed at their task's index.
class FakeViews : public TaskListViews {
public:
    void InsertViews(int index) override { views.insert(views.begin() + index, next++); }
    void RemoveViews(int index) override { views.erase(views.begin() + index); }
    void MoveViews(int from, int to) override
    {
        const int moved = views[static_cast<size_t>(from)];
        RemoveViews(from);
        views.insert(views.begin() + to, moved);
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }
    bool HasError(const std::string& part) const
    {
        return std::any_of(errors.begin(), errors.end(), [&](auto& e) { return e.find(part) != std::string::npos; });
    }
    std::vector<int> views;
    int next = 0;
    std::vector<std::string> errors;
};

// Answers every question at once as the test set it up, and records what was asked.
// `whileAsking` runs once inside the next question, as ticks do while a dialog is open.
class FakeHost : public SchedulerHost, public CommandHost {
public:
    void Asking() { if (whileAsking) std::exchange(whileAsking, nullptr)(); }
    void AskAboutExistingFile(TDownloadThread& task) override { asked.push_back(task.TaskName()); task.Answer(AnswerOverwriteAll); }
    bool ConfirmShutDown() override { ++shutDownQuestions; return confirmShutDown; }
    bool Confirm(const std::string& msgId) override { Asking(); questions.push_back(msgId); return confirm; }
    std::optional<bool> AskDeleteTask() override { Asking(); ++deleteQuestions; return deleteAnswer; }
    std::optional<double> AskScheduleTime(double t) override { Asking(); proposedTimes.push_back(t); return scheduleAnswer; }
    std::optional<std::string> AskNewSource(uint8_t) override { Asking(); return newSource; }
    std::optional<NewTaskAnswer> AskNewTask(bool startAllowed, const std::string& sourceText) override
    {
        newTaskStartAllowed = startAllowed;
        newTaskSources = sourceText;
        return newTask;
    }
    bool EditSettings(int) override { return true; }
    void LanguageChanged() override {}
    void QuickInfoChanged(bool) override {}
    void ShowError(const std::string& text) override { errors.push_back(text); }

    std::vector<std::string> asked, questions, errors;
    bool confirmShutDown = false, confirm = true, newTaskStartAllowed = false;
    int shutDownQuestions = 0, deleteQuestions = 0;
    std::optional<bool> deleteAnswer = false;
    std::optional<double> scheduleAnswer;
    std::optional<std::string> newSource;
    std::function<void()> whileAsking;
    std::vector<double> proposedTimes;
    std::optional<NewTaskAnswer> newTask;
    std::string newTaskSources;
};

class FakePower : public PowerControl {
public:
    bool PowerOff(std::string& error) override { ++calls; error = succeed ? "" : "Access denied"; return succeed; }
    int calls = 0;
    bool succeed = true;
};

// A task list over real workers in a temporary folder, with its own settings file.
class TasksTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        UsePrivateUserFolders(temp);  // "Restore default settings" reaches the test's folders only
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
    void TearDown() override
    {
        ClearFaults();
        commands.reset();
        scheduler.reset();
        if (tasks) tasks->Close();
    }
    std::string Restore() const { return temp / "restore/"; }
    std::string LogFile() const { return temp / "log/tarn_log.txt"; }
    RegistryLocation Registry() const { return {temp / "config/user.ini", temp / "config/system.ini"}; }
    // Held: Copying at speed limit 0 once it reached its file. Quick: finishes at once.
    void AddHeldTask(const std::string& name, uint8_t state = StateCopying) { AddTask(name, RandomBytes(1000, 1), state, 0); }
    void AddQuickTask(const std::string& name, uint8_t state = StateCopying) { AddTask(name, name, state, INT32_MAX); }
    void AddTask(const std::string& name, const std::string& bytes, uint8_t state, int32_t limit)
    {
        WriteFile(temp / ("src/" + name), bytes);
        ASSERT_TRUE(tasks->AddTask(temp / ("src/" + name), temp / ("dst/" + name), state, 0, limit));
    }
    bool WaitForState(int index, uint8_t state) { return WaitUntil([&] { return tasks->Task(index).GetState() == state; }); }
    // The scan makes the item current before it leaves the Scanning state.
    bool WaitUntilHeldAt(int index, const std::string& name)
    {
        return WaitUntil([&] {
            return tasks->Task(index).GetCurrentName() == name && tasks->Task(index).GetState() == StateCopying;
        });
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (int i = 0; i < tasks->Count(); ++i) names.push_back(tasks->Task(i).TaskName());
        return names;
    }
    static int CountId(const TDownloadThread& task, const std::string& id)
    {
        int count = 0;
        TMsg record;
        for (int i = 0; task.GetLogRecord(i, record); ++i) count += record.Id == id;
        return count;
    }
    // The names TaskList on disk holds.
    std::vector<std::string> SavedNames() const { return DecodeTaskList(ReadFile(Restore() + "TaskList")).Names; }
    // Closes the list and opens it again from the files, as a new start of the program does.
    void Reload(EarlierTasks earlier = EarlierTasks::Restore)
    {
        tasks->Close();
        views = FakeViews{};
        tasks = std::make_unique<TaskList>(*settings, msgs, views);
        tasks->LoadTaskList(earlier);
    }

    std::unique_ptr<TSettingsStorage> settings;
    TMsgList msgs;
    FakeViews views;
    FakeHost host;
    FakePower power;
    std::unique_ptr<TaskList> tasks;
    std::unique_ptr<QueueScheduler> scheduler;
    std::unique_ptr<TaskCommands> commands;
};

}  // namespace tarn::test
