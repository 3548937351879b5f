#pragma once

#include <QFileDialog>

namespace tarn {

// A picker that returns a file or a folder, for a source not yet known to be either. Qt's
// folder picker cannot return a file and its file picker opens a folder instead of returning
// it, so this one takes whatever exists under the selection when the user confirms; with
// nothing selected, the folder it shows.
class TFileOrFolderDialog : public QFileDialog {
    Q_OBJECT

public:
    TFileOrFolderDialog(QWidget* parent, const QString& caption);

    // The path chosen, or empty when cancelled.
    static QString Ask(QWidget* parent, const QString& caption);

    void accept() override;

private:
    QString chosen_;
};

}  // namespace tarn
