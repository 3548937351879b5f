#include "tasks/TaskCommands.h"

#include <algorithm>
#include <optional>

#include "core/AutoStartEntry.h"
#include "core/MessageList.h"
#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "platform/DateTime.h"
#include "tasks/CommandHost.h"
#include "tasks/QueueScheduler.h"
#include "tasks/TaskList.h"

namespace tarn {

TaskCommands::TaskCommands(TaskList& tasks, QueueScheduler& scheduler, TSettingsStorage& settings, TMsgList& msgs,
                           CommandHost& host)
    : tasks_(tasks), scheduler_(scheduler), settings_(settings), msgs_(msgs), host_(host)
{
}

void TaskCommands::NewTask() { AddTasksByDialog({}); }

void TaskCommands::AddTasksByDialog(const std::vector<std::string>& sources)
{
    const QueueModes& modes = scheduler_.Modes();
    const auto answer = host_.AskNewTask(!modes.GlobalQueue && !modes.SourceQueue, JoinQuotedPaths(sources));
    if (!answer) return;
    std::vector<std::string> paths;
    SplitQuotedPaths(answer->SourceText, paths);
    for (const auto& path : paths)
        tasks_.AddTask(path, answer->Destination, answer->State, answer->ScheduleTime, answer->SpeedLimit,
                       answer->Options);
}

void TaskCommands::AddTasksDirect(const std::vector<std::string>& sources, const std::string& destination)
{
    CopyOptions options;
    options.VerifyCopies = settings_.VerifyCopies();
    options.CopyLinksAsLinks = settings_.CopyLinksAsLinks();
    options.KeepHardLinks = settings_.KeepHardLinks();
    for (const auto& source : sources)
        tasks_.AddTask(source, destination, StateCopying, NowDateTime(), settings_.MaxLinkSpeed(), options);
}

std::vector<TaskId> TaskCommands::IdsOf(const std::vector<int>& rows) const
{
    std::vector<TaskId> ids;
    for (const int row : rows)
        if (row >= 0 && row < tasks_.Count()) ids.push_back(tasks_.IdOf(row));
    return ids;
}

std::vector<TaskId> TaskCommands::AllIds() const
{
    std::vector<TaskId> ids;
    for (int i = 0; i < tasks_.Count(); ++i) ids.push_back(tasks_.IdOf(i));
    return ids;
}

std::vector<int> TaskCommands::RowsOf(const std::vector<TaskId>& ids) const
{
    std::vector<int> rows;
    for (const TaskId id : ids)
        if (const int row = tasks_.IndexOf(id); row >= 0) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool TaskCommands::Unfinished(TaskId id) const
{
    const int row = tasks_.IndexOf(id);
    return row >= 0 && tasks_.Task(row).GetState() != StateFinished;
}

void TaskCommands::Start(const std::vector<int>& selection)
{
    for (const int row : RowsOf(IdsOf(selection))) tasks_.Task(row).Start();
}

void TaskCommands::StartAll() { Start(scheduler_.AllPositions()); }

void TaskCommands::Pause(const std::vector<int>& selection)
{
    for (const int row : RowsOf(IdsOf(selection))) tasks_.Task(row).Pause();
}

void TaskCommands::PauseAll() { Pause(scheduler_.AllPositions()); }

// Ticks go on while a question is open: tasks may finish and leave the list, or come and move.
// So the commands name their tasks by identity and, after the question, act on those of them
// still listed, wherever they are then.

void TaskCommands::Restart(const std::vector<int>& selection)
{
    const auto ids = IdsOf(selection);
    if (ids.empty() || !host_.Confirm("Msg001")) return;
    for (const int row : RowsOf(ids)) tasks_.Task(row).Restart();
}

void TaskCommands::RestartAll()
{
    const auto ids = AllIds();
    if (!host_.Confirm("Msg011")) return;
    for (const int row : RowsOf(ids)) tasks_.Task(row).Restart();
}

void TaskCommands::SkipFile(const std::vector<int>& selection)
{
    const auto ids = IdsOf(selection);
    if (ids.empty() || !host_.Confirm("Msg002")) return;
    for (const int row : RowsOf(ids)) tasks_.Task(row).SkipFile();
}

bool TaskCommands::Delete(const std::vector<int>& selection)
{
    const auto ids = IdsOf(selection);
    bool deleteFiles = false;
    if (std::any_of(ids.begin(), ids.end(), [&](TaskId id) { return Unfinished(id); })) {
        const auto answer = host_.AskDeleteTask();
        if (!answer) return false;
        deleteFiles = *answer;
    }
    const auto rows = RowsOf(ids);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) RemoveConfirmed(*it, deleteFiles);
    return !ids.empty();
}

void TaskCommands::DeleteAll()
{
    // Finished tasks go without a question; the first unfinished one, walking from the end,
    // asks, and a Cancel there keeps it and everything before it.
    const auto ids = AllIds();
    std::optional<bool> deleteFiles;
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        if (!deleteFiles && Unfinished(*it)) {
            deleteFiles = host_.AskDeleteTask();
            if (!deleteFiles) return;
        }
        if (const int row = tasks_.IndexOf(*it); row >= 0) RemoveConfirmed(row, deleteFiles.value_or(false));
    }
}

void TaskCommands::RemoveConfirmed(int row, bool deleteFiles)
{
    // A task that finished while the question was open keeps its files.
    if (tasks_.Task(row).GetState() != StateFinished)
        tasks_.DeleteTaskByUser(row, deleteFiles);
    else
        tasks_.StopAndRemoveTask(row, Removal::Confirmed);
}

void TaskCommands::Schedule(const std::vector<int>& selection)
{
    const auto ids = IdsOf(selection);
    if (ids.empty()) return;
    double proposed = NowDateTime();
    for (const int row : RowsOf(ids)) {
        if (tasks_.Task(row).GetState() == StateScheduled) {
            proposed = tasks_.Task(row).GetScheduleTime();
            break;
        }
    }
    const auto time = host_.AskScheduleTime(proposed);
    if (!time) return;
    for (const int row : RowsOf(ids)) tasks_.Task(row).Schedule(*time);
}

void TaskCommands::ScheduleAll()
{
    const auto ids = AllIds();
    const auto time = host_.AskScheduleTime(NowDateTime());
    if (!time) return;
    for (const int row : RowsOf(ids)) tasks_.Task(row).Schedule(*time);
}

void TaskCommands::ChangeSource(const std::vector<int>& selection)
{
    const auto ids = IdsOf(selection);
    if (ids.size() != 1) return;
    const uint8_t kind = tasks_.Task(tasks_.IndexOf(ids.front())).GetSourceKind();
    if (kind > SourceFile) return;
    const auto path = host_.AskNewSource(kind);
    if (const int row = tasks_.IndexOf(ids.front()); path && row >= 0) tasks_.Task(row).ChangeSource(*path);
}

void TaskCommands::DeleteFinished()
{
    for (int i = tasks_.Count() - 1; i >= 0; --i)
        if (tasks_.Task(i).GetState() == StateFinished) tasks_.StopAndRemoveTask(i, Removal::Confirmed);
}

std::vector<int> TaskCommands::MoveUp(const std::vector<int>& selection)
{
    if (selection.empty() || selection.front() <= 0) return selection;
    std::vector<int> moved;
    for (const int row : selection) {
        tasks_.Move(row, row - 1);
        moved.push_back(row - 1);
    }
    return moved;
}

std::vector<int> TaskCommands::MoveDown(const std::vector<int>& selection)
{
    if (selection.empty() || selection.back() >= tasks_.Count() - 1) return selection;
    std::vector<int> moved;
    for (auto it = selection.rbegin(); it != selection.rend(); ++it) {
        tasks_.Move(*it, *it + 1);
        moved.insert(moved.begin(), *it + 1);
    }
    return moved;
}

void TaskCommands::ToggleGlobalQueue()
{
    QueueModes& modes = scheduler_.Modes();
    modes.GlobalQueue = !modes.GlobalQueue;
    if (modes.GlobalQueue) modes.SourceQueue = false;
    SaveQueueModes();
}

void TaskCommands::ToggleSourceQueue()
{
    QueueModes& modes = scheduler_.Modes();
    modes.SourceQueue = !modes.SourceQueue;
    if (modes.SourceQueue) modes.GlobalQueue = false;
    SaveQueueModes();
}

void TaskCommands::ToggleShutDown()
{
    QueueModes& modes = scheduler_.Modes();
    modes.ShutDownWhenDone = !modes.ShutDownWhenDone;
    WriteFormMainBool(regvalue::ShutDownEnabled, modes.ShutDownWhenDone);
}

void TaskCommands::LoadQueueModes()
{
    const auto key = settings_.OpenKey(regkey::FormMain);
    QueueModes& modes = scheduler_.Modes();
    modes.GlobalQueue = ReadRegBool(*key, regvalue::GlobalQueueEnabled, false);
    // A hand-edited file may turn both on: one queue mode at a time.
    modes.SourceQueue = !modes.GlobalQueue && ReadRegBool(*key, regvalue::SourceQueueEnabled, false);
    modes.ShutDownWhenDone = ReadRegBool(*key, regvalue::ShutDownEnabled, false);
}

void TaskCommands::SaveQueueModes()
{
    const QueueModes& modes = scheduler_.Modes();
    try {
        const auto key = settings_.OpenKey(regkey::FormMain);
        WriteRegBool(*key, regvalue::GlobalQueueEnabled, modes.GlobalQueue);
        WriteRegBool(*key, regvalue::SourceQueueEnabled, modes.SourceQueue);
        FlushRegistryKey(*key);
    } catch (const RegistryError& error) {
        host_.ShowError(error.what());
    }
}

void TaskCommands::WriteFormMainBool(const char* name, bool value)
{
    try {
        const auto key = settings_.OpenKey(regkey::FormMain);
        WriteRegBool(*key, name, value);
        FlushRegistryKey(*key);
    } catch (const RegistryError& error) {
        host_.ShowError(error.what());
    }
}

void TaskCommands::Settings()
{
    if (host_.EditSettings(tasks_.Count())) ApplyChangedSettings();
}

void TaskCommands::ApplyChangedSettings()
{
    if (settings_.LanguageChanged()) {
        msgs_.LoadCatalogue(settings_);
        host_.LanguageChanged();
    }
    if (settings_.EnableQuickInfoChanged()) host_.QuickInfoChanged(settings_.EnableQuickInfo());
    UpdateAutoStartEntry();
    if (settings_.RestorePathChanged() && tasks_.Count() == 0) tasks_.ReopenAfterRestorePathChange();
    for (int i = 0; i < tasks_.Count(); ++i) {
        TDownloadThread& task = tasks_.Task(i);
        if (settings_.RestoreUpdateIntervalChanged()) task.SetRestoreUpdateInterval(settings_.RestoreUpdateInterval());
        if (settings_.DelayOnErrorChanged()) task.SetDelayOnError(settings_.DelayOnError());
        if (settings_.BufferSizeChanged()) task.SetBufferSize(settings_.BufferSize());
        if (settings_.MaxLinkSpeedChanged()) task.SetMaxLinkSpeed(settings_.MaxLinkSpeed());
    }
    // New settings (another program log, say) may let a removal that failed succeed.
    tasks_.ClearRemovalFailures();
    try {
        settings_.SaveToRegistry();
    } catch (const RegistryError& error) {
        host_.ShowError(error.what());
    }
}

void TaskCommands::RestoreDefaultSettings()
{
    if (!host_.Confirm("Msg013")) return;
    // Listed tasks keep the restore folder locked. An empty list follows the default folder at
    // once, as after the settings dialog: a task added to the old one would be lost at the
    // next start, which reads the folder saved at exit.
    settings_.SetDefaults();
    if (settings_.RestorePathChanged() && tasks_.Count() == 0) tasks_.ReopenAfterRestorePathChange();
    UpdateAutoStartEntry();
}

void TaskCommands::UpdateAutoStartEntry()
{
    if (!settings_.AutoRunChanged()) return;
    try {
        SetAutoStartEntry(settings_.AutoRun());
    } catch (const std::runtime_error& error) {
        host_.ShowError(error.what());
    }
}

}  // namespace tarn
