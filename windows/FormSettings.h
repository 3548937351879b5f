#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTabWidget;
class QToolButton;

namespace tarn {

class TSettingsStorage;

// The settings dialog. It edits the caller's store in place: OK puts every control into it
// through the setters, so only values that really change get a mark, and leaves applying and
// saving them to the caller; any other close reloads the store from the settings file, which
// drops whatever was changed in memory since the last save (the restored defaults too).
class TfrmSettings : public QDialog {
    Q_OBJECT

public:
    // `taskCount`: the tasks in the list. While there are any, or the store's restore folder is
    // locked otherwise, the restore folder cannot be edited: the tasks' files are there.
    TfrmSettings(QWidget* owner, int taskCount, TSettingsStorage& settings);

    void done(int result) override;

private:
    QWidget* BuildGeneralPage();
    QWidget* BuildTaskPage();
    QWidget* BuildRestorePage();
    void AlignFields();
    void LoadControls();
    void SaveControls();

    void btnLogFileClick();
    void btnRestorePathClick();
    void btnHelpClick();

    TSettingsStorage& settings_;

    QTabWidget* pcSettings = nullptr;
    QComboBox* cbLanguage = nullptr;
    QComboBox* cbConnectionSpeed = nullptr;
    QLineEdit* edtLogFile = nullptr;
    QToolButton* btnLogFile = nullptr;
    QCheckBox* chkAutoRun = nullptr;
    QCheckBox* chkEnableContextMenu = nullptr;
    QCheckBox* chkEnableQuickInfo = nullptr;
    QCheckBox* chkEnableNotifications = nullptr;
    QCheckBox* chkEnableLauncherProgress = nullptr;
    QCheckBox* chkMinimizeInsteadClose = nullptr;
    QSpinBox* seBufferSize = nullptr;
    QCheckBox* chkAutoDelFinished = nullptr;
    QCheckBox* chkVerifyCopies = nullptr;
    QCheckBox* chkCopyLinksAsLinks = nullptr;
    QCheckBox* chkKeepHardLinks = nullptr;
    QSpinBox* seDelayOnError = nullptr;
    QSpinBox* seCountOfErrorsForSkip = nullptr;
    QComboBox* cbAutoActionOnDstFileExists = nullptr;
    QSpinBox* seAutoActionDelay = nullptr;
    QLineEdit* edtRestorePath = nullptr;
    QToolButton* btnRestorePath = nullptr;
    QLabel* lblRestoreChangeComment = nullptr;
    QSpinBox* seRestoreUpdateInterval = nullptr;
};

}  // namespace tarn
