// Feeds arbitrary bytes to the reader of the file "TaskList". A damaged list gives its whole
// entries and says what is wrong; an undamaged one survives a write and a read unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/RestoreFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    const TaskListContents list = DecodeTaskList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (list.Names.size() > size / 4) std::abort();
    for (const auto& name : list.Names) IsSafeTaskName(name);
    if (!list.Damage.empty() || size == 0) return 0;
    const TaskListContents again = DecodeTaskList(EncodeTaskList(list.Names));
    if (!again.Damage.empty() || again.Names != list.Names) std::abort();
    return 0;
}
