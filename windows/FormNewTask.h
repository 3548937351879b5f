#pragma once

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

#include "core/MessageList.h"
#include "tasks/CommandHost.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QToolButton;

namespace tarn {

class TSettingsStorage;

// The new-task dialog: source and destination, the state the tasks start in, a speed limit and
// the copying options. It creates nothing; the caller splits the source text and adds one task
// per path. It remembers in the FormNewTask registry key the destination history, the limit and
// copying options after OK, whether its option panels are shown after OK or Cancel, and the last
// source folder browsed as soon as it is chosen. The verify and link options are not remembered:
// they start as the settings VerifyCopies, CopyLinksAsLinks and KeepHardLinks.
class TfrmNewTask : public QDialog {
    Q_OBJECT

public:
    // Asks for the moment scheduled tasks start, proposing one; nullopt when cancelled.
    using ScheduleAsker = std::function<std::optional<double>(double proposed)>;

    // `startAllowed` offers the state "Start" (no queue mode decides what runs). Without
    // `askSchedule` the schedule button opens the schedule dialog.
    TfrmNewTask(QWidget* owner, const TSettingsStorage& settings, bool startAllowed, ScheduleAsker askSchedule = {});

    // Puts a source text in (one path as it is, several quoted), shows the dialog modally and
    // returns what was entered; nullopt after Cancel.
    std::optional<NewTaskAnswer> Ask(const std::string& sourceText);
    // A pre-filled source; the focus then goes to the destination.
    void SetSourceText(const std::string& text);
    // What was entered, complete once the dialog was accepted.
    const NewTaskAnswer& Answer() const { return answer_; }

    // OK: refused with a message, the dialog staying open, when the destination is a file or
    // two sources have the same name (their copies would be one).
    void accept() override;
    // Closing, with any result: stores what the dialog remembers.
    void done(int result) override;

private:
    void BuildControls();
    void FillStateList(bool startAllowed);
    void LoadRemembered();
    void AlignLabelColumns();
    void SetOptionsShown(bool shown);
    void FormClose(bool accepted);
    void ShowError(const std::string& text);

    void PathsChange();
    void cbStateChange();
    void trbSpeedLimitChange();
    void btnOptionsClick();
    void btnScheduleDialogClick();
    void btnBrowseForSrcFileClick();
    void btnBrowseForSrcFolderClick();
    void btnBrowseForDstFolderClick();

    const TSettingsStorage& settings_;
    TMsgList msgs_;
    ScheduleAsker askSchedule_;

    std::string sStart_ = "Start";
    std::string sPause_ = "Pause";
    std::string sSchedule_ = "Schedule";
    int startIndex_ = -1;
    int pauseIndex_ = -1;
    int scheduleIndex_ = -1;
    std::string sButtonOptions_ = "Options";
    bool optionsShown_ = false;
    NewTaskAnswer answer_;

    QGroupBox* gbPaths_ = nullptr;
    QLabel* lblSrc_ = nullptr;
    QLineEdit* edtSrcPath_ = nullptr;
    QToolButton* btnBrowseForSrcFile_ = nullptr;
    QToolButton* btnBrowseForSrcFolder_ = nullptr;
    QLabel* lblDst_ = nullptr;
    QComboBox* cbDstPath_ = nullptr;
    QToolButton* btnBrowseForDstFolder_ = nullptr;
    QGroupBox* gbTaskOptions_ = nullptr;
    QLabel* lblState_ = nullptr;
    QComboBox* cbState_ = nullptr;
    QToolButton* btnScheduleDialog_ = nullptr;
    QLabel* lblSpeed_ = nullptr;
    QSlider* trbSpeedLimit_ = nullptr;
    QLabel* lblUnit_ = nullptr;
    QGroupBox* gbFileOptions_ = nullptr;
    QCheckBox* chkCopySecurity_ = nullptr;
    QCheckBox* chkCopyStreams_ = nullptr;
    QCheckBox* chkCopyAttributes_ = nullptr;
    QCheckBox* chkVerify_ = nullptr;
    QCheckBox* chkLinksAsLinks_ = nullptr;
    QCheckBox* chkHardLinks_ = nullptr;
    QPushButton* btnOK_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    QPushButton* btnOptions_ = nullptr;
};

}  // namespace tarn
