#include "windows/FormNewTask.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "core/FormCaptions.h"
#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/GlobalUtils.h"
#include "engine/TaskTypes.h"
#include "platform/DateTime.h"
#include "tasks/DestinationHistory.h"
#include "tasks/SourceCheck.h"
#include "windows/FormSchedule.h"
#include "windows/Icons.h"
#include "windows/TranslateForm.h"

namespace tarn {
namespace {

// The design's gap between the stacked group boxes and its width, at 96 DPI.
constexpr int PanelSpacing = 7;
constexpr int DesignWidth = 369;
// ShowOptions: the panels were shown when the dialog closed; anything else opens it collapsed.
constexpr int32_t OptionsShownValue = 2;

template <typename Widget>
Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QToolButton* BrowseButton(const char* name, const char* icon, const char* hint)
{
    auto* button = Named(new QToolButton, name);
    button->setIcon(TarnIcon(icon));
    button->setToolTip(QString::fromUtf8(hint));
    button->setAutoRaise(true);
    return button;
}

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The track bar's limit as "%.1f" and the unit, without a blank: "11.9Mb/s".
QString SpeedText(int bytesPerSecond, const TMsgList& msgs)
{
    const ScaledValue speed = FormatSpeed(bytesPerSecond, msgs);
    return Text(FormatFixed(speed.Value, 1) + speed.Unit);
}

}  // namespace

TfrmNewTask::TfrmNewTask(QWidget* owner, const TSettingsStorage& settings, bool startAllowed, ScheduleAsker askSchedule)
    : QDialog(owner), settings_(settings), msgs_(settings), askSchedule_(std::move(askSchedule))
{
    if (!askSchedule_)
        askSchedule_ = [this](double proposed) { return TfrmSchedule::Ask(this, settings_, proposed); };
    BuildControls();
    const FormTranslation translation = TranslateForm(*this, FormNewTaskCaptions, settings_);
    sStart_ = translation.Text("sStart");
    sPause_ = translation.Text("sPause");
    sSchedule_ = translation.Text("sSchedule");
    sButtonOptions_ = translation.Text("sButtonOptions");
    // The browse buttons show pictures and the schedule button "...": their hints name them
    // for screen readers.
    for (QToolButton* button : {btnBrowseForSrcFile_, btnBrowseForSrcFolder_, btnBrowseForDstFolder_,
                                btnScheduleDialog_})
        button->setAccessibleName(button->toolTip());

    FillStateList(startAllowed);
    trbSpeedLimit_->setRange(0, std::max(0, settings_.MaxLinkSpeed()));
    trbSpeedLimit_->setSingleStep(std::max(1, trbSpeedLimit_->maximum() / 100));
    trbSpeedLimit_->setPageStep(std::max(1, trbSpeedLimit_->maximum() / 10));
    trbSpeedLimit_->setTickInterval(std::max(1, trbSpeedLimit_->maximum() / 10));
    LoadRemembered();
    AlignLabelColumns();

    connect(edtSrcPath_, &QLineEdit::textChanged, this, &TfrmNewTask::PathsChange);
    connect(cbDstPath_, &QComboBox::editTextChanged, this, &TfrmNewTask::PathsChange);
    connect(cbState_, &QComboBox::currentIndexChanged, this, &TfrmNewTask::cbStateChange);
    connect(trbSpeedLimit_, &QSlider::valueChanged, this, &TfrmNewTask::trbSpeedLimitChange);
    connect(btnOptions_, &QPushButton::clicked, this, &TfrmNewTask::btnOptionsClick);
    connect(btnScheduleDialog_, &QToolButton::clicked, this, &TfrmNewTask::btnScheduleDialogClick);
    connect(btnBrowseForSrcFile_, &QToolButton::clicked, this, &TfrmNewTask::btnBrowseForSrcFileClick);
    connect(btnBrowseForSrcFolder_, &QToolButton::clicked, this, &TfrmNewTask::btnBrowseForSrcFolderClick);
    connect(btnBrowseForDstFolder_, &QToolButton::clicked, this, &TfrmNewTask::btnBrowseForDstFolderClick);

    PathsChange();
    cbStateChange();
    trbSpeedLimitChange();
    SetOptionsShown(optionsShown_);
    layout()->activate();
    resize(std::max(DesignWidth, sizeHint().width()), sizeHint().height());
    edtSrcPath_->setFocus();
}

void TfrmNewTask::BuildControls()
{
    setWindowTitle(QStringLiteral("New Task"));

    gbPaths_ = Named(new QGroupBox(QStringLiteral("Paths")), "gbPaths");
    lblSrc_ = Named(new QLabel(QStringLiteral("Source")), "lblSrc");
    edtSrcPath_ = Named(new QLineEdit, "edtSrcPath");
    btnBrowseForSrcFile_ = BrowseButton("btnBrowseForSrcFile", "file", "Browse for file");
    btnBrowseForSrcFolder_ = BrowseButton("btnBrowseForSrcFolder", "folder", "Browse for folder");
    lblDst_ = Named(new QLabel(QStringLiteral("Destination")), "lblDst");
    cbDstPath_ = Named(new QComboBox, "cbDstPath");
    cbDstPath_->setEditable(true);
    // The list is the history as loaded; what is typed joins it only when the dialog is confirmed.
    cbDstPath_->setInsertPolicy(QComboBox::NoInsert);
    // Inline completion would silently lengthen a typed path to a remembered one.
    cbDstPath_->completer()->setCompletionMode(QCompleter::PopupCompletion);
    cbDstPath_->completer()->setCaseSensitivity(Qt::CaseSensitive);
    cbDstPath_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbDstPath_->setMinimumContentsLength(20);
    btnBrowseForDstFolder_ = BrowseButton("btnBrowseForDstFolder", "folder", "Browse for folder");
    lblSrc_->setBuddy(edtSrcPath_);
    lblDst_->setBuddy(cbDstPath_);

    auto* paths = new QGridLayout(gbPaths_);
    paths->addWidget(lblSrc_, 0, 0);
    paths->addWidget(edtSrcPath_, 0, 1);
    paths->addWidget(btnBrowseForSrcFile_, 0, 2);
    paths->addWidget(btnBrowseForSrcFolder_, 0, 3);
    paths->addWidget(lblDst_, 1, 0);
    paths->addWidget(cbDstPath_, 1, 1, 1, 2);
    paths->addWidget(btnBrowseForDstFolder_, 1, 3);
    paths->setColumnStretch(1, 1);

    gbTaskOptions_ = Named(new QGroupBox(QStringLiteral("Task options")), "gbTaskOptions");
    lblState_ = Named(new QLabel(QStringLiteral("State")), "lblState");
    cbState_ = Named(new QComboBox, "cbState");
    btnScheduleDialog_ = Named(new QToolButton, "btnScheduleDialog");
    btnScheduleDialog_->setText(QStringLiteral("..."));
    btnScheduleDialog_->setToolTip(QStringLiteral("Date and time"));
    lblSpeed_ = Named(new QLabel(QStringLiteral("Speed")), "lblSpeed");
    trbSpeedLimit_ = Named(new QSlider(Qt::Horizontal), "trbSpeedLimit");
    trbSpeedLimit_->setTickPosition(QSlider::TicksBelow);
    lblUnit_ = Named(new QLabel, "lblUnit");
    lblUnit_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblState_->setBuddy(cbState_);
    lblSpeed_->setBuddy(trbSpeedLimit_);

    auto* state = new QHBoxLayout;
    state->addWidget(cbState_);
    state->addWidget(btnScheduleDialog_);
    state->addStretch(1);
    auto* task = new QGridLayout(gbTaskOptions_);
    task->addWidget(lblState_, 0, 0);
    task->addLayout(state, 0, 1, 1, 2);
    task->addWidget(lblSpeed_, 1, 0);
    task->addWidget(trbSpeedLimit_, 1, 1);
    task->addWidget(lblUnit_, 1, 2);
    task->setColumnStretch(1, 1);

    gbFileOptions_ = Named(new QGroupBox(QStringLiteral("File copying options")), "gbFileOptions");
    chkCopySecurity_ = Named(new QCheckBox(QStringLiteral("Copy security (owner, permissions, ACLs)")), "chkCopySecurity");
    chkCopyStreams_ = Named(new QCheckBox(QStringLiteral("Copy streams (extended attributes)")), "chkCopyStreams");
    chkCopyAttributes_ = Named(new QCheckBox(QStringLiteral("Copy attributes")), "chkCopyAttributes");
    chkVerify_ = Named(new QCheckBox(QStringLiteral("Verify copies")), "chkVerify");
    chkLinksAsLinks_ = Named(new QCheckBox(QStringLiteral("Copy symbolic links as links")), "chkLinksAsLinks");
    chkHardLinks_ = Named(new QCheckBox(QStringLiteral("Keep hard links")), "chkHardLinks");
    auto* file = new QVBoxLayout(gbFileOptions_);
    file->addWidget(chkCopySecurity_);
    file->addWidget(chkCopyStreams_);
    file->addWidget(chkCopyAttributes_);
    file->addWidget(chkVerify_);
    file->addWidget(chkLinksAsLinks_);
    file->addWidget(chkHardLinks_);

    btnOK_ = Named(new QPushButton(QStringLiteral("OK")), "btnOK");
    btnCancel_ = Named(new QPushButton(QStringLiteral("Cancel")), "btnCancel");
    btnOptions_ = Named(new QPushButton, "btnOptions");
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(btnOK_, QDialogButtonBox::AcceptRole);
    buttons->addButton(btnCancel_, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(btnOptions_);
    bottom->addStretch(1);
    bottom->addWidget(buttons);

    // Wider as the user likes, always as high as the shown panels need: hiding the option
    // panels pulls the buttons up under "Paths".
    auto* main = new QVBoxLayout(this);
    main->setSpacing(PanelSpacing);
    for (QGroupBox* panel : {gbPaths_, gbTaskOptions_, gbFileOptions_}) {
        panel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        main->addWidget(panel);
    }
    main->addLayout(bottom);
    // Only a button inside its dialog becomes the dialog's own default, which Return presses
    // wherever the focus is (a focused button aside).
    btnOK_->setDefault(true);
    main->setSizeConstraint(QLayout::SetMinAndMaxSize);

    QWidget* const order[] = {edtSrcPath_,       btnBrowseForSrcFile_, btnBrowseForSrcFolder_, cbDstPath_,
                              btnBrowseForDstFolder_, cbState_,       btnScheduleDialog_,     trbSpeedLimit_,
                              chkCopySecurity_,  chkCopyStreams_,      chkCopyAttributes_,     chkVerify_,
                              chkLinksAsLinks_,  chkHardLinks_,        btnOK_,                 btnCancel_,
                              btnOptions_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void TfrmNewTask::FillStateList(bool startAllowed)
{
    if (startAllowed) {
        startIndex_ = cbState_->count();
        cbState_->addItem(Text(sStart_));
    }
    pauseIndex_ = cbState_->count();
    cbState_->addItem(Text(sPause_));
    scheduleIndex_ = cbState_->count();
    cbState_->addItem(Text(sSchedule_));
    cbState_->setCurrentIndex(0);
}

void TfrmNewTask::LoadRemembered()
{
    const auto key = settings_.OpenKey(regkey::FormNewTask);
    for (const auto& path : ReadDestinationHistory(*key)) cbDstPath_->addItem(Text(path));
    if (cbDstPath_->count() > 0) cbDstPath_->setCurrentIndex(0);
    trbSpeedLimit_->setValue(ReadRegInteger(*key, regvalue::SpeedLimit, settings_.MaxLinkSpeed()));
    chkCopySecurity_->setChecked(ReadRegBool(*key, regvalue::CopySecurity, false));
    chkCopyStreams_->setChecked(ReadRegBool(*key, regvalue::CopyStreams, false));
    chkCopyAttributes_->setChecked(ReadRegBool(*key, regvalue::CopyAttributes, false));
    chkVerify_->setChecked(settings_.VerifyCopies());
    chkLinksAsLinks_->setChecked(settings_.CopyLinksAsLinks());
    chkHardLinks_->setChecked(settings_.KeepHardLinks());
    optionsShown_ = ReadRegInteger(*key, regvalue::ShowOptions, DefaultShowOptions) == OptionsShownValue;
}

// The fields of both panels start in one column, however long the translated labels are, and
// the unit label is as wide as its widest text, so that the track bar keeps its length.
void TfrmNewTask::AlignLabelColumns()
{
    int labelWidth = 0;
    for (const QLabel* label : {lblSrc_, lblDst_, lblState_, lblSpeed_})
        labelWidth = std::max(labelWidth, label->sizeHint().width());
    for (QLabel* label : {lblSrc_, lblDst_, lblState_, lblSpeed_}) label->setMinimumWidth(labelWidth);

    int unitWidth = 0;
    for (const int speed : {1024, 1048576, trbSpeedLimit_->maximum()})
        unitWidth = std::max(unitWidth, lblUnit_->fontMetrics().horizontalAdvance(SpeedText(speed, msgs_)));
    lblUnit_->setMinimumWidth(unitWidth);
}

std::optional<NewTaskAnswer> TfrmNewTask::Ask(const std::string& sourceText)
{
    SetSourceText(sourceText);
    if (exec() != Accepted) return std::nullopt;
    return answer_;
}

void TfrmNewTask::SetSourceText(const std::string& text)
{
    edtSrcPath_->setText(Text(text));
    if (!text.empty()) cbDstPath_->setFocus();
}

void TfrmNewTask::PathsChange()
{
    btnOK_->setEnabled(!edtSrcPath_->text().isEmpty() && !cbDstPath_->currentText().isEmpty());
}

void TfrmNewTask::cbStateChange() { btnScheduleDialog_->setEnabled(cbState_->currentIndex() == scheduleIndex_); }

void TfrmNewTask::trbSpeedLimitChange() { lblUnit_->setText(SpeedText(trbSpeedLimit_->value(), msgs_)); }

void TfrmNewTask::btnOptionsClick() { SetOptionsShown(!optionsShown_); }

void TfrmNewTask::SetOptionsShown(bool shown)
{
    optionsShown_ = shown;
    gbTaskOptions_->setVisible(shown);
    gbFileOptions_->setVisible(shown);
    btnOptions_->setText(Text(sButtonOptions_) + (shown ? QStringLiteral(" <<") : QStringLiteral(" >>")));
}

// The schedule dialog starts at the present moment each time, not at a moment chosen before.
void TfrmNewTask::btnScheduleDialogClick()
{
    if (const auto moment = askSchedule_(NowDateTime())) answer_.ScheduleTime = *moment;
}

void TfrmNewTask::btnBrowseForSrcFileClick()
{
    QFileDialog dialog(this, btnBrowseForSrcFile_->toolTip());
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setFilter(dialog.filter() | QDir::Hidden);
    if (dialog.exec() != Accepted) return;
    std::vector<std::string> files;
    for (const QString& file : dialog.selectedFiles()) files.push_back(file.toStdString());
    edtSrcPath_->setText(Text(JoinQuotedPaths(files)));
}

void TfrmNewTask::btnBrowseForSrcFolderClick()
{
    const auto key = settings_.OpenKey(regkey::FormNewTask);
    const QString start =
        edtSrcPath_->text().isEmpty() ? Text(ReadRegString(*key, regvalue::LastSrcDir, "")) : edtSrcPath_->text();
    // Read-only: a source folder is picked, not made.
    const QString folder = QFileDialog::getExistingDirectory(
        this, btnBrowseForSrcFolder_->toolTip(), start, QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
    if (folder.isEmpty()) return;
    edtSrcPath_->setText(folder);
    WriteRegString(*key, regvalue::LastSrcDir, folder.toStdString());
    try {
        FlushRegistryKey(*key);
    } catch (const RegistryError& error) {
        ShowError(error.what());
    }
}

void TfrmNewTask::btnBrowseForDstFolderClick()
{
    const QString folder = QFileDialog::getExistingDirectory(this, btnBrowseForDstFolder_->toolTip(),
                                                             cbDstPath_->currentText(), QFileDialog::ShowDirsOnly);
    if (folder.isEmpty()) return;
    cbDstPath_->setEditText(folder);
    PathsChange();
}

void TfrmNewTask::accept()
{
    // The same rule as the command line's, asked while the user can still mend the paths: the
    // tasks would otherwise merge or replace each other's copies, or retry for nothing.
    const std::string destination = cbDstPath_->currentText().toStdString();
    std::vector<std::string> sources;
    SplitQuotedPaths(edtSrcPath_->text().toStdString(), sources);
    std::vector<std::string> problems;
    if (const std::string reason = WhyDestinationCannotBeUsed(destination); !reason.empty())
        problems.push_back("Cannot copy into \"" + destination + "\": " + reason + ".");
    for (size_t i = 0; i < sources.size(); ++i)
        if (const std::string reason = WhyNameIsTaken(sources, i, destination); !reason.empty())
            problems.push_back("Cannot copy \"" + sources[i] + "\": " + reason + ".");
    if (problems.empty()) {
        QDialog::accept();
        return;
    }
    std::string text;
    for (const auto& problem : problems) text += (text.empty() ? "" : "\n") + problem;
    ShowError(text);
}

void TfrmNewTask::done(int result)
{
    FormClose(result == Accepted);
    QDialog::done(result);
}

void TfrmNewTask::FormClose(bool accepted)
{
    const auto key = settings_.OpenKey(regkey::FormNewTask);
    if (accepted) {
        const int index = cbState_->currentIndex();
        answer_.State = index == startIndex_ ? StateCopying : index == pauseIndex_ ? StatePaused : StateScheduled;
        answer_.SourceText = edtSrcPath_->text().toStdString();
        answer_.Destination = cbDstPath_->currentText().toStdString();
        answer_.SpeedLimit = trbSpeedLimit_->value();
        answer_.Options.CopyAttributes = chkCopyAttributes_->isChecked();
        answer_.Options.CopySecurity = chkCopySecurity_->isChecked();
        answer_.Options.CopyStreams = chkCopyStreams_->isChecked();
        answer_.Options.VerifyCopies = chkVerify_->isChecked();
        answer_.Options.CopyLinksAsLinks = chkLinksAsLinks_->isChecked();
        answer_.Options.KeepHardLinks = chkHardLinks_->isChecked();

        std::vector<std::string> history;
        for (int i = 0; i < cbDstPath_->count(); ++i) history.push_back(cbDstPath_->itemText(i).toStdString());
        WriteDestinationHistory(*key, answer_.Destination, history);
        WriteRegInteger(*key, regvalue::SpeedLimit, answer_.SpeedLimit);
        WriteRegBool(*key, regvalue::CopySecurity, answer_.Options.CopySecurity);
        WriteRegBool(*key, regvalue::CopyStreams, answer_.Options.CopyStreams);
        WriteRegBool(*key, regvalue::CopyAttributes, answer_.Options.CopyAttributes);
    }
    WriteRegInteger(*key, regvalue::ShowOptions, optionsShown_ ? OptionsShownValue : DefaultShowOptions);
    try {
        FlushRegistryKey(*key);
    } catch (const RegistryError& error) {
        ShowError(error.what());
    }
}

void TfrmNewTask::ShowError(const std::string& text)
{
    QMessageBox::critical(this, Text(msgs_.GetMsg("Msg005")), Text(text));
}

}  // namespace tarn
