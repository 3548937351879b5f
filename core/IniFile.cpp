#include "core/IniFile.h"

#include <algorithm>
#include <unordered_set>

#include "engine/RestoreFiles.h"
#include "platform/OsError.h"

namespace tarn {
namespace {

char UpperChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view Trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (UpperChar(a[i]) != UpperChar(b[i])) return false;
    return true;
}

bool LessName(std::string_view a, std::string_view b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return UpperChar(x) < UpperChar(y); });
}

std::string UpperName(std::string_view name)
{
    std::string upper(name);
    for (char& c : upper) c = UpperChar(c);
    return upper;
}

IniFile IniFile::Parse(std::string_view text)
{
    constexpr std::string_view Bom = "\xEF\xBB\xBF";
    if (text.substr(0, Bom.size()) == Bom) text.remove_prefix(Bom.size());

    IniFile file;
    std::vector<std::unordered_set<std::string>> keysSeen;  // upper-cased keys per section
    size_t current = 0;
    bool inSection = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;

        if (line.front() == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string_view::npos;
            if (!inSection) continue;
            const auto [position, added] =
                file.sectionIndex_.try_emplace(UpperName(Trim(line.substr(1, close - 1))), file.sections_.size());
            if (added) {
                file.sections_.emplace_back();
                keysSeen.emplace_back();
            }
            current = position->second;
            continue;
        }

        const size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        const std::string_view key = Trim(line.substr(0, equals));
        if (key.empty() || !keysSeen[current].insert(UpperName(key)).second) continue;
        file.sections_[current].emplace_back(std::string(key), std::string(Trim(line.substr(equals + 1))));
    }
    return file;
}

std::optional<IniFile> IniFile::Load(const std::string& path)
{
    try {
        return Parse(ReadFileBytes(path));
    } catch (const OsError&) {
        return std::nullopt;
    }
}

const std::vector<IniFile::Entry>& IniFile::Section(std::string_view name) const
{
    static const std::vector<Entry> none;
    const auto found = sectionIndex_.find(UpperName(name));
    return found == sectionIndex_.end() ? none : sections_[found->second];
}

std::optional<std::string> IniFile::Value(std::string_view section, std::string_view key) const
{
    for (const auto& entry : Section(section))
        if (SameName(entry.first, key)) return entry.second;
    return std::nullopt;
}

}  // namespace tarn
