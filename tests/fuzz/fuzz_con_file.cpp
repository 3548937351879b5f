// A task's ".con" file (the file list): no item it accepts leads out of the destination or has a
// negative size, a stream follows its own file, and what it accepts survives a write and a read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "engine/RestoreFiles.h"

static bool StaysInside(const std::string& path)
{
    for (const auto& part : std::filesystem::path(path))
        if (part == "/" || part == "..") return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    std::vector<TItemAttrs> items;
    CopyOptions options;
    try {
        options = DecodeConFile(std::string_view(reinterpret_cast<const char*>(data), size),
                                [&](TItemAttrs&& item) { items.push_back(std::move(item)); });
    } catch (const DataFileError&) {
        return 0;
    }
    std::string owner;
    for (const auto& item : items) {
        if (item.Name.empty() || item.Size < 0 || !StaysInside(item.Dir)) std::abort();
        if (item.Kind == KindStream) {
            if (owner.empty() || item.Name.compare(0, owner.size() + 1, owner + ":") != 0) std::abort();
        } else {
            if (!StaysInside(item.Name)) std::abort();
            owner = item.Name;
        }
    }
    // Files before version 3.1 carry no kinds: only the current layout is written back.
    if (size < 2 || data[0] < 3 || data[1] < 1) return 0;
    const std::string written = EncodeConFile(items, options);
    std::vector<TItemAttrs> again;
    if (DecodeConFile(written, [&](TItemAttrs&& item) { again.push_back(std::move(item)); }) != options ||
        again != items)
        std::abort();
    return 0;
}
