#include "app/CliSession.h"

#include <chrono>
#include <climits>
#include <thread>

#include "app/StopSignals.h"
#include "core/ProgramLog.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "platform/DateTime.h"
#include "tasks/QueueScheduler.h"
#include "tasks/TaskList.h"

namespace tarn {
namespace {

// Short polls let the command end as soon as its last task finished.
constexpr auto PollInterval = std::chrono::milliseconds(20);
constexpr int PollsPerRedraw = 15;

}  // namespace

std::string DefaultCliRestoreDir()
{
    TSettingsStorage settings;
    settings.SetDefaults();
    return ExtractFilePath(ExcludeTrailingDelimiter(settings.RestorePath())) + "Restore-cli/";
}

CliSession::CliSession(CopyArguments arguments) : arguments_(std::move(arguments)), progress_(stderr, !arguments_.Quiet)
{
    restoreDir_ = IncludeTrailingDelimiter(arguments_.RestoreDir.empty() ? DefaultCliRestoreDir() : arguments_.RestoreDir);
    // The command line keeps no settings file of its own and never touches the program's: its
    // settings are the defaults and its options.
    settings_ = std::make_unique<TSettingsStorage>(RegistryLocation{"/dev/null", "/dev/null"});
    settings_->SetRestorePath(restoreDir_);
    settings_->SetLogFile(restoreDir_ + "tarn_log.txt");
    settings_->SetDelayOnError(arguments_.DelayOnError);
    settings_->SetBufferSize(arguments_.BufferSize);
    settings_->SetAutoDeleteFinished(true);
    // A task with too many errors fails here (MarkFailures); the queue must not suspend it first.
    settings_->SetCountOfErrorsForSkip(INT32_MAX);
}

CliSession::~CliSession()
{
    scheduler_.reset();
    if (tasks_) tasks_->Close();
}

void CliSession::Error(const std::string& text) { progress_.Print("tarnctl: " + text); }

bool CliSession::Open()
{
    TaskListViews& views = *this;
    SchedulerHost& host = *this;
    PowerControl& power = *this;
    tasks_ = std::make_unique<TaskList>(*settings_, msgs_, views);
    scheduler_ = std::make_unique<QueueScheduler>(*tasks_, *settings_, msgs_, host, power);
    tasks_->LoadTaskList();
    if (!tasks_->IsOpen()) {
        Error("the restore folder \"" + restoreDir_ + "\" cannot be used (is another tarnctl working in it?)");
        return false;
    }
    return true;
}

int CliSession::Copy()
{
    if (!Open()) return ExitTaskFailed;
    if (tasks_->Count() > 0 && !arguments_.Quiet)
        progress_.Print("Finishing " + std::to_string(tasks_->Count()) + " unfinished task(s) of an earlier run first");
    bool made = true;
    // Every task waits in the queue; the queue starts them one after another.
    for (const auto& source : arguments_.Sources)
        made &= tasks_->AddTask(source, arguments_.Destination, StatePaused, NowDateTime(), arguments_.SpeedLimit,
                                arguments_.CopyAttributes, arguments_.CopySecurity, arguments_.CopyStreams);
    const int status = RunList();
    return made ? status : ExitTaskFailed;
}

int CliSession::Resume()
{
    if (!Open()) return ExitTaskFailed;
    if (tasks_->Count() == 0 && !arguments_.Quiet) progress_.Print("Nothing to resume in \"" + restoreDir_ + "\"");
    return RunList();
}

void CliSession::AskAboutExistingFile(TDownloadThread& task) { task.Answer(arguments_.OnExists); }

int CliSession::RunList()
{
    total_ = tasks_->Count();
    for (int poll = 0; Pending() > 0; ++poll) {
        if (StopSignal() != 0) {
            progress_.Break();
            Error("stopped; the unfinished tasks stay in \"" + restoreDir_ + "\" for tarnctl resume");
            return 128 + StopSignal();
        }
        scheduler_->AskWaitingQuestions();
        ReportNewErrors();
        MarkFailures();
        ReportFinished();
        scheduler_->RemoveFinishedTasks();
        scheduler_->QueueStep(QueuePositions());
        if (poll % PollsPerRedraw == 0) {
            for (int i = 0; i < tasks_->Count(); ++i) {
                const uint8_t state = tasks_->Task(i).GetState();
                if (state == StateScanning || state == StateCopying || state == StateError) {
                    progress_.Show(tasks_->Task(i), finished_ + static_cast<int>(failed_.size()) + 1, total_);
                    break;
                }
            }
        }
        std::this_thread::sleep_for(PollInterval);
    }
    progress_.Break();
    return failed_.empty() ? ExitFinished : ExitTaskFailed;
}

std::vector<int> CliSession::QueuePositions() const
{
    std::vector<int> positions;
    for (int i = 0; i < tasks_->Count(); ++i)
        if (!failed_.count(tasks_->Task(i).TaskName())) positions.push_back(i);
    return positions;
}

void CliSession::MarkFailures()
{
    for (int i = 0; i < tasks_->Count(); ++i) {
        TDownloadThread& task = tasks_->Task(i);
        if (failed_.count(task.TaskName()) || task.GetState() != StateError ||
            task.GetErrorCount() <= arguments_.MaxErrors)
            continue;
        task.Stop();
        failed_.insert(task.TaskName());
        Error("\"" + task.GetSource() + "\" failed after more than " + std::to_string(arguments_.MaxErrors) +
              " errors in a row; it stays in \"" + restoreDir_ + "\" for tarnctl resume");
    }
}

int CliSession::Pending() const
{
    int pending = 0;
    for (int i = 0; i < tasks_->Count(); ++i) {
        const TDownloadThread& task = tasks_->Task(i);
        // A finished task whose summary could not be written stays in the list, but is done.
        const bool done = task.GetState() == StateFinished && tasks_->RemovalFailed(i);
        pending += !done && !failed_.count(task.TaskName());
    }
    return pending;
}

void CliSession::ReportFinished()
{
    for (int i = 0; i < tasks_->Count(); ++i) {
        const TDownloadThread& task = tasks_->Task(i);
        if (task.GetState() != StateFinished || !reported_.insert(task.TaskName()).second) continue;
        ++finished_;
        if (arguments_.Quiet) continue;
        progress_.Show(task, finished_ + static_cast<int>(failed_.size()), total_);
        progress_.Print("Copied \"" + task.GetSource() + task.GetCurrentName() + "\" to \"" + task.GetDestination() +
                        "\"");
    }
}

void CliSession::ReportNewErrors()
{
    for (int i = 0; i < tasks_->Count(); ++i) {
        const TDownloadThread& task = tasks_->Task(i);
        int& seen = recordsSeen_[task.TaskName()];
        TMsg record;
        for (; task.GetLogRecord(seen, record); ++seen)
            if (record.Id.rfind("Err", 0) == 0) Error(RenderLogRecord(msgs_, record));
    }
}

}  // namespace tarn
