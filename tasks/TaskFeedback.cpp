#include "tasks/TaskFeedback.h"

#include <algorithm>

#include "engine/GlobalUtils.h"
#include "engine/TaskTypes.h"

namespace tarn {
namespace {

std::string ShortName(const std::string& source)
{
    const std::string path = StripTrailingDelimiters(source);
    const std::string name = ExtractFileName(path);
    return name.empty() ? path : name;
}

}  // namespace

std::vector<FeedbackEvent> TaskFeedback::Update(const std::vector<FeedbackTask>& tasks)
{
    std::vector<FeedbackEvent> events = std::move(pending_);
    pending_.clear();
    std::map<uint64_t, uint8_t> states;
    for (const FeedbackTask& task : tasks) {
        states[task.Id] = task.State;
        const auto before = states_.find(task.Id);
        if (task.State == StateFinished && before != states_.end() && before->second != StateFinished) {
            events.push_back({FeedbackEvent::Kind::TaskFinished, ShortName(task.Source)});
            ++finishedSinceAllDone_;
        }
    }
    states_ = std::move(states);
    const bool allFinished =
        std::all_of(tasks.begin(), tasks.end(), [](const FeedbackTask& task) { return task.State == StateFinished; });
    if (allFinished && finishedSinceAllDone_ > 0) {
        // One task alone is said by its own notification.
        if (finishedSinceAllDone_ > 1) events.push_back({FeedbackEvent::Kind::AllDone, {}});
        finishedSinceAllDone_ = 0;
    }
    return events;
}

void TaskFeedback::PausedForErrors(const std::string& source)
{
    pending_.push_back({FeedbackEvent::Kind::TaskPausedForErrors, ShortName(source)});
}

LauncherState TaskFeedback::Launcher(const std::vector<FeedbackTask>& tasks)
{
    LauncherState launcher;
    int64_t copied = 0;
    int64_t total = 0;
    for (const FeedbackTask& task : tasks) {
        if (task.State == StateFinished) continue;
        copied += std::min(task.Copied, task.Total);
        total += task.Total;
        if (IsActiveState(task.State)) ++launcher.Active;
    }
    launcher.ProgressVisible = launcher.Active > 0 && total > 0;
    launcher.Progress = total > 0 ? static_cast<double>(copied) / static_cast<double>(total) : 0;
    return launcher;
}

}  // namespace tarn
