#include "app/FileManagerMenus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <optional>

#include "app/ThunarActions.h"
#include "core/AutoStartEntry.h"

namespace tarn {
namespace {

constexpr char NautilusScriptName[] = "nautilus/scripts/Copy to (Tarnwell)";
constexpr char DolphinMenuName[] = "kio/servicemenus/tarnwell-copy-to.desktop";
constexpr char ThunarFileName[] = "Thunar/uca.xml";
constexpr char CopyToPlaceholder[] = "@COPY_TO@";
// File managers run the scripts and service menus in the user's folders only when they are
// executable.
constexpr QFile::Permissions Executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                          QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther;

QString UserData(const char* name)
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QLatin1String(name));
}

QString UserThunarFile()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QLatin1String(ThunarFileName));
}

void Report(const QString& line) { std::printf("%s\n", qPrintable(line)); }

bool Fail(const QString& line)
{
    std::fprintf(stderr, "tarnctl: %s\n", qPrintable(line));
    return false;
}

bool Read(const QString& path, QByteArray& bytes, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    bytes = file.readAll();
    return true;
}

// Through a temporary file in the same folder, so that no one reads half a file. A file replaced
// keeps its mode unless `mode` is given.
bool Write(const QString& path, const QByteArray& bytes, QString& error,
           std::optional<QFile::Permissions> mode = std::nullopt)
{
    QSaveFile file(path);
    const bool written = QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
                         file.write(bytes) == bytes.size() && (!mode || file.setPermissions(*mode)) && file.commit();
    if (!written) error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
    return written;
}

bool RemoveFile(const QString& path, bool& removed, QString& error)
{
    QFile file(path);
    removed = file.exists();
    if (!removed || file.remove()) return true;
    error = QStringLiteral("%1 cannot be removed: %2").arg(path, file.errorString());
    return false;
}

// A word of a POSIX shell's command line.
QString ShellWord(QString text) { return u'\'' + text.replace(u'\'', QStringLiteral("'\\''")) + u'\''; }


// Thunar's actions in the file at `path` (an absent file when empty). Refused, the file left as
// it is, unless it is well-formed and our splice keeps its other bytes.
bool ReadThunarActions(const QString& path, ThunarActions& actions, QString& text, QString& error)
{
    QByteArray bytes;
    if (!path.isEmpty() && !Read(path, bytes, error)) return false;
    text = QString::fromUtf8(bytes);
    if (text.toUtf8() != bytes) {
        error = QStringLiteral("%1 is not UTF-8 text; it was left as it is").arg(path);
        return false;
    }
    if (text.trimmed().isEmpty()) text = QString::fromUtf16(ThunarActions::EmptyFile);
    if (actions.Parse(text, error)) return true;
    error = QStringLiteral("%1 cannot be read (%2); it was left as it is: mend or remove it, then install again")
                .arg(path, error);
    return false;
}

}  // namespace

FileManagerMenus::FileManagerMenus(const QString& folder) : folder_(QFileInfo(folder).absoluteFilePath()) {}

bool FileManagerMenus::Install()
{
    const QString copyTo = QDir(folder_).filePath(QStringLiteral("copy-to"));
    if (!QFileInfo(copyTo).isExecutable())
        return Fail(QStringLiteral("Tarnwell's file-manager actions are missing: %1 is no program").arg(copyTo));
    const bool nautilus = InstallNautilus(copyTo);
    const bool thunar = InstallThunar(copyTo);
    const bool dolphin = InstallDolphin(copyTo);
    return nautilus && thunar && dolphin;
}

bool FileManagerMenus::Remove()
{
    const bool nautilus = RemoveNautilus();
    const bool thunar = RemoveThunar();
    const bool dolphin = RemoveDolphin();
    return nautilus && thunar && dolphin;
}

bool FileManagerMenus::InstallNautilus(const QString& copyTo)
{
    const QString path = UserData(NautilusScriptName);
    QByteArray script;
    QString error;
    if (!Read(QDir(folder_).filePath(QStringLiteral("nautilus-script")), script, error) ||
        !Write(path, script.replace(CopyToPlaceholder, ShellWord(copyTo).toUtf8()), error, Executable))
        return Fail(QStringLiteral("Nautilus: ") + error);
    Report(QStringLiteral("Nautilus: script \"%1\" written; it is under Scripts in the right-click menu").arg(path));
    return true;
}

bool FileManagerMenus::InstallThunar(const QString& copyTo)
{
    const QString path = UserThunarFile();
    QByteArray action;
    QString error;
    if (!Read(QDir(folder_).filePath(QStringLiteral("thunar-action.xml")), action, error))
        return Fail(QStringLiteral("Thunar: ") + error);
    // Thunar reads the first uca.xml it finds: a new one of the user's starts from the system's.
    const QString found = QFile::exists(path) ? path
                                              : QStandardPaths::locate(QStandardPaths::GenericConfigLocation,
                                                                       QLatin1String(ThunarFileName));
    ThunarActions actions;
    QString text;
    if (!ReadThunarActions(found, actions, text, error)) return Fail(QStringLiteral("Thunar: ") + error);
    // Thunar runs the command with /bin/sh after putting the files' paths in place of %F.
    const QString program = ShellWord(copyTo).replace(u'%', QStringLiteral("%%"));
    const QString merged = actions.WithAction(
        QString::fromUtf8(action).replace(QLatin1String(CopyToPlaceholder), program.toHtmlEscaped()));
    if (found == path && merged == text) {
        Report(QStringLiteral("Thunar: action already in \"%1\"").arg(path));
        return true;
    }
    if (!Write(path, merged.toUtf8(), error)) return Fail(QStringLiteral("Thunar: ") + error);
    Report((actions.HasOurs() ? QStringLiteral("Thunar: action replaced in \"%1\"; it is in the right-click menu")
                              : QStringLiteral("Thunar: action added to \"%1\"; it is in the right-click menu"))
               .arg(path));
    return true;
}

bool FileManagerMenus::InstallDolphin(const QString& copyTo)
{
    const QString path = UserData(DolphinMenuName);
    QByteArray menu;
    QString error;
    if (!Read(QDir(folder_).filePath(QFileInfo(QLatin1String(DolphinMenuName)).fileName()), menu, error))
        return Fail(QStringLiteral("Dolphin: ") + error);
    // The system-wide menu finds copy-to through PATH; this one names it, and says whose it is.
    QStringList lines{QStringLiteral("# Written by tarnctl menu install; tarnctl menu remove deletes it.")};
    for (const QString& line : QString::fromUtf8(menu).split(u'\n')) {
        if (line.startsWith(u"Exec="))
            lines << QStringLiteral("Exec=%1 %F").arg(QString::fromStdString(DesktopExecArgument(copyTo.toStdString())));
        else if (!line.startsWith(u'#'))
            lines << line;
    }
    if (!Write(path, lines.join(u'\n').toUtf8(), error, Executable)) return Fail(QStringLiteral("Dolphin: ") + error);
    Report(QStringLiteral("Dolphin: service menu \"%1\" written; it is in the right-click menu").arg(path));
    return true;
}

bool FileManagerMenus::RemoveNautilus()
{
    const QString path = UserData(NautilusScriptName);
    bool removed = false;
    QString error;
    if (!RemoveFile(path, removed, error)) return Fail(QStringLiteral("Nautilus: ") + error);
    Report((removed ? QStringLiteral("Nautilus: script \"%1\" removed") : QStringLiteral("Nautilus: no script \"%1\""))
               .arg(path));
    return true;
}

bool FileManagerMenus::RemoveThunar()
{
    const QString path = UserThunarFile();
    ThunarActions actions;
    QString text;
    QString error;
    if (!QFile::exists(path)) {
        Report(QStringLiteral("Thunar: no \"%1\"").arg(path));
        return true;
    }
    if (!ReadThunarActions(path, actions, text, error)) return Fail(QStringLiteral("Thunar: ") + error);
    if (!actions.HasOurs()) {
        Report(QStringLiteral("Thunar: no action of Tarnwell's in \"%1\"").arg(path));
        return true;
    }
    if (!Write(path, actions.WithoutOurs().toUtf8(), error)) return Fail(QStringLiteral("Thunar: ") + error);
    Report(QStringLiteral("Thunar: action removed from \"%1\"; the other actions are kept").arg(path));
    return true;
}

bool FileManagerMenus::RemoveDolphin()
{
    const QString path = UserData(DolphinMenuName);
    bool removed = false;
    QString error;
    if (!RemoveFile(path, removed, error)) return Fail(QStringLiteral("Dolphin: ") + error);
    QString line = (removed ? QStringLiteral("Dolphin: service menu \"%1\" removed")
                            : QStringLiteral("Dolphin: no service menu \"%1\""))
                       .arg(path);
    for (const QString& system :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QLatin1String(DolphinMenuName))) {
        line += QStringLiteral("; the one installed with Tarnwell, \"%1\", stays: Dolphin's settings (Context Menu) "
                               "hide it")
                    .arg(system);
    }
    Report(line);
    return true;
}

}  // namespace tarn
