#include "tasks/ServerOfPath.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string_view>

namespace tarn {
namespace {

// "user@host" or "[v6]" to the bare host: the user part goes up to the last '@', since user
// names may hold one themselves.
std::string_view BareHost(std::string_view host)
{
    const size_t at = host.rfind('@');
    if (at != std::string_view::npos) host.remove_prefix(at + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    return host;
}

// "//srv/share" -> "srv".
std::string_view HostOfShare(std::string_view source)
{
    if (source.substr(0, 2) != "//") return {};
    source.remove_prefix(2);
    return BareHost(source.substr(0, source.find('/')));
}

// "[user@]host:path" -> "host". The first ':' outside brackets ends the host, so that an IPv6
// literal ("[fe80::1]:/x") stays whole.
std::string_view HostBeforeColon(std::string_view source)
{
    bool inBrackets = false;
    for (size_t i = 0; i < source.size(); ++i) {
        if (source[i] == '[') inBrackets = true;
        else if (source[i] == ']') inBrackets = false;
        else if (source[i] == ':' && !inBrackets) return BareHost(source.substr(0, i));
    }
    return {};
}

std::string KeyOfMount(const MountEntry& mount)
{
    const std::string& type = mount.FileSystemType;
    std::string_view host;
    if (type == "cifs" || type == "smb3") host = HostOfShare(mount.MountSource);
    else if (type == "nfs" || type == "nfs4" || type == "fuse.sshfs") host = HostBeforeColon(mount.MountSource);
    return host.empty() ? mount.MountPoint : std::string(host);
}

}  // namespace

std::string ServerOfPath(const std::string& path, const MountTable& mounts)
{
    if (path.size() < 3) return path;
    if (path.compare(0, 2, "//") == 0) {
        const size_t end = path.find('/', 2);
        return path.substr(2, end == std::string::npos ? std::string::npos : end - 2);
    }
    const MountEntry* mount = mounts.Find(path);
    return mount ? KeyOfMount(*mount) : "/";
}

std::string ServerOfPath(const std::string& path)
{
    // The tick calls from the main thread only; the lock keeps a call from another thread safe.
    static std::mutex mutex;
    static MountTable mounts;
    static std::optional<std::chrono::steady_clock::time_point> readAt;
    const std::lock_guard lock(mutex);
    const auto now = std::chrono::steady_clock::now();
    if (!readAt || now - *readAt >= std::chrono::seconds(1)) {
        mounts = MountTable::Current();
        readAt = now;
    }
    return ServerOfPath(path, mounts);
}

}  // namespace tarn
