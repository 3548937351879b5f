#pragma once

#include <string>
#include <vector>

// Extended attributes of a file, following symbolic links. Each call returns false with errno
// set on failure. The buffers grow as the attribute requires.
namespace tarn {

bool ListExtendedAttributes(const std::string& path, std::vector<std::string>& names);
bool GetExtendedAttribute(const std::string& path, const std::string& name, std::string& value);
bool SetExtendedAttribute(const std::string& path, const std::string& name, const std::string& value);
bool RemoveExtendedAttribute(const std::string& path, const std::string& name);

}  // namespace tarn
