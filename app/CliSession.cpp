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
#include "tasks/SourceCheck.h"

namespace tarn {
namespace {

// Short polls let the command end as soon as its last task finished.
constexpr auto PollInterval = std::chrono::milliseconds(20);
constexpr int PollsPerRedraw = 15;
// A failed run logs its reason as it ends; the wait lets it be printed.
constexpr auto FailedRunEndWait = std::chrono::seconds(2);

// Waits up to `limit` for the worker to end, in short steps, so that a stop signal ends the
// wait at once: a worker stuck in the kernel must not hold up a stop.
void WaitUnlessStopped(TDownloadThread& task, std::chrono::milliseconds limit)
{
    for (auto waited = std::chrono::milliseconds(0); waited < limit && StopSignal() == 0; waited += PollInterval)
        if (task.WaitFor(PollInterval)) return;
}

}  // namespace

void CliSession::Results::Add(const TDownloadThread& task)
{
    Copied += task.GetCopiedFileCount();
    Skipped += task.GetSkippedCount();
    LeftOut += task.GetLeftOutCount();
    UnsetInfo += task.GetUnsetInfoCount();
    LinksOutside += task.GetLinksOutsideCount();
}

std::string CliSession::Results::Text(int failedTasks) const
{
    const auto count = [](int64_t number, const std::string& one, const std::string& more) {
        return std::to_string(number) + " " + (number == 1 ? one : more);
    };
    std::string text = "Copied " + count(Copied, "file", "files") + ", " + std::to_string(Skipped) +
                       " skipped as existing, " + std::to_string(LeftOut) + " left out";
    if (UnsetInfo > 0)
        text += ", " + count(UnsetInfo, "attribute or security setting", "attribute or security settings") + " not set";
    if (LinksOutside > 0)
        text += ", " + count(LinksOutside, "link points", "links point") + " outside the copied folder";
    if (failedTasks > 0) text += "; " + count(failedTasks, "task", "tasks") + " failed";
    return text;
}

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
    settings_->SetRestoreUpdateInterval(arguments_.SaveInterval);
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

void CliSession::ShowError(const std::string& text)
{
    // A message box's lines, on one line of the terminal.
    std::string line = text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    Error(line);
}

bool CliSession::SourcesCanBeCopied()
{
    // All or nothing: a command that cannot do everything it was asked starts nothing.
    const std::string& destination = arguments_.Destination;
    if (const std::string reason = WhyDestinationCannotBeUsed(destination); !reason.empty()) {
        Error("cannot copy into \"" + destination + "\": " + reason);
        return false;
    }
    bool good = true;
    const std::vector<std::string>& sources = arguments_.Sources;
    for (size_t i = 0; i < sources.size(); ++i) {
        std::string reason = WhySourceCannotBeCopied(sources[i], destination);
        if (reason.empty()) reason = WhyNameIsTaken(sources, i, destination);
        if (reason.empty()) continue;
        Error("cannot copy \"" + sources[i] + "\": " + reason);
        good = false;
    }
    return good;
}

bool CliSession::Open(EarlierTasks earlier)
{
    TaskListViews& views = *this;
    SchedulerHost& host = *this;
    PowerControl& power = *this;
    tasks_ = std::make_unique<TaskList>(*settings_, msgs_, views);
    scheduler_ = std::make_unique<QueueScheduler>(*tasks_, *settings_, msgs_, host, power);
    scheduler_->SetStallLimit(arguments_.StallLimit);
    tasks_->LoadTaskList(earlier);
    // When the folder cannot be had, the list said why.
    return tasks_->IsOpen();
}

int CliSession::Copy()
{
    if (!SourcesCanBeCopied()) return ExitUsage;
    if (!Open(EarlierTasks::Keep)) return ExitTaskFailed;
    if (const int earlier = tasks_->EarlierKeptCount(); earlier > 0 && !arguments_.Quiet)
        progress_.Print(std::to_string(earlier) + " unfinished task(s) of earlier runs wait in \"" + restoreDir_ +
                        "\"; tarnctl resume finishes them");
    bool made = true;
    // Every task waits in the queue; the queue starts them one after another.
    for (const auto& source : arguments_.Sources)
        made &= tasks_->AddTask(source, arguments_.Destination, StatePaused, NowDateTime(), arguments_.SpeedLimit,
                                arguments_.Options);
    const int status = RunList();
    return made ? status : ExitTaskFailed;
}

int CliSession::Resume()
{
    if (!Open(EarlierTasks::Restore)) return ExitTaskFailed;
    if (arguments_.SpeedLimitGiven)
        for (int i = 0; i < tasks_->Count(); ++i) tasks_->Task(i).SetSpeedLimit(arguments_.SpeedLimit);
    if (tasks_->Count() == 0 && tasks_->LoadProblems() == 0 && !arguments_.Quiet)
        progress_.Print("Nothing to resume in \"" + restoreDir_ + "\"");
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
        scheduler_->CheckForStalls();
        ReportNewErrors();
        MarkFailures();
        ReportFinished();
        scheduler_->RemoveFinishedTasks();
        scheduler_->QueueStep(QueuePositions());
        if (poll % PollsPerRedraw == 0) {
            for (int i = 0; i < tasks_->Count(); ++i) {
                if (IsActiveState(tasks_->Task(i).GetState())) {
                    progress_.Show(tasks_->Task(i), finished_ + static_cast<int>(failed_.size()) + 1, total_);
                    break;
                }
            }
        }
        std::this_thread::sleep_for(PollInterval);
    }
    progress_.Break();
    // What the failed tasks did before they stopped counts too; they stay for a resume.
    for (int i = 0; i < tasks_->Count(); ++i)
        if (failed_.count(tasks_->Task(i).TaskName())) done_.Add(tasks_->Task(i));
    if (total_ > 0 && !arguments_.Quiet) progress_.Print(done_.Text(static_cast<int>(failed_.size())));
    // Tasks that could not be restored, or a damaged TaskList, were reported as the list loaded.
    const bool everything = failed_.empty() && done_.LeftOut == 0 && done_.UnsetInfo == 0;
    return everything && tasks_->LoadProblems() == 0 ? ExitFinished : ExitTaskFailed;
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
        if (failed_.count(task.TaskName())) continue;
        if (task.HasRunFailed()) {
            task.Stop();
            WaitUnlessStopped(task, FailedRunEndWait);
            ReportNewErrors();
            failed_.insert(task.TaskName());
            Error("\"" + task.GetSourceAsGiven() + "\" failed; it stays in \"" + restoreDir_ + "\" for tarnctl resume");
            continue;
        }
        if (task.GetState() != StateError || task.GetErrorCount() <= arguments_.MaxErrors) continue;
        task.Stop();
        failed_.insert(task.TaskName());
        Error("\"" + task.GetSourceAsGiven() + "\" failed after more than " + std::to_string(arguments_.MaxErrors) +
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
        done_.Add(task);
        const std::string what = "\"" + task.GetSourceAsGiven() + "\" to \"" + task.GetDestination() + "\"";
        const int32_t leftOut = task.GetLeftOutCount();
        const int32_t unset = task.GetUnsetInfoCount();
        if (leftOut > 0 || unset > 0) {
            std::string missing;
            if (leftOut > 0) missing = " without " + std::to_string(leftOut) + " item(s) that could not be copied";
            if (unset > 0)
                missing += std::string(leftOut > 0 ? ", and " : ", but ") + std::to_string(unset) +
                           " attribute or security setting(s) could not be set";
            Error("copied " + what + missing + "; the reasons are above and in \"" + settings_->LogFile() + "\"");
            continue;
        }
        if (arguments_.Quiet) continue;
        progress_.Show(task, finished_ + static_cast<int>(failed_.size()), total_);
        progress_.Print("Copied " + what);
    }
}

void CliSession::ReportNewErrors()
{
    for (int i = 0; i < tasks_->Count(); ++i) {
        const TDownloadThread& task = tasks_->Task(i);
        // A resumed task's earlier errors were reported by the run that met them.
        int& seen = recordsSeen_.try_emplace(task.TaskName(), task.GetEarlierRecordCount()).first->second;
        TMsg record;
        for (; task.GetLogRecord(seen, record); ++seen)
            if (record.Id.rfind("Err", 0) == 0) Error(RenderLogRecord(msgs_, record));
    }
}

}  // namespace tarn
