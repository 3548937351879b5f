#include "windows/FormAbout.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "core/Globals.h"
#include "core/MessageList.h"
#include "windows/Icons.h"

namespace tarn {
namespace {

constexpr int IconSide = 64;

QLabel* LinkLabel(const QString& address, const QString& text)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(address.toHtmlEscaped(), text.toHtmlEscaped()));
    label->setTextFormat(Qt::RichText);
    label->setOpenExternalLinks(true);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    return label;
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* owner, const TSettingsStorage& settings) : QDialog(owner)
{
    setObjectName(QStringLiteral("frmAbout"));
    const TMsgList msgs(settings);
    setWindowTitle(QString::fromStdString(msgs.FormatMsg("Msg020", {ProgramName})));

    auto* icon = new QLabel;
    icon->setPixmap(TarnIcon("tarnwell").pixmap(IconSide, IconSide, QIcon::Normal));
    icon->setAlignment(Qt::AlignTop);

    auto* name = new QLabel(QString::fromLatin1(ProgramName));
    QFont large = name->font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    name->setFont(large);

    auto* version = new QLabel(QString::fromStdString(msgs.FormatMsg("Msg021", {VersionText().toStdString()})));
    auto* notice = new QLabel(QString::fromLatin1(MakerNotice));
    const QString web = QString::fromLatin1(MakerWebAddress);
    const QString support = QString::fromLatin1(MakerSupportAddress);

    auto* texts = new QVBoxLayout;
    texts->addWidget(name);
    texts->addWidget(version);
    texts->addSpacing(version->fontMetrics().height() / 2);
    texts->addWidget(notice);
    texts->addWidget(LinkLabel(web, web));
    texts->addWidget(LinkLabel(QStringLiteral("mailto:") + support, support));

    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(icon->fontMetrics().height());
    top->addLayout(texts, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString TfrmAbout::VersionText()
{
    return QStringLiteral("%1.%2").arg(ProgramMajorVersion).arg(ProgramMinorVersion);
}

}  // namespace tarn
