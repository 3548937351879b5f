#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace tarn {

// What the desktop is told of the tasks beside the window: a notification when a task finishes,
// when the queue pauses a task for its errors, and when the last unfinished task of several
// finishes; the overall progress and the count of active tasks on the launcher icon.
struct FeedbackEvent {
    enum class Kind { TaskFinished, TaskPausedForErrors, AllDone };
    Kind What = Kind::TaskFinished;
    std::string Name;  // the task's source, shortened to its last name; empty for AllDone
};

// One task as the feedback sees it at a tick.
struct FeedbackTask {
    uint64_t Id = 0;
    uint8_t State = 0;
    std::string Source;
    int64_t Copied = 0;
    int64_t Total = 0;
};

struct LauncherState {
    double Progress = 0;  // 0 to 1 over the unfinished tasks' bytes
    bool ProgressVisible = false;
    int Active = 0;  // Scanning, Copying or Error
};

// Tells the events of one tick from the states of the tick before. A task first seen finished
// (restored so, or added and done within one tick) raises nothing.
class TaskFeedback {
public:
    std::vector<FeedbackEvent> Update(const std::vector<FeedbackTask>& tasks);
    // The queue paused a task for its errors; reported with the next Update.
    void PausedForErrors(const std::string& source);
    static LauncherState Launcher(const std::vector<FeedbackTask>& tasks);

private:
    std::map<uint64_t, uint8_t> states_;
    std::vector<FeedbackEvent> pending_;
    int finishedSinceAllDone_ = 0;
};

}  // namespace tarn
