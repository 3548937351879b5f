// Feeds arbitrary bytes to the reader of a task's ".var" file. What it accepts must survive a
// write and a read unchanged, or a restored task would drift from save to save.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/RestoreFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    TaskVariables variables;
    try {
        variables = DecodeVarFile(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const DataFileError&) {
        return 0;
    }
    if (variables.CurrentIndex < 0 || variables.CurrentOffset < 0) std::abort();
    if (variables.Destination.empty() || variables.Destination.front() != '/') std::abort();
    const std::string written = EncodeVarFile(variables);
    if (EncodeVarFile(DecodeVarFile(written)) != written) std::abort();
    return 0;
}
