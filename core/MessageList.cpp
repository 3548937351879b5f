#include "core/MessageList.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "core/Globals.h"
#include "core/SettingsStorage.h"
#include "engine/GlobalUtils.h"

namespace tarn {
namespace {

struct BuiltInMsg {
    const char* Id;
    const char* Text;
};

// In catalogue order: errors, information, program log, questions and status texts, state
// names, units.
constexpr BuiltInMsg BuiltInMessages[] = {
    {"Err001", "Source doesn't exists: \"%s\""},
    {"Err002", "Scan error. %s \"%s\""},
    {"Err003", "Can't create a destination directory \"%s\": %s"},
    {"Err004", "A file \"%s\" doesn't exist in a destination folder. Program tries to copy the file again."},
    {"Err005", "%s. File \"%s\" source \"%s\" destination \"%s\""},
    {"Err006", "%s \"%s\""},
    {"Err007", "Restore file was corrupted!"},
    {"Err008", "Can't open help file: \"%s\""},
    {"Err009", "An error occured while copying a %s from \"%s\" to \"%s\". Operation system reporting: \"%s\""},
    {"Err010", "File \"%s\" was left out: %s"},
    {"Err011", "Nothing has moved for %s seconds: the system does not answer for \"%s\""},
    {"Err012", "No web browser could be started to show the help file \"%s\""},
    {"Err013", "The copy of \"%s\" differs from its source when read back; it is copied again"},
    {"Inf001", "Task was created"},
    {"Inf002", "Task was restored"},
    {"Inf003", "Scan was started"},
    {"Inf004", "Scan was finished, %s files found"},
    {"Inf005", "Task was started"},
    {"Inf006", "Pause of %s milliseconds before retry"},
    {"Inf007", "A file \"%s\" was copied from \"%s\" to \"%s\""},
    {"Inf008", "Task was finished successfully"},
    {"Inf009", "Task was paused"},
    {"Inf010", "Source path was changed from \"%s\" to \"%s\""},
    {"Inf011", "Task was scheduled and will resume at %s"},
    {"Inf012", "Task was started according to schedule"},
    {"Inf013", "Task was restarted"},
    {"Inf014", "File was skipped: \"%s\""},
    {"Inf015", "Task was deleted by user"},
    {"Inf016", "All copied files were deleted by user"},
    {"Inf017", "Destination folder \"%s\" already contains a file \"%s\""},
    {"Inf018", "File \"%s\" will be overwritten"},
    {"Inf019", "File \"%s\" will be uploaded"},
    {"Inf020", "Task execution will be suspended because the number of errors when trying to copy is more than %s"},
    {"Inf021", "%s were copied from \"%s\" to \"%s\""},
    {"Inf022", "Task was finished, %s items could not be copied"},
    {"Inf023", "File \"%s\" does not match its source before the point of resume; it is copied again from its start"},
    {"Inf024", "File \"%s\" changed since its copy began; it is copied again from its start"},
    {"Inf025", "File \"%s\" belonged to %s, who may not read its source; a new file of the task's took its place"},
    {"Inf026", "After %s seconds the system answers again for \"%s\""},
    {"Inf027", "File \"%s\" has the size and time of its source and is taken as copied"},
    {"Inf028", "%s files were read back and found equal to their sources, %s bytes"},
    {"Inf029", "Link \"%s\" points outside the copied folder: \"%s\""},
    {"Inf030", "%s links point outside the copied folder"},
    {"Log001", "Source: \"%s\""},
    {"Log002", "Destination: \"%s\""},
    {"Log003", "Start date and time:  %s"},
    {"Log004", "Finish date and time: %s"},
    {"Log005", "Clean copy time:  %s"},
    {"Log006", "Files: %s"},
    {"Log007", "Total size: %s %s"},
    {"Log008", "Average speed: %s %s"},
    {"Log009", "Date and Time"},
    {"Log010", "Message"},
    {"Log011", "Items left out: %s"},
    {"Msg001", "Restart task?"},
    {"Msg002", "Skip file?"},
    {"Msg003", "Confirmation"},
    {"Msg004", "Unavailable"},
    {"Msg005", "Error"},
    {"Msg006", "Tasks: %s"},
    {"Msg007", "Working: %s"},
    {"Msg008", "Paused: %s"},
    {"Msg009", "Scheduled: %s"},
    {"Msg010", "Finished: %s"},
    {"Msg011", "Restart ALL tasks?"},
    {"Msg012", "Total speed: %s %s"},
    {"Msg013", "Restore default settings?"},
    {"Msg014", "Attributes"},
    {"Msg015", "Permissions"},
    {"Msg016", "Primary Group"},
    {"Msg017", "Owner"},
    {"Msg018", "Auditing"},
    {"Msg019", "Finished, %s left out"},
    {"Msg020", "About %s"},
    {"Msg021", "Version %s"},
    {"Msg022", "Task finished: %s"},
    {"Msg023", "Task paused after too many errors: %s"},
    {"Msg024", "All tasks are done"},
    {"Msg025", "Extended attributes"},
    {"Sta001", "Scanning"},
    {"Sta002", "Copying"},
    {"Sta003", "Error"},
    {"Sta004", "Paused"},
    {"Sta005", "Scheduled"},
    {"Sta006", "Finished"},
    {"MBps", "Mb/s"},
    {"KBps", "Kb/s"},
    {"Bps", "B/s"},
    {"MB", "Mb"},
    {"KB", "Kb"},
    {"Bytes", "Bytes"},
    {"Sec", "Seconds"},
};

constexpr char MsgListSection[] = "TMsgList";
constexpr const char* StateIds[] = {"Sta001", "Sta002", "Sta003", "Sta004", "Sta005", "Sta006"};

}  // namespace

TMsgList::TMsgList() { AddBuiltIns(); }

TMsgList::TMsgList(const TSettingsStorage& settings) { LoadCatalogue(settings); }

void TMsgList::AddBuiltIns()
{
    entries_.clear();
    for (const auto& msg : BuiltInMessages) AddMsg(msg.Id, msg.Text);
}

void TMsgList::LoadCatalogue(const TSettingsStorage& settings)
{
    if (const auto languageFile = ReadLanguageFile(settings.RootDir(), settings.Language()))
        LoadCatalogue(*languageFile);
    else
        AddBuiltIns();
}

void TMsgList::LoadCatalogue(const IniFile& languageFile)
{
    AddBuiltIns();
    for (const auto& [id, text] : languageFile.Section(MsgListSection)) SetMsg(id, text);
}

std::pair<size_t, bool> TMsgList::Find(std::string_view id) const
{
    const auto position = std::lower_bound(entries_.begin(), entries_.end(), id,
                                           [](const auto& entry, std::string_view key) { return LessName(entry.first, key); });
    const bool found = position != entries_.end() && SameName(position->first, id);
    return {static_cast<size_t>(position - entries_.begin()), found};
}

void TMsgList::AddMsg(const std::string& id, const std::string& text)
{
    const auto [index, found] = Find(id);
    if (found)
        entries_[index].second = text;
    else
        entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(index), {id, text});
}

void TMsgList::SetMsg(const std::string& id, const std::string& text)
{
    const auto [index, found] = Find(id);
    if (found) entries_[index].second = text;
}

std::string TMsgList::GetMsg(std::string_view id) const
{
    const auto [index, found] = Find(id);
    return found ? entries_[index].second : std::string();
}

bool TMsgList::HasMsg(std::string_view id) const { return Find(id).second; }

bool TMsgList::GetStateName(int state, std::string& name) const
{
    if (state < 0 || state >= static_cast<int>(std::size(StateIds))) return false;
    name = GetMsg(StateIds[state]);
    return true;
}

std::string TMsgList::ExpandMsgRefs(const std::string& text) const
{
    std::string result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const size_t open = text.find('^', position);
        if (open == std::string::npos) break;
        result.append(text, position, open - position);
        const size_t close = text.find('^', open + 1);
        const std::string_view id = close == std::string::npos
                                        ? std::string_view()
                                        : std::string_view(text).substr(open + 1, close - open - 1);
        if (!id.empty() && HasMsg(id)) {
            result += GetMsg(id);
            position = close + 1;
        } else {
            // Not a reference: the caret is text, and the next one may open a reference.
            result += '^';
            position = open + 1;
        }
    }
    if (position < text.size()) result.append(text, position);
    return result;
}

std::string TMsgList::FormatMsg(std::string_view id, const std::vector<std::string>& params) const
{
    return FillPlaceholders(GetMsg(id), params);
}

std::vector<std::string> TMsgList::Ids() const
{
    std::vector<std::string> ids;
    ids.reserve(entries_.size());
    for (const auto& entry : entries_) ids.push_back(entry.first);
    return ids;
}

std::string FillPlaceholders(std::string_view text, const std::vector<std::string>& params)
{
    std::string result;
    result.reserve(text.size());
    size_t next = 0;
    size_t position = 0;
    while (position < text.size()) {
        const size_t placeholder = text.find("%s", position);
        if (placeholder == std::string_view::npos) break;
        result.append(text.substr(position, placeholder - position));
        if (next < params.size()) result += params[next++];
        position = placeholder + 2;
    }
    if (position < text.size()) result.append(text.substr(position));
    return result;
}

std::optional<IniFile> ReadLanguageFile(const std::string& rootDir, const std::string& language)
{
    if (SameText(language, DefaultLanguage)) return std::nullopt;
    return IniFile::Load(rootDir + LangDir + language + "." + LangExt);
}

std::vector<std::string> LanguageList(const std::string& rootDir, const std::string& currentLanguage)
{
    std::vector<std::string> languages;
    const auto addOnce = [&languages](const std::string& name) {
        for (const auto& known : languages)
            if (SameText(known, name)) return;
        languages.push_back(name);
    };
    addOnce(currentLanguage);
    addOnce(DefaultLanguage);

    const std::string extension = std::string(".") + LangExt;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(rootDir + LangDir, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.size() > extension.size() && name.ends_with(extension) && entry->is_regular_file(error))
            addOnce(name.substr(0, name.size() - extension.size()));
    }
    std::sort(languages.begin(), languages.end(), [](const std::string& a, const std::string& b) { return LessName(a, b); });
    return languages;
}

std::string HelpFolder(const std::string& rootDir, const std::string& language)
{
    const std::string folder = rootDir + HelpDir + language + "/";
    return DirectoryExists(folder) ? folder : rootDir + HelpDir + DefaultLanguage + "/";
}

}  // namespace tarn
