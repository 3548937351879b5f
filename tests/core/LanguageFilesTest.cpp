// Checks the language files and help pages shipped in data/.
#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "core/FormCaptions.h"
#include "core/Globals.h"
#include "core/IniFile.h"
#include "core/MessageList.h"
#include "engine/GlobalUtils.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

const std::string DataDir = TARN_SOURCE_DATA_DIR;

size_t Placeholders(const std::string& text)
{
    size_t count = 0;
    for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s", at + 2)) ++count;
    return count;
}

std::vector<std::string> ShippedLanguages()
{
    auto languages = LanguageList(DataDir, DefaultLanguage);
    std::erase(languages, std::string(DefaultLanguage));
    return languages;
}

// Every text of the catalogue and of every window is translated with its placeholders, and no
// key is misspelt.
TEST(ShippedLanguageTest, EveryTextIsTranslatedWithItsPlaceholders)
{
    EXPECT_EQ(ShippedLanguages(), std::vector<std::string>{"Deutsch"});
    const TMsgList english;
    const auto ids = english.Ids();  // each once, in the order lookups rely on
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end(), LessName));
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end(), SameName), ids.end());
    for (const auto& language : ShippedLanguages()) {
        const auto file = ReadLanguageFile(DataDir, language);
        ASSERT_TRUE(file.has_value()) << language;
        using Texts = std::vector<std::pair<std::string, std::string>>;
        const auto check = [&](const std::string& section, const Texts& texts) {
            std::set<std::string> known;
            for (const auto& [key, text] : texts) {
                known.insert(UpperName(key));
                const auto value = file->Value(section, key);
                ASSERT_TRUE(value.has_value() && !value->empty()) << language << ": " << section << "." << key;
                EXPECT_EQ(Placeholders(*value), Placeholders(text)) << language << ": " << section << "." << key;
            }
            for (const auto& [key, value] : file->Section(section))
                EXPECT_TRUE(known.contains(UpperName(key))) << language << ": " << section << "." << key;
        };
        Texts messages;
        for (const auto& id : ids) messages.emplace_back(id, english.GetMsg(id));
        check("TMsgList", messages);
        for (const FormCaptions* form : AllFormCaptions()) {
            Texts texts;
            for (const auto& text : form->OwnTexts) texts.emplace_back(text.Key, text.Text);
            for (const auto& text : form->Properties) texts.emplace_back(text.Key, text.Text);
            if (form->Caption != nullptr) texts.emplace_back("Caption", form->Caption);
            check(form->FormClass, texts);
        }
    }
}

// A topic or a page that one language lacks, or a link between pages that leads nowhere, shows
// only when a user follows it in the browser.
TEST(ShippedLanguageTest, EveryLanguageHasEveryHelpPageAndEveryLinkLeadsToAFile)
{
    namespace fs = std::filesystem;
    auto languages = ShippedLanguages();
    languages.push_back(DefaultLanguage);
    std::map<std::string, std::set<std::string>> pages;
    for (const auto& language : languages) {
        EXPECT_EQ(HelpFolder(DataDir, language), DataDir + HelpDir + language + "/");
        for (const char* topic :
             {HelpTopicIntroduction, HelpTopicSettingsGeneral, HelpTopicSettingsTask, HelpTopicSettingsRestore})
            EXPECT_TRUE(FileExists(HelpFolder(DataDir, language) + topic)) << language << ": " << topic;
        const fs::path folder = DataDir + HelpDir + language;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (entry.path().extension() != ".html") continue;
            pages[language].insert(entry.path().lexically_relative(folder).string());
            const std::string text = test::ReadFile(entry.path().string());
            const std::string href = "href=\"";
            for (size_t at = text.find(href); at != std::string::npos; at = text.find(href, at + 1)) {
                const size_t from = at + href.size();
                const std::string target = text.substr(from, text.find_first_of("\"#", from) - from);
                // An address with a scheme (https:, mailto:) leads out of the help.
                if (target.empty() || target.find(':') < target.find('/')) continue;
                EXPECT_TRUE(fs::exists(entry.path().parent_path() / target)) << entry.path() << " links to " << target;
            }
        }
    }
    for (const auto& language : languages) EXPECT_EQ(pages[language], pages[DefaultLanguage]) << language;
}

}  // namespace
}  // namespace tarn
