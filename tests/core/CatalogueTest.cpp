// The texts of the program: the message catalogue, language files (and those shipped in data/ with
// the help pages) and units.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "core/FormCaptions.h"
#include "core/FormTranslation.h"
#include "core/Globals.h"
#include "core/IniFile.h"
#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/GlobalUtils.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using Entries = std::vector<IniFile::Entry>;

TEST(MessageListTest, IniLinesSplitAtTheFirstEqualsAndReferencesAndPlaceholdersAreFilledOnce)
{
    const IniFile file = IniFile::Parse("\xEF\xBB\xBF" "ignored=before any section\r\n[TMsgList]\r\n"
                                        "  Err001 =  a = b = c  \r\n; a comment=no entry\r\n# another=no entry\r\n"
                                        "no equals sign\r\n=no key\r\nEmpty=\r\nERR001=second\r\n[ Other ]\nk=v\n"
                                        "[TMSGLIST]\nErr002=merged\nErr001=third");
    EXPECT_EQ(file.Section("tmsglist"), (Entries{{"Err001", "a = b = c"}, {"Empty", ""}, {"Err002", "merged"}}));
    EXPECT_EQ(file.Value("TMsgList", "err001"), "a = b = c");
    EXPECT_EQ(file.Value("OTHER", "K"), "v");
    EXPECT_FALSE(file.Value("Other", "y").has_value());
    EXPECT_TRUE(file.Section("missing").empty());

    const TMsgList msgs;
    const std::pair<const char*, const char*> refs[] = {
        {"^Msg014^, ^msg016^", "Attributes, Primary Group"}, {"a^b^c.txt", "a^b^c.txt"}, {"^Nope^", "^Nope^"},
        {"x^Msg014", "x^Msg014"}, {"a^b^Msg018^", "a^bAuditing"}, {"^^Msg015^^", "^Permissions^"},
    };
    for (const auto& [text, expanded] : refs) EXPECT_EQ(msgs.ExpandMsgRefs(text), expanded) << text;
    const std::vector<std::string> two = {"one", "two"};
    const std::tuple<const char*, std::vector<std::string>, const char*> fills[] = {
        {"%s and %s", two, "one and two"},
        {"%s", two, "one"},                         // a parameter too many is left out
        {"%s, %s, %s.", two, "one, two, ."},        // a placeholder too many stays empty
        {"%n%d%x%p %5s %", two, "%n%d%x%p %5s %"},  // only "%s" is a placeholder
        {"100%%s", two, "100%one"},
        {"%s", {"%s%n"}, "%s%n"},  // parameters are not scanned again
    };
    for (const auto& [text, params, filled] : fills) EXPECT_EQ(FillPlaceholders(text, params), filled) << text;
}

class LanguageFileTest : public test::TempFolderTest {
protected:
    void SetUp() override { test::MakeFolders(temp / "Lang"); }
    void Language(const std::string& name, const std::string& text) { test::WriteFile(temp / "Lang/" + name, text); }
};

TEST_F(LanguageFileTest, ALanguageFileReplacesTextsByIdAndEnglishReadsNone)
{
    Language("Test.lng", "[TfrmMain]\nMsg005=not this section\n"
                         "[TMsgList]\nerr001=Quelle fehlt: \"%s\"\nMsg012=a=b %s\nNoSuchId=ignored\n");
    TMsgList msgs;
    msgs.LoadCatalogue(*ReadLanguageFile(temp.Path(), "Test"));
    EXPECT_EQ(msgs.GetMsg("Err001"), "Quelle fehlt: \"%s\"");
    EXPECT_EQ(msgs.GetMsg("Msg012"), "a=b %s");
    EXPECT_EQ(msgs.GetMsg("Msg005"), "Error");
    EXPECT_FALSE(msgs.HasMsg("NoSuchId"));
    msgs.LoadCatalogue(IniFile());  // each load starts from the built-in texts
    EXPECT_EQ(msgs.GetMsg("Err001"), TMsgList().GetMsg("Err001"));

    for (const char* name : {"English.lng", "english.lng"})
        Language(name, "[TMsgList]\nMsg005=from a file\n[TfrmSchedule]\nCaption=never read\n");
    for (const char* name : {"English", "english", "ENGLISH", "Missing"})
        EXPECT_FALSE(ReadLanguageFile(temp.Path(), name).has_value()) << name;

    // The settings' language chooses the file the windows read.
    Language("Test.lng", "[TfrmSchedule]\nCaption=Zeitplan\n");
    test::WriteFile(temp / "user.ini", "[General]\nRootDir=" + temp.Path() + "\n[Settings]\nLanguage=Test\n");
    test::UsePrivateUserFolders(temp);
    TSettingsStorage settings(RegistryLocation{temp / "user.ini", temp / "system.ini"});
    EXPECT_EQ(ReadFormTranslation(settings, FormScheduleCaptions).Caption(), "Zeitplan");
    settings.SetLanguage("english");
    EXPECT_EQ(ReadFormTranslation(settings, FormScheduleCaptions).Caption(), "Schedule");
}

TEST_F(LanguageFileTest, TheLanguageListHoldsEachLanguageOnceSortedAndHelpFallsBackToEnglish)
{
    for (const char* name : {"Deutsch.lng", "Svenska.lng", "English.lng", "notes.txt", ".lng"}) Language(name, "");
    test::MakeFolders(temp / "Lang/Folder.lng");
    EXPECT_TRUE(ReadLanguageFile(temp.Path(), "Deutsch").has_value() && !ReadLanguageFile(temp.Path(), "Folder"));
    EXPECT_EQ(LanguageList(temp.Path(), "Svenska"), (std::vector<std::string>{"Deutsch", "English", "Svenska"}));
    EXPECT_EQ(LanguageList(temp.Path(), "english"), (std::vector<std::string>{"Deutsch", "english", "Svenska"}));
    EXPECT_EQ(LanguageList(temp / "nowhere/", "Klingon"), (std::vector<std::string>{"English", "Klingon"}));
    test::MakeFolders(temp / "Help/Deutsch/html");
    EXPECT_EQ(HelpFolder(temp.Path(), "Deutsch"), temp / "Help/Deutsch/");
    EXPECT_EQ(HelpFolder(temp.Path(), "Svenska"), temp / "Help/English/");
}

const QLocale English(QLocale::English, QLocale::UnitedStates);
const QLocale German(QLocale::German, QLocale::Germany);

TEST(UnitsTest, SizesSpeedsNumbersAndTimesShowInTheirUnitAndLocale)
{
    const TMsgList msgs;
    const auto scaled = [](const ScaledValue& v) { return FormatDecimal(v.Value, English) + " " + v.Unit; };
    const std::pair<std::string, const char*> cases[] = {
        // A unit takes over above the one below it; numbers have no thousands separators.
        {scaled(ScaleSize(1024, msgs)), "1024 Bytes"}, {scaled(ScaleSize(1025, msgs)), "1 Kb"},
        {scaled(ScaleSize(1536, msgs)), "1.5 Kb"}, {scaled(ScaleSize(1234567890123, msgs)), "1177375.69 Mb"},
        {scaled(FormatSpeed(12500000, msgs)), "11.92 Mb/s"}, {FormatDecimal(1234567.456, German), "1234567,46"},
        {FormatDecimal(2.999, German), "3"}, {FormatDecimal(-0.001, English), "0"}, {FormatFixed(0.5, 2, German), "0,50"},
        // The existing-file question shows one decimal and the whole count beside it.
        {FormatFileSize(1024, msgs, English), "1024 Bytes"},
        {FormatFileSize(5368709120, msgs, German), "5120,0 Mb (5.368.709.120 Bytes)"},
        // Clock times wrap at a day and drop milliseconds; dates drop midnight.
        {FormatClockTime(-1), "00:00:00"}, {FormatClockTime(1.0 / 24 + 2.0 / 1440 + 3.0 / 86400), "01:02:03"},
        {FormatClockTime(25.0 / 24), "01:00:00"}, {FormatClockTime(59.9 / 86400), "00:00:59"},
        {FormatClockTime(1 - 0.0004 / 86400), "00:00:00"},  // 23:59:59.9996 rounds to the next day
        {FormatLocaleDateTime(45000.75, English), "3/15/23 6:00:00 PM"},
        {FormatLocaleDateTime(45000.75, German), "15.03.23 18:00:00"}, {FormatLocaleDateTime(45000, English), "3/15/23"},
        {FormatLocaleDateTime(1e300, English), ""},
    };
    for (const auto& [shown, expected] : cases) EXPECT_EQ(shown, expected);
}

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
TEST(ShippedLanguageTest, EveryTextIsTranslatedWithItsPlaceholdersAndEveryHelpPageIsThere)
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

    // A topic or a page that one language lacks shows only when a user opens it (the installation's
    // test follows the links between the pages).
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
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.path().extension() == ".html")
                pages[language].insert(entry.path().lexically_relative(folder).string());
    }
    for (const auto& language : languages) EXPECT_EQ(pages[language], pages[DefaultLanguage]) << language;
}

}  // namespace
}  // namespace tarn
