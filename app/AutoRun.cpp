#include "app/AutoRun.h"

#include <cerrno>

#include "core/SettingsStorage.h"
#include "engine/GlobalUtils.h"
#include "engine/RestoreFiles.h"
#include "engine/TaskTypes.h"
#include "platform/OsError.h"

namespace tarn {

bool AutoRunCheck(const QStringList& parameters, const TSettingsStorage& settings)
{
    if (parameters.size() != 1 || parameters.front().compare(QStringLiteral("AutoRun"), Qt::CaseInsensitive) != 0)
        return true;
    return settings.AutoRun() && HasUnfinishedTask(settings);
}

bool HasUnfinishedTask(const TSettingsStorage& settings)
{
    TaskListContents list;
    try {
        list = ReadTaskListFile(settings.RestorePath() + "TaskList");
    } catch (const OsError& error) {
        if (error.Code() == ENOENT) return false;
        throw;
    } catch (const DataFileError&) {
        return false;
    }
    // The header: two version bytes and the count.
    if (list.Size < 6) return false;
    for (const std::string& name : list.Names) {
        std::string var;
        try {
            var = ReadFileBytes(settings.RestorePath() + name + ".var");
        } catch (const std::exception&) {
            return false;
        }
        // The state is the third byte.
        if (var.size() < 3) return false;
        if (static_cast<uint8_t>(var[2]) != StateFinished) return true;
    }
    return false;
}

}  // namespace tarn
