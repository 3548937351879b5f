#pragma once

#include <QSettings>

#include <string>
#include <vector>

// The new-task dialog's history of destinations, kept in its registry key (FormNewTask) as
// PathsCount and the values Path0, Path1, ...; Path0 is the destination used last.
namespace tarn {

// The PathsCount entries from Path0 on; an absent entry reads as "".
std::vector<std::string> ReadDestinationHistory(const QSettings& key);

// Records that `destination` was used: Path0 = destination, then every entry of `history`, in
// order, that is not the destination in another letter case, as Path1, Path2, ... Every entry
// is written, but PathsCount says at most MaxPathsCount (read from the key, default 5), so the
// oldest ones fall off the list read back. Values beyond the count stay and are ignored.
void WriteDestinationHistory(QSettings& key, const std::string& destination, const std::vector<std::string>& history);

}  // namespace tarn
