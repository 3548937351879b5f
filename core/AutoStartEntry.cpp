#include "core/AutoStartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <filesystem>
#include <stdexcept>

#include "core/Globals.h"

namespace tarn {

// An Exec argument as the desktop entry format wants it: plain when it holds only characters
// without meaning to the launcher, otherwise in double quotes with `"`, `` ` ``, `$` and `\`
// escaped; `%` doubled, as it opens a field code; then `\` escaped once more and line breaks and
// tabs written as escapes, since the whole value is a string of one line whose own escape is `\`.
std::string DesktopExecArgument(const std::string& argument)
{
    const bool plain = !argument.empty() &&
                       argument.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                  "0123456789/._+-,:@") == std::string::npos;
    std::string quoted = plain ? argument : "\"";
    if (!plain) {
        for (const char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += '"';
    }
    std::string escaped;
    for (const char c : quoted) {
        if (c == '\n') escaped += "\\n";
        else if (c == '\r') escaped += "\\r";
        else if (c == '\t') escaped += "\\t";
        else escaped += (c == '\\' || c == '%') ? std::string(2, c) : std::string(1, c);
    }
    return escaped;
}

std::string AutoStartEntryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
           "/autostart/tarnwell.desktop";
}

std::string AutoStartEntryText(const std::string& executable)
{
    return std::string("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=") +
           ProgramName +
           "\n"
           "Comment=Carries on with unfinished copy tasks after log-on\n"
           "Exec=" +
           DesktopExecArgument(executable) +
           " AutoRun\n"
           "Icon=tarnwell\n"
           "Terminal=false\n"
           "NoDisplay=true\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void SetAutoStartEntry(bool on)
{
    const QString path = QString::fromStdString(AutoStartEntryPath());
    if (!on) {
        QFile entry(path);
        if (entry.exists() && !entry.remove())
            throw std::runtime_error("Cannot remove the log-on entry " + path.toStdString() + ": " +
                                     entry.errorString().toStdString());
        return;
    }
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        throw std::runtime_error("Cannot write the log-on entry " + path.toStdString() +
                                 ": the program's own path is unknown (" + error.message() + ")");
    QSaveFile entry(path);
    const QByteArray text = QByteArray::fromStdString(AutoStartEntryText(executable.string()));
    if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !entry.open(QIODevice::WriteOnly) ||
        entry.write(text) != text.size() || !entry.commit())
        throw std::runtime_error("Cannot write the log-on entry " + path.toStdString() + ": " +
                                 entry.errorString().toStdString());
}

}  // namespace tarn
