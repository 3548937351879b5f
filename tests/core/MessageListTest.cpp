#include "core/MessageList.h"

#include <algorithm>

#include "core/IniFile.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

TEST(MessageListTest, TheBuiltInCatalogueHoldsEveryIdOnce)
{
    const TMsgList msgs;
    const auto ids = msgs.Ids();
    EXPECT_EQ(ids.size(), 13u + 28u + 11u + 24u + 6u + 7u);
    EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end(), LessName));
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end(), SameName), ids.end());

    // Texts whose exact spelling matters: blanks, quotes and the program's own wording.
    EXPECT_EQ(msgs.GetMsg("Err001"), "Source doesn't exists: \"%s\"");
    EXPECT_EQ(msgs.GetMsg("Err009"),
              "An error occured while copying a %s from \"%s\" to \"%s\". Operation system reporting: \"%s\"");
    EXPECT_EQ(msgs.GetMsg("Log003"), "Start date and time:  %s");
    EXPECT_EQ(msgs.GetMsg("Log005"), "Clean copy time:  %s");
    EXPECT_EQ(msgs.GetMsg("Msg016"), "Primary Group");
    EXPECT_EQ(msgs.GetMsg("Err010"), "File \"%s\" was left out: %s");
    EXPECT_EQ(msgs.GetMsg("Msg019"), "Finished, %s left out");
    EXPECT_EQ(msgs.GetMsg("MBps"), "Mb/s");
    EXPECT_EQ(msgs.GetMsg("Bytes"), "Bytes");
}

TEST(MessageListTest, IdsMatchWithoutLetterCase)
{
    TMsgList msgs;
    EXPECT_EQ(msgs.GetMsg("err001"), msgs.GetMsg("Err001"));
    msgs.SetMsg("ERR001", "changed");
    EXPECT_EQ(msgs.GetMsg("Err001"), "changed");

    msgs.SetMsg("Err999", "ignored");
    EXPECT_EQ(msgs.GetMsg("Err999"), "");
    EXPECT_FALSE(msgs.HasMsg("Err999"));

    msgs.AddMsg("aaa", "first");
    msgs.AddMsg("zzz", "last");
    msgs.AddMsg("AAA", "replaced");
    const auto ids = msgs.Ids();
    EXPECT_EQ(ids.front(), "aaa");
    EXPECT_EQ(ids.back(), "zzz");
    EXPECT_EQ(msgs.GetMsg("aaa"), "replaced");
}

TEST(MessageListTest, StateNamesCoverTheSixStatesOnly)
{
    const TMsgList msgs;
    const char* names[] = {"Scanning", "Copying", "Error", "Paused", "Scheduled", "Finished"};
    for (int state = 0; state < 6; ++state) {
        std::string name;
        EXPECT_TRUE(msgs.GetStateName(state, name));
        EXPECT_EQ(name, names[state]);
    }
    for (const int state : {-1, 6, 255}) {
        std::string name = "as it was";
        EXPECT_FALSE(msgs.GetStateName(state, name));
        EXPECT_EQ(name, "as it was");
    }
}

TEST(MessageListTest, ExpandMsgRefsReplacesOnlyCatalogueIds)
{
    const TMsgList msgs;
    const std::pair<const char*, const char*> cases[] = {
        {"^Msg014^, ^Msg016^", "Attributes, Primary Group"},
        {"^msg017^", "Owner"},
        {"a^b^c.txt", "a^b^c.txt"},
        {"report^final.doc", "report^final.doc"},
        {"^^", "^^"},
        {"^Nope^", "^Nope^"},
        {"x^Msg014", "x^Msg014"},
        {"a^b^Msg018^", "a^bAuditing"},
        {"^^Msg015^^", "^Permissions^"},
        {"", ""},
        {"plain", "plain"},
    };
    for (const auto& [text, expanded] : cases) EXPECT_EQ(msgs.ExpandMsgRefs(text), expanded) << text;
}

TEST(MessageListTest, PlaceholdersAreFilledWithoutPrintf)
{
    const std::vector<std::string> two = {"one", "two"};
    const std::tuple<const char*, std::vector<std::string>, const char*> cases[] = {
        {"%s and %s", two, "one and two"},
        {"%s", two, "one"},                        // a parameter too many is left out
        {"%s, %s, %s.", two, "one, two, ."},       // a placeholder too many stays empty
        {"%n%d%x%p %5s %", two, "%n%d%x%p %5s %"},  // nothing but "%s" is special
        {"100%%s", two, "100%one"},
        {"%s", {"%s%n"}, "%s%n"},  // parameters are not scanned again
        {"no placeholder", two, "no placeholder"},
    };
    for (const auto& [text, params, filled] : cases) EXPECT_EQ(FillPlaceholders(text, params), filled) << text;
}

class LanguageFileTest : public test::TempFolderTest {
protected:
    void SetUp() override { test::MakeFolders(temp / "Lang"); }
    void Language(const std::string& name, const std::string& text) { test::WriteFile(temp / "Lang/" + name, text); }
};

TEST_F(LanguageFileTest, ALanguageFileReplacesTextsById)
{
    Language("Test.lng", "[TfrmMain]\nMsg005=not this section\n"
                         "[TMsgList]\nerr001=Quelle fehlt: \"%s\"\nMsg012=a=b %s\nNoSuchId=ignored\n");
    TMsgList msgs;
    msgs.LoadCatalogue(*ReadLanguageFile(temp.Path(), "Test"));
    EXPECT_EQ(msgs.GetMsg("Err001"), "Quelle fehlt: \"%s\"");
    EXPECT_EQ(msgs.GetMsg("Msg012"), "a=b %s");
    EXPECT_EQ(msgs.GetMsg("Msg005"), "Error");
    EXPECT_FALSE(msgs.HasMsg("NoSuchId"));

    // Loading again starts from the built-in texts.
    msgs.LoadCatalogue(IniFile());
    EXPECT_EQ(msgs.GetMsg("Err001"), "Source doesn't exists: \"%s\"");
}

TEST_F(LanguageFileTest, EnglishInAnyCaseReadsNoFile)
{
    Language("English.lng", "[TMsgList]\nMsg005=from a file\n");
    Language("english.lng", "[TMsgList]\nMsg005=from a file\n");
    for (const char* name : {"English", "english", "ENGLISH"})
        EXPECT_FALSE(ReadLanguageFile(temp.Path(), name).has_value()) << name;
    EXPECT_FALSE(ReadLanguageFile(temp.Path(), "Missing").has_value());
}

TEST_F(LanguageFileTest, TheLanguageListHoldsEachLanguageOnceSorted)
{
    Language("Deutsch.lng", "");
    Language("Svenska.lng", "");
    Language("English.lng", "");
    Language("notes.txt", "");
    Language(".lng", "");
    test::MakeFolders(temp / "Lang/Folder.lng");
    EXPECT_EQ(LanguageList(temp.Path(), "Svenska"), (std::vector<std::string>{"Deutsch", "English", "Svenska"}));
    EXPECT_EQ(LanguageList(temp.Path(), "english"), (std::vector<std::string>{"Deutsch", "english", "Svenska"}));
    EXPECT_EQ(LanguageList(temp / "nowhere/", "Klingon"), (std::vector<std::string>{"English", "Klingon"}));
}

TEST_F(LanguageFileTest, HelpFallsBackToEnglish)
{
    test::MakeFolders(temp / "Help/Deutsch/html");
    EXPECT_EQ(HelpFolder(temp.Path(), "Deutsch"), temp / "Help/Deutsch/");
    EXPECT_EQ(HelpFolder(temp.Path(), "Svenska"), temp / "Help/English/");
}

}  // namespace
}  // namespace tarn
