#include "tests/support/FuseStick.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

extern char** environ;

namespace tarn::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A tool by name: in PATH, or in the system folders a user's PATH may lack.
std::string FindTool(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::istringstream folders(std::string(path ? path : "") + ":/usr/sbin:/sbin:/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && ::access((folder + "/" + name).c_str(), X_OK) == 0) return folder + "/" + name;
    return {};
}

// Starts a tool with its output appended to `log`; its process id, or -1.
pid_t Start(std::vector<std::string> command, const std::string& log)
{
    command.front() = FindTool(command.front());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> arguments;
    for (const auto& argument : command) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    pid_t pid = -1;
    if (command.front().empty() || ::posix_spawn(&pid, arguments[0], &actions, nullptr, arguments.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Runs a command to its end; its exit status, or -1.
int Run(const std::vector<std::string>& command, const std::string& log)
{
    const pid_t pid = Start(command, log);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Mount points with the owner file beside them, read from the mount table, not by a stat that a
// stuck FUSE daemon would never answer.
std::vector<std::string> MountPoints()
{
    std::vector<std::string> points;
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        points.push_back(point);
    }
    return points;
}

bool IsMountPoint(const std::string& path)
{
    const auto points = MountPoints();
    return std::find(points.begin(), points.end(), path) != points.end();
}

// Whether a loop device still reads `image`: it goes when the exFAT daemon has closed it.
bool ImageOnLoopDevice(const std::string& image)
{
    std::error_code error;
    for (const auto& device : fs::directory_iterator("/sys/block", error)) {
        std::ifstream backing(device.path() / "loop/backing_file");
        std::string file;
        if (std::getline(backing, file) && file == image) return true;
    }
    return false;
}

// A stick whose test process was killed (a timeout, Ctrl+C) is unmounted by the next that makes
// one: "<mount point>.owner" holds the id of the process that mounted it.
void UnmountLeftSticks()
{
    for (const auto& point : MountPoints()) {
        std::ifstream owner(point + ".owner");
        pid_t pid = 0;
        if (owner >> pid && pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            Run({"umount", "-l", point}, "/dev/null");
    }
}

std::string WhyUnavailable(FuseStick::Kind kind)
{
    if (::geteuid() != 0) return "mounting a stick's image needs root";
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) return std::string("FUSE is unavailable: /dev/fuse: ") + std::strerror(errno);
    ::close(fuse);
    for (const std::string tool : kind == FuseStick::Kind::Fat32
                                      ? std::vector<const char*>{"mkfs.vfat", "fusefat", "umount"}
                                      : std::vector<const char*>{"mkfs.exfat", "mount.exfat-fuse", "mount", "umount"})
        if (FindTool(tool).empty()) return tool + " is not installed (scripts/install-deps installs it)";
    return {};
}

}  // namespace

const char* KindName(FuseStick::Kind kind) { return kind == FuseStick::Kind::Fat32 ? "Fat32" : "ExFat"; }

FuseStick::FuseStick(Kind kind, const std::string& folder) : kind_(kind)
{
    const std::string base = fs::canonical(folder).string() + "/" + KindName(kind);
    image_ = base + ".img";
    mountPoint_ = base + "/";
    log_ = base + ".log";
    MakeFolders(mountPoint_);
}

std::unique_ptr<FuseStick> FuseStick::Make(Kind kind, const std::string& folder, std::string* why, uint64_t size)
{
    *why = WhyUnavailable(kind);
    if (!why->empty()) return nullptr;
    UnmountLeftSticks();
    std::unique_ptr<FuseStick> stick(new FuseStick(kind, folder));
    WriteFile(stick->mountPoint_.substr(0, stick->mountPoint_.size() - 1) + ".owner", std::to_string(::getpid()));
    WriteFile(stick->image_, "");
    std::error_code error;
    fs::resize_file(stick->image_, size, error);  // sparse
    if (error || Run(kind == Kind::Fat32 ? std::vector<std::string>{"mkfs.vfat", "-F", "32", stick->image_}
                                         : std::vector<std::string>{"mkfs.exfat", stick->image_},
                     stick->log_) != 0) {
        *why = "the image could not be made: " + stick->Log();
        return nullptr;
    }
    *why = stick->Mount();
    return why->empty() ? std::move(stick) : nullptr;
}

FuseStick::~FuseStick()
{
    if (mounted_) Unmount();
}

::testing::AssertionResult FuseStick::Remount()
{
    if (mounted_) Unmount();
    const std::string why = Mount();
    return why.empty() ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << why;
}

std::string FuseStick::Mount()
{
    const std::string point = mountPoint_.substr(0, mountPoint_.size() - 1);
    const auto logged = fs::exists(log_) ? fs::file_size(log_) : 0;
    if (kind_ == Kind::Fat32) {
        // In the foreground as our child: once it has ended after the unmount, all is in the image.
        daemon_ = Start({"fusefat", "-f", "-o", "rw+", image_, point}, log_);
        if (daemon_ < 0) return "fusefat could not be started";
        bool ended = false;
        WaitUntil([&] { return IsMountPoint(point) || (ended = ::waitpid(daemon_, nullptr, WNOHANG) == daemon_); });
        if (ended || !IsMountPoint(point)) {
            if (!ended) {
                ::kill(daemon_, SIGKILL);
                ::waitpid(daemon_, nullptr, 0);
            }
            daemon_ = -1;
            return "fusefat could not mount the image: " + Log(logged);
        }
    } else {
        // exfat-fuse takes block devices only: mount(8) puts the image on a loop device.
        if (Run({"mount", "-t", "exfat-fuse", "-o", "loop", image_, point}, log_) != 0)
            return "mount -t exfat-fuse could not mount the image: " + Log(logged);
    }
    mounted_ = true;
    return {};
}

void FuseStick::Unmount()
{
    mounted_ = false;
    const std::string point = mountPoint_.substr(0, mountPoint_.size() - 1);
    // A tarnctl a failed test left running keeps it busy for a moment; then it is detached lazily.
    bool unmounted = false;
    for (int attempt = 0; attempt < 100 && !unmounted; ++attempt) {
        unmounted = Run({"umount", point}, log_) == 0 || !IsMountPoint(point);
        if (!unmounted) std::this_thread::sleep_for(100ms);
    }
    if (!unmounted) {
        ADD_FAILURE() << "the stick at " << point << " stayed busy: " << Log();
        Run({"umount", "-l", point}, log_);
    }
    if (daemon_ > 0) {
        if (!WaitUntil([&] { return ::waitpid(daemon_, nullptr, WNOHANG) == daemon_; }, 60s)) {
            ADD_FAILURE() << "fusefat did not end after the unmount";
            ::kill(daemon_, SIGKILL);
            ::waitpid(daemon_, nullptr, 0);
        }
        daemon_ = -1;
    } else if (!WaitUntil([&] { return !ImageOnLoopDevice(image_); }, 60s)) {
        ADD_FAILURE() << "the loop device of " << image_ << " stayed after the unmount";
    }
}

std::string FuseStick::Log(uintmax_t from) const
{
    const std::string all = fs::exists(log_) ? ReadFile(log_).substr(from) : "";
    return all.size() > 600 ? "..." + all.substr(all.size() - 600) : all;
}

}  // namespace tarn::test
