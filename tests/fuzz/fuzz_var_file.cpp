// A task's ".var" file: what it accepts survives a write and a read, or a task drifts save by save.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
