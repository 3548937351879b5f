#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
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
    bool noFollow = false;           // a symbolic link as the last component fails (ELOOP)
    // Only a regular file opens: the open never waits (a pipe without a writer would block it
    // for good) and anything else fails with ErrorNotRegularFile.
    bool regularOnly = false;
    bool noAtime = false;            // reading leaves the access time alone, where the system lets us
    mode_t mode = 0666;              // permissions of a created file, less the umask
    // When set, `path` lies inside this folder and no symbolic link below it is followed, the
    // last component included (PathBeneath): a folder swapped for a link fails the open.
    std::string beneath;
};

// What the engine needs to know of an open file.
struct FileStatus {
    bool isRegular = false;
    bool isFolder = false;
    bool isLink = false;    // only from PlatformLinkStatus, which does not follow a link
    unsigned mode = 0;      // permission bits with set-id and sticky bits
    int64_t accessed = 0;   // access time, nanoseconds since 1970
    int64_t size = 0;
    int64_t modified = 0;   // modification time, nanoseconds since 1970
    int64_t allocated = 0;  // bytes of storage held; below `size` for a file with holes
    dev_t device = 0;
    ino_t inode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    unsigned type = 0;        // the file type bits of st_mode (S_IFMT)
    dev_t specialDevice = 0;  // the device a device file stands for
};

// With `regularOnly`, `status` (when given) receives what the check found of the open file.
int PlatformOpen(const std::string& path, FileAccess access, CreationMode creation,
                 const FileOpenOptions& options = {}, FileStatus* status = nullptr);
ssize_t PlatformRead(int fd, void* buffer, size_t count);
// Writes all bytes unless an error stops it; returns the count written.
ssize_t PlatformWrite(int fd, const void* buffer, size_t count);
// Writes all bytes at `offset` without moving the position (pwrite); returns the count.
ssize_t PlatformWriteAt(int fd, const void* buffer, size_t count, int64_t offset);
// One copy_file_range from the current position of `in` to that of `out`.
ssize_t PlatformCopyRange(int in, int out, size_t count);
int64_t PlatformSeek(int fd, int origin, int64_t offset);
int64_t PlatformFileSize(int fd);
int PlatformStat(int fd, FileStatus& status);
// The status of what `path` names, a symbolic link followed.
int PlatformStatPath(const std::string& path, FileStatus& status);
// The same without following a symbolic link at the end of `path`.
int PlatformLinkStatus(const std::string& path, FileStatus& status);
int PlatformSetMode(int fd, unsigned mode);
// A buffer for file data; raises std::bad_alloc when the memory cannot be had.
std::unique_ptr<char[]> PlatformAllocateBuffer(size_t count);
// Reads at `offset` without moving the position (pread), until `count` bytes or the end.
ssize_t PlatformReadAt(int fd, void* buffer, size_t count, int64_t offset);
// The first offset at or after `offset` that holds data; `size` when only a hole follows.
int64_t PlatformNextData(int fd, int64_t offset, int64_t size);
// The first offset at or after `offset` where a hole begins; `size` when data runs to the end.
int64_t PlatformNextHole(int fd, int64_t offset, int64_t size);
int PlatformTruncate(int fd, int64_t size);
// Gives `path` the content `bytes`: they are written to a new file beside it, flushed to the
// disk and renamed over it, and the folder is flushed, so that a crash at any moment leaves the
// old content or the new one, never a mix. A symbolic link at `path` is replaced, not followed.
int PlatformReplaceFile(const std::string& path, const void* bytes, size_t count, mode_t mode);
int PlatformClose(int fd);
// Takes a write lock on the whole file, held by this open file until it is closed, without
// waiting: EBUSY when another holds one. Where the file system keeps no locks (ENOLCK, a
// share without a lock service) the file goes unlocked and the call succeeds.
int PlatformLockForWriting(int fd);
int PlatformDataSync(int fd);
// Starts writing a range of the file to its device and returns without waiting. Only a hint:
// where the file system cannot, nothing happens, and the flush that follows reports failures.
void PlatformStartWriteBack(int fd, int64_t offset, int64_t count);
// Waits until a range of the file has been written to its device (not a flush of the device's
// own cache, nor of the file's metadata: no promise of durability). Only a hint as above.
void PlatformFinishWriteBack(int fd, int64_t offset, int64_t count);
// Lets the page cache drop the clean pages of a range of the file. Only a hint.
void PlatformDropCache(int fd, int64_t offset, int64_t count);
int PlatformSyncFileSystem(int fd);

bool PlatformFileExists(const std::string& path);    // exists and is no folder
bool PlatformFolderExists(const std::string& path);  // exists and is a folder
int PlatformDeleteFile(const std::string& path);
int PlatformRemoveFolder(const std::string& path);  // only an empty one
int PlatformMakeFolder(const std::string& path, mode_t mode = 0777);
// The same for a path inside `root`, reached without following a link below it (PathBeneath).
int PlatformDeleteFileBeneath(const std::string& root, const std::string& path);
int PlatformRemoveFolderBeneath(const std::string& root, const std::string& path);
int PlatformMakeFolderBeneath(const std::string& root, const std::string& path);
// PlatformLinkStatus for a path inside `root`, reached without following a link below it.
int PlatformLinkStatusBeneath(const std::string& root, const std::string& path, FileStatus& status);
// An O_PATH descriptor of the file or folder `path` inside `root` itself, reached without
// following a link below `root`; a symbolic link at `path` fails with ErrorLinkInPath.
int PlatformHoldBeneath(const std::string& root, const std::string& path);
// Moves `from` over `to`, both inside `root` and in the same folder, replacing what `to` names.
int PlatformRenameBeneath(const std::string& root, const std::string& from, const std::string& to);
// Makes a symbolic link holding `target`, a pipe, socket or device of `type` (S_IFMT bits) and
// `device`, or another name of the file `existing`, at `path` inside `root`; never replaces
// what is there (EEXIST).
int PlatformMakeLinkBeneath(const std::string& root, const std::string& path, const std::string& target);
int PlatformMakeSpecialBeneath(const std::string& root, const std::string& path, unsigned type, dev_t device);
int PlatformMakeHardLinkBeneath(const std::string& root, const std::string& existing, const std::string& path);
// The target text of the symbolic link `path`; with `root`, reached without following a link
// below it.
int PlatformReadLink(const std::string& path, std::string& target);
int PlatformReadLinkBeneath(const std::string& root, const std::string& path, std::string& target);
// A folder held open (O_PATH) so that calls reach it through its descriptor whatever is renamed
// or swapped meanwhile. The folders above the last component are followed as given; with
// `followLast` false, a symbolic link standing at the last one fails with ErrorLinkInPath.
int PlatformOpenFolder(const std::string& path, bool followLast);
// Puts the open file `from` in the place of `to` (closing what `to` held) and closes `from`.
void PlatformMoveDescriptor(int from, int to);
// The path by which calls that take no descriptor reach an open file or folder itself.
std::string DescriptorPath(int fd);
// Whether `path` lies on a network share or a FUSE file system, where every call is a round trip.
bool PlatformOnRemoteFileSystem(const std::string& path);
// The user whose rights the program's calls have.
uid_t PlatformEffectiveUser();
// The name of the user `uid`, or "uid N" where the system knows no name for it.
std::string PlatformUserName(uid_t uid);

}  // namespace tarn
