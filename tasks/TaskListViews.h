#pragma once

#include <string>

namespace tarn {

// What the task list needs from whoever shows it: the companion views of each task (its log
// list and its speed graph) kept at the task's index, and error messages. The main window
// implements it with widgets; the command line and tests with plain objects.
class TaskListViews {
public:
    virtual ~TaskListViews() = default;
    virtual void InsertViews(int index) = 0;
    virtual void RemoveViews(int index) = 0;
    virtual void MoveViews(int from, int to) = 0;
    // An error box captioned with the catalogue's "Error".
    virtual void ShowError(const std::string& text) = 0;
};

}  // namespace tarn
