#include "windows/FormShutDown.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "core/FormCaptions.h"
#include "core/MessageList.h"
#include "windows/TranslateForm.h"

namespace tarn {
namespace {

constexpr int DesignWidth = 321;  // at 96 DPI

}  // namespace

TfrmShutDown::TfrmShutDown(QWidget* owner, const TSettingsStorage& settings)
    : QuestionDialog(owner, "Shut down computer", "gbShutDown", "Shut down", "imgShutDown", "power",
                     "Please, click on OK button to force shut down. If you don't want shut down your computer, "
                     "please click on Cancel")
{
    lblShutDownDelay_ = new QLabel;
    lblShutDownDelay_->setObjectName(QStringLiteral("lblShutDownDelay"));
    lblShutDownDelay_->setWordWrap(true);
    Body().addWidget(lblShutDownDelay_);
    tmShutDownDelay_ = new QTimer(this);
    tmShutDownDelay_->setObjectName(QStringLiteral("tmShutDownDelay"));
    tmShutDownDelay_->setInterval(1000);
    connect(tmShutDownDelay_, &QTimer::timeout, this, &TfrmShutDown::tmShutDownDelayTimer);

    delayTemplate_ = TranslateForm(*this, FormShutDownCaptions, settings).Text("ShutDownDelayString");
    ShowDelay();
    FitToContents(DesignWidth);
    OkButton().setFocus();
    tmShutDownDelay_->start();
}

bool TfrmShutDown::Confirm(QWidget* owner, const TSettingsStorage& settings)
{
    TfrmShutDown dialog(owner, settings);
    return dialog.exec() == Accepted;
}

void TfrmShutDown::ShowDelay()
{
    lblShutDownDelay_->setText(QString::fromStdString(FillPlaceholders(delayTemplate_, {std::to_string(remaining_)})));
}

void TfrmShutDown::tmShutDownDelayTimer()
{
    --remaining_;
    if (remaining_ >= 1) {
        ShowDelay();
    } else {
        tmShutDownDelay_->stop();
        accept();
    }
}

}  // namespace tarn
