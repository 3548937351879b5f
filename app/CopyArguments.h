#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/TaskTypes.h"

namespace tarn {

// What `tarnctl copy` was asked to do.
struct CopyArguments {
    std::vector<std::string> Sources;
    std::string Destination;
    std::string RestoreDir;  // empty: the default beside the program's restore folder
    int32_t SpeedLimit = 2147483647;
    int32_t BufferSize = 65536;
    int32_t DelayOnError = 5000;
    int32_t MaxErrors = 60;
    uint8_t OnExists = AnswerUploadAll;  // the answer for every existing destination file
    bool CopyAttributes = false;
    bool CopySecurity = false;
    bool CopyStreams = false;
    bool Quiet = false;
};

// Parses the words after "copy". False with `error` set for bad usage.
bool ParseCopyArguments(const std::vector<std::string>& words, CopyArguments& arguments, std::string& error);

// Parses the words after "resume": --restore-dir DIR and the display options.
bool ParseResumeArguments(const std::vector<std::string>& words, CopyArguments& arguments, std::string& error);

extern const char* const UsageText;

}  // namespace tarn
