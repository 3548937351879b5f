#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// The list of files another program hands to a running Tarnwell ("Copy to..." in a file
// manager, `tarnctl send`): sources and the folder to copy them to, none to let the user choose
// in the new-task dialog.
struct HandOver {
    std::vector<std::string> Sources;
    std::string Destination;
};

// The block: a 32-bit little-endian count N, then N paths each after its 32-bit length, then
// the destination after its length (0: none). Paths are bytes as the file system names them.
std::string EncodeHandOverBlock(const HandOver& handOver);
// Nothing when the block is not one: a length that runs past its end, bytes left over after
// the destination, a count the block cannot hold.
std::optional<HandOver> DecodeHandOverBlock(std::string_view block);

// The frame the block travels in over the local socket: a 32-bit kind (HandOverKind), a 32-bit
// length, then that many bytes of block. The answer is one 32-bit word: 1 taken, 0 refused.
inline constexpr uint32_t HandOverKind = 1;
// A later start of the program asks the first to come to the front: this kind, no block.
inline constexpr uint32_t ActivationKind = 2;
inline constexpr size_t HandOverHeaderSize = 8;
// A block longer than this is refused unread: thousands of paths fit in it.
inline constexpr uint32_t HandOverBlockLimit = 16u << 20;

std::string EncodeHandOverFrame(const HandOver& handOver);
std::string EncodeHandOverActivation();
std::string EncodeHandOverAnswer(bool taken);

// Reads one frame from bytes as they arrive, never holding more than the frame announced.
class HandOverFrameReader {
public:
    enum class Status { NeedMore, Complete, Refused };

    // Takes what arrived; Complete once the whole frame is in, Refused as soon as its header
    // is wrong or its block is not one. Bytes after a complete frame are refused too.
    Status Feed(std::string_view bytes);
    const HandOver& Result() const { return result_; }
    bool IsActivation() const { return activation_; }

private:
    std::string buffer_;
    uint32_t blockSize_ = 0;
    bool headerRead_ = false;
    bool activation_ = false;
    Status status_ = Status::NeedMore;
    HandOver result_;
};

}  // namespace tarn
