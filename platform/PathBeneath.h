#pragma once

#include <string>

// A path inside a folder the caller trusts (the destination the user chose), reached without
// following any symbolic link below that folder. Each folder below it is opened relative to the
// one above with O_NOFOLLOW, so a folder that was swapped for a link (to /etc, say) fails with
// ErrorLinkInPath instead of leading outside. The last folder stays open while the object lives:
// calls through Path() reach that very folder, whatever is renamed or swapped meanwhile.
namespace tarn {

// Opens the folder `name` inside `folder` (O_PATH) without following a link there: a link
// fails with ErrorLinkInPath.
int OpenFolderNoFollow(int folder, const std::string& name);

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
    int error_ = 0;
    std::string name_;
};

}  // namespace tarn
