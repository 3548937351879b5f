#include "tasks/QueueScheduler.h"

#include <algorithm>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/DownloadThread.h"
#include "tasks/PowerControl.h"
#include "tasks/SchedulerHost.h"
#include "tasks/ServerOfPath.h"
#include "tasks/TaskList.h"
#include "tasks/ViewTexts.h"

namespace tarn {
int ActiveCount(const StateCounts& counts)
{
    return counts[StateScanning] + counts[StateCopying] + counts[StateError];
}

QueueScheduler::QueueScheduler(TaskList& tasks, const TSettingsStorage& settings, const TMsgList& msgs,
                               SchedulerHost& host, PowerControl& power)
    : tasks_(tasks), settings_(settings), msgs_(msgs), host_(host), power_(power)
{
}

std::vector<int> QueueScheduler::AllPositions() const
{
    std::vector<int> positions(static_cast<size_t>(tasks_.Count()));
    for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<int>(i);
    return positions;
}

ViewRefresh QueueScheduler::Tick(const std::vector<int>& selection)
{
    AskWaitingQuestions();
    ReportFeedback();
    ShutDownWhenDone();
    RemoveFinishedTasks();
    if (tasks_.Count() > 0) ApplyQueueRule(AllPositions());
    CheckForStalls();
    return Refresh(selection);
}

void QueueScheduler::AskWaitingQuestions()
{
    // One question after the other, in list order, within the same tick.
    for (int i = 0; i < tasks_.Count(); ++i)
        if (tasks_.Task(i).IsWaitingForAnswer()) host_.AskAboutExistingFile(tasks_.Task(i));
}

void QueueScheduler::ShutDownWhenDone()
{
    const int count = tasks_.Count();
    if (!modes_.ShutDownWhenDone || count == 0 || CountStates(AllPositions())[StateFinished] != count) return;
    // Unchecked before the question, so that ticks running while it is open do not ask again.
    modes_.ShutDownWhenDone = false;
    if (host_.ConfirmShutDown()) ShutDownComputer();
}

void QueueScheduler::ShutDownComputer()
{
    std::string error;
    if (!power_.PowerOff(error)) host_.ShowError(error);
}

void QueueScheduler::ReportFeedback()
{
    std::vector<FeedbackTask> snapshot;
    snapshot.reserve(static_cast<size_t>(tasks_.Count()));
    for (int i = 0; i < tasks_.Count(); ++i) {
        const TDownloadThread& task = tasks_.Task(i);
        snapshot.push_back({tasks_.IdOf(i), task.GetState(), task.GetSource(), task.GetCopiedSize(), task.GetTotalSize()});
    }
    for (const FeedbackEvent& event : feedback_.Update(snapshot)) host_.Notify(event);
    host_.ShowLauncher(TaskFeedback::Launcher(snapshot));
}

void QueueScheduler::RemoveFinishedTasks()
{
    if (!settings_.AutoDeleteFinished()) return;
    // A task whose summary could not be written stays until the user deletes it or the
    // settings change: retrying every second would only repeat the error.
    for (int i = tasks_.Count() - 1; i >= 0; --i)
        if (tasks_.Task(i).GetState() == StateFinished && !tasks_.RemovalFailed(i))
            tasks_.StopAndRemoveTask(i, Removal::Automatic);
}

void QueueScheduler::ApplyQueueRule(const std::vector<int>& positions)
{
    if (modes_.GlobalQueue) {
        QueueStep(positions);
        return;
    }
    if (!modes_.SourceQueue) return;
    // Groups keep the order of their first task; keys compare without regard to letter case.
    std::vector<std::pair<std::string, std::vector<int>>> groups;
    for (const int position : positions) {
        const std::string key = ServerOfPath(tasks_.Task(position).GetSource());
        const auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return SameText(g.first, key); });
        if (group == groups.end()) {
            groups.push_back({key, {position}});
        } else {
            group->second.push_back(position);
        }
    }
    for (const auto& group : groups) QueueStep(group.second);
}

void QueueScheduler::QueueStep(const std::vector<int>& positions)
{
    const int32_t limit = settings_.CountOfErrorsForSkip();
    int suspended = -1;
    for (const int position : positions) {
        TDownloadThread& task = tasks_.Task(position);
        // A run that failed beyond what retries mend counts as over the limit.
        if ((task.GetErrorCount() > limit || task.HasRunFailed()) && task.GetState() == StateError) {
            task.SuspendForErrors(limit);
            feedback_.PausedForErrors(task.GetSource());
            suspended = position;
            break;
        }
    }
    StateCounts counts = CountStates(positions);
    if (suspended >= 0) {
        // The worker pauses itself a moment later; for the queue it is paused already.
        const uint8_t state = tasks_.Task(suspended).GetState();
        if (IsActiveState(state)) {
            --counts[state];
            ++counts[StatePaused];
        }
    }
    int active = ActiveCount(counts);
    if (active == 0 && counts[StatePaused] > 0) {
        for (const int position : positions) {
            if (position != suspended && tasks_.Task(position).GetState() == StatePaused) {
                tasks_.Task(position).Start();
                break;
            }
        }
    } else if (active > 1) {
        // The earliest active task keeps running; a Scanning one ignores the pause but counts
        // as paused, and a later tick catches it.
        for (auto it = positions.rbegin(); it != positions.rend() && active > 1; ++it) {
            if (*it != suspended && IsActiveState(tasks_.Task(*it).GetState())) {
                tasks_.Task(*it).Pause();
                --active;
            }
        }
    }
}

void QueueScheduler::CheckForStalls()
{
    for (int i = 0; i < tasks_.Count(); ++i) tasks_.Task(i).CheckForStall(stallLimit_);
}

StateCounts QueueScheduler::CountStates(const std::vector<int>& positions) const
{
    StateCounts counts{};
    for (const int position : positions) {
        const uint8_t state = tasks_.Task(position).GetState();
        if (state < counts.size()) ++counts[state];
    }
    return counts;
}

ViewRefresh QueueScheduler::Refresh(const std::vector<int>& selection)
{
    ViewRefresh view;
    const int count = tasks_.Count();
    std::vector<int> selected;
    for (const int row : selection)
        if (row >= 0 && row < count) selected.push_back(row);
    view.CurrentRow = selected.empty() ? -1 : selected.front();

    view.Rows.reserve(static_cast<size_t>(count));
    view.QuickInfo.reserve(static_cast<size_t>(count));
    view.LogRecordCounts.reserve(static_cast<size_t>(count));
    double totalSpeed = 0;
    for (int i = 0; i < count; ++i) {
        const TDownloadThread& task = tasks_.Task(i);
        view.Rows.push_back(MakeTaskRow(task, msgs_));
        view.QuickInfo.push_back(MakeQuickInfoRow(task, msgs_));
        const int32_t speed = task.GetSpeed();
        totalSpeed += speed;
        view.LogRecordCounts.push_back(task.GetLogHigh() + 1);
        tasks_.Graph(i).AddValue(speed);
    }

    if (view.CurrentRow >= 0) {
        const TDownloadThread& current = tasks_.Task(view.CurrentRow);
        view.TrackBarMax = current.GetSpeedScale();
        view.TrackBarPosition = std::clamp(view.TrackBarMax - current.GetSpeedLimit(), 0, view.TrackBarMax);
        view.TrackBarEnabled = true;
        view.SpeedLabel = SpeedLimitLabel(view.TrackBarMax - view.TrackBarPosition, msgs_);
    } else {
        view.SpeedLabel = msgs_.GetMsg("Msg004");
    }

    const StateCounts counts = CountStates(AllPositions());
    const ScaledValue speed = FormatSpeed(totalSpeed, msgs_);
    view.StatusTexts = {
        msgs_.FormatMsg("Msg006", {std::to_string(count)}),
        msgs_.FormatMsg("Msg007", {std::to_string(ActiveCount(counts))}),
        msgs_.FormatMsg("Msg008", {std::to_string(counts[StatePaused])}),
        msgs_.FormatMsg("Msg009", {std::to_string(counts[StateScheduled])}),
        msgs_.FormatMsg("Msg010", {std::to_string(counts[StateFinished])}),
        msgs_.FormatMsg("Msg012", {FormatDecimal(speed.Value), speed.Unit}),
    };
    view.TotalSpeed = static_cast<int32_t>(std::min<double>(totalSpeed, INT32_MAX));
    view.OverallViewsVisible = selected.empty();
    const bool noQueue = !modes_.GlobalQueue && !modes_.SourceQueue;
    view.Commands.Start = noQueue && !selected.empty();
    view.Commands.AllTasks = noQueue && count > 0;
    view.Commands.Selected = !selected.empty();
    view.Commands.ChangeSource = selected.size() == 1;
    return view;
}

}  // namespace tarn
