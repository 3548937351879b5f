#pragma once

#include <QString>

namespace tarn {

// `tarnctl menu install` and `tarnctl menu remove`: Tarnwell's "Copy to..." for this user in
// Nautilus (a script), Thunar (a custom action in uca.xml, beside the user's own) and Dolphin (a
// service menu of the user's, over one installed system-wide). Each prints one line per file
// manager saying what it did, on stderr when it could not; false when one could not.
class FileManagerMenus {
public:
    // `folder` holds the actions: share/tarnwell/file-manager/ installed, data/file-manager/ in a
    // build tree.
    explicit FileManagerMenus(const QString& folder);

    bool Install();
    bool Remove();

private:
    bool InstallNautilus(const QString& copyTo);
    bool InstallThunar(const QString& copyTo);
    bool InstallDolphin(const QString& copyTo);
    bool RemoveNautilus();
    bool RemoveThunar();
    bool RemoveDolphin();

    QString folder_;
};

}  // namespace tarn
