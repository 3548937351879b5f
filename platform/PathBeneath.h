#pragma once

#include <sys/types.h>

#include <string>

// A path inside a folder the caller trusts (the destination the user chose), reached without
// following any symbolic link below that folder. The folders below it are resolved in one
// openat2 call that refuses every link (RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS); where the kernel
// lacks that call, and whenever it meets a link, each folder is opened relative to the one above
// with O_NOFOLLOW instead, which tells a folder swapped for a link (to /etc, say) apart: it fails
// with ErrorLinkInPath instead of leading outside. The last folder stays open while the object
// lives: calls through Path() reach that very folder, whatever is renamed or swapped meanwhile.
// A root given as a held folder's DescriptorPath ("/proc/self/fd/N/") is used through N itself.
namespace tarn {

// Opens the folder `name` inside `folder` (O_PATH) without following a link there: a link
// fails with ErrorLinkInPath.
int OpenFolderNoFollow(int folder, const std::string& name);

// Opens `path`, which must lie below `root`, with the open(2) `flags` (`mode` for a file it
// creates), following no link below `root`, the last component included: a link standing for a
// folder fails with ErrorLinkInPath, one at the end as O_NOFOLLOW fails. Usually one call.
int OpenBeneath(const std::string& root, const std::string& path, int flags, mode_t mode);

class PathBeneath {
public:
    // `path` must begin with `root`; `root` itself is followed as the user gave it.
    PathBeneath(const std::string& root, const std::string& path);
    ~PathBeneath();
    PathBeneath(const PathBeneath&) = delete;
    PathBeneath& operator=(const PathBeneath&) = delete;

    bool Valid() const { return folder_ >= 0; }
    int Error() const { return error_; }  // errno, or ErrorLinkInPath, when not Valid()
    int Folder() const { return folder_; }
    // The last component, "." for the root itself. It is not resolved: callers use the calls
    // that do not follow a link there.
    const std::string& Name() const { return name_; }
    // A path for calls that take no folder descriptor: "/proc/self/fd/N/NAME".
    std::string Path() const;

private:
    int folder_ = -1;
    bool owned_ = false;  // false: the caller's held root
    int error_ = 0;
    std::string name_;
};

}  // namespace tarn
