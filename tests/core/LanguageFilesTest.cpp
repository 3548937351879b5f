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

TEST(ShippedLanguageTest, EveryCatalogueTextIsTranslatedWithItsPlaceholders)
{
    EXPECT_EQ(ShippedLanguages(), std::vector<std::string>{"Deutsch"});
    const TMsgList english;
    for (const auto& language : ShippedLanguages()) {
        const auto file = ReadLanguageFile(DataDir, language);
        ASSERT_TRUE(file.has_value()) << language;
        for (const auto& [id, text] : file->Section("TMsgList")) EXPECT_TRUE(english.HasMsg(id)) << language << ": " << id;
        for (const auto& id : english.Ids()) {
            const auto text = file->Value("TMsgList", id);
            ASSERT_TRUE(text.has_value()) << language << ": " << id;
            EXPECT_FALSE(text->empty()) << language << ": " << id;
            EXPECT_EQ(Placeholders(*text), Placeholders(english.GetMsg(id))) << language << ": " << id;
        }
    }
}

TEST(ShippedLanguageTest, EveryWindowTextIsTranslatedAndNoKeyIsMisspelt)
{
    for (const auto& language : ShippedLanguages()) {
        const auto file = ReadLanguageFile(DataDir, language);
        ASSERT_TRUE(file.has_value()) << language;
        for (const FormCaptions* form : AllFormCaptions()) {
            std::vector<CaptionText> expected(form->OwnTexts.begin(), form->OwnTexts.end());
            expected.insert(expected.end(), form->Properties.begin(), form->Properties.end());
            if (form->Caption != nullptr) expected.push_back({"Caption", form->Caption});

            std::set<std::string> known;
            for (const auto& text : expected) {
                known.insert(UpperName(text.Key));
                const auto value = file->Value(form->FormClass, text.Key);
                ASSERT_TRUE(value.has_value()) << language << ": " << form->FormClass << "." << text.Key;
                EXPECT_EQ(Placeholders(*value), Placeholders(text.Text)) << form->FormClass << "." << text.Key;
            }
            for (const auto& [key, value] : file->Section(form->FormClass))
                EXPECT_TRUE(known.contains(UpperName(key))) << language << ": " << form->FormClass << "." << key;
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
            const std::string mark = "href=\"";
            for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
                const size_t begin = at + mark.size();
                std::string target = text.substr(begin, text.find('"', begin) - begin);
                target = target.substr(0, target.find('#'));
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
