#include "tasks/DestinationHistory.h"

#include <QString>

#include <algorithm>

#include "core/Registry.h"
#include "core/RegistryLayout.h"

namespace tarn {
namespace {

// A hand-edited count must not make the dialog read an endless list.
constexpr int32_t MostEntriesRead = 1000;

bool SamePathIgnoringCase(const std::string& a, const std::string& b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

std::vector<std::string> ReadDestinationHistory(const QSettings& key)
{
    const int32_t count =
        std::clamp(ReadRegInteger(key, regvalue::PathsCount, DefaultPathsCount), int32_t{0}, MostEntriesRead);
    std::vector<std::string> history;
    for (int32_t i = 0; i < count; ++i) history.push_back(ReadRegString(key, PathValueName(i), ""));
    return history;
}

void WriteDestinationHistory(QSettings& key, const std::string& destination, const std::vector<std::string>& history)
{
    WriteRegString(key, PathValueName(0), destination);
    int32_t written = 1;
    for (const auto& entry : history) {
        if (SamePathIgnoringCase(entry, destination)) continue;
        WriteRegString(key, PathValueName(written), entry);
        ++written;
    }
    const int32_t maxCount = ReadRegInteger(key, regvalue::MaxPathsCount, DefaultMaxPathsCount);
    WriteRegInteger(key, regvalue::PathsCount, std::max(int32_t{0}, std::min(written, maxCount)));
}

}  // namespace tarn
