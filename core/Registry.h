#pragma once

#include <QSettings>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// The registry stand-in: QSettings INI files of organisation "Brenvik", application "Tarnwell".
// A key is a group of one file; the base key is the file's top level. Integers and booleans are
// stored as decimal text (booleans as 0 or 1), strings as text, binary values as QSettings'
// byte arrays.
namespace tarn {

enum class RegistryHive {
    CurrentUser,   // the user's own settings file, read and written
    LocalMachine,  // the system-wide file, only read (the RootDir fallback)
};

// Where the two hives live. An empty path means QSettings' own file for the hive
// (~/.config/Brenvik/Tarnwell.ini and /etc/xdg/Brenvik/Tarnwell.ini); tests give their own.
struct RegistryLocation {
    std::string UserFile;
    std::string SystemFile;
};

// A settings file that could not be written: the message names the file.
class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Opens a subkey of the base key ("" for the base key itself). Keys need no creating: a group
// comes into being with its first value.
std::unique_ptr<QSettings> OpenRegistryKey(const RegistryLocation& location, const std::string& subkey,
                                           RegistryHive hive = RegistryHive::CurrentUser);

// Each reader returns the stored value when it exists with a fitting type, otherwise the
// default. An integer is decimal text within 32 bits (an unsigned value above the signed range
// wraps, as a DWORD read into a signed integer does); a boolean is such an integer, true when
// not 0, or the text "true" or "false".
int32_t ReadRegInteger(const QSettings& key, const std::string& name, int32_t defaultValue);
std::string ReadRegString(const QSettings& key, const std::string& name, const std::string& defaultValue);
bool ReadRegBool(const QSettings& key, const std::string& name, bool defaultValue);
// Copies a stored binary value over the start of `buffer` when it holds at most `size` bytes;
// false, and the buffer untouched, when it is absent, not binary or longer.
bool ReadRegBinary(const QSettings& key, const std::string& name, void* buffer, size_t size);

void WriteRegInteger(QSettings& key, const std::string& name, int32_t value);
void WriteRegString(QSettings& key, const std::string& name, const std::string& value);
void WriteRegBool(QSettings& key, const std::string& name, bool value);
void WriteRegBinary(QSettings& key, const std::string& name, const void* data, size_t size);
// Writes what was set to the file at once; raises RegistryError when the file cannot be written.
void FlushRegistryKey(QSettings& key);

}  // namespace tarn
