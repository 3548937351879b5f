#include "windows/FileOrFolderDialog.h"

#include <QFileInfo>

namespace tarn {

TFileOrFolderDialog::TFileOrFolderDialog(QWidget* parent, const QString& caption) : QFileDialog(parent, caption)
{
    // The window system's own picker would not let the choice through accept().
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
}

QString TFileOrFolderDialog::Ask(QWidget* parent, const QString& caption)
{
    TFileOrFolderDialog dialog(parent, caption);
    return dialog.exec() == QDialog::Accepted ? dialog.chosen_ : QString();
}

void TFileOrFolderDialog::accept()
{
    const QStringList selected = selectedFiles();
    const QString path = selected.size() == 1 ? selected.front() : directory().absolutePath();
    if (!QFileInfo::exists(path)) return;
    chosen_ = path;
    QDialog::accept();
}

}  // namespace tarn
