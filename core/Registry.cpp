#include "core/Registry.h"

#include <QByteArray>
#include <QStringList>
#include <QVariant>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/Globals.h"
#include "engine/GlobalUtils.h"

namespace tarn {
namespace {

QString Name(const std::string& name) { return QString::fromStdString(name); }

// The stored text of a value, or nullopt when it is absent or not text. An unquoted comma
// in a hand-edited file makes QSettings read a list; it is joined back.
std::optional<QString> StoredText(const QSettings& key, const std::string& name)
{
    const QVariant value = key.value(Name(name));
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::QStringList:
        return value.toStringList().join(QStringLiteral(", "));
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Bool:
        return value.toString();
    default:
        return std::nullopt;
    }
}

std::optional<int32_t> StoredInteger(const QSettings& key, const std::string& name)
{
    const auto text = StoredText(key, name);
    if (!text) return std::nullopt;
    bool ok = false;
    const qlonglong number = text->trimmed().toLongLong(&ok);
    if (!ok || number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(number));
}

// The settings file holds the destinations the user copied to: it is the user's alone, 0600 in
// folders the program makes 0700, whatever the umask. QSettings writes a new file and renames
// it over the old one, giving the new file the old one's permissions, or the umask's when there
// is none; so the file is made 0600 before the first write, and the new file never exists with
// wider permissions. Folders that exist (~/.config) are left as they are. The umask is not
// touched: other threads may be making files meanwhile. Returns 0 or the errno of the failure.
int MakeSettingsFilePrivate(const QSettings& key, bool create)
{
    const std::string file = key.fileName().toStdString();
    struct stat status {};
    if (::stat(file.c_str(), &status) != 0) {
        if (errno != ENOENT || !create) return errno;
        // The missing folders, from the outermost down.
        std::vector<std::string> missing;
        for (std::string folder = ExcludeTrailingDelimiter(ExtractFilePath(file));
             !folder.empty() && ::stat(folder.c_str(), &status) != 0 && errno == ENOENT;
             folder = ExcludeTrailingDelimiter(ExtractFilePath(folder)))
            missing.push_back(folder);
        for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder)
            if ((::mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) || ::chmod(folder->c_str(), 0700) != 0)
                return errno;
        // An empty file is a valid settings file; fchmod, as the umask may take bits from 0600.
        const int handle = ::open(file.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (handle < 0) return errno;
        const int result = ::fchmod(handle, 0600) == 0 ? 0 : errno;
        ::close(handle);
        return result;
    }
    if ((status.st_mode & 07777) == 0600 || !S_ISREG(status.st_mode)) return 0;
    return ::chmod(file.c_str(), 0600) == 0 ? 0 : errno;
}

}  // namespace

std::unique_ptr<QSettings> OpenRegistryKey(const RegistryLocation& location, const std::string& subkey,
                                           RegistryHive hive)
{
    const std::string& file = hive == RegistryHive::CurrentUser ? location.UserFile : location.SystemFile;
    std::unique_ptr<QSettings> key;
    if (!file.empty()) {
        key = std::make_unique<QSettings>(QString::fromStdString(file), QSettings::IniFormat);
    } else {
        const auto scope = hive == RegistryHive::CurrentUser ? QSettings::UserScope : QSettings::SystemScope;
        key = std::make_unique<QSettings>(QSettings::IniFormat, scope, QString::fromUtf8(RegistryOrganization),
                                          QString::fromUtf8(RegistryApplication));
    }
    // Only the user's file is searched; QSettings would otherwise fall back to the system one.
    key->setFallbacksEnabled(false);
    if (!subkey.empty()) key->beginGroup(Name(subkey));
    return key;
}

int32_t ReadRegInteger(const QSettings& key, const std::string& name, int32_t defaultValue)
{
    return StoredInteger(key, name).value_or(defaultValue);
}

std::string ReadRegString(const QSettings& key, const std::string& name, const std::string& defaultValue)
{
    const auto text = StoredText(key, name);
    return text ? text->toStdString() : defaultValue;
}

bool ReadRegBool(const QSettings& key, const std::string& name, bool defaultValue)
{
    if (const auto number = StoredInteger(key, name)) return *number != 0;
    const auto text = StoredText(key, name);
    if (text && text->trimmed().compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
    if (text && text->trimmed().compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0) return false;
    return defaultValue;
}

bool ReadRegBinary(const QSettings& key, const std::string& name, void* buffer, size_t size)
{
    const QVariant value = key.value(Name(name));
    if (value.typeId() != QMetaType::QByteArray) return false;
    const QByteArray bytes = value.toByteArray();
    if (static_cast<size_t>(bytes.size()) > size) return false;
    if (!bytes.isEmpty()) std::memcpy(buffer, bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

void WriteRegInteger(QSettings& key, const std::string& name, int32_t value)
{
    MakeSettingsFilePrivate(key, true);  // a failure is reported by FlushRegistryKey
    key.setValue(Name(name), QString::number(value));
}

void WriteRegString(QSettings& key, const std::string& name, const std::string& value)
{
    MakeSettingsFilePrivate(key, true);
    key.setValue(Name(name), QString::fromStdString(value));
}

void WriteRegBool(QSettings& key, const std::string& name, bool value) { WriteRegInteger(key, name, value ? 1 : 0); }

void WriteRegBinary(QSettings& key, const std::string& name, const void* data, size_t size)
{
    MakeSettingsFilePrivate(key, true);
    key.setValue(Name(name), QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size)));
}

void FlushRegistryKey(QSettings& key)
{
    key.sync();
    const std::string file = "\"" + key.fileName().toStdString() + "\"";
    if (key.status() == QSettings::AccessError)
        throw RegistryError("The settings cannot be written to " + file + ": the file or its folder is not writable");
    if (key.status() == QSettings::FormatError)
        throw RegistryError("The settings cannot be written to " + file + ": it is no valid settings file");
    if (const int error = MakeSettingsFilePrivate(key, false); error != 0 && error != ENOENT)
        throw RegistryError("The settings file " + file + " cannot be made readable only by its user: " +
                            std::strerror(error));
}

}  // namespace tarn
