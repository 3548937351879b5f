#pragma once

#include <QStringList>

namespace tarn {

class TSettingsStorage;

// Whether a start goes on. With exactly one parameter, "AutoRun" in any letter case (the log-on
// start), only when the setting AutoRun allows it and an unfinished task waits; any other start
// goes on.
bool AutoRunCheck(const QStringList& parameters, const TSettingsStorage& settings);

// TaskList in the restore folder names a task whose state is not Finished. A task whose state
// cannot be read ends the search with false; a TaskList that exists but cannot be read raises
// OsError.
bool HasUnfinishedTask(const TSettingsStorage& settings);

}  // namespace tarn
