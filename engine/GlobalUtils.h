#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/OsError.h"
#include "platform/PlatformFile.h"

// Free routines shared by the engine and the windows: file wrappers that turn every failure
// into a raised OsError, the length-prefixed strings of the data files, the source-list rules,
// the attribute and security copy, and the path rules.
namespace tarn {

using FileHandle = int;
constexpr FileHandle NoHandle = -1;
constexpr char PathDelimiter = '/';

// A data file (restore file, TaskList) whose bytes do not hold what its layout says.
class DataFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raises an OsError for the last-error value when it is not 0, clearing it first.
void CheckOSError();

FileHandle CreateFileChecked(const std::string& name, FileAccess access, CreationMode creation,
                             const FileOpenOptions& options = {});
// Closes a handle that is open and marks it closed; raises when the close reports an error
// (a network file system reports a failed write-back only there).
void CloseFile(FileHandle& handle);
// Origin 0 begin, 1 current, 2 end; returns the new position.
int64_t SeekFile(FileHandle handle, int origin, int64_t offset);
int64_t ReadBytes(FileHandle handle, void* buffer, int64_t count);
int64_t WriteBytes(FileHandle handle, const void* buffer, int64_t count);
// Writes at `offset` in one call, the position unchanged.
int64_t WriteBytesAt(FileHandle handle, const void* buffer, int64_t count, int64_t offset);
// Reads a count and that many characters; raises DataFileError when the count runs past the
// end of the file. Returns 4 + length.
int64_t ReadLenString(FileHandle handle, std::string& value);
void WriteLenString(FileHandle handle, const std::string& value);
int64_t GetFileSize64(FileHandle handle);
// Everything from the current position to the end of the file.
std::string ReadToEnd(FileHandle handle);

// Splits at the first `delimiter`: without one, left is empty and right is the whole text.
std::pair<std::string, std::string> SplitAt(const std::string& text, char delimiter);
void CopyBytes(void* destination, const void* source, size_t count);

// One path as it is; several each in double quotes, one blank between two of them.
std::string JoinQuotedPaths(const std::vector<std::string>& paths);
// The inverse of JoinQuotedPaths; runs of blanks alone are no paths.
void SplitQuotedPaths(const std::string& text, std::vector<std::string>& paths);

// Linux has no privilege to enable for the security copy: always true.
bool EnablePrivilege(const std::string& name);

// Parts of a file's security, numbered as the platform flags they stand for.
enum SecurityPart : int {
    SecurityOwner = 1,
    SecurityGroup = 2,
    SecurityPermissions = 4,  // mode bits and POSIX ACLs
    SecurityAuditing = 8,     // no counterpart on Linux
};
// Copies one part of the source's security to the destination, an open descriptor of it (O_PATH
// will do), so that nothing reaches another file by its name; raises OsError on failure.
// The auditing part has nothing to copy and does nothing. The permissions keep the set-user-id
// and set-group-id bits only with `keepSetId`, which is for a copy whose owner and group are
// the source's.
void CopyFileSecurity(const std::string& source, int destination, int part, bool keepSetId = true);
// A file's access and modification times, nanoseconds since 1970.
struct FileTimes {
    int64_t Accessed = 0;
    int64_t Modified = 0;
};
// Copies the mode bits (without the set-id bits, which belong with the owner) and the access and
// modification times: `times` when given, as they were before the copy read the file, otherwise
// the source's now. Raises OsError on failure.
void CopyFileAttributes(const std::string& source, int destination, const FileTimes* times = nullptr);
// The same for a symbolic link itself, never what it names: the times (`times`, or the source
// link's now), and its owner and group, from the link `source` to the link `name` in the open
// folder `folder`. A link has no permissions of its own. Raise OsError on failure.
void CopyLinkTimes(const std::string& source, int folder, const std::string& name, const FileTimes* times);
void CopyLinkOwner(const std::string& source, int folder, const std::string& name);
// Creates every missing folder of the path; true when the folder exists afterwards.
bool ForceDirectories(const std::string& folder);
// The same; on failure `failed` names the folder that could not be made and errno says why.
bool ForceDirectories(const std::string& folder, std::string& failed);
// With the permissions of the folders it makes, less the umask.
bool ForceDirectories(const std::string& folder, std::string& failed, mode_t mode);
// The folders it makes are the user's alone (0700): the restore folder and its damaged/.
bool ForcePrivateDirectories(const std::string& folder);
// The same for a folder inside `root` (which must exist), where no symbolic link is followed:
// a link standing where a folder goes fails with ErrorLinkInPath (PathBeneath).
bool ForceDirectoriesBeneath(const std::string& root, const std::string& folder, std::string& failed);

// Path rules, by plain string work on '/'.
std::string IncludeTrailingDelimiter(const std::string& path);
std::string ExcludeTrailingDelimiter(const std::string& path);
// Everything up to and including the last delimiter.
std::string ExtractFilePath(const std::string& path);
// Everything after the last delimiter.
std::string ExtractFileName(const std::string& path);
// What follows `base` in `path`, for a path below the folder `base`; `path` otherwise.
std::string ExtractRelativePath(const std::string& base, const std::string& path);
// `path` made absolute against the current folder, so that it names the same file from any
// other folder, and normal: no "." or empty names, and the part up to the last ".." replaced by
// its real path (as far as it exists), so that the last name is the file's or folder's own. A
// trailing delimiter, ".", or ".." ends the result with a delimiter.
std::string AbsolutePath(const std::string& path);
// `path` without any trailing delimiters ("a//" is "a"); the root stays "/".
std::string StripTrailingDelimiters(const std::string& path);
// The folder `outer` is `inner` or holds it, links followed; `inner` need not exist yet.
bool IsSameOrInside(const std::string& inner, const std::string& outer);
// Equal without regard to ASCII letter case.
bool SameText(const std::string& a, const std::string& b);
std::string UpperCase(const std::string& text);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

}  // namespace tarn
