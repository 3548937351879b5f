#include "tasks/SourceCheck.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/GlobalUtils.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// `path` with its links followed and its "." and ".." taken out, as far as it exists; the rest
// as written, so that a ".." there means the folder it will mean once the rest is made.
fs::path Resolved(const fs::path& path)
{
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(path, error);
    return error ? path.lexically_normal() : resolved;
}

// How far up from `path` the folder `folder` is: 0 when it is `path` itself, 1 for its parent,
// and so on; -1 when it is none of them. Compared by device and inode, so that a second path to
// the folder (a bind mount) is met as well as its own.
int FolderAbove(const fs::path& path, const fs::path& folder)
{
    int levels = 0;
    for (fs::path part = Resolved(path);; part = part.parent_path(), ++levels) {
        std::error_code error;
        if (fs::equivalent(part, folder, error)) return levels;
        if (part == part.parent_path()) return -1;
    }
}

}  // namespace

std::string CopyName(const std::string& source)
{
    // The task takes the source's name the same way: "bin//" names the folder "bin".
    return ExtractFileName(StripTrailingDelimiters(AbsolutePath(source)));
}

std::string WhySourceCannotBeCopied(const std::string& source, const std::string& destination)
{
    std::error_code error;
    const fs::file_status status = fs::status(source, error);
    if (error) return error.message();
    const bool folder = fs::is_directory(status);
    if (!folder && !fs::is_regular_file(status)) return "not a regular file or folder";

    const std::string copy = IncludeTrailingDelimiter(destination) + CopyName(source);
    if (!folder) {
        if (!fs::equivalent(source, AbsolutePath(copy), error)) return {};
        return "its copy " + Quoted(copy) + " would be the file itself";
    }
    const int above = FolderAbove(AbsolutePath(copy), source);
    if (above < 0) return {};
    return "its copy " + Quoted(IncludeTrailingDelimiter(copy)) + " would be " +
           (above == 0 ? "the folder itself" : "inside the folder");
}

std::string WhyNameIsTaken(const std::vector<std::string>& sources, size_t index, const std::string& destination)
{
    const std::string name = CopyName(sources[index]);
    for (size_t earlier = 0; earlier < index; ++earlier) {
        if (CopyName(sources[earlier]) != name) continue;
        return Quoted(sources[earlier]) + " has the same name; both would be copied to " +
               Quoted(IncludeTrailingDelimiter(destination) + name);
    }
    return {};
}

std::string WhyDestinationCannotBeUsed(const std::string& destination)
{
    std::error_code error;
    const fs::file_status status = fs::status(destination, error);
    // A destination that cannot be looked at now is the task's to report, and to retry.
    if (error || !fs::exists(status) || fs::is_directory(status)) return {};
    if (fs::is_regular_file(status)) return "it is a file, not a folder";
    return "it is not a folder";
}

}  // namespace tarn
