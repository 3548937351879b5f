#include "app/CopyCommand.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/StopSignals.h"
#include "core/ProgramLog.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "platform/DateTime.h"
#include "tasks/TaskNames.h"

namespace tarn {
namespace {

constexpr auto PollInterval = std::chrono::milliseconds(100);
constexpr int PollsPerRedraw = 3;

void DeleteRestoreFiles(const TDownloadThread& task)
{
    for (const char* extension : {"var", "con", "log"}) PlatformDeleteFile(task.RestoreFilePath(extension));
}

}  // namespace

std::string DefaultCliRestoreDir()
{
    TSettingsStorage settings;
    settings.SetDefaults();
    return ExtractFilePath(ExcludeTrailingDelimiter(settings.RestorePath())) + "Restore-cli/";
}

CopyCommand::CopyCommand(CopyArguments arguments)
    : arguments_(std::move(arguments)), progress_(stderr, !arguments_.Quiet)
{
    restoreDir_ = IncludeTrailingDelimiter(arguments_.RestoreDir.empty() ? DefaultCliRestoreDir() : arguments_.RestoreDir);
}

void CopyCommand::Error(const std::string& text) { progress_.Print("tarnctl: " + text); }

int CopyCommand::Run()
{
    if (!ForceDirectories(restoreDir_)) {
        Error("cannot create the restore folder \"" + restoreDir_ + "\": " + SystemErrorText(errno));
        return ExitTaskFailed;
    }
    const int count = static_cast<int>(arguments_.Sources.size());
    bool failed = false;
    for (int i = 0; i < count; ++i) {
        const std::string& source = arguments_.Sources[static_cast<size_t>(i)];
        std::unique_ptr<TDownloadThread> task;
        try {
            task = std::make_unique<TDownloadThread>(
                NewTaskName(restoreDir_, nullptr), restoreDir_, source, arguments_.Destination, StateCopying,
                NowDateTime(), arguments_.DelayOnError, 15000, arguments_.BufferSize, 12500000, arguments_.SpeedLimit,
                arguments_.CopyAttributes, arguments_.CopySecurity, arguments_.CopyStreams);
        } catch (const std::exception& error) {
            Error("cannot make the task for \"" + source + "\": " + error.what());
            failed = true;
            continue;
        }
        const Outcome outcome = Watch(*task, i + 1, count);
        task->Stop();
        task->WaitFor();
        if (outcome == Outcome::Stopped) {
            Error("stopped; the restore files of the unfinished task stay in \"" + restoreDir_ + "\"");
            return 128 + StopSignal();
        }
        if (outcome == Outcome::Finished) {
            DeleteRestoreFiles(*task);
            if (!arguments_.Quiet) progress_.Print("Copied \"" + source + "\" to \"" + task->GetDestination() + "\"");
        } else {
            failed = true;
            Error("\"" + source + "\" failed after more than " + std::to_string(arguments_.MaxErrors) +
                  " errors in a row; its restore files stay in \"" + restoreDir_ + "\"");
        }
    }
    return failed ? ExitTaskFailed : ExitFinished;
}

CopyCommand::Outcome CopyCommand::Watch(TDownloadThread& task, int number, int count)
{
    int shown = 0;
    for (int poll = 0;; ++poll) {
        if (StopSignal() != 0) {
            progress_.Break();
            return Outcome::Stopped;
        }
        // The command line answers every question about an existing file from its policy.
        if (task.IsWaitingForAnswer()) task.Answer(arguments_.OnExists);
        ReportNewErrors(task, shown);
        const uint8_t state = task.GetState();
        if (state == StateFinished) {
            progress_.Show(task, number, count);
            progress_.Break();
            return Outcome::Finished;
        }
        if (state == StateError && task.GetErrorCount() > arguments_.MaxErrors) {
            progress_.Break();
            return Outcome::Failed;
        }
        if (poll % PollsPerRedraw == 0) progress_.Show(task, number, count);
        std::this_thread::sleep_for(PollInterval);
    }
}

void CopyCommand::ReportNewErrors(const TDownloadThread& task, int& shown)
{
    const int high = task.GetLogHigh();
    for (; shown <= high; ++shown) {
        TMsg record;
        if (!task.GetLogRecord(shown, record) || record.Id.rfind("Err", 0) != 0) continue;
        Error(RenderLogRecord(msgs_, record));
    }
}

}  // namespace tarn
