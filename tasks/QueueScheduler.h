#pragma once

#include <array>
#include <chrono>
#include <string>
#include <vector>

#include "tasks/TaskFeedback.h"
#include "tasks/ViewRefresh.h"

namespace tarn {

class PowerControl;
class SchedulerHost;
class TaskList;
class TMsgList;
class TSettingsStorage;

// Tasks per state number, counted over some positions of the list.
using StateCounts = std::array<int, 6>;

// The queue modes and "Shut Down when done": at most one queue mode is on; with neither, the
// scheduler starts and pauses nothing.
struct QueueModes {
    bool GlobalQueue = false;
    bool SourceQueue = false;
    bool ShutDownWhenDone = false;
};

// The scheduler tick, run once a second on the main thread: it asks the questions workers wait
// on, shuts the computer down when all is done, removes finished tasks when so set, applies the
// queue rule ("Global Queue": one running task; "Queue by File Servers": one per file server),
// has every task log a read, write or open that hangs, and computes what the views show.
class QueueScheduler {
public:
    QueueScheduler(TaskList& tasks, const TSettingsStorage& settings, const TMsgList& msgs, SchedulerHost& host,
                   PowerControl& power);

    QueueModes& Modes() { return modes_; }
    const QueueModes& Modes() const { return modes_; }
    // How long a call may hang before its task logs it; 30 seconds unless set.
    void SetStallLimit(std::chrono::seconds limit) { stallLimit_ = limit; }

    // One tick; `selection` holds the selected rows in ascending order.
    ViewRefresh Tick(const std::vector<int>& selection);

    // The steps of a tick, for callers that drive the list their own way.
    void AskWaitingQuestions();
    void ShutDownWhenDone();
    void RemoveFinishedTasks();
    void ApplyQueueRule(const std::vector<int>& positions);
    void QueueStep(const std::vector<int>& positions);
    // Each task logs once (Err011) a call that has not returned for the stall limit.
    void CheckForStalls();
    StateCounts CountStates(const std::vector<int>& positions) const;
    ViewRefresh Refresh(const std::vector<int>& selection);

    // Every position of the list, 0 to n − 1.
    std::vector<int> AllPositions() const;

private:
    // Powers the computer off; a refusal is shown with the system's reason.
    void ShutDownComputer();
    // Hands the host the events since the last tick and the launcher's figures, before finished
    // tasks are removed, so that a task removed at once is still reported.
    void ReportFeedback();

    TaskList& tasks_;
    const TSettingsStorage& settings_;
    const TMsgList& msgs_;
    SchedulerHost& host_;
    PowerControl& power_;
    QueueModes modes_;
    std::chrono::seconds stallLimit_{30};
    TaskFeedback feedback_;
};

// Scanning, Copying and Error are the states of an active task.
int ActiveCount(const StateCounts& counts);

}  // namespace tarn
