#include "windows/FormDstFileExists.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeDatabase>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <string>
#include <vector>

#include "core/FormCaptions.h"
#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/DownloadThread.h"
#include "platform/DateTime.h"
#include "platform/PlatformFile.h"
#include "windows/Icons.h"
#include "windows/TranslateForm.h"

namespace tarn {
namespace {

// The design at 96 DPI; the layouts grow it for longer texts and larger fonts.
constexpr int DesignWidth = 425;
constexpr int ActionButtonWidth = 89;
constexpr int IconSize = 32;  // the desktop's large file icons
constexpr int Indent = 24;    // of everything between the folder line and the buttons

struct FileFacts {
    int64_t Size = 0;
    double Modified = 0;
};

// A file removed meanwhile reads size 0 and the zero date; the question still stands.
FileFacts LookUp(const std::string& path)
{
    FileStatus status;
    if (PlatformStatPath(path, status) != 0) return {};
    return {status.size, UnixTimeToDateTime(static_cast<time_t>(status.modified / 1000000000),
                                            static_cast<long>(status.modified % 1000000000))};
}

QString Fill(const QString& text, const std::vector<std::string>& params)
{
    return QString::fromStdString(FillPlaceholders(text.toStdString(), params));
}

// A long path wraps after a "/" instead of widening the window past the screen.
std::string Breakable(const std::string& path)
{
    std::string result;
    for (const char c : path) {
        result += c;
        if (c == '/') result += "\u200B";
    }
    return result;
}

// Judged by the name alone: reading a file on a slow share to guess its type would hold up
// the window.
QIcon FileTypeIcon(const std::string& path)
{
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(QString::fromStdString(path), QMimeDatabase::MatchExtension);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), TarnIcon("file")));
}

QLabel* NewLabel(const char* name, const char* text, bool wraps)
{
    auto* label = new QLabel(QString::fromUtf8(text));
    label->setObjectName(QString::fromLatin1(name));
    // File names are shown as they are, never read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wraps);
    return label;
}

QPushButton* NewButton(const char* name, const char* text)
{
    auto* button = new QPushButton(QString::fromUtf8(text));
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

}  // namespace

TfrmDstFileExists::TfrmDstFileExists(QWidget* owner, const TSettingsStorage& settings, const TMsgList& msgs,
                                     const TDownloadThread& task)
    : TfrmDstFileExists(owner, settings, msgs, task.GetSource(), task.GetDestination(), task.GetCurrentItem())
{
}

TfrmDstFileExists::TfrmDstFileExists(QWidget* owner, const TSettingsStorage& settings, const TMsgList& msgs,
                                     const std::string& sourceFolder, const std::string& destinationFolder,
                                     const TItemAttrs& item)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    BuildControls();
    TranslateForm(*this, FormDstFileExistsCaptions, settings);

    // The setting's setter keeps AutoAction odd; a value edited into the settings file by hand
    // falls back to Upload.
    defaultAction_ = settings.AutoAction();
    if (defaultAction_ != AnswerOverwrite && defaultAction_ != AnswerSkip) defaultAction_ = AnswerUpload;
    remaining_ = std::max(0, settings.AutoActionDelay());

    const std::string folder = destinationFolder + item.Dir;
    lblFolder_->setText(Fill(lblFolder_->text(), {Breakable(folder), item.Name}));
    const std::string sourcePath = sourceFolder + item.Dir + item.Name;
    const std::string destinationPath = folder + item.Name;

    // Both files show the destination's type.
    const QPixmap icon = FileTypeIcon(destinationPath).pixmap(QSize(IconSize, IconSize), devicePixelRatioF());
    imgSrcIcon_->setPixmap(icon);
    imgDstIcon_->setPixmap(icon);

    const FileFacts source = LookUp(sourcePath);
    const FileFacts destination = LookUp(destinationPath);
    for (const auto& [label, file] : {std::pair{lblSrcAttr_, source}, std::pair{lblDstAttr_, destination}})
        label->setText(
            Fill(label->text(), {FormatFileSize(file.Size, msgs), "\n", FormatLocaleDateTime(file.Modified)}));

    // A destination longer than its source cannot be continued from it.
    if (destination.Size > source.Size) {
        btnUpload_->setEnabled(false);
        if (defaultAction_ == AnswerUpload) defaultAction_ = AnswerSkip;
    }
    SetDefaultButton(defaultAction_);

    // No button narrower than designed nor than its text; the three actions share one width,
    // wide enough for the default's count at its longest.
    int buttonWidth = ActionButtonWidth;
    for (QPushButton* button : {btnUpload_, btnOverwrite_, btnSkip_})
        buttonWidth = std::max(buttonWidth, button->sizeHint().width());
    for (QPushButton* button : {btnUpload_, btnOverwrite_, btnSkip_}) button->setMinimumWidth(buttonWidth);
    btnStopCounter_->setMinimumWidth(std::max(ActionButtonWidth, btnStopCounter_->sizeHint().width()));

    const int width = std::max(DesignWidth, minimumSizeHint().width());
    setFixedSize(width, std::max(minimumSizeHint().height(), layout()->totalHeightForWidth(width)));
    tmDefaultAction_->start();
}

uint8_t TfrmDstFileExists::Ask(QWidget* owner, const TSettingsStorage& settings, const TMsgList& msgs,
                               const TDownloadThread& task)
{
    TfrmDstFileExists dialog(owner, settings, msgs, task);
    dialog.exec();
    return dialog.AnswerCode();
}

void TfrmDstFileExists::reject()
{
    // Escape and the window's close request: the worker waits for an answer, so the question
    // stays open.
}

void TfrmDstFileExists::BuildControls()
{
    setWindowTitle(QStringLiteral("File exists"));
    setWindowIcon(TarnIcon("file-exists"));

    lblFolder_ = NewLabel("lblFolder", "The folder \"%s\" already contains a file \"%s\"", true);
    lblSrc_ = NewLabel("lblSrc", "Source:", false);
    lblSrcAttr_ = NewLabel("lblSrcAttr", "%s %smodified: %s", true);
    lblDst_ = NewLabel("lblDst", "Destination:", false);
    lblDstAttr_ = NewLabel("lblDstAttr", "%s %smodified: %s", true);
    imgSrcIcon_ = NewLabel("imgSrcIcon", "", false);
    imgDstIcon_ = NewLabel("imgDstIcon", "", false);
    lblSelectAction_ = NewLabel("lblSelectAction", "Please, select an action you need to do on this file:", true);
    btnUpload_ = NewButton("btnUpload", "Upload");
    btnOverwrite_ = NewButton("btnOverwrite", "Overwrite");
    btnSkip_ = NewButton("btnSkip", "Skip");
    btnStopCounter_ = NewButton("btnStopCounter", "Stop counter!");
    // Enter on it takes the default action, as anywhere else in the dialog.
    btnStopCounter_->setAutoDefault(false);
    chkUseForAll_ = new QCheckBox(QStringLiteral("Remember my choice and don't ask me again (this task only)"));
    chkUseForAll_->setObjectName(QStringLiteral("chkUseForAll"));
    tmDefaultAction_ = new QTimer(this);
    tmDefaultAction_->setObjectName(QStringLiteral("tmDefaultAction"));
    tmDefaultAction_->setInterval(1000);

    auto* files = new QGridLayout;
    files->setContentsMargins(Indent, 0, 0, 0);
    files->setHorizontalSpacing(IconSize / 2);
    files->setVerticalSpacing(2);
    AddFileRow(*files, 0, lblSrc_, imgSrcIcon_, lblSrcAttr_);
    files->setRowMinimumHeight(2, 6);
    AddFileRow(*files, 3, lblDst_, imgDstIcon_, lblDstAttr_);
    files->setRowMinimumHeight(5, 10);
    files->addWidget(lblSelectAction_, 6, 0, 1, 2);
    files->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnUpload_);
    buttons->addWidget(btnOverwrite_);
    buttons->addWidget(btnSkip_);
    buttons->addSpacing(IconSize / 2);
    buttons->addStretch();
    buttons->addWidget(btnStopCounter_);

    auto* useForAll = new QHBoxLayout;
    useForAll->setContentsMargins(Indent, 0, 0, 0);
    useForAll->addWidget(chkUseForAll_);

    auto* form = new QVBoxLayout(this);
    form->setContentsMargins(16, 8, 16, 8);
    form->addWidget(lblFolder_);
    form->addLayout(files);
    form->addLayout(buttons);
    form->addLayout(useForAll);

    connect(btnUpload_, &QPushButton::clicked, this, [this] { ActionClick(AnswerUpload); });
    connect(btnOverwrite_, &QPushButton::clicked, this, [this] { ActionClick(AnswerOverwrite); });
    connect(btnSkip_, &QPushButton::clicked, this, [this] { ActionClick(AnswerSkip); });
    connect(btnStopCounter_, &QPushButton::clicked, this, &TfrmDstFileExists::btnStopCounterClick);
    connect(tmDefaultAction_, &QTimer::timeout, this, &TfrmDstFileExists::tmDefaultActionTimer);

    setTabOrder(chkUseForAll_, btnUpload_);
    setTabOrder(btnUpload_, btnOverwrite_);
    setTabOrder(btnOverwrite_, btnSkip_);
    setTabOrder(btnSkip_, btnStopCounter_);
    chkUseForAll_->setFocus();
}

void TfrmDstFileExists::AddFileRow(QGridLayout& grid, int row, QLabel* caption, QLabel* icon, QLabel* attributes)
{
    icon->setFixedSize(IconSize, IconSize);
    attributes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    grid.addWidget(caption, row, 0, 1, 2);
    grid.addWidget(icon, row + 1, 0, Qt::AlignTop);
    grid.addWidget(attributes, row + 1, 1);
}

void TfrmDstFileExists::SetDefaultButton(uint8_t action)
{
    defaultButton_ = action == AnswerOverwrite ? btnOverwrite_ : action == AnswerUpload ? btnUpload_ : btnSkip_;
    defaultButton_->setDefault(true);
    defaultButtonText_ = defaultButton_->text();
    ShowCount();
}

void TfrmDstFileExists::ShowCount()
{
    defaultButton_->setText(QStringLiteral("%1 (%2)").arg(defaultButtonText_, QString::number(remaining_ / 1000)));
}

void TfrmDstFileExists::ActionClick(uint8_t action)
{
    // The even code of an action holds for the rest of the task.
    answer_ = static_cast<uint8_t>(action + (chkUseForAll_->isChecked() ? 1 : 0));
    tmDefaultAction_->stop();
    accept();
}

void TfrmDstFileExists::btnStopCounterClick()
{
    // The default button keeps its last count and stays the default: the dialog waits.
    tmDefaultAction_->stop();
}

void TfrmDstFileExists::tmDefaultActionTimer()
{
    remaining_ -= 1000;
    if (remaining_ > 0) {
        ShowCount();
    } else {
        defaultButton_->click();
    }
}

}  // namespace tarn
