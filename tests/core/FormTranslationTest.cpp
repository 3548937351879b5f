#include "core/FormTranslation.h"

#include <cstdlib>

#include "core/SettingsStorage.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using Property = FormTranslation::PropertyText;

const Property* Find(const FormTranslation& t, const std::string& component, const std::string& property)
{
    for (const auto& p : t.Properties())
        if (p.Component == component && p.Property == property) return &p;
    return nullptr;
}

TEST(FormTranslationTest, WithoutALanguageFileTheBuiltInTextsStand)
{
    const FormTranslation t(FormSettingsCaptions, nullptr);
    EXPECT_EQ(t.Caption(), "Settings");
    EXPECT_EQ(t.Text("s100Mbit"), "100 Mbit per second");
    ASSERT_EQ(t.Properties().size(), FormSettingsCaptions.Properties.size());
    const Property* hint = Find(t, "btnLogFile", "Hint");
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->Value, "Browse for log file");
    EXPECT_THROW(t.Text("sNoSuchText"), std::invalid_argument);
}

TEST(FormTranslationTest, KeysAreTestedAsCaptionThenOwnTextThenComponentProperty)
{
    const IniFile file = IniFile::Parse("[TfrmSettings]\n"
                                        "caption=Einstellungen\n"
                                        "SUPLOAD=Fortsetzen\n"
                                        "btnlogfile.hint=Protokolldatei suchen\n"
                                        "btnOK.Hint=Speichern = schliessen\n"
                                        "NoDot=ignored\n"
                                        ".Caption=ignored\n"
                                        "btnOK.=ignored\n"
                                        "[TfrmMain]\n"
                                        "Caption=not for the main window\n"
                                        "lvTaskList.Src=Quelle\n"
                                        "actExit.Caption=Beenden\n");
    const FormTranslation settings(FormSettingsCaptions, &file);
    EXPECT_EQ(settings.Caption(), "Einstellungen");
    EXPECT_EQ(settings.Text("sUpload"), "Fortsetzen");
    EXPECT_EQ(settings.Text("sSkip"), "Skip");
    EXPECT_EQ(Find(settings, "btnLogFile", "Hint")->Value, "Protokolldatei suchen");
    // A property without a built-in text is handed on for the window to apply if it can.
    ASSERT_EQ(settings.Properties().size(), FormSettingsCaptions.Properties.size() + 1);
    EXPECT_EQ(settings.Properties().back().Component, "btnOK");
    EXPECT_EQ(settings.Properties().back().Property, "Hint");
    EXPECT_EQ(settings.Properties().back().Value, "Speichern = schliessen");

    const FormTranslation main(FormMainCaptions, &file);
    EXPECT_EQ(main.Caption(), "");
    EXPECT_EQ(main.Text("lvTaskList.Src"), "Quelle");
    EXPECT_EQ(main.Text("lvTaskList.Dst"), "Destination");
    EXPECT_EQ(Find(main, "lvTaskList", "Src"), nullptr);
    EXPECT_EQ(Find(main, "actExit", "Caption")->Value, "Beenden");
    EXPECT_EQ(main.Properties().size(), FormMainCaptions.Properties.size());
}

TEST(FormTranslationTest, TheSettingsLanguageChoosesTheFile)
{
    test::TempFolder temp;
    test::MakeFolders(temp / "Lang");
    test::WriteFile(temp / "Lang/Test.lng", "[TfrmSchedule]\nCaption=Zeitplan\n");
    test::WriteFile(temp / "Lang/English.lng", "[TfrmSchedule]\nCaption=never read\n");
    test::WriteFile(temp / "user.ini", "[General]\nRootDir=" + temp.Path() + "\n[Settings]\nLanguage=Test\n");
    setenv("XDG_DATA_HOME", (temp / "data").c_str(), 1);
    TSettingsStorage settings(RegistryLocation{temp / "user.ini", temp / "system.ini"});
    EXPECT_EQ(ReadFormTranslation(settings, FormScheduleCaptions).Caption(), "Zeitplan");

    settings.SetLanguage("english");
    EXPECT_EQ(ReadFormTranslation(settings, FormScheduleCaptions).Caption(), "Schedule");
}

}  // namespace
}  // namespace tarn
