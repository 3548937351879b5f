#pragma once

#include <stdexcept>
#include <string>

namespace tarn {

// Conditions that have no errno of their own but that callers must tell apart from failures.
// Both lie outside the errno range so they can never be confused with a real error.
constexpr int ErrorNoMoreFiles = 0x10000 + 18;
constexpr int ErrorInsufficientBuffer = 0x10000 + 122;
// A path that names a pipe, socket or device where a regular file was expected.
constexpr int ErrorNotRegularFile = 0x10000 + 1;
// A symbolic link stands where the destination has a folder: it is never followed.
constexpr int ErrorLinkInPath = 0x10000 + 2;
// The destination's file system refuses a name although its folder is there.
constexpr int ErrorNameRefused = 0x10000 + 3;

// A failed platform call: the error code and the system's text for it.
class OsError : public std::runtime_error {
public:
    OsError(int code, const std::string& text);
    int Code() const { return code_; }

private:
    int code_;
};

// The system's text for an error code ("No such file or directory").
std::string SystemErrorText(int code);

// The last-error model: the calling thread's errno.
int GetLastError();
void SetLastError(int code);

[[noreturn]] void RaiseOsError(int code);

}  // namespace tarn
