#include "windows/FormDelTask.h"

#include <QCheckBox>
#include <QVBoxLayout>

#include "core/FormCaptions.h"
#include "windows/TranslateForm.h"

namespace tarn {
namespace {

constexpr int DesignWidth = 281;  // at 96 DPI

}  // namespace

TfrmDelTask::TfrmDelTask(QWidget* owner, const TSettingsStorage& settings)
    : QuestionDialog(owner, "Deleting", "gbDeleteParameters", "Deleting parameters", "Image1", "delete-task",
                     "If you want to delete all files copied, please mark the check-box")
{
    chkDelFiles_ = new QCheckBox(QStringLiteral("Delete copied files"));
    chkDelFiles_->setObjectName(QStringLiteral("chkDelFiles"));
    Body().addWidget(chkDelFiles_);

    TranslateForm(*this, FormDelTaskCaptions, settings);
    FitToContents(DesignWidth);
    chkDelFiles_->setFocus();
}

std::optional<bool> TfrmDelTask::Ask(QWidget* owner, const TSettingsStorage& settings)
{
    TfrmDelTask dialog(owner, settings);
    if (dialog.exec() != Accepted) return std::nullopt;
    return dialog.DeleteFiles();
}

bool TfrmDelTask::DeleteFiles() const { return chkDelFiles_->isChecked(); }

}  // namespace tarn
