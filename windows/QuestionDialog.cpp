#include "windows/QuestionDialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "windows/Icons.h"

namespace tarn {
namespace {

constexpr int PictureSize = 32;

}  // namespace

QuestionDialog::QuestionDialog(QWidget* owner, const char* title, const char* groupName, const char* groupTitle,
                               const char* pictureName, const char* iconName, const char* comment)
    : QDialog(owner)
{
    setWindowTitle(QString::fromUtf8(title));

    auto* group = new QGroupBox(QString::fromUtf8(groupTitle));
    group->setObjectName(QString::fromLatin1(groupName));
    auto* picture = new QLabel;
    picture->setObjectName(QString::fromLatin1(pictureName));
    picture->setFixedSize(PictureSize, PictureSize);
    picture->setPixmap(TarnIcon(iconName).pixmap(QSize(PictureSize, PictureSize), devicePixelRatioF()));
    auto* lblComment = new QLabel(QString::fromUtf8(comment));
    lblComment->setObjectName(QStringLiteral("lblComment"));
    lblComment->setWordWrap(true);
    lblComment->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    body_ = new QVBoxLayout;
    // Half a line between the comment and what follows it.
    body_->setSpacing(lblComment->fontMetrics().height() / 2);
    body_->addWidget(lblComment);
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(PictureSize / 2);
    grid->addWidget(picture, 0, 0, Qt::AlignTop);
    grid->addLayout(body_, 0, 1);
    grid->setColumnStretch(1, 1);

    btnOK_ = new QPushButton(QStringLiteral("OK"));
    btnOK_->setObjectName(QStringLiteral("btnOK"));
    auto* btnCancel = new QPushButton(QStringLiteral("Cancel"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    auto* buttons = new QDialogButtonBox;
    buttons->addButton(btnOK_, QDialogButtonBox::AcceptRole);
    buttons->addButton(btnCancel, QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QVBoxLayout(this);
    form->addWidget(group);
    form->addWidget(buttons);
    // Only a button inside its dialog becomes the dialog's own default.
    btnOK_->setDefault(true);
}

void QuestionDialog::FitToContents(int designWidth)
{
    const int width = std::max(designWidth, minimumSizeHint().width());
    setFixedSize(width, std::max(minimumSizeHint().height(), layout()->totalHeightForWidth(width)));
}

}  // namespace tarn
