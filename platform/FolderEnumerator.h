#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace tarn {

// One entry of a folder, a symbolic link followed to what it names unless links are kept.
struct FolderEntry {
    std::string name;
    bool isFolder = false;
    bool isRegular = false;  // a plain file; pipes, sockets, devices and kept links are neither
    bool isLink = false;     // a symbolic link, not followed
    int64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
    nlink_t links = 0;  // names of the file
    int statError = 0;  // not 0 when the entry is listed but cannot be examined (a dangling link)
};

// Walks the entries of one folder, "." and ".." left out, in the order the file system
// returns them. Not copyable: it owns the open folder stream.
class FolderEnumerator {
public:
    FolderEnumerator() = default;
    FolderEnumerator(const FolderEnumerator&) = delete;
    FolderEnumerator& operator=(const FolderEnumerator&) = delete;
    ~FolderEnumerator();

    // False with errno set when the folder cannot be opened. With `followLinks` false a link
    // among the entries is reported as a link.
    bool Open(const std::string& folder, bool followLinks = true);
    // False at the end (errno ErrorNoMoreFiles) or on a failure (another errno).
    bool Next(FolderEntry& entry);
    void Close();

private:
    DIR* dir_ = nullptr;
    std::string folder_;
    bool followLinks_ = true;
};

// Examines one path the way the enumerator examines an entry. False with errno on failure.
bool StatPath(const std::string& path, FolderEntry& entry);

}  // namespace tarn
