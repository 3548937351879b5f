#include "app/DesktopStarter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QStandardPaths>

#include <cstring>
#include <filesystem>

#include "core/Globals.h"

extern char** environ;

namespace tarn {

std::string DesktopStarter::FindProgram()
{
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto beside = self.parent_path() / ExecutableName;
        if (::access(beside.c_str(), X_OK) == 0) return beside.string();
    }
    return QStandardPaths::findExecutable(QString::fromLatin1(ExecutableName)).toStdString();
}

bool DesktopStarter::Start(const std::string& program, std::string& error)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, "/");
    // Signals the file manager ignored or blocked stay its own.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t set;
    sigfillset(&set);
    posix_spawnattr_setsigdefault(&attributes, &set);
    sigemptyset(&set);
    posix_spawnattr_setsigmask(&attributes, &set);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    char* arguments[] = {const_cast<char*>(program.c_str()), nullptr};
    const int result = ::posix_spawn(&pid_, program.c_str(), &actions, &attributes, arguments, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (result == 0) return true;
    pid_ = -1;
    error = "Tarnwell is not running and " + program + " could not be started: " + std::strerror(result);
    return false;
}

bool DesktopStarter::Ended(int& status)
{
    int raw = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &raw, WNOHANG) != pid_) return false;
    pid_ = -1;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return true;
}

}  // namespace tarn
