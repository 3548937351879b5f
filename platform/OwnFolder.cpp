#include "platform/OwnFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/OsError.h"
#include "platform/PlatformFile.h"

namespace tarn {
namespace {

std::string UserText(uid_t uid)
{
    const std::string name = PlatformUserName(uid);
    const std::string number = "uid " + std::to_string(uid);
    return name == number ? number : "user " + name + " (" + number + ")";
}

}  // namespace

std::string WhyNotOwnFolder(const std::string& path, const std::string& what)
{
    // A trailing '/' would make the open follow a link at the last component.
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::string named = what + " \"" + folder + "\"";
    struct stat st;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return named + " is a symbolic link, which is not followed; use a folder of your own instead";
        if (error == ENOTDIR) return named + " is not a folder";
        return named + " cannot be opened: " + SystemErrorText(error);
    }
    const bool examined = ::fstat(fd, &st) == 0;
    const int error = errno;
    ::close(fd);
    if (!examined) return named + " cannot be examined: " + SystemErrorText(error);
    if (st.st_uid != ::geteuid())
        return named + " belongs to " + UserText(st.st_uid) + ", not to you; use a folder of your own";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return named + " can be written by other users (mode " + mode +
               "); only its owner may write it: chmod go-w \"" + folder + "\"";
    }
    return {};
}

}  // namespace tarn
