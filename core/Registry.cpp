#include "core/Registry.h"

#include <QByteArray>
#include <QStringList>
#include <QVariant>

#include <cstring>
#include <limits>
#include <optional>

#include "core/Globals.h"

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
    key.setValue(Name(name), QString::number(value));
}

void WriteRegString(QSettings& key, const std::string& name, const std::string& value)
{
    key.setValue(Name(name), QString::fromStdString(value));
}

void WriteRegBool(QSettings& key, const std::string& name, bool value) { WriteRegInteger(key, name, value ? 1 : 0); }

void WriteRegBinary(QSettings& key, const std::string& name, const void* data, size_t size)
{
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
}

}  // namespace tarn
