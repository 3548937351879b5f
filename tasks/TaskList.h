#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/GlobalUtils.h"
#include "engine/RestoreFiles.h"
#include "tasks/SpeedGraphModel.h"
#include "tasks/TaskListViews.h"

namespace tarn {

class TDownloadThread;
class TMsgList;
class TSettingsStorage;

using TaskId = uint64_t;

// What LoadTaskList does with the tasks TaskList already names.
enum class EarlierTasks {
    Restore,  // each gets its worker again
    Keep,     // they stay in TaskList, ahead of new tasks, but get no worker in this run
};

// Who removes a task, which decides what a program log that cannot be written does to it.
enum class Removal {
    Confirmed,  // the user's delete: it completes, and the missing summary is reported
    Automatic,  // a finished task removed unasked: it stays, marked, so as not to retry every tick
};

// The ordered list of every task: index = queue position = row. Which tasks exist, in which
// order, is kept in the file "TaskList" in the restore folder; everything else about a task
// lives in its own restore files. TaskList is replaced as a whole on every save, so the folder
// is owned through the lock on "TaskList.lock" beside it, held for the whole run. While it lists
// any task it locks the settings' RestorePath, so that the folder cannot move under them.
class TaskList {
public:
    TaskList(TSettingsStorage& settings, const TMsgList& msgs, TaskListViews& views);
    ~TaskList();
    TaskList(const TaskList&) = delete;
    TaskList& operator=(const TaskList&) = delete;

    int Count() const { return static_cast<int>(entries_.size()); }
    TDownloadThread& Task(int index) const { return *entries_[static_cast<size_t>(index)].Worker; }
    // A task's identity for as long as this list lives: never given to another task, so that
    // whoever holds it across a question finds the task again, or finds it gone.
    TaskId IdOf(int index) const { return entries_[static_cast<size_t>(index)].Id; }
    // The task's index now, or -1 once it has left the list.
    int IndexOf(TaskId id) const;
    // A task's speed history keeps its address while tasks come, go and move, so that the graph
    // drawing it can hold it for the task's life.
    SpeedGraphModel& Graph(int index) { return *entries_[static_cast<size_t>(index)].Graph; }
    // This program owns the restore folder.
    bool IsOpen() const { return lock_ != NoHandle; }

    // Takes the settings' restore folder and reads TaskList there. A damaged TaskList, and the
    // restore files of a task that are damaged, are moved into the folder "damaged/"; a task
    // whose files cannot be read now stays in TaskList without a worker. Each is reported.
    void LoadTaskList(EarlierTasks earlier = EarlierTasks::Restore);
    // Problems the last LoadTaskList reported.
    int LoadProblems() const { return loadProblems_; }
    // Names TaskList keeps without a worker: tasks whose files could not be read, and, loaded
    // with EarlierTasks::Keep, the earlier tasks.
    int UnrestoredCount() const;
    int EarlierKeptCount() const;
    // Replaces TaskList with the list and the names it keeps; errors are ignored.
    void SaveTaskList();
    // Creates, registers and saves one task, its paths made absolute; false (and the error
    // shown) when TaskList is not open here or its restore files cannot be made.
    bool AddTask(const std::string& source, const std::string& destination, uint8_t initialState, double scheduleTime,
                 int32_t speedLimit, const CopyOptions& options = {});
    // Removes a task for good: its summary goes to the program log, TaskList is saved without
    // it, then its restore files are deleted. When the summary cannot be written the error is
    // shown; a confirmed removal goes on without it, an automatic one keeps the task and marks
    // it, so that it is not tried again every second. False when the task stays.
    bool RemoveTask(int index, Removal removal);
    bool StopAndRemoveTask(int index, Removal removal);
    // Always a confirmed removal.
    bool DeleteTaskByUser(int index, bool deleteCopiedFiles);
    bool RemovalFailed(int index) const { return entries_[static_cast<size_t>(index)].RemovalFailed; }
    // Lets automatic removal try again, after the settings changed.
    void ClearRemovalFailures();
    // Moves a task and its views; TaskList on disk keeps the old order until the next save.
    void Move(int from, int to);
    // A new name for a task: free among the tasks and the files of the restore folder.
    std::string NewTaskName() const;
    // The exit sequence: save TaskList, stop every worker and wait for them (half a second for
    // all together: one stuck in the kernel is left behind), delete TaskList when it names
    // nothing, and only then give up the restore folder. The restore files stay.
    void Close();
    // Takes TaskList from the settings' restore folder again; only while the list is empty.
    void ReopenAfterRestorePathChange();

private:
    struct Entry {
        std::unique_ptr<TDownloadThread> Worker;
        std::unique_ptr<SpeedGraphModel> Graph;
        TaskId Id = 0;
        bool RemovalFailed = false;
    };
    // A name TaskList keeps without a worker, saved right after the task named `After`
    // (empty: at the front).
    struct KeptName {
        std::string Name;
        std::string After;
        bool Earlier = false;
    };

    void Append(std::unique_ptr<TDownloadThread> worker);
    // The restore folder and its damaged/ are the user's own, or the user is told why not.
    bool FolderIsOwn();
    bool TakeFolderLock();
    void ReleaseFolderLock();
    std::vector<std::string> ReadTaskList();
    void LoadEntry(const std::string& name, EarlierTasks earlier);
    void RemoveLeftovers();
    std::string MoveToDamaged(const std::string& path, std::string& error) const;
    void ReportProblem(const std::string& detail);
    bool NameTaken(const std::string& name) const;
    // Locks RestorePath while anything is listed, and releases it once nothing is.
    void UpdateRestorePathLock();

    TSettingsStorage& settings_;
    const TMsgList& msgs_;
    TaskListViews& views_;
    std::vector<Entry> entries_;
    std::vector<KeptName> kept_;
    FileHandle lock_ = NoHandle;
    std::string folder_;
    TaskId lastId_ = 0;
    int loadProblems_ = 0;
    bool saveAfterLoad_ = false;
    bool listWhole_ = false;  // the last read found TaskList and every entry it names
    bool restorePathLocked_ = false;
};

}  // namespace tarn
