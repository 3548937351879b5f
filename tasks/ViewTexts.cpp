#include "tasks/ViewTexts.h"

#include <strings.h>

#include <cmath>

#include "core/MessageList.h"
#include "core/Units.h"
#include "engine/DownloadThread.h"

namespace tarn {
namespace {

constexpr double BytesPerMb = 1048576.0;

enum Column { ColState, ColSource, ColDestination, ColFile, ColFiles, ColSize, ColCopied, ColPercent, ColElapsed, ColRemaining, ColSpeed };

}  // namespace

TaskRow MakeTaskRow(const TDownloadThread& task, const TMsgList& msgs)
{
    TaskRow row;
    const uint8_t state = task.GetState();
    std::string name;
    msgs.GetStateName(state, name);
    row.Icon = state;
    const int32_t leftOut = task.GetLeftOutCount();
    if (state == StateFinished && leftOut > 0) name = msgs.FormatMsg("Msg019", {std::to_string(leftOut)});
    row.Cells[ColState] = " " + name;
    row.Cells[ColSource] = task.GetSource();
    row.Cells[ColDestination] = task.GetDestination();
    const std::string current = task.GetCurrentName();
    row.Cells[ColFile] = current.empty() ? std::string() : task.GetCurrentDir() + current;
    row.Cells[ColFiles] = std::to_string(task.GetFileCount());
    const int64_t total = task.GetTotalSize();
    const int64_t copied = task.GetCopiedSize();
    row.Cells[ColSize] = FormatFixed(static_cast<double>(total) / BytesPerMb, 2);
    row.Cells[ColCopied] = FormatFixed(static_cast<double>(copied) / BytesPerMb, 2);
    row.Cells[ColPercent] =
        total > 0 ? std::to_string(static_cast<int64_t>(std::floor(static_cast<double>(copied) / total * 100))) : "0";
    row.Cells[ColElapsed] = FormatClockTime(task.GetElapsed());
    row.Cells[ColRemaining] = FormatClockTime(task.GetRemaining());
    const ScaledValue speed = FormatSpeed(task.GetSpeed(), msgs);
    row.Cells[ColSpeed] = FormatFixed(speed.Value, 2) + " " + speed.Unit;
    return row;
}

QuickInfoRow MakeQuickInfoRow(const TDownloadThread& task, const TMsgList& msgs)
{
    QuickInfoRow row;
    const int64_t total = task.GetTotalSize();
    row.Progress = total > 0 ? static_cast<float>(static_cast<double>(task.GetCopiedSize()) / total) : 0.0f;
    const ScaledValue speed = FormatSpeed(task.GetSpeed(), msgs);
    row.Speed = static_cast<float>(speed.Value);
    row.Unit = speed.Unit;
    row.Text = task.GetSource();
    if (task.GetSourceKind() == SourceFile) row.Text += task.GetCurrentName();
    row.ImageIndex = task.GetState() & 0x7F;
    return row;
}

int LogIcon(const TMsg& record)
{
    return strncasecmp(record.Id.c_str(), "Inf", 3) == 0 ? LogIconInformation : LogIconOther;
}

std::string SpeedLimitLabel(int32_t bytesPerSecond, const TMsgList& msgs)
{
    const ScaledValue value = FormatSpeed(bytesPerSecond, msgs);
    return FormatFixed(value.Value, 1) + " " + value.Unit;
}

}  // namespace tarn
