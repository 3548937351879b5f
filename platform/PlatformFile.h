#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

// Thin POSIX file calls with the stand-ins the engine needs: creation modes, an exclusive or
// shared advisory lock for files that must not be shared, write-through and the sequential
// hint. Each returns -1 and leaves errno set on failure; each passes the fault seam first.
namespace tarn {

enum class FileAccess { Read, Write, ReadWrite };

// The creation modes the engine uses, numbered as the data files' writers know them.
enum class CreationMode {
    CreateNew = 1,         // fails when the file exists
    OpenExisting = 3,      // fails when it does not
    OpenAlways = 4,        // the existing file, or a new one
    TruncateExisting = 5,  // the existing file, emptied
};

enum class FileLock { None, Shared, Exclusive };

struct FileOpenOptions {
    FileLock lock = FileLock::None;  // taken without waiting; EBUSY when another holder has it
    bool writeThrough = false;       // every write reaches the disk before it returns
    bool sequential = false;         // read-ahead hint for a front-to-back pass
    mode_t mode = 0666;              // permissions of a created file, less the umask
};

int PlatformOpen(const std::string& path, FileAccess access, CreationMode creation,
                 const FileOpenOptions& options = {});
ssize_t PlatformRead(int fd, void* buffer, size_t count);
// Writes all bytes unless an error stops it; returns the count written.
ssize_t PlatformWrite(int fd, const void* buffer, size_t count);
// Writes all bytes at `offset` without moving the position (pwrite); returns the count.
ssize_t PlatformWriteAt(int fd, const void* buffer, size_t count, int64_t offset);
// One copy_file_range from the current position of `in` to that of `out`.
ssize_t PlatformCopyRange(int in, int out, size_t count);
int64_t PlatformSeek(int fd, int origin, int64_t offset);
int64_t PlatformFileSize(int fd);
int PlatformClose(int fd);
int PlatformDataSync(int fd);
// Starts writing a range of the file to its device and returns without waiting. Only a hint:
// where the file system cannot, nothing happens, and the flush that follows reports failures.
void PlatformStartWriteBack(int fd, int64_t offset, int64_t count);
int PlatformSyncFileSystem(int fd);

bool PlatformFileExists(const std::string& path);    // exists and is no folder
bool PlatformFolderExists(const std::string& path);  // exists and is a folder
int PlatformDeleteFile(const std::string& path);
int PlatformRemoveFolder(const std::string& path);  // only an empty one
int PlatformMakeFolder(const std::string& path);

}  // namespace tarn
