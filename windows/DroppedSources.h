#pragma once

#include <string>
#include <vector>

class QMimeData;

namespace tarn {

// What a file manager dropped, as sources for new tasks: local files by their paths, remote
// addresses (smb://, sftp://, ...) by the path of the mount the file manager made for them.
struct DroppedSources {
    std::vector<std::string> Paths;
    // One line for each address that has no path here, saying why.
    std::string Refused;
};

DroppedSources SourcesOfDrop(const QMimeData* data);

}  // namespace tarn
