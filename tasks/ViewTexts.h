#pragma once

#include <cstdint>
#include <string>

#include "engine/TaskTypes.h"
#include "tasks/ViewRefresh.h"

// The texts the views show for a task, made from its worker's values in the current language
// and the user's locale.
namespace tarn {

class TDownloadThread;
class TMsgList;

TaskRow MakeTaskRow(const TDownloadThread& task, const TMsgList& msgs);
QuickInfoRow MakeQuickInfoRow(const TDownloadThread& task, const TMsgList& msgs);
// The icon of a log record: information for ids beginning "Inf" (any letter case), else other.
int LogIcon(const TMsg& record);
// The label under the speed-limit track bar: the limit with one decimal and its unit.
std::string SpeedLimitLabel(int32_t bytesPerSecond, const TMsgList& msgs);

}  // namespace tarn
