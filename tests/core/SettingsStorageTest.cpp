#include "core/SettingsStorage.h"

#include <sys/stat.h>

#include <filesystem>

#include "core/RegistryLayout.h"
#include "engine/GlobalUtils.h"
#include "engine/TaskTypes.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

std::string Text(const std::string& value) { return value; }
std::string Text(int64_t value) { return std::to_string(value); }

struct Setting {
    const char* name;
    std::function<void(TSettingsStorage&)> set;  // to a value that is not the default
    std::function<std::string(const TSettingsStorage&)> get;
    bool (TSettingsStorage::*changed)() const;
};
#define SETTING(Name, value)                                                                                 \
    Setting{#Name, [](TSettingsStorage& s) { s.Set##Name(value); },                                          \
            [](const TSettingsStorage& s) { return Text(s.Name()); }, &TSettingsStorage::Name##Changed}

const Setting Settings[] = {
    SETTING(Language, "Deutsch"), SETTING(RestorePath, "/srv/restore"), SETTING(RestoreUpdateInterval, 30000),
    SETTING(DelayOnError, 0), SETTING(AutoDeleteFinished, true), SETTING(LogFile, "/var/log/a=b.txt"),
    SETTING(AutoAction, 5), SETTING(AutoActionDelay, 0), SETTING(CountOfErrorsForSkip, 1),
    SETTING(BufferSize, MaxBufferSize), SETTING(AutoRun, false), SETTING(EnableContextMenu, false),
    SETTING(MaxLinkSpeed, 125000000), SETTING(EnableQuickInfo, false), SETTING(MinimizeInsteadClose, false),
    SETTING(EnableNotifications, false), SETTING(EnableLauncherProgress, false), SETTING(VerifyCopies, true),
};

// Each test has its own settings files and XDG folders: nothing reads or writes the user's.
class SettingsStorageTest : public test::TempFolderTest {
protected:
    void SetUp() override { test::UsePrivateUserFolders(temp); }
    void Store(const std::string& text) { test::WriteFile(registry.UserFile, text); }
    // The settings whose marks are set, by name.
    static std::vector<std::string> Marked(const TSettingsStorage& s)
    {
        std::vector<std::string> marked;
        for (const Setting& setting : Settings)
            if ((s.*setting.changed)()) marked.push_back(setting.name);
        return marked;
    }
    RegistryLocation registry{temp / "user.ini", temp / "system.ini"};
    const std::vector<std::string> none;
};

TEST_F(SettingsStorageTest, EverySettingIsMarkedSavedAloneAndReadBack)
{
    const TSettingsStorage fresh(registry);
    EXPECT_EQ(fresh.RestorePath(), temp / "data/Brenvik/Restore/");
    EXPECT_EQ(fresh.LogFile(), temp / "docs/tarn_log.txt");
    EXPECT_EQ(fresh.RootDir(), TARN_SOURCE_DATA_DIR);
    for (const Setting& setting : Settings) {
        SCOPED_TRACE(setting.name);
        std::filesystem::remove(registry.UserFile);
        TSettingsStorage s(registry);
        s.SaveToRegistry();
        EXPECT_FALSE(FileExists(registry.UserFile));  // nothing marked, nothing written
        setting.set(s);
        EXPECT_NE(setting.get(s), setting.get(fresh));
        EXPECT_EQ(Marked(s), std::vector<std::string>{setting.name});
        s.SaveToRegistry();
        EXPECT_EQ(Marked(s), none);
        EXPECT_EQ(s.OpenKey(regkey::Settings)->childKeys(), QStringList{setting.name});
        const TSettingsStorage again(registry);
        EXPECT_EQ(setting.get(again), setting.get(s));
        EXPECT_EQ(Marked(again), none);
        // The defaults mark what differs; a reload (a cancelled settings dialog) drops them.
        s.SetDefaults();
        EXPECT_EQ(setting.get(s), setting.get(fresh));
        EXPECT_EQ(Marked(s), std::vector<std::string>{setting.name});
        s.LoadFromRegistry();
        EXPECT_EQ(setting.get(s), setting.get(again));
        EXPECT_EQ(Marked(s), none);
    }
}

// RootDir comes from the user's file, then the system's, then the data folder.
TEST_F(SettingsStorageTest, LoadingTakesStoredValuesWithoutTheSetterRules)
{
    test::WriteFile(registry.SystemFile, "[General]\nRootDir=/opt/tarnwell\n");
    EXPECT_EQ(TSettingsStorage(registry).RootDir(), "/opt/tarnwell/");
    Store("[General]\nRootDir=/usr/local/share/tarnwell/\n[Settings]\nBufferSize=0\nCountOfErrorsForSkip=abc\n"
          "RestorePath=/srv/restore\n");
    TSettingsStorage s(registry);
    EXPECT_EQ(s.RootDir(), "/usr/local/share/tarnwell/");
    EXPECT_EQ(s.BufferSize(), 0);
    EXPECT_EQ(s.CountOfErrorsForSkip(), 60);  // not a number: the default stands
    EXPECT_EQ(s.RestorePath(), "/srv/restore/");  // a folder always ends with a delimiter
    EXPECT_EQ(Marked(s), none);
    const std::string before = test::ReadFile(registry.UserFile);
    s.SaveToRegistry();
    EXPECT_EQ(test::ReadFile(registry.UserFile), before);
}

TEST_F(SettingsStorageTest, SettersKeepTheirRules)
{
    TSettingsStorage s(registry);
    const std::pair<const char*, std::function<void()>> refused[] = {
        {"BufferSize", [&] { s.SetBufferSize(0); }}, {"BufferSize", [&] { s.SetBufferSize(MaxBufferSize + 1); }},
        {"CountOfErrorsForSkip", [&] { s.SetCountOfErrorsForSkip(0); }}, {"AutoAction", [&] { s.SetAutoAction(0); }},
        // Texts equal but for letter case are no change.
        {"Language", [&] { s.SetLanguage("ENGLISH"); }}, {"LogFile", [&] { s.SetLogFile(s.LogFile()); }},
    };
    for (const auto& [name, set] : refused) {
        set();
        EXPECT_EQ(Marked(s), none) << name;
    }
    // An answer for one file is kept in its form for all files.
    const std::pair<int, int> actions[] = {{1, 1}, {2, 1}, {4, 3}, {7, 7}};
    for (const auto& [given, stored] : actions) {
        s.SetAutoAction(static_cast<uint8_t>(given));
        EXPECT_EQ(s.AutoAction(), stored) << given;
    }
    // The dialog shows a speed as the entry its whole Mbit fall in; only stored actions have one.
    // Entries end below 2, 11 and 101 Mbit; eight times the last speed overflows 32 bits.
    const std::pair<int32_t, int> speeds[] = {{249999, 0}, {250000, 1}, {1375000, 2}, {12625000, 3}, {2147483647, 3}};
    for (const auto& [speed, entry] : speeds) EXPECT_EQ(LinkSpeedEntry(speed), entry) << speed;
    const std::pair<int, int> entries[] = {{3, 0}, {1, 1}, {5, 2}, {2, -1}, {255, -1}};
    for (const auto& [action, entry] : entries) EXPECT_EQ(AutoActionEntry(static_cast<uint8_t>(action)), entry) << action;
}

TEST_F(SettingsStorageTest, ALockedRestoreFolderChangesByNoPath)
{
    Store("[Settings]\nRestorePath=/srv/Stored/\n");
    TSettingsStorage s(registry);
    s.SetRestorePath("/SRV/stored");
    EXPECT_EQ(Marked(s), none);  // letter case alone is no change
    s.SetRestorePath("/srv/unsaved");
    s.SetBufferSize(4096);
    s.LockRestorePath();
    s.LockRestorePath();  // a second holder
    s.SetRestorePath("/srv/other");
    s.SetDefaults();
    EXPECT_EQ(s.BufferSize(), 65536);  // the rest still follows
    s.LoadFromRegistry();              // a cancelled settings dialog
    EXPECT_EQ(s.RestorePath(), "/srv/unsaved/");
    EXPECT_TRUE(s.RestorePathChanged());  // still owed to the settings file
    s.SaveToRegistry();
    EXPECT_EQ(TSettingsStorage(registry).RestorePath(), "/srv/unsaved/");
    s.UnlockRestorePath();
    s.SetRestorePath("/srv/other");
    EXPECT_EQ(s.RestorePath(), "/srv/unsaved/");
    s.UnlockRestorePath();
    EXPECT_FALSE(s.RestorePathLocked());
    s.SetRestorePath("/srv/other");
    EXPECT_EQ(s.RestorePath(), "/srv/other/");
}

TEST_F(SettingsStorageTest, TheSettingsFileIsTheUsersAloneAndAFailedSaveKeepsTheMarks)
{
    const mode_t umask = ::umask(022);
    registry.UserFile = temp / "config/Brenvik/Tarnwell.ini";
    const mode_t configMode = test::ModeOf(temp / "config");
    TSettingsStorage s(registry);
    s.SetBufferSize(4096);
    s.SaveToRegistry();
    EXPECT_EQ(test::ModeOf(temp / "config/Brenvik"), 0700u);
    EXPECT_EQ(test::ModeOf(registry.UserFile), 0600u);
    EXPECT_EQ(test::ModeOf(temp / "config"), configMode);  // a folder that was there is left as it is
    ASSERT_EQ(::chmod(registry.UserFile.c_str(), 0644), 0);  // as an earlier version left it
    s.SetBufferSize(8192);
    s.SaveToRegistry();
    EXPECT_EQ(test::ModeOf(registry.UserFile), 0600u);
    ::umask(umask);

    test::WriteFile(temp / "file", "");
    registry.UserFile = temp / "file/user.ini";  // its folder is a file
    TSettingsStorage unwritable(registry);
    unwritable.SetBufferSize(4096);
    try {
        unwritable.SaveToRegistry();
        ADD_FAILURE() << "no error";
    } catch (const RegistryError& error) {
        EXPECT_NE(std::string(error.what()).find(registry.UserFile), std::string::npos) << error.what();
    }
    EXPECT_TRUE(unwritable.BufferSizeChanged());
}

}  // namespace
}  // namespace tarn
