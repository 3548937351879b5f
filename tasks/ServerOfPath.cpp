#include "tasks/ServerOfPath.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/PlatformFile.h"

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

std::string Lowered(std::string_view text)
{
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return lowered;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// GVFS escapes its folder names' values as in URIs; a '%' without two hex digits stays as it is.
std::string PercentDecoded(std::string_view text)
{
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// The host in the name of a GVFS share folder, "TYPE:KEY=VALUE,KEY=VALUE...": the keys come in
// alphabetical order, so the host's key ("server" for SMB, "host" for the rest) may stand anywhere.
// Other types (local devices, phones, cloud accounts) name no file server.
std::string HostOfGvfsFolder(std::string_view folder)
{
    const size_t colon = folder.find(':');
    if (colon == std::string_view::npos) return {};
    const std::string_view type = folder.substr(0, colon);
    std::string_view key;
    if (type == "smb-share" || type == "smb-server") key = "server";
    else if (type == "sftp" || type == "ftp" || type == "ftps" || type == "ftpis" || type == "dav" || type == "davs" ||
             type == "afp-volume" || type == "afp-server" || type == "nfs") key = "host";
    else return {};
    std::string_view items = folder.substr(colon + 1);
    while (!items.empty()) {
        const size_t comma = items.find(',');
        const std::string_view item = items.substr(0, comma);
        if (item.size() > key.size() && item.substr(0, key.size()) == key && item[key.size()] == '=')
            return std::string(BareHost(PercentDecoded(item.substr(key.size() + 1))));
        items = comma == std::string_view::npos ? std::string_view() : items.substr(comma + 1);
    }
    return {};
}

// The first two folders of `below`, the part of a path below a mount point.
std::pair<std::string_view, std::string_view> FirstFolders(std::string_view below)
{
    std::pair<std::string_view, std::string_view> folders;
    for (std::string_view* folder : {&folders.first, &folders.second}) {
        const size_t start = below.find_first_not_of('/');
        if (start == std::string_view::npos) break;
        below.remove_prefix(start);
        *folder = below.substr(0, below.find('/'));
        below.remove_prefix(folder->size());
    }
    return folders;
}

// smbnetfs shows hosts and workgroups side by side below its mount point; a workgroup's folder
// holds a link HOST -> ../HOST for each of its hosts. The link is asked of smbnetfs, which
// answers from memory, without the network.
std::string HostOfSmbnetfsPath(const std::string& mountPoint, std::string_view below)
{
    const auto [first, second] = FirstFolders(below);
    if (!second.empty()) {
        FileStatus status;
        const std::string inFirst = mountPoint + "/" + std::string(first) + "/" + std::string(second);
        if (PlatformLinkStatus(inFirst, status) == 0 && status.isLink) return Lowered(second);
    }
    return Lowered(first);
}

std::string KeyOfPath(const std::string& path, const MountEntry& mount)
{
    const std::string& type = mount.FileSystemType;
    const std::string_view below = std::string_view(path).substr(mount.MountPoint.size());
    std::string host;
    if (type == "cifs" || type == "smb3") host = HostOfShare(mount.MountSource);
    else if (type == "nfs" || type == "nfs4" || type == "fuse.sshfs") host = HostBeforeColon(mount.MountSource);
    else if (type == "fuse.rclone") host = mount.MountSource.substr(0, mount.MountSource.find(':'));
    else if (type == "fuse.gvfsd-fuse") host = Lowered(HostOfGvfsFolder(FirstFolders(below).first));
    else if (type == "fuse.smbnetfs") host = HostOfSmbnetfsPath(mount.MountPoint, below);
    return host.empty() ? mount.MountPoint : host;
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
    return mount ? KeyOfPath(path, *mount) : "/";
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
