#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/RestoreFiles.h"

namespace tarn {

// What the user entered in the new-task dialog.
struct NewTaskAnswer {
    std::string SourceText;  // one path, or several each in double quotes
    std::string Destination;
    uint8_t State = 1;       // 1 start, 3 paused, 4 scheduled
    double ScheduleTime = 0;
    int32_t SpeedLimit = 0;
    CopyOptions Options;
};

// The questions and dialogs of the task commands. The main window shows them; tests answer
// at once. Each returns nothing (or false) when the user cancels.
class CommandHost {
public:
    virtual ~CommandHost() = default;
    // A question captioned "Confirmation" with the text of a catalogue id; true for OK or Yes.
    virtual bool Confirm(const std::string& msgId) = 0;
    // The delete-task dialog: whether the copied files are to be deleted too.
    virtual std::optional<bool> AskDeleteTask() = 0;
    // The schedule dialog, proposing a date-time.
    virtual std::optional<double> AskScheduleTime(double proposed) = 0;
    // The picker for a new source of a task whose source is unresolved (0), a folder (1) or a
    // file (2).
    virtual std::optional<std::string> AskNewSource(uint8_t sourceKind) = 0;
    // The new-task dialog; `startAllowed` is false while a queue mode decides what runs.
    virtual std::optional<NewTaskAnswer> AskNewTask(bool startAllowed, const std::string& sourceText) = 0;
    // The settings dialog; true when confirmed (the settings then carry their changed marks).
    virtual bool EditSettings(int taskCount) = 0;
    // After confirmed settings: the language changed (translate the windows again), the
    // quick-info window is to be shown or hidden.
    virtual void LanguageChanged() = 0;
    virtual void QuickInfoChanged(bool enabled) = 0;
    virtual void ShowError(const std::string& text) = 0;
};

}  // namespace tarn
