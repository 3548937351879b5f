#pragma once

#include <string>
#include <vector>

#include "tasks/TaskList.h"

namespace tarn {

class CommandHost;
class QueueScheduler;
class TMsgList;
class TSettingsStorage;

// The commands of the main window on the task list, as plain logic: which worker operation or
// list operation runs on which tasks, after which question. A selection is a list of rows in
// ascending order, valid when the command begins.
class TaskCommands {
public:
    TaskCommands(TaskList& tasks, QueueScheduler& scheduler, TSettingsStorage& settings, TMsgList& msgs,
                 CommandHost& host);

    void NewTask();
    // The new-task dialog with these sources filled in (dropped files, the hand-over).
    void AddTasksByDialog(const std::vector<std::string>& sources);
    // One task per source, started at once, at the link speed and without copy options.
    void AddTasksDirect(const std::vector<std::string>& sources, const std::string& destination);

    void Start(const std::vector<int>& selection);
    void StartAll();
    void Pause(const std::vector<int>& selection);
    void PauseAll();
    void Restart(const std::vector<int>& selection);
    void RestartAll();
    // False when the user kept the tasks.
    bool Delete(const std::vector<int>& selection);
    void DeleteAll();
    void Schedule(const std::vector<int>& selection);
    void ScheduleAll();
    void SkipFile(const std::vector<int>& selection);
    void ChangeSource(const std::vector<int>& selection);
    void DeleteFinished();
    // Move the selected rows by one place as a block; the new selection. Nothing moves when a
    // selected row is already at that end.
    std::vector<int> MoveUp(const std::vector<int>& selection);
    std::vector<int> MoveDown(const std::vector<int>& selection);

    void ToggleGlobalQueue();
    void ToggleSourceQueue();
    void ToggleShutDown();
    // Reads the queue modes and "Shut Down when done" stored by an earlier run.
    void LoadQueueModes();
    void SaveQueueModes();

    void Settings();
    // Pushes the settings whose marks are set to the tasks and the views, then saves them.
    void ApplyChangedSettings();
    void RestoreDefaultSettings();

private:
    // Writes or removes the log-on entry when the AutoRun setting changed; a failure is shown.
    void UpdateAutoStartEntry();
    // Rows of the list now to identities and back; rows of tasks that left the list are dropped.
    std::vector<TaskId> IdsOf(const std::vector<int>& rows) const;
    std::vector<TaskId> AllIds() const;
    std::vector<int> RowsOf(const std::vector<TaskId>& ids) const;
    bool Unfinished(TaskId id) const;
    void RemoveConfirmed(int row, bool deleteFiles);
    void WriteFormMainBool(const char* name, bool value);

    TaskList& tasks_;
    QueueScheduler& scheduler_;
    TSettingsStorage& settings_;
    TMsgList& msgs_;
    CommandHost& host_;
};

}  // namespace tarn
