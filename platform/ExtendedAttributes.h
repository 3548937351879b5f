#pragma once

#include <string>
#include <vector>

// Extended attributes of a file. Each call returns false with errno set on failure. The buffers
// grow as the attribute requires. With `follow` false a symbolic link at the end of the path is
// not followed: its own attributes are meant (which a link cannot have), never its target's.
namespace tarn {

bool ListExtendedAttributes(const std::string& path, std::vector<std::string>& names, bool follow = true);
bool GetExtendedAttribute(const std::string& path, const std::string& name, std::string& value);
bool SetExtendedAttribute(const std::string& path, const std::string& name, const std::string& value,
                          bool follow = true);
bool RemoveExtendedAttribute(const std::string& path, const std::string& name, bool follow = true);

}  // namespace tarn
