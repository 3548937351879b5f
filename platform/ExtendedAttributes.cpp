#include "platform/ExtendedAttributes.h"

#include <sys/xattr.h>

#include <cerrno>

namespace tarn {

bool ListExtendedAttributes(const std::string& path, std::vector<std::string>& names, bool follow)
{
    const auto list = follow ? ::listxattr : ::llistxattr;
    names.clear();
    std::string buffer;
    for (;;) {
        const ssize_t needed = list(path.c_str(), nullptr, 0);
        if (needed < 0) return false;
        buffer.resize(static_cast<size_t>(needed));
        const ssize_t n = list(path.c_str(), buffer.data(), buffer.size());
        if (n < 0 && errno == ERANGE) continue;  // grew between the two calls
        if (n < 0) return false;
        buffer.resize(static_cast<size_t>(n));
        break;
    }
    for (size_t start = 0; start < buffer.size();) {
        const size_t end = buffer.find('\0', start);
        const size_t stop = end == std::string::npos ? buffer.size() : end;
        if (stop > start) names.push_back(buffer.substr(start, stop - start));
        start = stop + 1;
    }
    return true;
}

bool GetExtendedAttribute(const std::string& path, const std::string& name, std::string& value)
{
    for (;;) {
        const ssize_t needed = ::getxattr(path.c_str(), name.c_str(), nullptr, 0);
        if (needed < 0) return false;
        value.resize(static_cast<size_t>(needed));
        const ssize_t n = ::getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (n < 0 && errno == ERANGE) continue;
        if (n < 0) return false;
        value.resize(static_cast<size_t>(n));
        return true;
    }
}

bool SetExtendedAttribute(const std::string& path, const std::string& name, const std::string& value, bool follow)
{
    return (follow ? ::setxattr : ::lsetxattr)(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0;
}

bool RemoveExtendedAttribute(const std::string& path, const std::string& name, bool follow)
{
    return (follow ? ::removexattr : ::lremovexattr)(path.c_str(), name.c_str()) == 0;
}

}  // namespace tarn
