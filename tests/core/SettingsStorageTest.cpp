#include "core/SettingsStorage.h"

#include <sys/stat.h>

#include <cstdlib>

#include "core/RegistryLayout.h"
#include "engine/GlobalUtils.h"
#include "engine/TaskTypes.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

// Each test gets its own settings files and its own XDG folders, so that nothing reads or
// writes the user's real settings.
class SettingsStorageTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        registry.UserFile = temp / "user.ini";
        registry.SystemFile = temp / "system.ini";
        test::UsePrivateUserFolders(temp);
    }

    void Store(const std::string& text) { test::WriteFile(registry.UserFile, text); }
    bool UserFileExists() const { return FileExists(registry.UserFile); }

    RegistryLocation registry;
};

void ExpectNoMark(const TSettingsStorage& s)
{
    for (const bool mark :
         {s.LanguageChanged(), s.RestorePathChanged(), s.RestoreUpdateIntervalChanged(), s.DelayOnErrorChanged(),
          s.AutoDeleteFinishedChanged(), s.LogFileChanged(), s.AutoActionChanged(), s.AutoActionDelayChanged(),
          s.CountOfErrorsForSkipChanged(), s.BufferSizeChanged(), s.AutoRunChanged(), s.EnableContextMenuChanged(),
          s.MaxLinkSpeedChanged(), s.EnableQuickInfoChanged(), s.MinimizeInsteadCloseChanged(),
          s.VerifyCopiesChanged()})
        EXPECT_FALSE(mark);
}

TEST_F(SettingsStorageTest, AFreshProfileGivesTheDefaultsAndASaveWritesNothing)
{
    TSettingsStorage s(registry);
    EXPECT_EQ(s.Language(), "English");
    EXPECT_EQ(s.RestorePath(), temp / "data/Brenvik/Restore/");
    EXPECT_EQ(s.LogFile(), temp / "docs/tarn_log.txt");
    EXPECT_EQ(s.RestoreUpdateInterval(), 15000);
    EXPECT_EQ(s.DelayOnError(), 5000);
    EXPECT_FALSE(s.AutoDeleteFinished());
    EXPECT_EQ(s.AutoAction(), 3);
    EXPECT_EQ(s.AutoActionDelay(), 30000);
    EXPECT_EQ(s.CountOfErrorsForSkip(), 60);
    EXPECT_EQ(s.BufferSize(), 65536);
    EXPECT_TRUE(s.AutoRun());
    EXPECT_TRUE(s.EnableContextMenu());
    EXPECT_EQ(s.MaxLinkSpeed(), 12500000);
    EXPECT_TRUE(s.EnableQuickInfo());
    EXPECT_TRUE(s.MinimizeInsteadClose());
    ExpectNoMark(s);

    s.SaveToRegistry();
    EXPECT_FALSE(UserFileExists());
}

TEST_F(SettingsStorageTest, LoadingTakesStoredValuesWithoutTheSetterRules)
{
    Store("[Settings]\nLanguage=Deutsch\nBufferSize=0\nDelayOnError=-5\nAutoAction=259\nAutoRun=0\n"
          "EnableQuickInfo=false\nLogFile=/var/log/a=b.txt\nMaxLinkSpeed=4294967295\nCountOfErrorsForSkip=abc\n");
    TSettingsStorage s(registry);
    EXPECT_EQ(s.Language(), "Deutsch");
    EXPECT_EQ(s.BufferSize(), 0);
    EXPECT_EQ(s.DelayOnError(), -5);
    EXPECT_EQ(s.AutoAction(), 3);  // the low 8 bits of 259
    EXPECT_FALSE(s.AutoRun());
    EXPECT_FALSE(s.EnableQuickInfo());
    EXPECT_EQ(s.LogFile(), "/var/log/a=b.txt");
    EXPECT_EQ(s.MaxLinkSpeed(), -1);  // a DWORD read into a signed integer
    EXPECT_EQ(s.CountOfErrorsForSkip(), 60);  // not a number: the default stands
    ExpectNoMark(s);

    // Loading set no mark, so saving now leaves the file as it was.
    const std::string before = test::ReadFile(registry.UserFile);
    s.SaveToRegistry();
    EXPECT_EQ(test::ReadFile(registry.UserFile), before);
}

TEST_F(SettingsStorageTest, SettersRejectValuesOutsideTheirRule)
{
    TSettingsStorage s(registry);
    s.SetBufferSize(0);
    s.SetBufferSize(MaxBufferSize + 1);
    s.SetRestoreUpdateInterval(-1);
    s.SetCountOfErrorsForSkip(0);
    s.SetDelayOnError(-1);
    s.SetAutoActionDelay(-1);
    s.SetAutoAction(0);
    EXPECT_EQ(s.BufferSize(), 65536);
    EXPECT_EQ(s.RestoreUpdateInterval(), 15000);
    EXPECT_EQ(s.CountOfErrorsForSkip(), 60);
    EXPECT_EQ(s.DelayOnError(), 5000);
    EXPECT_EQ(s.AutoActionDelay(), 30000);
    EXPECT_EQ(s.AutoAction(), 3);
    ExpectNoMark(s);

    // The bounds themselves are accepted.
    s.SetBufferSize(MaxBufferSize);
    EXPECT_EQ(s.BufferSize(), MaxBufferSize);
    s.SetBufferSize(1);
    s.SetDelayOnError(0);
    EXPECT_EQ(s.BufferSize(), 1);
    EXPECT_EQ(s.DelayOnError(), 0);
    EXPECT_TRUE(s.BufferSizeChanged());
    EXPECT_TRUE(s.DelayOnErrorChanged());
}

TEST_F(SettingsStorageTest, AutoActionKeepsTheOneFileFormOfAnAnswer)
{
    const std::pair<int, int> cases[] = {{1, 1}, {2, 1}, {3, 3}, {4, 3}, {5, 5}, {6, 5}, {7, 7}};
    for (const auto& [given, stored] : cases) {
        TSettingsStorage s(registry);
        s.SetAutoAction(static_cast<uint8_t>(given));
        EXPECT_EQ(s.AutoAction(), stored) << given;
        EXPECT_EQ(s.AutoActionChanged(), stored != 3) << given;
    }

    TSettingsStorage s(registry);
    s.SetAutoAction(6);
    s.SaveToRegistry();
    EXPECT_EQ(ReadRegInteger(*s.OpenKey(regkey::Settings), regvalue::AutoAction, 0), 5);
}

TEST_F(SettingsStorageTest, TextsEqualButForLetterCaseAreNoChange)
{
    Store("[Settings]\nRestorePath=/srv/Restore/\n");
    TSettingsStorage s(registry);
    s.SetRestorePath("/SRV/restore/");
    s.SetLanguage("ENGLISH");
    s.SetLogFile(s.LogFile());
    EXPECT_EQ(s.RestorePath(), "/srv/Restore/");
    EXPECT_EQ(s.Language(), "English");
    ExpectNoMark(s);

    s.SetLanguage("Deutsch");
    EXPECT_TRUE(s.LanguageChanged());
}

TEST_F(SettingsStorageTest, SaveWritesOnlyMarkedSettingsAndClearsTheirMarks)
{
    TSettingsStorage s(registry);
    s.SetBufferSize(1048576);
    s.SetRestorePath(temp / "elsewhere");
    s.SetAutoDeleteFinished(true);
    s.SetMaxLinkSpeed(12500000);  // the default: no change
    s.SaveToRegistry();
    ExpectNoMark(s);

    const auto key = s.OpenKey(regkey::Settings);
    EXPECT_EQ(key->childKeys().size(), 3);
    EXPECT_EQ(ReadRegInteger(*key, regvalue::BufferSize, 0), 1048576);
    EXPECT_EQ(ReadRegString(*key, regvalue::RestorePath, ""), temp / "elsewhere/");
    EXPECT_TRUE(ReadRegBool(*key, regvalue::AutoDeleteFinished, false));

    TSettingsStorage again(registry);
    EXPECT_EQ(again.BufferSize(), 1048576);
    EXPECT_TRUE(again.AutoDeleteFinished());
}

TEST_F(SettingsStorageTest, SetDefaultsMarksOnlyWhatDiffersAndLoadDropsIt)
{
    Store("[Settings]\nBufferSize=4096\nAutoRun=0\nVerifyCopies=1\n");
    TSettingsStorage s(registry);
    s.SetDefaults();
    EXPECT_EQ(s.BufferSize(), 65536);
    EXPECT_TRUE(s.BufferSizeChanged());
    EXPECT_TRUE(s.AutoRunChanged());
    EXPECT_TRUE(s.VerifyCopiesChanged() && !s.VerifyCopies());
    EXPECT_FALSE(s.LanguageChanged());
    EXPECT_FALSE(s.DelayOnErrorChanged());

    // A cancelled settings dialog reloads: the unsaved defaults are gone.
    s.LoadFromRegistry();
    EXPECT_EQ(s.BufferSize(), 4096);
    EXPECT_FALSE(s.AutoRun());
    ExpectNoMark(s);
}

TEST_F(SettingsStorageTest, ALockedRestoreFolderChangesByNoPath)
{
    Store("[Settings]\nRestorePath=/srv/stored/\n");
    TSettingsStorage s(registry);
    s.SetRestorePath("/srv/unsaved");
    s.SetBufferSize(4096);
    s.LockRestorePath();
    s.LockRestorePath();  // a second holder
    EXPECT_TRUE(s.RestorePathLocked());
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

TEST_F(SettingsStorageTest, TheRestoreFolderAlwaysEndsWithADelimiter)
{
    Store("[Settings]\nRestorePath=/srv/restore\n");
    TSettingsStorage s(registry);
    EXPECT_EQ(s.RestorePath(), "/srv/restore/");
    EXPECT_EQ(s.RestorePath() + "TaskList", "/srv/restore/TaskList");

    s.SetRestorePath("/srv/other");
    EXPECT_EQ(s.RestorePath(), "/srv/other/");
}

TEST_F(SettingsStorageTest, RootDirComesFromTheUserThenTheSystemThenTheDataFolder)
{
    EXPECT_EQ(TSettingsStorage(registry).RootDir(), TARN_SOURCE_DATA_DIR);

    test::WriteFile(registry.SystemFile, "[General]\nRootDir=/opt/tarnwell\n");
    EXPECT_EQ(TSettingsStorage(registry).RootDir(), "/opt/tarnwell/");

    Store("[General]\nRootDir=/usr/local/share/tarnwell/\n");
    EXPECT_EQ(TSettingsStorage(registry).RootDir(), "/usr/local/share/tarnwell/");
}

TEST_F(SettingsStorageTest, AnUnwritableSettingsFileIsReportedAndKeepsTheMarks)
{
    test::WriteFile(temp / "file", "");
    registry.UserFile = temp / "file/user.ini";  // its folder is a file
    TSettingsStorage s(registry);
    s.SetBufferSize(4096);
    try {
        s.SaveToRegistry();
        FAIL() << "no error";
    } catch (const RegistryError& error) {
        EXPECT_NE(std::string(error.what()).find(registry.UserFile), std::string::npos) << error.what();
    }
    EXPECT_TRUE(s.BufferSizeChanged());
}

TEST_F(SettingsStorageTest, TheSettingsFileAndItsNewFolderAreTheUsersAloneWhateverTheUmask)
{
    const auto modeOf = [](const std::string& path) {
        struct stat status {};
        return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    };
    const mode_t umask = ::umask(022);
    registry.UserFile = temp / "config/Brenvik/Tarnwell.ini";
    const mode_t configMode = modeOf(temp / "config");
    TSettingsStorage s(registry);
    s.SetBufferSize(4096);
    s.SaveToRegistry();
    EXPECT_EQ(modeOf(temp / "config/Brenvik"), 0700u);
    EXPECT_EQ(modeOf(registry.UserFile), 0600u);
    EXPECT_EQ(modeOf(temp / "config"), configMode);  // a folder that was there is left as it is

    // A file an earlier version left readable by others.
    ASSERT_EQ(::chmod(registry.UserFile.c_str(), 0644), 0);
    s.SetBufferSize(8192);
    s.SaveToRegistry();
    EXPECT_EQ(modeOf(registry.UserFile), 0600u);
    ::umask(umask);
}

TEST_F(SettingsStorageTest, BinaryValuesReadOverTheStartOfTheBuffer)
{
    TSettingsStorage s(registry);
    const auto key = s.OpenKey(regkey::FormMain);
    auto widths = DefaultColWidths;
    const int32_t stored[] = {40, 120};
    WriteRegBinary(*key, regvalue::ColWidth, stored, sizeof stored);
    FlushRegistryKey(*key);

    EXPECT_TRUE(ReadRegBinary(*s.OpenKey(regkey::FormMain), regvalue::ColWidth, widths.data(), sizeof widths));
    EXPECT_EQ(widths[0], 40);
    EXPECT_EQ(widths[1], 120);
    EXPECT_EQ(widths[2], DefaultColWidths[2]);

    // A value longer than the buffer, or not binary, is not read.
    int32_t one = 7;
    EXPECT_FALSE(ReadRegBinary(*key, regvalue::ColWidth, &one, sizeof one));
    WriteRegInteger(*key, regvalue::Left, 5);
    EXPECT_FALSE(ReadRegBinary(*key, regvalue::Left, &one, sizeof one));
    EXPECT_EQ(one, 7);
    EXPECT_EQ(ReadRegInteger(*key, regvalue::Top, DefaultQuickInfoTop), DefaultQuickInfoTop);
}

TEST(SettingsDialogEntriesTest, ASpeedShowsAsTheEntryItsWholeMbitFallIn)
{
    const struct {
        int32_t Speed;
        int Entry;
    } cases[] = {
        {-1, 0}, {0, 0}, {LinkSpeed1Mbit, 0}, {249999, 0},                // below 2 Mbit
        {250000, 1}, {LinkSpeed10Mbit, 1}, {1374999, 1},                 // below 11 Mbit
        {1375000, 2}, {2000000, 2}, {LinkSpeed100Mbit, 2}, {12624999, 2},  // below 101 Mbit
        {12625000, 3}, {LinkSpeed1Gbit, 3}, {2147483647, 3},  // eight times the last overflows 32 bits
    };
    for (const auto& c : cases) EXPECT_EQ(LinkSpeedEntry(c.Speed), c.Entry) << c.Speed;
}

TEST(SettingsDialogEntriesTest, OnlyTheThreeStoredActionsHaveAnEntry)
{
    const struct {
        int Action;
        int Entry;
    } cases[] = {{3, 0}, {1, 1}, {5, 2}, {0, -1}, {2, -1}, {4, -1}, {6, -1}, {255, -1}};
    for (const auto& c : cases) EXPECT_EQ(AutoActionEntry(static_cast<uint8_t>(c.Action)), c.Entry) << c.Action;
}

}  // namespace
}  // namespace tarn
