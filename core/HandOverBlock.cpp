#include "core/HandOverBlock.h"

#include <algorithm>

namespace tarn {
namespace {

void PutWord(std::string& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

uint32_t WordAt(std::string_view bytes, size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// A length-prefixed string at `at`, moving `at` past it; nothing when it runs past the end.
std::optional<std::string> TakeString(std::string_view block, size_t& at)
{
    if (block.size() - at < 4) return std::nullopt;
    const uint32_t length = WordAt(block, at);
    at += 4;
    if (block.size() - at < length) return std::nullopt;
    std::string text(block.substr(at, length));
    at += length;
    return text;
}

}  // namespace

std::string EncodeHandOverBlock(const HandOver& handOver)
{
    std::string block;
    PutWord(block, static_cast<uint32_t>(handOver.Sources.size()));
    for (const std::string& source : handOver.Sources) {
        PutWord(block, static_cast<uint32_t>(source.size()));
        block += source;
    }
    PutWord(block, static_cast<uint32_t>(handOver.Destination.size()));
    block += handOver.Destination;
    return block;
}

std::optional<HandOver> DecodeHandOverBlock(std::string_view block)
{
    if (block.size() < 4) return std::nullopt;
    const uint32_t count = WordAt(block, 0);
    // Each path takes at least its length word, and the destination's follows.
    if (count > (block.size() - 4) / 4) return std::nullopt;
    HandOver handOver;
    size_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
        auto source = TakeString(block, at);
        if (!source) return std::nullopt;
        handOver.Sources.push_back(std::move(*source));
    }
    auto destination = TakeString(block, at);
    if (!destination || at != block.size()) return std::nullopt;
    handOver.Destination = std::move(*destination);
    return handOver;
}

std::string EncodeHandOverFrame(const HandOver& handOver)
{
    const std::string block = EncodeHandOverBlock(handOver);
    std::string frame;
    PutWord(frame, HandOverKind);
    PutWord(frame, static_cast<uint32_t>(block.size()));
    return frame + block;
}

std::string EncodeHandOverActivation()
{
    std::string frame;
    PutWord(frame, ActivationKind);
    PutWord(frame, 0);
    return frame;
}

std::string EncodeHandOverAnswer(bool taken)
{
    std::string answer;
    PutWord(answer, taken ? 1 : 0);
    return answer;
}

HandOverFrameReader::Status HandOverFrameReader::Feed(std::string_view bytes)
{
    if (status_ != Status::NeedMore) {
        if (!bytes.empty()) status_ = Status::Refused;
        return status_;
    }
    if (!headerRead_) {
        const size_t take = std::min(bytes.size(), HandOverHeaderSize - buffer_.size());
        buffer_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (buffer_.size() < HandOverHeaderSize) return status_;
        blockSize_ = WordAt(buffer_, 4);
        const uint32_t kind = WordAt(buffer_, 0);
        activation_ = kind == ActivationKind && blockSize_ == 0;
        if ((kind != HandOverKind && !activation_) || blockSize_ > HandOverBlockLimit) return status_ = Status::Refused;
        headerRead_ = true;
        buffer_.clear();
        if (activation_) return status_ = bytes.empty() ? Status::Complete : Status::Refused;
    }
    if (bytes.size() > blockSize_ - buffer_.size()) return status_ = Status::Refused;
    buffer_.append(bytes);
    if (buffer_.size() < blockSize_) return status_;
    auto handOver = DecodeHandOverBlock(buffer_);
    buffer_.clear();
    if (!handOver) return status_ = Status::Refused;
    result_ = std::move(*handOver);
    return status_ = Status::Complete;
}

}  // namespace tarn
