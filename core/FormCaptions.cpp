#include "core/FormCaptions.h"

namespace tarn {
namespace {

// Column titles of the task list, in column order.
constexpr CaptionText MainOwnTexts[] = {
    {"lvTaskList.State", "State"},     {"lvTaskList.Src", "Source"},       {"lvTaskList.Dst", "Destination"},
    {"lvTaskList.File", "File name"},  {"lvTaskList.Files", "Files"},      {"lvTaskList.Size", "Size, Mb"},
    {"lvTaskList.Copied", "Copied, Mb"}, {"lvTaskList.Percent", "%"},     {"lvTaskList.Elapsed", "Elapsed"},
    {"lvTaskList.Remaining", "Remaining"}, {"lvTaskList.Speed", "Speed"},
};

// An action's caption is also its hint: the main window sets both from one key.
constexpr CaptionText MainProperties[] = {
    {"actFile.Caption", "File"},
    {"actActions.Caption", "Actions"},
    {"actTools.Caption", "Tools"},
    {"actHelp.Caption", "Help"},
    {"actNewTask.Caption", "New Task"},
    {"actStart.Caption", "Start"},
    {"actStartAll.Caption", "Start All"},
    {"actPause.Caption", "Pause"},
    {"actPauseAll.Caption", "Pause All"},
    {"actRestart.Caption", "Restart"},
    {"actRestartAll.Caption", "Restart All"},
    {"actDelete.Caption", "Delete"},
    {"actDeleteAll.Caption", "Delete All"},
    {"actSchedule.Caption", "Schedule"},
    {"actScheduleAll.Caption", "Schedule All"},
    {"actSkipFile.Caption", "Skip File"},
    {"actChangeSource.Caption", "Change Source"},
    {"actDeleteFinished.Caption", "Delete Finished"},
    {"actMoveUp.Caption", "Move Up"},
    {"actMoveDown.Caption", "Move Down"},
    {"actOpenSrc.Caption", "Open source folder"},
    {"actOpenDst.Caption", "Open destination folder"},
    {"actGlobalQueue.Caption", "Global Queue"},
    {"actSourceQueue.Caption", "Queue by File Servers"},
    {"actShutDown.Caption", "Shut Down when done"},
    {"actSettings.Caption", "Settings..."},
    {"actRestDefSettings.Caption", "Restore default settings"},
    {"actHelpTopics.Caption", "Help Topics"},
    {"actAbout.Caption", "About..."},
    {"actExit.Caption", "Exit"},
    {"tsSpeed.Caption", "Speed"},
    {"tsLog.Caption", "Log"},
    {"trbSpeedLimit.Hint", "Speed throttle"},
};

constexpr CaptionText SettingsOwnTexts[] = {
    {"sUpload", "Upload"},
    {"sOverwrite", "Overwrite"},
    {"sSkip", "Skip"},
    {"s1Mbit", "1 Mbit per second"},
    {"s10Mbit", "10 Mbit per second"},
    {"s100Mbit", "100 Mbit per second"},
    {"s1Gbit", "1 Gbit per second"},
    {"sRestorePathLocked",
     "The restore folder holds the files of the tasks in the list: it can be changed while the list is empty."},
};

constexpr CaptionText SettingsProperties[] = {
    {"tsGeneral.Caption", "General"},
    {"tsTask.Caption", "Task"},
    {"tsRestore.Caption", "Restore"},
    {"btnOK.Caption", "OK"},
    {"btnCancel.Caption", "Cancel"},
    {"btnHelp.Caption", "Help"},
    // General
    {"lblLanguage.Caption", "Interface language"},
    {"lblConnectionSpeed.Caption", "Connection speed"},
    {"lblLogFile.Caption", "Path to log file"},
    {"btnLogFile.Hint", "Browse for log file"},
    {"chkAutoRun.Caption", "Run on logon when a task unfinished exists"},
    {"chkEnableContextMenu.Caption", "Enable the \"Copy to...\" menu item in the file manager"},
    {"chkEnableQuickInfo.Caption", "Enable the semi-transparent information window"},
    {"chkEnableNotifications.Caption", "Show a notification when a task finishes or is paused for errors"},
    {"chkEnableLauncherProgress.Caption", "Show the progress on the launcher icon"},
    {"chkMinimizeInsteadClose.Caption", "Minimize main window on click [X]"},
    // Task
    {"lblBufferSize.Caption", "Buffer size"},
    {"lblBufferSizeUnit.Caption", "Kbytes"},
    {"chkAutoDelFinished.Caption", "Delete successfully finished task automatically"},
    {"chkVerifyCopies.Caption", "Verify copies (read each copied file back and compare it with its source)"},
    {"chkCopyLinksAsLinks.Caption", "Copy symbolic links as links (otherwise copy what they point to)"},
    {"chkKeepHardLinks.Caption", "Keep hard links (further names of a file stay names of one copy)"},
    {"gbErrorProcessing.Caption", "Error processing"},
    {"lblDelayOnError.Caption", "Retry interval"},
    {"lblDelayOnErrorUnit.Caption", "milliseconds"},
    {"lblCountOfErrorsForSkip.Caption", "Go to next task after"},
    {"lblCountOfErrorsForSkipUnit.Caption", "retries"},
    {"gbDstFileExists.Caption", "When destination file exists"},
    {"lblAutoAction.Caption", "Default action"},
    {"lblAutoActionDelay.Caption", "Default action delay"},
    {"lblAutoActionDelayUnit.Caption", "seconds"},
    // Restore
    {"lblRestoreComment.Caption",
     "Restore folder contains restore files. These files are used by the program to restore tasks after "
     "system crash or reboot."},
    {"lblRestorePath.Caption", "Restore folder"},
    {"btnRestorePath.Hint", "Browse for restore folder"},
    {"lblRestoreChangeComment.Caption", "* this option is enabled when the number of tasks is zero"},
    {"lblRestoreUpdateInterval.Caption", "Update interval to restore files"},
    {"lblRestoreUpdateIntervalUnit.Caption", "seconds"},
};

constexpr CaptionText NewTaskOwnTexts[] = {
    {"sStart", "Start"},
    {"sPause", "Pause"},
    {"sSchedule", "Schedule"},
    {"sButtonOptions", "Options"},
};

constexpr CaptionText NewTaskProperties[] = {
    {"gbPaths.Caption", "Paths"},
    {"lblSrc.Caption", "Source"},
    {"btnBrowseForSrcFile.Hint", "Browse for file"},
    {"btnBrowseForSrcFolder.Hint", "Browse for folder"},
    {"lblDst.Caption", "Destination"},
    {"btnBrowseForDstFolder.Hint", "Browse for folder"},
    {"gbTaskOptions.Caption", "Task options"},
    {"lblState.Caption", "State"},
    {"btnScheduleDialog.Hint", "Date and time"},
    {"lblSpeed.Caption", "Speed"},
    {"gbFileOptions.Caption", "File copying options"},
    {"chkCopySecurity.Caption", "Copy security (owner, permissions, ACLs)"},
    {"chkCopyStreams.Caption", "Copy streams (extended attributes)"},
    {"chkCopyAttributes.Caption", "Copy attributes"},
    {"chkVerify.Caption", "Verify copies"},
    {"chkLinksAsLinks.Caption", "Copy symbolic links as links"},
    {"chkHardLinks.Caption", "Keep hard links"},
    {"btnOK.Caption", "OK"},
    {"btnCancel.Caption", "Cancel"},
};

constexpr CaptionText DelTaskProperties[] = {
    {"gbDeleteParameters.Caption", "Deleting parameters"},
    {"lblComment.Caption", "If you want to delete all files copied, please mark the check-box"},
    {"chkDelFiles.Caption", "Delete copied files"},
    {"btnOK.Caption", "OK"},
    {"btnCancel.Caption", "Cancel"},
};

constexpr CaptionText ShutDownOwnTexts[] = {
    {"ShutDownDelayString", "System will shut down in %s seconds"},
};

constexpr CaptionText ShutDownProperties[] = {
    {"gbShutDown.Caption", "Shut down"},
    {"lblComment.Caption",
     "Please, click on OK button to force shut down. If you don't want shut down your computer, please click on "
     "Cancel"},
    {"btnOK.Caption", "OK"},
    {"btnCancel.Caption", "Cancel"},
};

// lblFolder and the two attribute lines are templates that the dialog fills.
constexpr CaptionText DstFileExistsProperties[] = {
    {"lblFolder.Caption", "The folder \"%s\" already contains a file \"%s\""},
    {"lblSrc.Caption", "Source:"},
    {"lblSrcAttr.Caption", "%s %smodified: %s"},
    {"lblDst.Caption", "Destination:"},
    {"lblDstAttr.Caption", "%s %smodified: %s"},
    {"lblSelectAction.Caption", "Please, select an action you need to do on this file:"},
    {"btnUpload.Caption", "Upload"},
    {"btnOverwrite.Caption", "Overwrite"},
    {"btnSkip.Caption", "Skip"},
    {"btnStopCounter.Caption", "Stop counter!"},
    {"chkUseForAll.Caption", "Remember my choice and don't ask me again (this task only)"},
};

constexpr CaptionText ScheduleProperties[] = {
    {"gbScheduleParameters.Caption", "Schedule parameters"},
    {"lblComment.Caption", "Please, set date and time to start the task"},
    {"btnOK.Caption", "OK"},
    {"btnCancel.Caption", "Cancel"},
};

}  // namespace

// The main window's title is the program's name; a key without "." names no component there.
const FormCaptions FormMainCaptions{"TfrmMain", nullptr, MainOwnTexts, MainProperties};
const FormCaptions FormSettingsCaptions{"TfrmSettings", "Settings", SettingsOwnTexts, SettingsProperties};
const FormCaptions FormNewTaskCaptions{"TfrmNewTask", "New Task", NewTaskOwnTexts, NewTaskProperties};
const FormCaptions FormDelTaskCaptions{"TfrmDelTask", "Deleting", {}, DelTaskProperties};
const FormCaptions FormShutDownCaptions{"TfrmShutDown", "Shut down computer", ShutDownOwnTexts, ShutDownProperties};
const FormCaptions FormDstFileExistsCaptions{"TfrmDstFileExists", "File exists", {}, DstFileExistsProperties};
const FormCaptions FormScheduleCaptions{"TfrmSchedule", "Schedule", {}, ScheduleProperties};

std::span<const FormCaptions* const> AllFormCaptions()
{
    static const FormCaptions* const all[] = {
        &FormMainCaptions,     &FormSettingsCaptions,      &FormNewTaskCaptions, &FormDelTaskCaptions,
        &FormShutDownCaptions, &FormDstFileExistsCaptions, &FormScheduleCaptions,
    };
    return all;
}

}  // namespace tarn
