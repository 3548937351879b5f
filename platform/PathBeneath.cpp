#include "platform/PathBeneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <vector>

#include "platform/OsError.h"

namespace tarn {
namespace {

std::atomic<bool> resolverMissing{false};  // the kernel has no openat2 (before Linux 5.6)

// openat2 below `folder`, refusing every link on the way and at the end, and any way out.
int ResolveBeneath(int folder, const std::string& relative, int flags, mode_t mode)
{
    if (resolverMissing.load(std::memory_order_relaxed)) {
        errno = ENOSYS;
        return -1;
    }
    open_how how = {};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;  // any other call refuses a mode
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS) resolverMissing = true;
    return static_cast<int>(fd);
}

// Failures of openat2 that the walk answers instead: the call missing or refused (a kernel that
// knows no such flags, a filter), a link met on the way or at the end, whose place only the walk
// tells (ELOOP, EXDEV), a rename it would not resolve (EAGAIN). Any other error is the walk's too.
bool WalkDecides(int error)
{
    return error == ENOSYS || error == EINVAL || error == E2BIG || error == EPERM || error == ELOOP ||
           error == EXDEV || error == EAGAIN;
}

// The components of `path` below `root`; false when it does not begin with `root` or climbs
// with "..".
bool ComponentsBelow(const std::string& root, const std::string& path, std::vector<std::string>& parts)
{
    if (path.compare(0, root.size(), root) != 0) return false;
    for (size_t start = root.size(); start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    for (const auto& part : parts)
        if (part == "..") return false;
    return true;
}

std::string Joined(const std::vector<std::string>& parts)
{
    std::string joined;
    for (const auto& part : parts) joined += (joined.empty() ? "" : "/") + part;
    return joined;
}

// The folder `root` names: N of a DescriptorPath ("/proc/self/fd/N/"), which its caller holds,
// or a descriptor opened here and closed with the object.
class RootFolder {
public:
    explicit RootFolder(const std::string& root)
    {
        static const std::string prefix = "/proc/self/fd/";
        if (root.compare(0, prefix.size(), prefix) == 0) {
            const char* first = root.data() + prefix.size();
            const char* last = root.data() + root.size();
            if (last > first && last[-1] == '/') --last;
            int fd = -1;
            const auto [end, error] = std::from_chars(first, last, fd);
            if (error == std::errc() && end == last && fd >= 0) {
                fd_ = fd;
                return;
            }
        }
        fd_ = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        owned_ = fd_ >= 0;
    }
    ~RootFolder()
    {
        const int error = errno;
        if (owned_) ::close(fd_);
        errno = error;
    }
    RootFolder(const RootFolder&) = delete;
    RootFolder& operator=(const RootFolder&) = delete;
    int Fd() const { return fd_; }
    bool Owned() const { return owned_; }
    // Hands the descriptor over: the caller closes it when it was opened here.
    int Release()
    {
        owned_ = false;
        return fd_;
    }

private:
    int fd_ = -1;
    bool owned_ = false;
};

// Opens the folders `parts` one below the other from `folder`, each without following a link.
int WalkDown(int folder, const std::vector<std::string>& parts)
{
    int current = folder;
    for (const auto& part : parts) {
        const int next = OpenFolderNoFollow(current, part);
        const int error = errno;
        if (current != folder) ::close(current);
        current = next;
        errno = error;
        if (current < 0) break;
    }
    return current;
}

}  // namespace

int OpenFolderNoFollow(int folder, const std::string& name)
{
    const int fd = ::openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    if (fd < 0 && (error == ENOTDIR || error == ELOOP)) {
        struct stat st;
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) error = ErrorLinkInPath;
    }
    errno = error;
    return fd;
}

int OpenBeneath(const std::string& root, const std::string& path, int flags, mode_t mode)
{
    std::vector<std::string> parts;
    if (!ComponentsBelow(root, path, parts)) {
        errno = EINVAL;
        return -1;
    }
    if (!parts.empty()) {
        const RootFolder folder(root);
        if (folder.Fd() < 0) return -1;
        const int fd = ResolveBeneath(folder.Fd(), Joined(parts), flags | O_NOFOLLOW, mode);
        if (fd >= 0 || !WalkDecides(errno)) return fd;
    }
    const PathBeneath walked(root, path);
    if (!walked.Valid()) {
        errno = walked.Error();
        return -1;
    }
    return ::openat(walked.Folder(), walked.Name().c_str(), flags | O_NOFOLLOW, mode);
}

PathBeneath::PathBeneath(const std::string& root, const std::string& path)
{
    std::vector<std::string> parts;
    if (!ComponentsBelow(root, path, parts)) {
        error_ = EINVAL;
        return;
    }
    name_ = parts.empty() ? std::string(".") : parts.back();
    if (!parts.empty()) parts.pop_back();

    RootFolder top(root);
    if (top.Fd() < 0) {
        error_ = errno;
        return;
    }
    if (parts.empty()) {
        owned_ = top.Owned();
        folder_ = top.Release();
        return;
    }
    int folder = ResolveBeneath(top.Fd(), Joined(parts), O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
    if (folder < 0 && WalkDecides(errno)) folder = WalkDown(top.Fd(), parts);
    if (folder < 0) {
        error_ = errno;
        return;
    }
    folder_ = folder;
    owned_ = true;
}

PathBeneath::~PathBeneath()
{
    if (owned_) ::close(folder_);
}

std::string PathBeneath::Path() const { return "/proc/self/fd/" + std::to_string(folder_) + "/" + name_; }

}  // namespace tarn
