#include "core/ProgramLog.h"

#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"

namespace tarn {

void WriteTaskSummary(const TSettingsStorage& settings, const TMsgList& msgs, TDownloadThread& task)
{
    // The worker closes the task's restore files when it ends; only then is its log complete.
    task.WaitFor();
    TaskSummary summary;
    summary.Source = task.GetSource();
    summary.Destination = task.GetDestination();
    summary.Elapsed = task.GetElapsed();
    summary.FileCount = task.GetCount(KindFile);
    summary.TotalSize = task.GetTotalSize();
    summary.LeftOut = task.GetLeftOutCount();
    summary.TaskLogPath = task.RestoreFilePath("log");
    WriteTaskSummary(settings.LogFile(), msgs, summary);
}

}  // namespace tarn
