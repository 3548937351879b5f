#pragma once

#include <string>

// A folder whose files the program takes as the user's own orders (the restore folder): only the
// user may have put anything there. It is checked the way a secure shell checks ~/.ssh: the
// folder itself, not a symbolic link to one, owned by the effective user and writable by no one
// else (group write bits included, which also show an ACL's mask). The folders above it are not
// checked.
namespace tarn {

// Empty when `path` is such a folder; otherwise a sentence that begins with `what` and the path
// ("The restore folder \"/x\"") and says what is wrong and how to mend it.
std::string WhyNotOwnFolder(const std::string& path, const std::string& what);

}  // namespace tarn
