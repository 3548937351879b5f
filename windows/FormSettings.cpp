#include "windows/FormSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>

#include "core/FormCaptions.h"
#include "core/Globals.h"
#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/GlobalUtils.h"
#include "windows/Icons.h"
#include "windows/TranslateForm.h"

namespace tarn {
namespace {

// The spin boxes show whole Kbytes and seconds of values stored in bytes and milliseconds.
constexpr int BytesPerKbyte = 1024;
constexpr int MillisecondsPerSecond = 1000;

// The help topic of each page, in page order.
constexpr const char* HelpTopics[] = {HelpTopicSettingsGeneral, HelpTopicSettingsTask, HelpTopicSettingsRestore};

QString Text(const std::string& text) { return QString::fromStdString(text); }

template <typename Widget>
Widget* Named(Widget* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* NewLabel(QWidget* parent, const char* name, const char* text)
{
    return Named(new QLabel(QString::fromUtf8(text), parent), name);
}

QSpinBox* NewSpin(QWidget* parent, const char* name, int minimum, int maximum)
{
    auto* spin = Named(new QSpinBox(parent), name);
    spin->setRange(minimum, maximum);
    return spin;
}

QToolButton* NewBrowseButton(QWidget* parent, const char* name, const char* hint)
{
    auto* button = Named(new QToolButton(parent), name);
    button->setText(QStringLiteral("..."));
    button->setIcon(TarnIcon("browse"));
    button->setToolTip(QString::fromUtf8(hint));
    return button;
}

// A spin box with its unit after it, kept at its own width.
QHBoxLayout* WithUnit(QSpinBox* spin, QLabel* unit)
{
    auto* row = new QHBoxLayout;
    row->addWidget(spin);
    row->addWidget(unit);
    row->addStretch();
    unit->setBuddy(spin);
    return row;
}

// An edit with its browse button after it.
QHBoxLayout* WithButton(QLineEdit* edit, QToolButton* button)
{
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(button);
    return row;
}

void AddRow(QFormLayout& form, QLabel* label, QWidget* field)
{
    label->setBuddy(field);
    form.addRow(label, field);
}

void AddRow(QFormLayout& form, QLabel* label, QHBoxLayout* field)
{
    label->setBuddy(field->itemAt(0)->widget());
    form.addRow(label, field);
}

}  // namespace

TfrmSettings::TfrmSettings(QWidget* owner, int taskCount, TSettingsStorage& settings)
    : QDialog(owner), settings_(settings)
{
    setWindowTitle(QStringLiteral("Settings"));

    pcSettings = Named(new QTabWidget(this), "pcSettings");
    pcSettings->addTab(BuildGeneralPage(), QStringLiteral("General"));
    pcSettings->addTab(BuildTaskPage(), QStringLiteral("Task"));
    pcSettings->addTab(BuildRestorePage(), QStringLiteral("Restore"));

    auto* buttons = Named(new QDialogButtonBox(this), "buttons");
    QPushButton* btnOK = Named(buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole), "btnOK");
    Named(buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole), "btnCancel");
    Named(buttons->addButton(QStringLiteral("Help"), QDialogButtonBox::HelpRole), "btnHelp");
    btnOK->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, &TfrmSettings::btnHelpClick);
    connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this, &TfrmSettings::btnHelpClick);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pcSettings);
    layout->addWidget(buttons);
    // The dialog is as large as its contents need, in any language and font, and no larger.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    const FormTranslation translation = TranslateForm(*this, FormSettingsCaptions, settings_);

    const bool restorePathLocked = taskCount > 0 || settings_.RestorePathLocked();
    edtRestorePath->setEnabled(!restorePathLocked);
    btnRestorePath->setEnabled(!restorePathLocked);
    lblRestoreChangeComment->setVisible(restorePathLocked);
    if (restorePathLocked) edtRestorePath->setToolTip(Text(translation.Text("sRestorePathLocked")));

    for (const char* key : {"sUpload", "sOverwrite", "sSkip"})
        cbAutoActionOnDstFileExists->addItem(Text(translation.Text(key)));
    for (const char* key : {"s1Mbit", "s10Mbit", "s100Mbit", "s1Gbit"})
        cbConnectionSpeed->addItem(Text(translation.Text(key)));

    const auto languages = LanguageList(settings_.RootDir(), settings_.Language());
    for (const auto& language : languages) {
        cbLanguage->addItem(Text(language));
        if (SameText(language, settings_.Language())) cbLanguage->setCurrentIndex(cbLanguage->count() - 1);
    }

    LoadControls();
    AlignFields();
    cbLanguage->setFocus();
}

void TfrmSettings::AlignFields()
{
    // The number fields and the default-action list share one width, that of the widest.
    const std::initializer_list<QWidget*> fields = {seBufferSize, seDelayOnError, seCountOfErrorsForSkip,
                                                    cbAutoActionOnDstFileExists, seAutoActionDelay,
                                                    seRestoreUpdateInterval};
    int fieldWidth = 0;
    for (QWidget* field : fields) fieldWidth = std::max(fieldWidth, field->sizeHint().width());
    for (QWidget* field : fields) field->setMinimumWidth(fieldWidth);

    // The labels of the task page take the width of the longest in the current language, so that
    // the fields form one column across the page's rows and its two groups; a label outside the
    // groups is wider by the groups' inset.
    auto* group = findChild<QGroupBox*>(QStringLiteral("gbErrorProcessing"));
    const auto label = [this](const char* name) { return findChild<QLabel*>(QString::fromLatin1(name)); };
    QLabel* outside = label("lblBufferSize");
    const std::initializer_list<QLabel*> inside = {label("lblDelayOnError"), label("lblCountOfErrorsForSkip"),
                                                   label("lblAutoAction"), label("lblAutoActionDelay")};
    group->ensurePolished();
    const int inset = group->contentsMargins().left() + group->layout()->contentsMargins().left();
    int labelWidth = outside->sizeHint().width() - inset;
    for (QLabel* each : inside) labelWidth = std::max(labelWidth, each->sizeHint().width());
    for (QLabel* each : inside) each->setMinimumWidth(labelWidth);
    outside->setMinimumWidth(labelWidth + inset);
}

QWidget* TfrmSettings::BuildGeneralPage()
{
    auto* page = Named(new QWidget, "tsGeneral");
    auto* form = new QFormLayout(page);

    QLabel* lblLanguage = NewLabel(page, "lblLanguage", "Interface language");
    cbLanguage = Named(new QComboBox(page), "cbLanguage");
    AddRow(*form, lblLanguage, cbLanguage);

    QLabel* lblConnectionSpeed = NewLabel(page, "lblConnectionSpeed", "Connection speed");
    cbConnectionSpeed = Named(new QComboBox(page), "cbConnectionSpeed");
    AddRow(*form, lblConnectionSpeed, cbConnectionSpeed);

    QLabel* lblLogFile = NewLabel(page, "lblLogFile", "Path to log file");
    edtLogFile = Named(new QLineEdit(page), "edtLogFile");
    btnLogFile = NewBrowseButton(page, "btnLogFile", "Browse for log file");
    connect(btnLogFile, &QToolButton::clicked, this, &TfrmSettings::btnLogFileClick);
    AddRow(*form, lblLogFile, WithButton(edtLogFile, btnLogFile));

    form->addItem(new QSpacerItem(0, form->verticalSpacing()));
    chkAutoRun = Named(new QCheckBox(QStringLiteral("Run on logon when a task unfinished exists"), page), "chkAutoRun");
    form->addRow(chkAutoRun);
    chkEnableContextMenu = Named(
        new QCheckBox(QStringLiteral("Enable the \"Copy to...\" menu item in the file manager"), page),
        "chkEnableContextMenu");
    form->addRow(chkEnableContextMenu);
    chkEnableQuickInfo = Named(new QCheckBox(QStringLiteral("Enable the semi-transparent information window"), page),
                               "chkEnableQuickInfo");
    form->addRow(chkEnableQuickInfo);
    chkEnableNotifications = Named(
        new QCheckBox(QStringLiteral("Show a notification when a task finishes or is paused for errors"), page),
        "chkEnableNotifications");
    form->addRow(chkEnableNotifications);
    chkEnableLauncherProgress =
        Named(new QCheckBox(QStringLiteral("Show the progress on the launcher icon"), page), "chkEnableLauncherProgress");
    form->addRow(chkEnableLauncherProgress);
    chkMinimizeInsteadClose =
        Named(new QCheckBox(QStringLiteral("Minimize main window on click [X]"), page), "chkMinimizeInsteadClose");
    form->addRow(chkMinimizeInsteadClose);
    return page;
}

QWidget* TfrmSettings::BuildTaskPage()
{
    auto* page = Named(new QWidget, "tsTask");
    auto* column = new QVBoxLayout(page);

    auto* top = new QFormLayout;
    QLabel* lblBufferSize = NewLabel(page, "lblBufferSize", "Buffer size");
    seBufferSize = NewSpin(page, "seBufferSize", 1, 4096);
    AddRow(*top, lblBufferSize, WithUnit(seBufferSize, NewLabel(page, "lblBufferSizeUnit", "Kbytes")));
    chkAutoDelFinished = Named(new QCheckBox(QStringLiteral("Delete successfully finished task automatically"), page),
                               "chkAutoDelFinished");
    top->addRow(chkAutoDelFinished);
    chkVerifyCopies = Named(
        new QCheckBox(QStringLiteral("Verify copies (read each copied file back and compare it with its source)"), page),
        "chkVerifyCopies");
    top->addRow(chkVerifyCopies);
    chkCopyLinksAsLinks = Named(
        new QCheckBox(QStringLiteral("Copy symbolic links as links (otherwise copy what they point to)"), page),
        "chkCopyLinksAsLinks");
    top->addRow(chkCopyLinksAsLinks);
    chkKeepHardLinks =
        Named(new QCheckBox(QStringLiteral("Keep hard links (further names of a file stay names of one copy)"), page),
              "chkKeepHardLinks");
    top->addRow(chkKeepHardLinks);
    column->addLayout(top);

    auto* gbErrorProcessing = Named(new QGroupBox(QStringLiteral("Error processing"), page), "gbErrorProcessing");
    auto* errors = new QFormLayout(gbErrorProcessing);
    QLabel* lblDelayOnError = NewLabel(gbErrorProcessing, "lblDelayOnError", "Retry interval");
    seDelayOnError = NewSpin(gbErrorProcessing, "seDelayOnError", 0, 1000000000);
    seDelayOnError->setSingleStep(1000);
    seDelayOnError->setGroupSeparatorShown(true);
    AddRow(*errors, lblDelayOnError,
           WithUnit(seDelayOnError, NewLabel(gbErrorProcessing, "lblDelayOnErrorUnit", "milliseconds")));
    QLabel* lblCountOfErrorsForSkip = NewLabel(gbErrorProcessing, "lblCountOfErrorsForSkip", "Go to next task after");
    seCountOfErrorsForSkip = NewSpin(gbErrorProcessing, "seCountOfErrorsForSkip", 1, 100000);
    AddRow(*errors, lblCountOfErrorsForSkip,
           WithUnit(seCountOfErrorsForSkip, NewLabel(gbErrorProcessing, "lblCountOfErrorsForSkipUnit", "retries")));
    column->addWidget(gbErrorProcessing);

    auto* gbDstFileExists = Named(new QGroupBox(QStringLiteral("When destination file exists"), page), "gbDstFileExists");
    auto* exists = new QFormLayout(gbDstFileExists);
    QLabel* lblAutoAction = NewLabel(gbDstFileExists, "lblAutoAction", "Default action");
    cbAutoActionOnDstFileExists = Named(new QComboBox(gbDstFileExists), "cbAutoActionOnDstFileExists");
    auto* actionRow = new QHBoxLayout;
    actionRow->addWidget(cbAutoActionOnDstFileExists);
    actionRow->addStretch();
    AddRow(*exists, lblAutoAction, actionRow);
    QLabel* lblAutoActionDelay = NewLabel(gbDstFileExists, "lblAutoActionDelay", "Default action delay");
    seAutoActionDelay = NewSpin(gbDstFileExists, "seAutoActionDelay", 0, 1000);
    AddRow(*exists, lblAutoActionDelay,
           WithUnit(seAutoActionDelay, NewLabel(gbDstFileExists, "lblAutoActionDelayUnit", "seconds")));
    column->addWidget(gbDstFileExists);
    column->addStretch();
    return page;
}

QWidget* TfrmSettings::BuildRestorePage()
{
    auto* page = Named(new QWidget, "tsRestore");
    auto* column = new QVBoxLayout(page);

    QLabel* lblRestoreComment = NewLabel(page, "lblRestoreComment",
                                         "Restore folder contains restore files. These files are used by the program "
                                         "to restore tasks after system crash or reboot.");
    lblRestoreComment->setWordWrap(true);
    column->addWidget(lblRestoreComment);
    column->addSpacing(column->spacing());

    // The folder gets the page's full width: its paths are long.
    QLabel* lblRestorePath = NewLabel(page, "lblRestorePath", "Restore folder");
    edtRestorePath = Named(new QLineEdit(page), "edtRestorePath");
    btnRestorePath = NewBrowseButton(page, "btnRestorePath", "Browse for restore folder");
    connect(btnRestorePath, &QToolButton::clicked, this, &TfrmSettings::btnRestorePathClick);
    lblRestorePath->setBuddy(edtRestorePath);
    column->addWidget(lblRestorePath);
    column->addLayout(WithButton(edtRestorePath, btnRestorePath));
    lblRestoreChangeComment = NewLabel(page, "lblRestoreChangeComment",
                                       "* this option is enabled when the number of tasks is zero");
    lblRestoreChangeComment->setWordWrap(true);
    column->addWidget(lblRestoreChangeComment);
    column->addSpacing(column->spacing());

    auto* interval = new QFormLayout;
    QLabel* lblRestoreUpdateInterval = NewLabel(page, "lblRestoreUpdateInterval", "Update interval to restore files");
    seRestoreUpdateInterval = NewSpin(page, "seRestoreUpdateInterval", 3, 360);
    AddRow(*interval, lblRestoreUpdateInterval,
           WithUnit(seRestoreUpdateInterval, NewLabel(page, "lblRestoreUpdateIntervalUnit", "seconds")));
    column->addLayout(interval);
    column->addStretch();
    return page;
}

void TfrmSettings::LoadControls()
{
    edtLogFile->setText(Text(settings_.LogFile()));
    chkAutoRun->setChecked(settings_.AutoRun());
    chkEnableContextMenu->setChecked(settings_.EnableContextMenu());
    chkEnableQuickInfo->setChecked(settings_.EnableQuickInfo());
    chkEnableNotifications->setChecked(settings_.EnableNotifications());
    chkEnableLauncherProgress->setChecked(settings_.EnableLauncherProgress());
    chkMinimizeInsteadClose->setChecked(settings_.MinimizeInsteadClose());
    cbConnectionSpeed->setCurrentIndex(LinkSpeedEntry(settings_.MaxLinkSpeed()));

    seBufferSize->setValue(settings_.BufferSize() / BytesPerKbyte);
    chkAutoDelFinished->setChecked(settings_.AutoDeleteFinished());
    chkVerifyCopies->setChecked(settings_.VerifyCopies());
    chkCopyLinksAsLinks->setChecked(settings_.CopyLinksAsLinks());
    chkKeepHardLinks->setChecked(settings_.KeepHardLinks());
    seDelayOnError->setValue(settings_.DelayOnError());
    seCountOfErrorsForSkip->setValue(settings_.CountOfErrorsForSkip());
    cbAutoActionOnDstFileExists->setCurrentIndex(AutoActionEntry(settings_.AutoAction()));
    seAutoActionDelay->setValue(settings_.AutoActionDelay() / MillisecondsPerSecond);

    edtRestorePath->setText(Text(settings_.RestorePath()));
    // Long paths show their start rather than their end.
    edtLogFile->setCursorPosition(0);
    edtRestorePath->setCursorPosition(0);
    seRestoreUpdateInterval->setValue(settings_.RestoreUpdateInterval() / MillisecondsPerSecond);
}

void TfrmSettings::SaveControls()
{
    if (cbLanguage->currentIndex() >= 0) settings_.SetLanguage(cbLanguage->currentText().toStdString());
    settings_.SetLogFile(edtLogFile->text().toStdString());
    settings_.SetAutoRun(chkAutoRun->isChecked());
    settings_.SetEnableContextMenu(chkEnableContextMenu->isChecked());
    settings_.SetEnableQuickInfo(chkEnableQuickInfo->isChecked());
    settings_.SetEnableNotifications(chkEnableNotifications->isChecked());
    settings_.SetEnableLauncherProgress(chkEnableLauncherProgress->isChecked());
    settings_.SetMinimizeInsteadClose(chkMinimizeInsteadClose->isChecked());
    if (const int entry = cbConnectionSpeed->currentIndex(); entry >= 0)
        settings_.SetMaxLinkSpeed(LinkSpeedEntries[entry]);
    settings_.SetDelayOnError(seDelayOnError->value());
    settings_.SetCountOfErrorsForSkip(seCountOfErrorsForSkip->value());
    if (const int entry = cbAutoActionOnDstFileExists->currentIndex(); entry >= 0)
        settings_.SetAutoAction(AutoActionEntries[entry]);
    settings_.SetAutoActionDelay(seAutoActionDelay->value() * MillisecondsPerSecond);
    settings_.SetBufferSize(seBufferSize->value() * BytesPerKbyte);
    settings_.SetAutoDeleteFinished(chkAutoDelFinished->isChecked());
    settings_.SetVerifyCopies(chkVerifyCopies->isChecked());
    settings_.SetCopyLinksAsLinks(chkCopyLinksAsLinks->isChecked());
    settings_.SetKeepHardLinks(chkKeepHardLinks->isChecked());
    if (edtRestorePath->isEnabled())
        settings_.SetRestorePath(edtRestorePath->text().toStdString());  // the store ends it with '/'
    settings_.SetRestoreUpdateInterval(seRestoreUpdateInterval->value() * MillisecondsPerSecond);
}

void TfrmSettings::done(int result)
{
    if (result == QDialog::Accepted)
        SaveControls();
    else
        settings_.LoadFromRegistry();
    QDialog::done(result);
}

void TfrmSettings::btnLogFileClick()
{
    // A log file that does not exist yet is a valid choice: the program log creates it.
    QFileDialog dialog(this, btnLogFile->toolTip());
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    const QFileInfo current(edtLogFile->text());
    if (current.isFile())
        dialog.selectFile(current.absoluteFilePath());
    else if (!edtLogFile->text().isEmpty() && current.absoluteDir().exists())
        dialog.setDirectory(current.absoluteDir());
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        edtLogFile->setText(dialog.selectedFiles().constFirst());
}

void TfrmSettings::btnRestorePathClick()
{
    const QString folder = QFileDialog::getExistingDirectory(this, btnRestorePath->toolTip(), edtRestorePath->text());
    if (!folder.isEmpty()) edtRestorePath->setText(folder);
}

void TfrmSettings::btnHelpClick()
{
    const std::string page =
        HelpFolder(settings_.RootDir(), settings_.Language()) + HelpTopics[pcSettings->currentIndex()];
    if (FileExists(page) && QDesktopServices::openUrl(QUrl::fromLocalFile(Text(page)))) return;
    const TMsgList msgs(settings_);
    QMessageBox::critical(this, Text(msgs.GetMsg("Msg005")), Text(msgs.FormatMsg("Err008", {page})));
}

}  // namespace tarn
