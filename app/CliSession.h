#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/ConsoleProgress.h"
#include "app/CopyArguments.h"
#include "core/MessageList.h"
#include "tasks/PowerControl.h"
#include "tasks/SchedulerHost.h"
#include "tasks/TaskList.h"
#include "tasks/TaskListViews.h"

namespace tarn {

class QueueScheduler;
class TSettingsStorage;

// Exit statuses of tarnctl.
enum ExitStatus : int {
    ExitFinished = 0,    // every task finished
    ExitUsage = 1,       // bad usage, or a source or destination that cannot be copied
    // A task failed, left items out, could not set attributes or security it was asked to, or
    // could not be made or restored.
    ExitTaskFailed = 2,
    ExitNotTaken = 3,  // send: no desktop program runs, or it refused the files
};

// The command line's run of a task list, worked one at a time by the "Global Queue" rule, each
// question about an existing file answered from the options, finished tasks removed with their
// summary in the folder's program log. `copy` runs only its own tasks and leaves those of
// earlier runs in TaskList; `resume` runs those. A task with more errors in a row than allowed,
// or whose run failed, is stopped and stays in TaskList for a later resume.
class CliSession : private TaskListViews, private SchedulerHost, private PowerControl {
public:
    explicit CliSession(CopyArguments arguments);
    ~CliSession() override;

    // `tarnctl copy`: checks every source, adds one task per source, then runs them.
    int Copy();
    // `tarnctl resume`: runs what the list holds.
    int Resume();

private:
    bool SourcesCanBeCopied();
    bool Open(EarlierTasks earlier);
    int RunList();
    // Tasks that are neither done nor failed.
    int Pending() const;
    void MarkFailures();
    void ReportFinished();
    void ReportNewErrors();
    std::vector<int> QueuePositions() const;
    void Error(const std::string& text);

    void InsertViews(int) override {}
    void RemoveViews(int) override {}
    void MoveViews(int, int) override {}
    void ShowError(const std::string& text) override;
    void AskAboutExistingFile(TDownloadThread& task) override;
    bool ConfirmShutDown() override { return false; }
    bool PowerOff(std::string&) override { return false; }

    // What the tasks of this run did, summed as each finishes (failed ones at the end).
    struct Results {
        int64_t Copied = 0;     // files copied in full
        int64_t Skipped = 0;    // existing files kept
        int64_t LeftOut = 0;    // items that could not be copied
        int64_t UnsetInfo = 0;  // attribute or security settings that could not be set
        int64_t LinksOutside = 0;  // links made whose target lies outside their copied folder
        void Add(const TDownloadThread& task);
        // The command's last line: "Copied 120 files, 3 skipped as existing, 2 left out".
        std::string Text(int failedTasks) const;
    };

    CopyArguments arguments_;
    std::string restoreDir_;
    std::unique_ptr<TSettingsStorage> settings_;
    TMsgList msgs_;
    ConsoleProgress progress_;
    std::unique_ptr<TaskList> tasks_;
    std::unique_ptr<QueueScheduler> scheduler_;
    std::set<std::string> failed_;    // names of the tasks that failed
    std::set<std::string> reported_;  // names of the finished tasks already reported
    std::map<std::string, int> recordsSeen_;  // per task name: log records already looked at
    int total_ = 0;
    int finished_ = 0;
    Results done_;
};

// The default restore folder of the command line: "Restore-cli/" beside the program's own.
std::string DefaultCliRestoreDir();

}  // namespace tarn
