#pragma once

#include <array>
#include <cstdint>
#include <string>

// Every key and value the program keeps in the registry stand-in, with the defaults that are
// fixed numbers. The windows that own a subkey read and write it with the Registry.h routines.
namespace tarn {

namespace regkey {
inline constexpr char Base[] = "";  // holds RootDir, written by the installation only
inline constexpr char Settings[] = "Settings";
inline constexpr char FormMain[] = "FormMain";
inline constexpr char FormNewTask[] = "FormNewTask";
inline constexpr char QuickInfo[] = "QuickInfo";
}  // namespace regkey

namespace regvalue {
// Base key.
inline constexpr char RootDir[] = "RootDir";

// Settings: one value per setting of TSettingsStorage, named as the setting.
inline constexpr char Language[] = "Language";
inline constexpr char DelayOnError[] = "DelayOnError";
inline constexpr char RestorePath[] = "RestorePath";
inline constexpr char RestoreUpdateInterval[] = "RestoreUpdateInterval";
inline constexpr char AutoDeleteFinished[] = "AutoDeleteFinished";
inline constexpr char LogFile[] = "LogFile";
inline constexpr char AutoAction[] = "AutoAction";
inline constexpr char AutoActionDelay[] = "AutoActionDelay";
inline constexpr char CountOfErrorsForSkip[] = "CountOfErrorsForSkip";
inline constexpr char BufferSize[] = "BufferSize";
inline constexpr char AutoRun[] = "AutoRun";
inline constexpr char EnableContextMenu[] = "EnableContextMenu";
inline constexpr char MaxLinkSpeed[] = "MaxLinkSpeed";
inline constexpr char EnableQuickInfo[] = "EnableQuickInfo";
inline constexpr char MinimizeInsteadClose[] = "MinimizeInsteadClose";
inline constexpr char EnableNotifications[] = "EnableNotifications";
inline constexpr char EnableLauncherProgress[] = "EnableLauncherProgress";
inline constexpr char VerifyCopies[] = "VerifyCopies";
inline constexpr char CopyLinksAsLinks[] = "CopyLinksAsLinks";
inline constexpr char KeepHardLinks[] = "KeepHardLinks";

// FormMain and QuickInfo: window bounds (defaults: the designed bounds; QuickInfo's position 16, 16).
inline constexpr char Left[] = "Left";
inline constexpr char Top[] = "Top";
inline constexpr char Width[] = "Width";
inline constexpr char Height[] = "Height";

// FormMain.
inline constexpr char ColWidth[] = "ColWidth";  // binary: one 32-bit little-endian width per column
inline constexpr char GlobalQueueEnabled[] = "GlobalQueueEnabled";
inline constexpr char SourceQueueEnabled[] = "SourceQueueEnabled";
inline constexpr char ShutDownEnabled[] = "ShutDownEnabled";
inline constexpr char ActivePageIndex[] = "ActivePageIndex";
inline constexpr char TaskListHeight[] = "TaskListHeight";  // default: the designed height

// FormNewTask.
inline constexpr char PathsCount[] = "PathsCount";
inline constexpr char PathPrefix[] = "Path";  // Path0 (the last destination used), Path1, ...
inline constexpr char MaxPathsCount[] = "MaxPathsCount";  // read only: never written by the program
inline constexpr char LastSrcDir[] = "LastSrcDir";
inline constexpr char SpeedLimit[] = "SpeedLimit";  // default: the current MaxLinkSpeed
inline constexpr char CopySecurity[] = "CopySecurity";
inline constexpr char CopyStreams[] = "CopyStreams";
inline constexpr char CopyAttributes[] = "CopyAttributes";
inline constexpr char ShowOptions[] = "ShowOptions";
}  // namespace regvalue

// The name of the destination history entry `index` ("Path0", "Path1", ...).
inline std::string PathValueName(int index) { return regvalue::PathPrefix + std::to_string(index); }

inline constexpr int TaskListColumnCount = 11;
inline constexpr std::array<int32_t, TaskListColumnCount> DefaultColWidths = {31, 98, 98, 76, 36, 56,
                                                                             60, 35, 65, 65, 61};
inline constexpr int32_t DefaultActivePageIndex = 0;
inline constexpr int32_t DefaultPathsCount = 0;
inline constexpr int32_t DefaultMaxPathsCount = 5;
inline constexpr int32_t DefaultShowOptions = 0;
inline constexpr int32_t DefaultQuickInfoLeft = 16;
inline constexpr int32_t DefaultQuickInfoTop = 16;

}  // namespace tarn
