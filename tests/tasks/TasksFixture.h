#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "tasks/CommandHost.h"
#include "tasks/PowerControl.h"
#include "tasks/QueueScheduler.h"
#include "tasks/SchedulerHost.h"
#include "tasks/TaskCommands.h"
#include "tasks/TaskList.h"
#include "tests/support/TestSupport.h"

namespace tarn::test {

// Companion views as plain numbers: each task's views carry the number of the task they were
// made for, so a test sees whether they stayed at their task's index.
class FakeViews : public TaskListViews {
public:
    void InsertViews(int index) override { views.insert(views.begin() + index, next++); }
    void RemoveViews(int index) override { views.erase(views.begin() + index); }
    void MoveViews(int from, int to) override
    {
        const int moved = views[static_cast<size_t>(from)];
        views.erase(views.begin() + from);
        views.insert(views.begin() + to, moved);
    }
    void ShowError(const std::string& text) override { errors.push_back(text); }

    std::vector<int> views;
    int next = 0;
    std::vector<std::string> errors;
};

// Answers every question at once, as set up by the test, and records what was asked.
class FakeHost : public SchedulerHost, public CommandHost {
public:
    void AskAboutExistingFile(TDownloadThread& task) override
    {
        asked.push_back(task.TaskName());
        task.Answer(existsAnswer);
    }
    bool ConfirmShutDown() override
    {
        ++shutDownQuestions;
        return confirmShutDown;
    }
    bool Confirm(const std::string& msgId) override
    {
        questions.push_back(msgId);
        return confirm;
    }
    std::optional<bool> AskDeleteTask() override
    {
        ++deleteQuestions;
        return deleteAnswer;
    }
    std::optional<double> AskScheduleTime(double proposed) override
    {
        proposedTimes.push_back(proposed);
        return scheduleAnswer;
    }
    std::optional<std::string> AskNewSource(uint8_t) override { return newSource; }
    std::optional<NewTaskAnswer> AskNewTask(bool startAllowed, const std::string& sourceText) override
    {
        newTaskStartAllowed = startAllowed;
        newTaskSources = sourceText;
        return newTask;
    }
    bool EditSettings(int) override { return true; }
    void LanguageChanged() override { ++languageChanges; }
    void QuickInfoChanged(bool) override {}
    void ShowError(const std::string& text) override { errors.push_back(text); }

    uint8_t existsAnswer = AnswerOverwriteAll;
    std::vector<std::string> asked;
    bool confirmShutDown = false;
    int shutDownQuestions = 0;
    bool confirm = true;
    std::vector<std::string> questions;
    std::optional<bool> deleteAnswer = false;
    int deleteQuestions = 0;
    std::optional<double> scheduleAnswer;
    std::vector<double> proposedTimes;
    std::optional<std::string> newSource;
    std::optional<NewTaskAnswer> newTask;
    bool newTaskStartAllowed = false;
    std::string newTaskSources;
    int languageChanges = 0;
    std::vector<std::string> errors;
};

class FakePower : public PowerControl {
public:
    bool PowerOff(std::string& error) override
    {
        ++calls;
        if (!succeed) error = "Access denied";
        return succeed;
    }
    int calls = 0;
    bool succeed = true;
};

// A task list over real workers in a temporary folder, with its own settings file.
class TasksTest : public TempFolderTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string Restore() const { return temp / "restore/"; }
    std::string LogFile() const { return temp / "log/tarn_log.txt"; }
    RegistryLocation Registry() const { return {temp / "config/user.ini", temp / "config/system.ini"}; }
    // The program log cannot be written: a file stands where its folder should be.
    void BlockProgramLog();
    std::string BlockedLogFile() const { return temp / "blocker/tarn_log.txt"; }
    // A task that stays Copying at speed 0 (limit 0) once it reached its file.
    void AddHeldTask(const std::string& name, uint8_t state = StateCopying);
    // A task that finishes at once.
    void AddQuickTask(const std::string& name, uint8_t state = StateCopying);
    bool WaitForState(int index, uint8_t state);
    // Until a held task is past its scan, copying (nothing) of its one item `name`.
    bool WaitUntilHeldAt(int index, const std::string& name);
    std::vector<std::string> Names() const;
    static int CountId(const TDownloadThread& task, const std::string& id);
    // The names TaskList on disk holds.
    std::vector<std::string> SavedNames() const;

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
