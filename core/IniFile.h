#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarn {

// A read-only INI text, as the language files are written: "[Section]" lines and "key=value"
// lines split at the first "=" (the value may hold more of them). Section names and keys match
// without regard to ASCII letter case; blanks around names, keys and values are dropped. When a
// key appears twice in a section, or a section twice in the file, the first one counts. Lines
// before the first section, lines without "=" and lines starting with ';' or '#' are ignored.
// Knows no Qt, so that the fuzz target can drive it alone.
class IniFile {
public:
    using Entry = std::pair<std::string, std::string>;

    IniFile() = default;
    static IniFile Parse(std::string_view text);
    // The file's contents; nullopt when it cannot be read (missing, a folder, no permission).
    static std::optional<IniFile> Load(const std::string& path);

    // The entries of a section in file order; empty when the section is absent.
    const std::vector<Entry>& Section(std::string_view name) const;
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

private:
    std::vector<std::vector<Entry>> sections_;
    std::unordered_map<std::string, size_t> sectionIndex_;  // upper-cased name -> position
};

// Equal without regard to ASCII letter case.
bool SameName(std::string_view a, std::string_view b);
// Orders names without regard to ASCII letter case.
bool LessName(std::string_view a, std::string_view b);
// ASCII upper case, the form in which names are compared.
std::string UpperName(std::string_view name);

}  // namespace tarn
