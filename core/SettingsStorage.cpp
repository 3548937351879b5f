#include "core/SettingsStorage.h"

#include <QStandardPaths>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <type_traits>

#include "core/Globals.h"
#include "core/RegistryLayout.h"
#include "engine/GlobalUtils.h"

namespace tarn {
namespace {

constexpr char RestoreFolderName[] = "Brenvik/Restore/";
constexpr char LogFileName[] = "tarn_log.txt";

// A per-user folder of the desktop, or "" when the system names none.
std::string UserFolder(QStandardPaths::StandardLocation location)
{
    return QStandardPaths::writableLocation(location).toStdString();
}

// The data folder installed beside the executable (<prefix>/bin/tarn with
// <prefix>/share/tarnwell/), or in a build tree the source tree's data/.
std::string DataFolder()
{
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto installed = (executable.parent_path() / InstalledDataDir).lexically_normal();
        if (DirectoryExists(installed.string())) return IncludeTrailingDelimiter(installed.string());
    }
    if (DirectoryExists(TARN_SOURCE_DATA_DIR)) return TARN_SOURCE_DATA_DIR;
    return "";
}

}  // namespace

TSettingsStorage::TSettingsStorage(RegistryLocation registry) : registry_(std::move(registry))
{
    rootDir_ = ReadRootDir();
    SetDefaults();
    LoadFromRegistry();
}

std::string TSettingsStorage::ReadRootDir() const
{
    std::string root;
    for (const auto hive : {RegistryHive::CurrentUser, RegistryHive::LocalMachine}) {
        const auto key = OpenRegistryKey(registry_, regkey::Base, hive);
        root = ReadRegString(*key, regvalue::RootDir, "");
        if (!root.empty()) break;
    }
    if (root.empty()) root = DataFolder();
    return IncludeTrailingDelimiter(root);
}

void TSettingsStorage::SetDefaults()
{
    SetLanguage(DefaultLanguage);
    SetDelayOnError(5000);
    SetRestoreUpdateInterval(15000);
    SetAutoDeleteFinished(false);
    SetAutoAction(3);
    SetAutoActionDelay(30000);
    SetCountOfErrorsForSkip(60);
    SetBufferSize(65536);
    SetAutoRun(true);
    SetEnableContextMenu(true);
    SetMaxLinkSpeed(LinkSpeed100Mbit);
    SetEnableQuickInfo(true);
    SetMinimizeInsteadClose(true);
    SetEnableNotifications(true);
    SetEnableLauncherProgress(true);
    SetVerifyCopies(false);
    SetCopyLinksAsLinks(true);
    SetKeepHardLinks(true);

    // Without a home folder the desktop names no user folders; the installation folder serves.
    const std::string dataHome = UserFolder(QStandardPaths::GenericDataLocation);
    const std::string documents = UserFolder(QStandardPaths::DocumentsLocation);
    SetRestorePath(dataHome.empty() ? rootDir_ + "Restore/" : IncludeTrailingDelimiter(dataHome) + RestoreFolderName);
    SetLogFile((documents.empty() ? rootDir_ : IncludeTrailingDelimiter(documents)) + LogFileName);
}

template <typename Visit>
void TSettingsStorage::ForEachSetting(Visit&& visit)
{
    visit(regvalue::Language, language_);
    visit(regvalue::DelayOnError, delayOnError_);
    visit(regvalue::RestorePath, restorePath_);
    visit(regvalue::RestoreUpdateInterval, restoreUpdateInterval_);
    visit(regvalue::AutoDeleteFinished, autoDeleteFinished_);
    visit(regvalue::LogFile, logFile_);
    visit(regvalue::AutoAction, autoAction_);
    visit(regvalue::AutoActionDelay, autoActionDelay_);
    visit(regvalue::CountOfErrorsForSkip, countOfErrorsForSkip_);
    visit(regvalue::BufferSize, bufferSize_);
    visit(regvalue::AutoRun, autoRun_);
    visit(regvalue::EnableContextMenu, enableContextMenu_);
    visit(regvalue::MaxLinkSpeed, maxLinkSpeed_);
    visit(regvalue::EnableQuickInfo, enableQuickInfo_);
    visit(regvalue::MinimizeInsteadClose, minimizeInsteadClose_);
    visit(regvalue::EnableNotifications, enableNotifications_);
    visit(regvalue::EnableLauncherProgress, enableLauncherProgress_);
    visit(regvalue::VerifyCopies, verifyCopies_);
    visit(regvalue::CopyLinksAsLinks, copyLinksAsLinks_);
    visit(regvalue::KeepHardLinks, keepHardLinks_);
}

void TSettingsStorage::LoadFromRegistry()
{
    const Marked<std::string> lockedPath = restorePath_;
    const auto key = OpenKey(regkey::Settings);
    ForEachSetting([&key](const char* name, auto& setting) {
        using T = std::decay_t<decltype(setting.Value)>;
        if constexpr (std::is_same_v<T, std::string>)
            setting.Value = ReadRegString(*key, name, setting.Value);
        else if constexpr (std::is_same_v<T, bool>)
            setting.Value = ReadRegBool(*key, name, setting.Value);
        else  // AutoAction keeps the low 8 bits of the stored integer
            setting.Value = static_cast<T>(ReadRegInteger(*key, name, setting.Value));
        setting.Changed = false;
    });
    // A locked folder keeps its mark too: when unsaved, it must still reach the settings file,
    // or the next start would look for the tasks elsewhere.
    if (RestorePathLocked()) restorePath_ = lockedPath;
    // A hand-edited folder may lack its delimiter; file names are appended to it.
    restorePath_.Value = IncludeTrailingDelimiter(restorePath_.Value);
}

void TSettingsStorage::SaveToRegistry()
{
    const auto key = OpenKey(regkey::Settings);
    bool written = false;
    ForEachSetting([&](const char* name, auto& setting) {
        if (!setting.Changed) return;
        using T = std::decay_t<decltype(setting.Value)>;
        if constexpr (std::is_same_v<T, std::string>)
            WriteRegString(*key, name, setting.Value);
        else if constexpr (std::is_same_v<T, bool>)
            WriteRegBool(*key, name, setting.Value);
        else
            WriteRegInteger(*key, name, setting.Value);
        written = true;
    });
    if (!written) return;
    FlushRegistryKey(*key);
    ForEachSetting([](const char*, auto& setting) { setting.Changed = false; });
}

std::unique_ptr<QSettings> TSettingsStorage::OpenKey(const std::string& subkey) const
{
    return OpenRegistryKey(registry_, subkey);
}

template <typename T>
void TSettingsStorage::Assign(Marked<T>& setting, const T& value)
{
    if (setting.Value == value) return;
    setting.Value = value;
    setting.Changed = true;
}

void TSettingsStorage::AssignText(Marked<std::string>& setting, const std::string& value)
{
    if (SameText(setting.Value, value)) return;
    setting.Value = value;
    setting.Changed = true;
}

void TSettingsStorage::SetLanguage(const std::string& value) { AssignText(language_, value); }
void TSettingsStorage::SetRestorePath(const std::string& value)
{
    if (!RestorePathLocked()) AssignText(restorePath_, IncludeTrailingDelimiter(value));
}
void TSettingsStorage::SetLogFile(const std::string& value) { AssignText(logFile_, value); }

void TSettingsStorage::SetRestoreUpdateInterval(int32_t value)
{
    if (value >= 1) Assign(restoreUpdateInterval_, value);
}
void TSettingsStorage::SetCountOfErrorsForSkip(int32_t value)
{
    if (value >= 1) Assign(countOfErrorsForSkip_, value);
}
void TSettingsStorage::SetBufferSize(int32_t value)
{
    if (value >= MinBufferSize && value <= MaxBufferSize) Assign(bufferSize_, value);
}
void TSettingsStorage::SetDelayOnError(int32_t value)
{
    if (value >= 0) Assign(delayOnError_, value);
}
void TSettingsStorage::SetAutoActionDelay(int32_t value)
{
    if (value >= 0) Assign(autoActionDelay_, value);
}

void TSettingsStorage::SetAutoAction(uint8_t value)
{
    if (value == 0) return;
    if (value == 2 || value == 4 || value == 6) --value;
    Assign(autoAction_, value);
}

void TSettingsStorage::SetMaxLinkSpeed(int32_t value) { Assign(maxLinkSpeed_, value); }
void TSettingsStorage::SetAutoDeleteFinished(bool value) { Assign(autoDeleteFinished_, value); }
void TSettingsStorage::SetAutoRun(bool value) { Assign(autoRun_, value); }
void TSettingsStorage::SetEnableContextMenu(bool value) { Assign(enableContextMenu_, value); }
void TSettingsStorage::SetEnableQuickInfo(bool value) { Assign(enableQuickInfo_, value); }
void TSettingsStorage::SetEnableNotifications(bool value) { Assign(enableNotifications_, value); }
void TSettingsStorage::SetEnableLauncherProgress(bool value) { Assign(enableLauncherProgress_, value); }
void TSettingsStorage::SetMinimizeInsteadClose(bool value) { Assign(minimizeInsteadClose_, value); }
void TSettingsStorage::SetVerifyCopies(bool value) { Assign(verifyCopies_, value); }
void TSettingsStorage::SetCopyLinksAsLinks(bool value) { Assign(copyLinksAsLinks_, value); }
void TSettingsStorage::SetKeepHardLinks(bool value) { Assign(keepHardLinks_, value); }

int LinkSpeedEntry(int32_t maxLinkSpeed)
{
    // 64 bits: eight times a speed above 268 MB/s leaves the 32-bit range.
    const int64_t mbit = int64_t{maxLinkSpeed} * 8 / 1000000;
    if (mbit < 2) return 0;
    if (mbit < 11) return 1;
    if (mbit < 101) return 2;
    return 3;
}

int AutoActionEntry(uint8_t autoAction)
{
    const auto* found = std::find(std::begin(AutoActionEntries), std::end(AutoActionEntries), autoAction);
    return found == std::end(AutoActionEntries) ? -1 : static_cast<int>(found - std::begin(AutoActionEntries));
}

}  // namespace tarn
