#pragma once

#include <QDialog>

namespace tarn {

class TSettingsStorage;

// The about box: the program's icon, name and version, the maker's notice, and links to its
// web site and support address, opened by the desktop.
class TfrmAbout : public QDialog {
    Q_OBJECT

public:
    TfrmAbout(QWidget* owner, const TSettingsStorage& settings);

    // "3.1": the major and minor version.
    static QString VersionText();
};

}  // namespace tarn
