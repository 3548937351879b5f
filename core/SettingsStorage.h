#pragma once

#include <QSettings>

#include <cstdint>
#include <memory>
#include <string>

#include "core/Registry.h"

namespace tarn {

// The program-wide settings, each with a changed mark. Setters apply the rule of their setting
// and set the mark only when the value really changes; only marked settings are written back,
// so a value the user never changed stays out of the settings file and keeps following the
// defaults.
class TSettingsStorage {
public:
    // Reads RootDir, applies the defaults, then loads the stored settings; afterwards no mark
    // is set. `registry` says which settings files to use (tests give their own).
    explicit TSettingsStorage(RegistryLocation registry = {});
    // One store per run: an assignment over it would replace RestorePath behind its lock.
    TSettingsStorage(const TSettingsStorage&) = delete;
    TSettingsStorage& operator=(const TSettingsStorage&) = delete;

    // Puts every setting to its default through the setters.
    void SetDefaults();
    // Replaces every setting stored in the "Settings" key, without the setters' rules, and
    // clears every mark; a locked RestorePath keeps its value and its mark.
    void LoadFromRegistry();
    // Writes each marked setting and clears its mark. Raises RegistryError when the settings
    // file cannot be written; the marks then stay for a later attempt.
    void SaveToRegistry();

    const std::string& Language() const { return language_.Value; }
    const std::string& RestorePath() const { return restorePath_.Value; }  // ends with '/'
    int32_t RestoreUpdateInterval() const { return restoreUpdateInterval_.Value; }
    int32_t DelayOnError() const { return delayOnError_.Value; }
    bool AutoDeleteFinished() const { return autoDeleteFinished_.Value; }
    const std::string& LogFile() const { return logFile_.Value; }
    uint8_t AutoAction() const { return autoAction_.Value; }
    int32_t AutoActionDelay() const { return autoActionDelay_.Value; }
    int32_t CountOfErrorsForSkip() const { return countOfErrorsForSkip_.Value; }
    int32_t BufferSize() const { return bufferSize_.Value; }
    bool AutoRun() const { return autoRun_.Value; }
    bool EnableContextMenu() const { return enableContextMenu_.Value; }
    int32_t MaxLinkSpeed() const { return maxLinkSpeed_.Value; }
    bool EnableQuickInfo() const { return enableQuickInfo_.Value; }
    bool MinimizeInsteadClose() const { return minimizeInsteadClose_.Value; }
    // Notifications when tasks finish or fail, and the launcher icon's progress and count.
    bool EnableNotifications() const { return enableNotifications_.Value; }
    bool EnableLauncherProgress() const { return enableLauncherProgress_.Value; }
    // The first state of the new-task dialog's verify option, and the option of handed-over tasks.
    bool VerifyCopies() const { return verifyCopies_.Value; }
    // The same for keeping symbolic links as links, and further names of a file as hard links.
    bool CopyLinksAsLinks() const { return copyLinksAsLinks_.Value; }
    bool KeepHardLinks() const { return keepHardLinks_.Value; }
    // The installation folder with Lang/ and Help/, ending with '/'. Not a setting: never written.
    const std::string& RootDir() const { return rootDir_; }

    bool LanguageChanged() const { return language_.Changed; }
    bool RestorePathChanged() const { return restorePath_.Changed; }
    bool RestoreUpdateIntervalChanged() const { return restoreUpdateInterval_.Changed; }
    bool DelayOnErrorChanged() const { return delayOnError_.Changed; }
    bool AutoDeleteFinishedChanged() const { return autoDeleteFinished_.Changed; }
    bool LogFileChanged() const { return logFile_.Changed; }
    bool AutoActionChanged() const { return autoAction_.Changed; }
    bool AutoActionDelayChanged() const { return autoActionDelay_.Changed; }
    bool CountOfErrorsForSkipChanged() const { return countOfErrorsForSkip_.Changed; }
    bool BufferSizeChanged() const { return bufferSize_.Changed; }
    bool AutoRunChanged() const { return autoRun_.Changed; }
    bool EnableContextMenuChanged() const { return enableContextMenu_.Changed; }
    bool MaxLinkSpeedChanged() const { return maxLinkSpeed_.Changed; }
    bool EnableQuickInfoChanged() const { return enableQuickInfo_.Changed; }
    bool MinimizeInsteadCloseChanged() const { return minimizeInsteadClose_.Changed; }
    bool EnableNotificationsChanged() const { return enableNotifications_.Changed; }
    bool EnableLauncherProgressChanged() const { return enableLauncherProgress_.Changed; }
    bool VerifyCopiesChanged() const { return verifyCopies_.Changed; }
    bool CopyLinksAsLinksChanged() const { return copyLinksAsLinks_.Changed; }
    bool KeepHardLinksChanged() const { return keepHardLinks_.Changed; }

    // The restore folder holds TaskList and the restore files of every listed task: moving it
    // under them would lose them at the next start. Whoever holds tasks there (the task list)
    // locks it, once per holder; while any lock is held, every change of RestorePath (its
    // setter, SetDefaults, LoadFromRegistry) leaves it as it is.
    void LockRestorePath() { ++restorePathLocks_; }
    void UnlockRestorePath() { --restorePathLocks_; }
    bool RestorePathLocked() const { return restorePathLocks_ > 0; }

    // Paths and the language compare without regard to letter case. The restore folder gets a
    // trailing '/' when it has none, since file names are appended to it.
    void SetLanguage(const std::string& value);
    void SetRestorePath(const std::string& value);
    void SetLogFile(const std::string& value);
    // Values below 1 are ignored.
    void SetRestoreUpdateInterval(int32_t value);
    void SetCountOfErrorsForSkip(int32_t value);
    void SetBufferSize(int32_t value);
    // Values below 0 are ignored.
    void SetDelayOnError(int32_t value);
    void SetAutoActionDelay(int32_t value);
    // 0 is ignored; the "for the rest of the task" answers 2, 4, 6 are kept as 1, 3, 5.
    void SetAutoAction(uint8_t value);
    void SetMaxLinkSpeed(int32_t value);
    void SetAutoDeleteFinished(bool value);
    void SetAutoRun(bool value);
    void SetEnableContextMenu(bool value);
    void SetEnableQuickInfo(bool value);
    void SetMinimizeInsteadClose(bool value);
    void SetEnableNotifications(bool value);
    void SetEnableLauncherProgress(bool value);
    void SetVerifyCopies(bool value);
    void SetCopyLinksAsLinks(bool value);
    void SetKeepHardLinks(bool value);

    // A subkey of the user's settings file in use, for the windows that keep their own values
    // beside the settings (RegistryLayout.h).
    std::unique_ptr<QSettings> OpenKey(const std::string& subkey) const;

private:
    template <typename T>
    struct Marked {
        T Value{};
        bool Changed = false;
    };

    // Calls visit(name, setting) for every setting, in the order of the settings file.
    template <typename Visit>
    void ForEachSetting(Visit&& visit);
    template <typename T>
    static void Assign(Marked<T>& setting, const T& value);
    static void AssignText(Marked<std::string>& setting, const std::string& value);
    std::string ReadRootDir() const;

    RegistryLocation registry_;
    Marked<std::string> language_;
    Marked<std::string> restorePath_;
    Marked<int32_t> restoreUpdateInterval_;
    Marked<int32_t> delayOnError_;
    Marked<bool> autoDeleteFinished_;
    Marked<std::string> logFile_;
    Marked<uint8_t> autoAction_;
    Marked<int32_t> autoActionDelay_;
    Marked<int32_t> countOfErrorsForSkip_;
    Marked<int32_t> bufferSize_;
    Marked<bool> autoRun_;
    Marked<bool> enableContextMenu_;
    Marked<int32_t> maxLinkSpeed_;
    Marked<bool> enableQuickInfo_;
    Marked<bool> minimizeInsteadClose_;
    Marked<bool> enableNotifications_;
    Marked<bool> enableLauncherProgress_;
    Marked<bool> verifyCopies_;
    Marked<bool> copyLinksAsLinks_;
    Marked<bool> keepHardLinks_;
    std::string rootDir_;
    int restorePathLocks_ = 0;
};

// Connection speeds offered by the settings dialog, in bytes per second.
inline constexpr int32_t LinkSpeed1Mbit = 125000;
inline constexpr int32_t LinkSpeed10Mbit = 1250000;
inline constexpr int32_t LinkSpeed100Mbit = 12500000;
inline constexpr int32_t LinkSpeed1Gbit = 125000000;

// The settings dialog's two lists, in their order: the connection speeds above, and the default
// actions "Upload" (3), "Overwrite" (1), "Skip" (5).
inline constexpr int32_t LinkSpeedEntries[] = {LinkSpeed1Mbit, LinkSpeed10Mbit, LinkSpeed100Mbit, LinkSpeed1Gbit};
inline constexpr uint8_t AutoActionEntries[] = {3, 1, 5};

// The connection-speed entry a speed falls in, by its whole Mbit per second: below 2 the first,
// below 11 the second, below 101 the third, otherwise the fourth. A speed between two entries
// thus shows as the faster one (16 Mbit as 100 Mbit), and any speed has an entry.
int LinkSpeedEntry(int32_t maxLinkSpeed);
// The default-action entry of an AutoAction value, or -1 for a value without one.
int AutoActionEntry(uint8_t autoAction);

}  // namespace tarn
