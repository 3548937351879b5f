#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/IniFile.h"

namespace tarn {

class TSettingsStorage;

// The message catalogue: every text the program shows or writes at run time, looked up by a
// short id ("Err001", "Sta003", "MB"). It starts from the built-in English texts; a language
// file's section "TMsgList" replaces texts by id. Ids are unique and matched without regard to
// letter case.
class TMsgList {
public:
    // The built-in texts only.
    TMsgList();
    // The built-in texts and the language file of the settings' language.
    explicit TMsgList(const TSettingsStorage& settings);

    // Starts again from the built-in texts, then applies the language file of
    // settings.Language(); English (in any letter case) reads no file, and a missing file
    // changes nothing.
    void LoadCatalogue(const TSettingsStorage& settings);
    // Starts again from the built-in texts, then applies the section "TMsgList" of `languageFile`.
    void LoadCatalogue(const IniFile& languageFile);

    // Adds an id at its sorted place; an id already present gets the new text.
    void AddMsg(const std::string& id, const std::string& text);
    // Replaces the text of a known id; an unknown id is ignored.
    void SetMsg(const std::string& id, const std::string& text);
    // The text of `id`, or "" for an unknown id.
    std::string GetMsg(std::string_view id) const;
    bool HasMsg(std::string_view id) const;
    // For a state number 0 to 5, sets `name` to its text (Sta001 to Sta006) and returns true;
    // any other number leaves `name` as it was.
    bool GetStateName(int state, std::string& name) const;
    // Replaces every reference, a catalogue id between two '^', by the id's text. Carets around
    // anything that is no id stay as written, so "a^b^c.txt" comes back whole.
    std::string ExpandMsgRefs(const std::string& text) const;
    // The text of `id` with its "%s" placeholders filled by `params` in order (FillPlaceholders).
    std::string FormatMsg(std::string_view id, const std::vector<std::string>& params) const;

    // The ids in their sorted order.
    std::vector<std::string> Ids() const;

private:
    void AddBuiltIns();
    // Position of `id` in the sorted entries, and whether it is there.
    std::pair<size_t, bool> Find(std::string_view id) const;

    // Kept sorted by id without regard to letter case: Keys and Values of one list.
    std::vector<std::pair<std::string, std::string>> entries_;
};

// `text` with each "%s" replaced by the next parameter. Nothing else in the text is special, so
// a translated text with "%n", "%d" or a different number of placeholders cannot read past the
// parameters: placeholders beyond the last parameter become empty, parameters beyond the last
// placeholder are left out.
std::string FillPlaceholders(std::string_view text, const std::vector<std::string>& params);

// The language file of `language`: rootDir + "Lang/" + language + ".lng". nullopt for English
// (in any letter case), whose texts are the built-in ones, and for a file that cannot be read.
std::optional<IniFile> ReadLanguageFile(const std::string& rootDir, const std::string& language);

// The languages for the settings dialog, sorted: one per language file, "English", and the
// current language, each once.
std::vector<std::string> LanguageList(const std::string& rootDir, const std::string& currentLanguage);

// The folder of the help pages in `language`, rootDir + "Help/" + language + "/", when it
// exists; otherwise the English one (which the caller reports when it is missing too).
std::string HelpFolder(const std::string& rootDir, const std::string& language);

}  // namespace tarn
