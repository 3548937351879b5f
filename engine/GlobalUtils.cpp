#include "engine/GlobalUtils.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "platform/ExtendedAttributes.h"

namespace tarn {
namespace {

// The names of a path between its delimiters, without the empty ones and ".".
std::vector<std::string> PathNames(const std::string& path)
{
    std::vector<std::string> names;
    for (size_t start = 0; start < path.size();) {
        const size_t end = std::min(path.find(PathDelimiter, start), path.size());
        const std::string name = path.substr(start, end - start);
        if (!name.empty() && name != ".") names.push_back(name);
        start = end + 1;
    }
    return names;
}

// Runs a platform call the wrapper way: last error cleared before, raised after a failure.
template <typename Call>
auto Checked(Call call)
{
    SetLastError(0);
    const auto result = call();
    if (result < 0) {
        if (GetLastError() == 0) SetLastError(EIO);
        CheckOSError();
    }
    return result;
}

// The access and modification times to give a copy: `times` when given, otherwise the source's.
std::array<timespec, 2> TimesToSet(const struct stat& st, const FileTimes* times)
{
    const auto toTimespec = [](int64_t nanoseconds) {
        return timespec{static_cast<time_t>(nanoseconds / 1000000000), static_cast<long>(nanoseconds % 1000000000)};
    };
    return {times ? toTimespec(times->Accessed) : st.st_atim, times ? toTimespec(times->Modified) : st.st_mtim};
}

void CheckedStat(const std::string& path, struct stat& st)
{
    Checked([&] { return ::stat(path.c_str(), &st); });
}

// Copies one ACL attribute; a source without it leaves the destination without it too.
void CopyAclAttribute(const std::string& source, const std::string& destination, const char* name)
{
    std::string value;
    if (GetExtendedAttribute(source, name, value)) {
        if (!SetExtendedAttribute(destination, name, value)) RaiseOsError(errno);
        return;
    }
    if (errno != ENODATA && errno != ENOTSUP) RaiseOsError(errno);
    if (!RemoveExtendedAttribute(destination, name) && errno != ENODATA && errno != ENOTSUP)
        RaiseOsError(errno);
}

}  // namespace

void CheckOSError()
{
    const int code = GetLastError();
    if (code == 0) return;
    SetLastError(0);
    RaiseOsError(code);
}

FileHandle CreateFileChecked(const std::string& name, FileAccess access, CreationMode creation,
                             const FileOpenOptions& options)
{
    return Checked([&] { return PlatformOpen(name, access, creation, options); });
}

void CloseFile(FileHandle& handle)
{
    if (handle == NoHandle) return;
    const FileHandle closing = handle;
    handle = NoHandle;
    Checked([&] { return PlatformClose(closing); });
}

int64_t SeekFile(FileHandle handle, int origin, int64_t offset)
{
    return Checked([&] { return PlatformSeek(handle, origin, offset); });
}

int64_t ReadBytes(FileHandle handle, void* buffer, int64_t count)
{
    return Checked([&] { return PlatformRead(handle, buffer, static_cast<size_t>(count)); });
}

int64_t WriteBytes(FileHandle handle, const void* buffer, int64_t count)
{
    return Checked([&] { return PlatformWrite(handle, buffer, static_cast<size_t>(count)); });
}

int64_t WriteBytesAt(FileHandle handle, const void* buffer, int64_t count, int64_t offset)
{
    return Checked([&] { return PlatformWriteAt(handle, buffer, static_cast<size_t>(count), offset); });
}

int64_t ReadLenString(FileHandle handle, std::string& value)
{
    unsigned char prefix[4];
    if (ReadBytes(handle, prefix, 4) != 4) throw DataFileError("The file ends inside a length prefix");
    const uint32_t length = static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
                            static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24;
    // Check against what the file holds before sizing the string: a damaged prefix must not
    // allocate gigabytes.
    const int64_t position = SeekFile(handle, 1, 0);
    if (static_cast<int64_t>(length) > GetFileSize64(handle) - position)
        throw DataFileError("A length prefix runs past the end of the file");
    value.resize(length);
    if (length > 0 && ReadBytes(handle, value.data(), length) != length)
        throw DataFileError("The file ends inside a string");
    return 4 + static_cast<int64_t>(length);
}

void WriteLenString(FileHandle handle, const std::string& value)
{
    std::string block(4 + value.size(), '\0');
    const uint32_t length = static_cast<uint32_t>(value.size());
    for (int i = 0; i < 4; ++i) block[static_cast<size_t>(i)] = static_cast<char>(length >> (8 * i) & 0xFF);
    std::memcpy(block.data() + 4, value.data(), value.size());
    WriteBytes(handle, block.data(), static_cast<int64_t>(block.size()));
}

int64_t GetFileSize64(FileHandle handle)
{
    return Checked([&] { return PlatformFileSize(handle); });
}

std::string ReadToEnd(FileHandle handle)
{
    std::string bytes(static_cast<size_t>(std::max<int64_t>(GetFileSize64(handle) - SeekFile(handle, 1, 0), 0)), '\0');
    int64_t done = 0;
    while (done < static_cast<int64_t>(bytes.size())) {
        const int64_t n = ReadBytes(handle, bytes.data() + done, static_cast<int64_t>(bytes.size()) - done);
        if (n == 0) break;  // the file shrank meanwhile
        done += n;
    }
    bytes.resize(static_cast<size_t>(done));
    return bytes;
}

std::pair<std::string, std::string> SplitAt(const std::string& text, char delimiter)
{
    const size_t p = text.find(delimiter);
    if (p == std::string::npos) return {std::string(), text};
    return {text.substr(0, p), text.substr(p + 1)};
}

void CopyBytes(void* destination, const void* source, size_t count)
{
    if (count > 0) std::memmove(destination, source, count);
}

std::string JoinQuotedPaths(const std::vector<std::string>& paths)
{
    if (paths.size() == 1) return paths.front();
    std::string text;
    for (const auto& path : paths) {
        if (!text.empty()) text += ' ';
        text += '"' + path + '"';
    }
    return text;
}

void SplitQuotedPaths(const std::string& text, std::vector<std::string>& paths)
{
    const auto blank = [](const std::string& run) { return run.find_first_not_of(' ') == std::string::npos; };
    size_t i = 0;
    // A text of one character holds no path: the rule starts only when a second one follows.
    while (i + 1 < text.size()) {
        size_t quote = text.find('"', i);
        if (quote == std::string::npos) quote = text.size();
        const std::string unquoted = text.substr(i, quote - i);
        i = quote + 1;
        std::string quoted;
        if (i < text.size()) {
            quote = text.find('"', i);
            if (quote == std::string::npos) quote = text.size();
            quoted = text.substr(i, quote - i);
            i = quote + 1;
        }
        if (!quoted.empty()) {
            paths.push_back(quoted);
        } else if (!blank(unquoted)) {
            paths.push_back(unquoted);
        }
    }
}

bool EnablePrivilege(const std::string&) { return true; }

void CopyFileSecurity(const std::string& source, int destination, int part, bool keepSetId)
{
    // The descriptor may be O_PATH, which fchmod and fsetxattr refuse; its /proc path reaches
    // the very file it holds, never a name that could have been swapped meanwhile.
    const std::string held = DescriptorPath(destination);
    struct stat st;
    switch (part) {
    case SecurityOwner:
        CheckedStat(source, st);
        Checked([&] { return ::fchownat(destination, "", st.st_uid, static_cast<gid_t>(-1), AT_EMPTY_PATH); });
        break;
    case SecurityGroup:
        CheckedStat(source, st);
        Checked([&] { return ::fchownat(destination, "", static_cast<uid_t>(-1), st.st_gid, AT_EMPTY_PATH); });
        break;
    case SecurityPermissions: {
        CheckedStat(source, st);
        Checked([&] { return ::chmod(held.c_str(), st.st_mode & (keepSetId ? 07777 : 01777)); });
        CopyAclAttribute(source, held, "system.posix_acl_access");
        if (S_ISDIR(st.st_mode)) CopyAclAttribute(source, held, "system.posix_acl_default");
        break;
    }
    default:
        break;
    }
    SetLastError(0);
}

void CopyFileAttributes(const std::string& source, int destination, const FileTimes* times)
{
    const std::string held = DescriptorPath(destination);
    struct stat st;
    CheckedStat(source, st);
    Checked([&] { return ::chmod(held.c_str(), st.st_mode & 01777); });
    const std::array<timespec, 2> stamps = TimesToSet(st, times);
    Checked([&] { return ::utimensat(AT_FDCWD, held.c_str(), stamps.data(), 0); });
}

void CopyLinkTimes(const std::string& source, int folder, const std::string& name, const FileTimes* times)
{
    struct stat st;
    Checked([&] { return ::lstat(source.c_str(), &st); });
    const std::array<timespec, 2> stamps = TimesToSet(st, times);
    Checked([&] { return ::utimensat(folder, name.c_str(), stamps.data(), AT_SYMLINK_NOFOLLOW); });
}

void CopyLinkOwner(const std::string& source, int folder, const std::string& name)
{
    struct stat st;
    Checked([&] { return ::lstat(source.c_str(), &st); });
    Checked([&] { return ::fchownat(folder, name.c_str(), st.st_uid, st.st_gid, AT_SYMLINK_NOFOLLOW); });
}

bool ForceDirectories(const std::string& folder)
{
    std::string failed;
    return ForceDirectories(folder, failed);
}

bool ForceDirectoriesBeneath(const std::string& root, const std::string& folder, std::string& failed)
{
    const std::string path = ExcludeTrailingDelimiter(folder);
    // Each folder is looked at without following a link: a link where a folder goes is refused.
    for (size_t end = root.size(); end <= path.size(); ++end) {
        if (end < path.size() && path[end] != PathDelimiter) continue;
        const std::string part = path.substr(0, end);
        FileStatus status;
        const bool present = PlatformLinkStatus(part, status) == 0;
        if (present && status.isFolder) continue;
        if (present && status.isLink) {
            errno = ErrorLinkInPath;
        } else if (!present && PlatformMakeFolderBeneath(root, part) == 0) {
            continue;
        } else if (present || errno == EEXIST) {
            // A file standing where the folder must go leaves EEXIST, which says little.
            errno = ENOTDIR;
        }
        failed = part;
        return false;
    }
    return true;
}

bool ForceDirectories(const std::string& folder, std::string& failed) { return ForceDirectories(folder, failed, 0777); }

bool ForcePrivateDirectories(const std::string& folder)
{
    std::string failed;
    return ForceDirectories(folder, failed, 0700);
}

bool ForceDirectories(const std::string& folder, std::string& failed, mode_t mode)
{
    const std::string path = ExcludeTrailingDelimiter(folder);
    if (path.empty()) return DirectoryExists("/");
    if (DirectoryExists(path)) return true;
    const std::string parent = ExcludeTrailingDelimiter(ExtractFilePath(path));
    if (!parent.empty() && parent != path && !ForceDirectories(parent, failed, mode)) return false;
    if (PlatformMakeFolder(path, mode) == 0 || (errno == EEXIST && DirectoryExists(path))) return true;
    // A file standing where the folder must go leaves EEXIST, which says little.
    if (errno == EEXIST) errno = ENOTDIR;
    failed = path;
    return false;
}

std::string IncludeTrailingDelimiter(const std::string& path)
{
    if (!path.empty() && path.back() == PathDelimiter) return path;
    return path + PathDelimiter;
}

std::string ExcludeTrailingDelimiter(const std::string& path)
{
    if (!path.empty() && path.back() == PathDelimiter) return path.substr(0, path.size() - 1);
    return path;
}

std::string ExtractFilePath(const std::string& path)
{
    const size_t p = path.find_last_of(PathDelimiter);
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path)
{
    const size_t p = path.find_last_of(PathDelimiter);
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string ExtractRelativePath(const std::string& base, const std::string& path)
{
    const std::string folder = IncludeTrailingDelimiter(base);
    if (path.size() >= folder.size() && SameText(path.substr(0, folder.size()), folder))
        return path.substr(folder.size());
    return path;
}

std::string AbsolutePath(const std::string& path)
{
    if (path.empty()) return path;
    std::string absolute = path;
    if (path.front() != PathDelimiter) {
        std::string folder(PATH_MAX, '\0');
        if (!::getcwd(folder.data(), folder.size())) return path;
        folder.resize(std::strlen(folder.c_str()));
        absolute = IncludeTrailingDelimiter(folder) + path;
    }
    const std::vector<std::string> names = PathNames(absolute);
    const std::string last = absolute.substr(absolute.find_last_of(PathDelimiter) + 1);
    const bool folder = last.empty() || last == "." || last == "..";
    // Two leading delimiters are kept: "//server/share" names a server.
    std::string root = absolute.compare(0, 2, "//") == 0 && absolute.compare(0, 3, "///") != 0 ? "//" : "/";

    // A ".." means what the system makes of it when the path is opened: the parent of the real
    // folder before it. "link/.." is the folder holding the link's target, as ls, cp and every
    // file manager show it, not the folder holding the link, as only the shell's own cd
    // pretends: the task must copy what the user sees listed under that path. So the part up to
    // the last ".." becomes its real path; where it does not exist yet, its missing names count
    // as written. Links in a path without ".." stay as the user named them.
    const auto dots = std::find(names.rbegin(), names.rend(), std::string(".."));
    const size_t through = static_cast<size_t>(names.rend() - dots);
    std::vector<std::string> result;
    size_t next = 0;
    for (size_t count = through; count > 0; --count) {
        std::string prefix = root;
        for (size_t i = 0; i < count; ++i) prefix += (i > 0 ? "/" : "") + names[i];
        char resolved[PATH_MAX];
        if (::realpath(prefix.c_str(), resolved)) {
            root = "/";
            result = PathNames(resolved);
            next = count;
            break;
        }
        // Only a missing folder may come yet; any other failure leaves the names as written.
        if (errno != ENOENT) break;
    }
    for (size_t i = next; i < names.size(); ++i) {
        if (names[i] != "..") {
            result.push_back(names[i]);
        } else if (!result.empty()) {
            result.pop_back();
        }
    }
    std::string normal = root;
    for (size_t i = 0; i < result.size(); ++i) normal += (i > 0 ? "/" : "") + result[i];
    return folder && !result.empty() ? normal + PathDelimiter : normal;
}

std::string StripTrailingDelimiters(const std::string& path)
{
    const size_t end = path.find_last_not_of(PathDelimiter);
    if (end == std::string::npos) return path.empty() ? path : std::string(1, PathDelimiter);
    return path.substr(0, end + 1);
}

bool IsSameOrInside(const std::string& inner, const std::string& outer)
{
    const auto canonical = [](const std::string& path) {
        // The deepest part that exists, resolved, and the rest as written.
        std::string existing = StripTrailingDelimiters(path);
        std::string rest;
        for (;;) {
            char resolved[PATH_MAX];
            if (::realpath(existing.c_str(), resolved)) return IncludeTrailingDelimiter(resolved) + rest;
            const size_t slash = existing.find_last_of(PathDelimiter);
            if (slash == std::string::npos || existing.empty()) return IncludeTrailingDelimiter(path);
            rest = IncludeTrailingDelimiter(existing.substr(slash + 1)) + rest;
            existing = slash == 0 ? std::string(1, PathDelimiter) : existing.substr(0, slash);
        }
    };
    const std::string a = canonical(inner);
    const std::string b = canonical(outer);
    return a.compare(0, b.size(), b) == 0;
}

bool SameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::string UpperCase(const std::string& text)
{
    std::string result = text;
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return result;
}

bool FileExists(const std::string& path) { return PlatformFileExists(path); }

bool DirectoryExists(const std::string& path) { return PlatformFolderExists(path); }

}  // namespace tarn
