// "TaskList": an undamaged list survives a write and a read, and extended by zeros past its bound
// (a sparse file) keeps its entries and is damaged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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

    static std::string sparse(TaskListSizeLimit + 1, '\0');
    if (size >= sparse.size()) return 0;
    std::memcpy(sparse.data(), data, size);
    const TaskListContents beyond = DecodeTaskList(sparse);
    std::memset(sparse.data(), 0, size);
    if (beyond.Names != list.Names || beyond.Damage.find("more than the") == std::string::npos) std::abort();
    return 0;
}
