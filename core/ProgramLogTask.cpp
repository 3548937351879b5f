#include "core/ProgramLog.h"

#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"

namespace tarn {

void WriteTaskSummary(const TSettingsStorage& settings, const TMsgList& msgs, TDownloadThread& task)
{
    // Once the worker has ended its log is complete.
    task.WaitFor();
    TaskSummary summary;
    summary.Source = task.GetSource();
    summary.Destination = task.GetDestination();
    summary.Elapsed = task.GetElapsed();
    summary.FileCount = task.GetFileCount();
    summary.TotalSize = task.GetTotalSize();
    summary.LeftOut = task.GetLeftOutCount();
    // The records the task holds are those of its log file without the engine's own, whose
    // reading back would cost several times the file's size for a task of many files.
    WriteTaskSummary(settings.LogFile(), msgs, summary,
                     [&task](int index, TMsg& record) { return task.GetLogRecord(index, record); });
}

}  // namespace tarn
