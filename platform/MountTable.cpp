#include "platform/MountTable.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace tarn {
namespace {

// The kernel writes a blank, tab, newline and backslash in a field as \040, \011, \012 and
// \134, since blanks separate the fields and newlines the lines. Anything else stays as it is.
std::string Unescape(std::string_view field)
{
    std::string result;
    result.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i >= 4) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                result += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        result += field[i];
    }
    return result;
}

std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos < line.size()) {
        const size_t start = line.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        const size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        pos = end;
    }
    return fields;
}

// A mountinfo line: id, parent id, major:minor, root, mount point, options, optional fields
// ended by "-", then file system type, mount source and super options.
bool ParseLine(std::string_view line, MountEntry& entry)
{
    const std::vector<std::string_view> fields = SplitFields(line);
    if (fields.size() < 7) return false;
    size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (separator + 2 >= fields.size()) return false;
    entry.MountPoint = Unescape(fields[4]);
    entry.FileSystemType = Unescape(fields[separator + 1]);
    entry.MountSource = Unescape(fields[separator + 2]);
    return !entry.MountPoint.empty() && entry.MountPoint.front() == '/';
}

bool Contains(const std::string& mountPoint, const std::string& path)
{
    if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
    return path.size() == mountPoint.size() || mountPoint.back() == '/' || path[mountPoint.size()] == '/';
}

}  // namespace

MountTable MountTable::Parse(std::string_view text)
{
    MountTable table;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        MountEntry entry;
        if (ParseLine(text.substr(0, end), entry)) table.entries_.push_back(std::move(entry));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return table;
}

MountTable MountTable::Current()
{
    std::ifstream file("/proc/self/mountinfo");
    if (!file) return {};
    std::ostringstream text;
    text << file.rdbuf();
    return Parse(text.str());
}

const MountEntry* MountTable::Find(const std::string& path) const
{
    const MountEntry* best = nullptr;
    for (const MountEntry& entry : entries_) {
        if (Contains(entry.MountPoint, path) && (!best || entry.MountPoint.size() >= best->MountPoint.size())) {
            best = &entry;
        }
    }
    return best;
}

}  // namespace tarn
