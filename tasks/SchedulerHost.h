#pragma once

#include <string>

#include "tasks/TaskFeedback.h"

namespace tarn {

class TDownloadThread;

// The questions the scheduler tick asks the user. The main window answers them with its
// dialogs, the command line from its options, tests at once.
class SchedulerHost {
public:
    virtual ~SchedulerHost() = default;
    // The destination-file-exists question for a task whose worker waits for it. Whoever
    // answers hands the answer to the worker (TDownloadThread::Answer).
    virtual void AskAboutExistingFile(TDownloadThread& task) = 0;
    // The shut-down question; true when the computer is to be powered off.
    virtual bool ConfirmShutDown() = 0;
    virtual void ShowError(const std::string& text) = 0;
    // The desktop's notifications and launcher icon; the command line shows neither.
    virtual void Notify(const FeedbackEvent&) {}
    virtual void ShowLauncher(const LauncherState&) {}
};

}  // namespace tarn
