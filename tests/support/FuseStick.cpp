#include "tests/support/FuseStick.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/MountTable.h"

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

// Runs a tool to its end, in `home` (where it writes its output); what it said when it failed.
std::string Run(const std::vector<std::string>& command, const std::string& home)
{
    std::string errors, output;
    return RunCommand(FindTool(command[0]), {command.begin() + 1, command.end()}, home, &errors, &output) == 0
               ? ""
               : command[0] + ": " + output + errors;
}

// Read from the mount table, not by a stat that a stuck FUSE daemon would never answer.
bool IsMountPoint(const std::string& path)
{
    const MountTable mounts = MountTable::Current();
    const MountEntry* mount = mounts.Find(path);
    return mount != nullptr && mount->MountPoint == path;
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
    tools_ = base + ".tools";
    MakeFolders(mountPoint_);
}

std::unique_ptr<FuseStick> FuseStick::Make(Kind kind, const std::string& folder, std::string* why, uint64_t size)
{
    *why = WhyUnavailable(kind);
    if (!why->empty()) return nullptr;
    std::unique_ptr<FuseStick> stick(new FuseStick(kind, folder));
    WriteFile(stick->image_, "");
    fs::resize_file(stick->image_, size);  // sparse
    *why = Run(kind == Kind::Fat32 ? std::vector<std::string>{"mkfs.vfat", "-F", "32", stick->image_}
                                   : std::vector<std::string>{"mkfs.exfat", stick->image_},
               stick->tools_);
    if (why->empty()) *why = stick->Mount();
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
    if (kind_ == Kind::Fat32) {
        // In the foreground as our child: once it has ended after the unmount, all is in the image.
        daemon_ = std::make_unique<CommandRunner>(FindTool("fusefat"),
                                                  std::vector<std::string>{"-f", "-o", "rw+", image_, point}, tools_);
        WaitUntil([&] { return IsMountPoint(point) || daemon_->WaitFor(0ms); });
        if (!IsMountPoint(point)) {
            const std::string said = daemon_->Output() + daemon_->Errors();
            daemon_.reset();
            return "fusefat could not mount the image: " + said;
        }
    } else if (const std::string why = Run({"mount", "-t", "exfat-fuse", "-o", "loop", image_, point}, tools_);
               !why.empty()) {
        return why;  // exfat-fuse takes block devices only: mount(8) puts the image on a loop device
    }
    mounted_ = true;
    return {};
}

void FuseStick::Unmount()
{
    mounted_ = false;
    const std::string point = mountPoint_.substr(0, mountPoint_.size() - 1);
    // A tarnctl a failed test left running keeps it busy for a moment; then it is detached lazily.
    std::string why;
    if (!WaitUntil([&] { return (why = Run({"umount", point}, tools_)).empty() || !IsMountPoint(point); }, 10s)) {
        ADD_FAILURE() << "the stick at " << point << " stayed busy: " << why;
        Run({"umount", "-l", point}, tools_);
    }
    if (daemon_) {
        EXPECT_TRUE(daemon_->WaitFor(60s)) << "fusefat did not end after the unmount";
        daemon_.reset();
        return;
    }
    // The loop device goes once the exFAT daemon has closed the image.
    EXPECT_TRUE(WaitUntil([&] {
        std::error_code error;
        for (const auto& device : fs::directory_iterator("/sys/block", error)) {
            std::ifstream backing(device.path() / "loop/backing_file");
            if (std::string file; std::getline(backing, file) && file == image_) return false;
        }
        return true;
    }, 60s)) << "the loop device of " << image_ << " stayed after the unmount";
}

}  // namespace tarn::test
