#include "platform/PathBeneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/OsError.h"

namespace tarn {

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

PathBeneath::PathBeneath(const std::string& root, const std::string& path)
{
    if (path.compare(0, root.size(), root) != 0) {
        error_ = EINVAL;
        return;
    }
    std::vector<std::string> parts;
    for (size_t start = root.size(); start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    for (const auto& part : parts)
        if (part == "..") {
            error_ = EINVAL;
            return;
        }
    name_ = parts.empty() ? std::string(".") : parts.back();
    if (!parts.empty()) parts.pop_back();

    int folder = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (const auto& part : parts) {
        if (folder < 0) break;
        const int next = OpenFolderNoFollow(folder, part);
        const int error = errno;
        ::close(folder);
        folder = next;
        errno = error;
    }
    if (folder < 0) {
        error_ = errno;
        return;
    }
    folder_ = folder;
}

PathBeneath::~PathBeneath()
{
    if (folder_ >= 0) ::close(folder_);
}

std::string PathBeneath::Path() const { return "/proc/self/fd/" + std::to_string(folder_) + "/" + name_; }

}  // namespace tarn
