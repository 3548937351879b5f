#include "platform/FolderEnumerator.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/FaultInjection.h"
#include "platform/OsError.h"

namespace tarn {
namespace {

void Fill(FolderEntry& entry, const struct stat& st)
{
    entry.isFolder = S_ISDIR(st.st_mode);
    entry.isRegular = S_ISREG(st.st_mode);
    entry.isLink = S_ISLNK(st.st_mode);
    entry.size = entry.isFolder ? 0 : st.st_size;
    entry.device = st.st_dev;
    entry.inode = st.st_ino;
    entry.links = st.st_nlink;
    entry.statError = 0;
}

}  // namespace

FolderEnumerator::~FolderEnumerator() { Close(); }

bool FolderEnumerator::Open(const std::string& folder, bool followLinks)
{
    Close();
    followLinks_ = followLinks;
    if (const int fault = TakeFault(FaultOp::Open, folder); fault >= 0) {
        errno = fault;
        return false;
    }
    folder_ = folder;
    dir_ = ::opendir(folder.c_str());
    return dir_ != nullptr;
}

bool FolderEnumerator::Next(FolderEntry& entry)
{
    if (!dir_) {
        errno = EBADF;
        return false;
    }
    if (const int fault = TakeFault(FaultOp::Enumerate, folder_); fault >= 0) {
        errno = fault;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* found = ::readdir(dir_);
        if (!found) {
            if (errno == 0) errno = ErrorNoMoreFiles;
            return false;
        }
        if (std::strcmp(found->d_name, ".") == 0 || std::strcmp(found->d_name, "..") == 0) continue;
        entry = FolderEntry{};
        entry.name = found->d_name;
        struct stat st;
        if (::fstatat(::dirfd(dir_), found->d_name, &st, followLinks_ ? 0 : AT_SYMLINK_NOFOLLOW) == 0) {
            Fill(entry, st);
        } else {
            entry.statError = errno;
        }
        return true;
    }
}

void FolderEnumerator::Close()
{
    if (dir_) ::closedir(dir_);
    dir_ = nullptr;
}

bool StatPath(const std::string& path, FolderEntry& entry)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    const size_t slash = path.find_last_of('/');
    entry.name = slash == std::string::npos ? path : path.substr(slash + 1);
    Fill(entry, st);
    return true;
}

}  // namespace tarn
