#pragma once

#include <optional>
#include <string>

namespace tarn {

// A dropped item as a path the engine can open. File managers drop URIs: "file://" ones give
// their local path, and remote ones ("smb://srv/share/...", "sftp://user@srv/...", ...) the path
// below the GVFS FUSE mount ($XDG_RUNTIME_DIR/gvfs/...) where the file manager mounted them, as
// GIO, the file manager's own library, tells it. An absolute path is returned as it is.
// Without a path, nothing is returned and `whyNot` says why in English: a remote location that
// is not mounted (or whose FUSE mount is not running) is to be opened in the file manager
// first; its password, if the URI holds one, is left out of the text.
std::optional<std::string> LocalPathOfUri(const std::string& uri, std::string& whyNot);

}  // namespace tarn
