#include "platform/PlatformFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/OsError.h"
#include "platform/PathBeneath.h"

namespace tarn {
namespace {

int Fail(int error)
{
    errno = error;
    return -1;
}

int OpenFlags(FileAccess access, CreationMode creation, const FileOpenOptions& options)
{
    int flags = O_CLOEXEC;
    switch (access) {
    case FileAccess::Read: flags |= O_RDONLY; break;
    case FileAccess::Write: flags |= O_WRONLY; break;
    case FileAccess::ReadWrite: flags |= O_RDWR; break;
    }
    switch (creation) {
    case CreationMode::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case CreationMode::OpenExisting: break;
    case CreationMode::OpenAlways: flags |= O_CREAT; break;
    case CreationMode::TruncateExisting: flags |= O_TRUNC; break;
    }
    if (options.writeThrough) flags |= O_DSYNC;
    if (options.noFollow) flags |= O_NOFOLLOW;
    if (options.noAtime) flags |= O_NOATIME;
    if (options.regularOnly) flags |= O_NONBLOCK;
    return flags;
}

}  // namespace

namespace {

void FillStatus(const struct stat& st, FileStatus& status)
{
    status.isRegular = S_ISREG(st.st_mode);
    status.isFolder = S_ISDIR(st.st_mode);
    status.isLink = S_ISLNK(st.st_mode);
    status.mode = st.st_mode & 07777;
    status.accessed = static_cast<int64_t>(st.st_atim.tv_sec) * 1000000000 + st.st_atim.tv_nsec;
    status.size = st.st_size;
    status.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    status.allocated = static_cast<int64_t>(st.st_blocks) * 512;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    status.owner = st.st_uid;
    status.group = st.st_gid;
    status.type = st.st_mode & S_IFMT;
    status.specialDevice = st.st_rdev;
}

// readlinkat into a buffer that grows until the whole target fits.
int ReadLinkAt(int folder, const char* name, std::string& target)
{
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(folder, name, buffer.data(), buffer.size());
        if (length < 0) return -1;
        if (static_cast<size_t>(length) < buffer.size()) {
            target.assign(buffer.data(), static_cast<size_t>(length));
            return 0;
        }
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace

int PlatformOpen(const std::string& path, FileAccess access, CreationMode creation,
                 const FileOpenOptions& options, FileStatus* status)
{
    if (const int fault = TakeFault(FaultOp::Open, path); fault >= 0) return Fail(fault);
    if (access != FileAccess::Read || creation != CreationMode::OpenExisting)
        if (const int fault = TakeFault(FaultOp::Create, path); fault >= 0) return Fail(fault);
    const auto openWith = [&](int flags) {
        return options.beneath.empty() ? ::open(path.c_str(), flags, options.mode)
                                       : OpenBeneath(options.beneath, path, flags, options.mode);
    };
    const int flags = OpenFlags(access, creation, options);
    int fd = openWith(flags);
    // Only the owner of a file may keep its access time; anyone else reads it the plain way.
    if (fd < 0 && errno == EPERM && options.noAtime) fd = openWith(flags & ~O_NOATIME);
    if (fd < 0) return -1;
    if (options.regularOnly) {
        struct stat st;
        const bool examined = ::fstat(fd, &st) == 0;
        if (!examined || !S_ISREG(st.st_mode)) {
            const int error = !examined ? errno : S_ISDIR(st.st_mode) ? EISDIR : ErrorNotRegularFile;
            ::close(fd);
            return Fail(error);
        }
        // The flag stays: reads and writes of a regular file do not look at it.
        if (status) FillStatus(st, *status);
    }
    if (options.lock != FileLock::None) {
        const int how = (options.lock == FileLock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (::flock(fd, how) != 0) {
            const int error = errno == EWOULDBLOCK ? EBUSY : errno;
            ::close(fd);
            // A file this call created and could not lock is someone else's race; leave it.
            return Fail(error);
        }
    }
    if (options.sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return fd;
}

namespace {

// What a read fault gives in place of the bytes: nothing, zeros for the count asked (the
// position moving on as if they were read), or an error.
ssize_t FaultyRead(int fd, int fault, void* buffer, size_t count, bool movePosition)
{
    if (fault == 0) return 0;
    if (fault != FaultZeroData) return Fail(fault);
    if (buffer) std::memset(buffer, 0, count);
    if (movePosition) ::lseek(fd, static_cast<off_t>(count), SEEK_CUR);
    return static_cast<ssize_t>(count);
}

}  // namespace

ssize_t PlatformRead(int fd, void* buffer, size_t count)
{
    if (const int fault = TakeFault(FaultOp::Read, fd); fault >= 0) return FaultyRead(fd, fault, buffer, count, true);
    ssize_t n;
    do {
        n = ::read(fd, buffer, count);
    } while (n < 0 && errno == EINTR);
    return n;
}

namespace {

// Writes until every byte is out or an error stops it; `offset` -1 writes at the position.
ssize_t WriteAll(int fd, const void* buffer, size_t count, int64_t offset)
{
    if (const int fault = TakeFault(FaultOp::Write, fd); fault >= 0) return Fail(fault);
    const char* bytes = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = offset < 0 ? ::write(fd, bytes + done, count - done)
                                     : ::pwrite(fd, bytes + done, count - done,
                                                static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) return Fail(EIO);
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

ssize_t PlatformWrite(int fd, const void* buffer, size_t count) { return WriteAll(fd, buffer, count, -1); }

ssize_t PlatformWriteAt(int fd, const void* buffer, size_t count, int64_t offset)
{
    return WriteAll(fd, buffer, count, offset);
}

ssize_t PlatformCopyRange(int in, int out, size_t count)
{
    if (const int fault = TakeFault(FaultOp::Read, in); fault >= 0) {
        if (fault != FaultZeroData) return FaultyRead(in, fault, nullptr, count, false);
        const std::string zeros(count, '\0');
        ::lseek(in, static_cast<off_t>(count), SEEK_CUR);
        return WriteAll(out, zeros.data(), count, -1);
    }
    if (const int fault = TakeFault(FaultOp::Write, out); fault >= 0) return Fail(fault);
    ssize_t n;
    do {
        n = ::copy_file_range(in, nullptr, out, nullptr, count, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

int64_t PlatformSeek(int fd, int origin, int64_t offset)
{
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    return ::lseek(fd, offset, whence);
}

int64_t PlatformFileSize(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    return st.st_size;
}

std::unique_ptr<char[]> PlatformAllocateBuffer(size_t count)
{
    if (TakeFault(FaultOp::Allocate, std::string()) >= 0) throw std::bad_alloc();
    return std::make_unique<char[]>(count);
}


int PlatformStat(int fd, FileStatus& status)
{
    struct stat st;
    if (::fstat(fd, &st) != 0) return -1;
    FillStatus(st, status);
    return 0;
}

int PlatformStatPath(const std::string& path, FileStatus& status)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    FillStatus(st, status);
    return 0;
}

int PlatformLinkStatus(const std::string& path, FileStatus& status)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return -1;
    FillStatus(st, status);
    return 0;
}

int PlatformSetMode(int fd, unsigned mode) { return ::fchmod(fd, static_cast<mode_t>(mode)); }

ssize_t PlatformReadAt(int fd, void* buffer, size_t count, int64_t offset)
{
    if (const int fault = TakeFault(FaultOp::Read, fd); fault >= 0) return FaultyRead(fd, fault, buffer, count, false);
    char* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, bytes + done, count - done, static_cast<off_t>(offset + static_cast<int64_t>(done)));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int64_t PlatformNextData(int fd, int64_t offset, int64_t size)
{
    const off_t data = ::lseek(fd, offset, SEEK_DATA);
    if (data >= 0) return data;
    // ENXIO: nothing but a hole up to the end. A file system without hole support reports
    // EINVAL; its data then simply goes on.
    if (errno == ENXIO) return size;
    if (errno == EINVAL || errno == EOPNOTSUPP) return offset;
    return -1;
}

int64_t PlatformNextHole(int fd, int64_t offset, int64_t size)
{
    const off_t hole = ::lseek(fd, offset, SEEK_HOLE);
    if (hole >= 0) return std::min<int64_t>(hole, size);
    if (errno == ENXIO || errno == EINVAL || errno == EOPNOTSUPP) return size;
    return -1;
}

int PlatformTruncate(int fd, int64_t size)
{
    if (const int fault = TakeFault(FaultOp::Write, fd); fault >= 0) return Fail(fault);
    return ::ftruncate(fd, size);
}

int PlatformReplaceFile(const std::string& path, const void* bytes, size_t count, mode_t mode)
{
    const std::string temporary = path + ".new";
    // A new file left by a crash is ours to drop; O_EXCL then never follows a planted link.
    ::unlink(temporary.c_str());
    FileOpenOptions options;
    options.mode = mode;
    options.noFollow = true;
    const int fd = PlatformOpen(temporary, FileAccess::Write, CreationMode::CreateNew, options);
    if (fd < 0) return -1;
    bool written = WriteAll(fd, bytes, count, 0) == static_cast<ssize_t>(count) && ::fdatasync(fd) == 0;
    int error = written ? 0 : errno;
    if (PlatformClose(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return Fail(error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.c_str());
        return Fail(renameError);
    }
    // The rename itself reaches the disk only with its folder.
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return 0;
}

int PlatformClose(int fd)
{
    const int fault = TakeFault(FaultOp::Close, fd);
    // The descriptor is released even when close reports an error; never retry it.
    const int result = ::close(fd);
    if (fault >= 0) return Fail(fault);
    return result;
}

int PlatformDataSync(int fd)
{
    if (const int fault = TakeFault(FaultOp::Sync, fd); fault >= 0) return Fail(fault);
    return ::fdatasync(fd);
}

void PlatformStartWriteBack(int fd, int64_t offset, int64_t count)
{
    ::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WRITE);
}

void PlatformFinishWriteBack(int fd, int64_t offset, int64_t count)
{
    ::sync_file_range(fd, offset, count, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
}

void PlatformDropCache(int fd, int64_t offset, int64_t count) { ::posix_fadvise(fd, offset, count, POSIX_FADV_DONTNEED); }

int PlatformSyncFileSystem(int fd)
{
    if (const int fault = TakeFault(FaultOp::Sync, fd); fault >= 0) return Fail(fault);
    return ::syncfs(fd);
}

bool PlatformFileExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PlatformFolderExists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int PlatformDeleteFile(const std::string& path) { return ::unlink(path.c_str()); }

int PlatformRemoveFolder(const std::string& path) { return ::rmdir(path.c_str()); }

int PlatformMakeFolder(const std::string& path, mode_t mode)
{
    if (const int fault = TakeFault(FaultOp::Open, path); fault >= 0) return Fail(fault);
    if (const int fault = TakeFault(FaultOp::Create, path); fault >= 0) return Fail(fault);
    return ::mkdir(path.c_str(), mode);
}

int PlatformDeleteFileBeneath(const std::string& root, const std::string& path)
{
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    return ::unlinkat(beneath.Folder(), beneath.Name().c_str(), 0);
}

int PlatformRemoveFolderBeneath(const std::string& root, const std::string& path)
{
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    return ::unlinkat(beneath.Folder(), beneath.Name().c_str(), AT_REMOVEDIR);
}

int PlatformMakeFolderBeneath(const std::string& root, const std::string& path)
{
    if (const int fault = TakeFault(FaultOp::Open, path); fault >= 0) return Fail(fault);
    if (const int fault = TakeFault(FaultOp::Create, path); fault >= 0) return Fail(fault);
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    return ::mkdirat(beneath.Folder(), beneath.Name().c_str(), 0777);
}

int PlatformLinkStatusBeneath(const std::string& root, const std::string& path, FileStatus& status)
{
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    struct stat st;
    if (::fstatat(beneath.Folder(), beneath.Name().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    FillStatus(st, status);
    return 0;
}

int PlatformHoldBeneath(const std::string& root, const std::string& path)
{
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    const int fd = ::openat(beneath.Folder(), beneath.Name().c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    const bool examined = ::fstat(fd, &st) == 0;
    if (!examined || S_ISLNK(st.st_mode)) {
        const int error = examined ? ErrorLinkInPath : errno;
        ::close(fd);
        return Fail(error);
    }
    return fd;
}

int PlatformRenameBeneath(const std::string& root, const std::string& from, const std::string& to)
{
    const PathBeneath source(root, from);
    if (!source.Valid()) return Fail(source.Error());
    const PathBeneath target(root, to);
    if (!target.Valid()) return Fail(target.Error());
    return ::renameat(source.Folder(), source.Name().c_str(), target.Folder(), target.Name().c_str());
}

int PlatformMakeLinkBeneath(const std::string& root, const std::string& path, const std::string& target)
{
    if (const int fault = TakeFault(FaultOp::Create, path); fault >= 0) return Fail(fault);
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    return ::symlinkat(target.c_str(), beneath.Folder(), beneath.Name().c_str());
}

int PlatformMakeSpecialBeneath(const std::string& root, const std::string& path, unsigned type, dev_t device)
{
    if (const int fault = TakeFault(FaultOp::Create, path); fault >= 0) return Fail(fault);
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    // Made for the owner alone; its permissions are the source's only with the security.
    return ::mknodat(beneath.Folder(), beneath.Name().c_str(), (type & S_IFMT) | 0600, device);
}

int PlatformMakeHardLinkBeneath(const std::string& root, const std::string& existing, const std::string& path)
{
    if (const int fault = TakeFault(FaultOp::Create, path); fault >= 0) return Fail(fault);
    const PathBeneath from(root, existing);
    if (!from.Valid()) return Fail(from.Error());
    const PathBeneath to(root, path);
    if (!to.Valid()) return Fail(to.Error());
    // Without AT_SYMLINK_FOLLOW: a link put at `existing` meanwhile is linked as a link, never
    // the file it names.
    return ::linkat(from.Folder(), from.Name().c_str(), to.Folder(), to.Name().c_str(), 0);
}

int PlatformReadLink(const std::string& path, std::string& target) { return ReadLinkAt(AT_FDCWD, path.c_str(), target); }

int PlatformReadLinkBeneath(const std::string& root, const std::string& path, std::string& target)
{
    const PathBeneath beneath(root, path);
    if (!beneath.Valid()) return Fail(beneath.Error());
    return ReadLinkAt(beneath.Folder(), beneath.Name().c_str(), target);
}

int PlatformOpenFolder(const std::string& path, bool followLast)
{
    if (const int fault = TakeFault(FaultOp::Open, path); fault >= 0) return Fail(fault);
    const size_t end = path.find_last_not_of('/');
    const size_t slash = end == std::string::npos ? std::string::npos : path.rfind('/', end);
    if (followLast || slash == std::string::npos) return ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int above = ::open(path.substr(0, slash + 1).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (above < 0) return -1;
    const int fd = OpenFolderNoFollow(above, path.substr(slash + 1, end - slash));
    const int error = errno;
    ::close(above);
    errno = error;
    return fd;
}

void PlatformMoveDescriptor(int from, int to)
{
    ::dup3(from, to, O_CLOEXEC);
    ::close(from);
}

std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

int PlatformLockForWriting(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return 0;
    if (errno == EAGAIN || errno == EACCES) return Fail(EBUSY);
    return errno == ENOLCK || errno == EINVAL || errno == EOPNOTSUPP ? 0 : -1;
}

uid_t PlatformEffectiveUser() { return ::geteuid(); }

std::string PlatformUserName(uid_t uid)
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 16384));
    struct passwd entry;
    struct passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) return found->pw_name;
    return "uid " + std::to_string(uid);
}

bool PlatformOnRemoteFileSystem(const std::string& path)
{
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) != 0) return false;
    // The kernel's magic numbers of NFS, SMB (cifs, smb3), AFS, 9p, Ceph and FUSE (sshfs, gvfs,
    // rclone and the like).
    static constexpr unsigned long remote[] = {0x6969, 0xFF534D42, 0xFE534D42, 0x517B, 0x5346414F,
                                               0x01021997, 0x00C36400, 0x65735546};
    const auto type = static_cast<unsigned long>(fs.f_type);
    return std::find(std::begin(remote), std::end(remote), type) != std::end(remote);
}

}  // namespace tarn
