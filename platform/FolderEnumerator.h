#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace tarn {

// One entry of a folder, with a symbolic link followed to what it names.
struct FolderEntry {
    std::string name;
    bool isFolder = false;
    bool isRegular = false;  // a plain file; pipes, sockets and devices are neither
    int64_t size = 0;
    dev_t device = 0;
    ino_t inode = 0;
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

    // False with errno set when the folder cannot be opened.
    bool Open(const std::string& folder);
    // False at the end (errno ErrorNoMoreFiles) or on a failure (another errno).
    bool Next(FolderEntry& entry);
    void Close();

private:
    DIR* dir_ = nullptr;
    std::string folder_;
};

// Examines one path the way the enumerator examines an entry. False with errno on failure.
bool StatPath(const std::string& path, FolderEntry& entry);

}  // namespace tarn
