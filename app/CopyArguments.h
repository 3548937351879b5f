#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/RestoreFiles.h"
#include "engine/TaskTypes.h"

namespace tarn {

// What `tarnctl copy` or `tarnctl resume` was asked to do.
struct CopyArguments {
    std::vector<std::string> Sources;
    std::string Destination;
    std::string RestoreDir;  // empty: the default beside the program's restore folder
    int32_t SpeedLimit = NoSpeedLimit;
    bool SpeedLimitGiven = false;  // resume changes the tasks' own limits only when asked to
    int32_t BufferSize = 65536;
    int32_t DelayOnError = 5000;
    int32_t MaxErrors = 60;
    int32_t SaveInterval = 15000;  // the tasks' RestoreUpdateInterval, milliseconds
    uint8_t OnExists = AnswerUploadAll;  // the answer for every existing destination file
    CopyOptions Options{.CopyLinksAsLinks = true};
    // --hard-links or --no-hard-links; without either, hard links are kept with the attributes
    // or the security, as `cp -a` keeps them.
    std::optional<bool> HardLinks;
    bool Quiet = false;
    // A read, write or open that has not returned for this long is reported; no option sets it.
    std::chrono::seconds StallLimit{30};

    static constexpr int32_t NoSpeedLimit = 2147483647;
};

// A byte count as options take it: a whole number, optionally followed by K, M or G (1024-based,
// any letter case) and then "B" or "iB". A number too large for 64 bits gives INT64_MAX, which
// every bound refuses. False when the text is no such count.
bool ParseByteCount(const std::string& text, int64_t& value);

// Parses the words after "copy". False with `error` set for bad usage.
bool ParseCopyArguments(const std::vector<std::string>& words, CopyArguments& arguments, std::string& error);

// Parses the words after "resume": --restore-dir DIR, --speed-limit and the display options.
bool ParseResumeArguments(const std::vector<std::string>& words, CopyArguments& arguments, std::string& error);

// "tarnctl 3.1".
std::string VersionText();

extern const char* const UsageText;

}  // namespace tarn
