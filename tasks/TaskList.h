#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/GlobalUtils.h"
#include "tasks/SpeedGraphModel.h"
#include "tasks/TaskListViews.h"

namespace tarn {

class TDownloadThread;
class TMsgList;
class TSettingsStorage;

// The ordered list of every task: index = queue position = row. Which tasks exist, in which
// order, is kept in the file "TaskList" in the restore folder, which stays open and locked for
// the whole run; everything else about a task lives in its own restore files.
class TaskList {
public:
    TaskList(TSettingsStorage& settings, const TMsgList& msgs, TaskListViews& views);
    ~TaskList();
    TaskList(const TaskList&) = delete;
    TaskList& operator=(const TaskList&) = delete;

    int Count() const { return static_cast<int>(entries_.size()); }
    TDownloadThread& Task(int index) const { return *entries_[static_cast<size_t>(index)].Worker; }
    SpeedGraphModel& Graph(int index) { return entries_[static_cast<size_t>(index)].Graph; }
    // Log records of task `index` already handed to its log view.
    int& LogRowsShown(int index) { return entries_[static_cast<size_t>(index)].LogRowsShown; }
    bool IsOpen() const { return file_ != NoHandle; }

    // Opens (or creates) TaskList in the settings' restore folder and restores every task it
    // names. A task that cannot be restored is reported and left out; the others load.
    void LoadTaskList();
    // Rewrites TaskList from the list, in one write; errors are ignored.
    void SaveTaskList();
    // Creates, registers and saves one task; false (and the error shown) when its restore files
    // cannot be made.
    bool AddTask(const std::string& source, const std::string& destination, uint8_t initialState, double scheduleTime,
                 int32_t speedLimit, bool copyAttributes, bool copySecurity, bool copyStreams);
    // Removes a task for good: its summary goes to the program log, then its restore files are
    // deleted. When the program log cannot be written the task stays, the error is shown, and
    // the task is marked so that automatic removal does not try again every second.
    bool RemoveTask(int index);
    bool StopAndRemoveTask(int index);
    bool DeleteTaskByUser(int index, bool deleteCopiedFiles);
    bool RemovalFailed(int index) const { return entries_[static_cast<size_t>(index)].RemovalFailed; }
    // Lets automatic removal try again, after the settings changed.
    void ClearRemovalFailures();
    // Moves a task and its views; TaskList on disk keeps the old order until the next save.
    void Move(int from, int to);
    // A new name for a task: free among the tasks and the files of the restore folder.
    std::string NewTaskName() const;
    // The exit sequence: save and close TaskList (deleted when no task is left), stop every
    // worker, wait for each and destroy it with its views. The restore files stay.
    void Close();
    // Takes TaskList from the settings' restore folder again; only while the list is empty.
    void ReopenAfterRestorePathChange();

private:
    struct Entry {
        std::unique_ptr<TDownloadThread> Worker;
        SpeedGraphModel Graph;
        int LogRowsShown = 0;
        bool RemovalFailed = false;
    };

    void Append(std::unique_ptr<TDownloadThread> worker);
    void CloseFile();
    void ReportError(const std::string& detail);

    TSettingsStorage& settings_;
    const TMsgList& msgs_;
    TaskListViews& views_;
    std::vector<Entry> entries_;
    FileHandle file_ = NoHandle;
    std::string filePath_;
};

}  // namespace tarn
