#include "platform/OsError.h"

#include <cerrno>
#include <cstring>

namespace tarn {

OsError::OsError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}

std::string SystemErrorText(int code)
{
    if (code == ErrorNoMoreFiles) return "There are no more files";
    if (code == ErrorInsufficientBuffer) return "The data area passed to a system call is too small";
    if (code == ErrorNotRegularFile) return "Not a regular file (a pipe, socket or device)";
    if (code == ErrorLinkInPath) return "A symbolic link stands in the destination's path; it is not followed";
    if (code == ErrorNameRefused) return "The destination's file system does not accept this name";
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not live in the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return text ? std::string(text) : "Unknown error " + std::to_string(code);
}

int GetLastError() { return errno; }

void SetLastError(int code) { errno = code; }

void RaiseOsError(int code) { throw OsError(code, SystemErrorText(code)); }

}  // namespace tarn
