#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// One line of /proc/self/mountinfo, with the kernel's octal escapes decoded.
struct MountEntry {
    std::string MountPoint;      // "/mnt/data"
    std::string FileSystemType;  // "ext4", "cifs", "nfs4", "fuse.sshfs"
    std::string MountSource;     // "/dev/sda1", "//srv/share", "srv:/export", "user@srv:path"
};

// The mounts of this process, as the kernel lists them.
class MountTable {
public:
    // Lines that do not have the mountinfo layout are skipped.
    static MountTable Parse(std::string_view text);
    // The mounts now; an empty table when /proc/self/mountinfo cannot be read.
    static MountTable Current();

    // The mount that holds `path`: the longest mount point that equals the path or is one of its
    // leading folders (so /mnt/a holds /mnt/a/x but not /mnt/ab). When the same point is mounted
    // more than once, the last mount listed is the one on top. The path is taken as written:
    // nothing is resolved, so a relative path lies under no mount (nullptr).
    const MountEntry* Find(const std::string& path) const;

    const std::vector<MountEntry>& Entries() const { return entries_; }

private:
    std::vector<MountEntry> entries_;
};

}  // namespace tarn
