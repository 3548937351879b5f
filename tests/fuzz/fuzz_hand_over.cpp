// The hand-over frame reader, fed whole and split where the first byte says: the same both ways,
// and a frame it takes survives a write and a read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/HandOverBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    if (size == 0) return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    HandOverFrameReader whole;
    const auto status = whole.Feed(bytes);
    HandOverFrameReader split;
    const size_t cut = std::min<size_t>(data[0], bytes.size());
    split.Feed(bytes.substr(0, cut));
    if (split.Feed(bytes.substr(cut)) != status) std::abort();
    if (status != HandOverFrameReader::Status::Complete || whole.IsActivation()) return 0;
    const HandOver& read = whole.Result();
    if (read.Sources != split.Result().Sources || read.Destination != split.Result().Destination) std::abort();
    HandOverFrameReader again;
    if (again.Feed(EncodeHandOverFrame(read)) != HandOverFrameReader::Status::Complete) std::abort();
    if (again.Result().Sources != read.Sources || again.Result().Destination != read.Destination) std::abort();
    return 0;
}
