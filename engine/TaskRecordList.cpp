#include "engine/TaskRecordList.h"

#include <algorithm>
#include <cstring>

namespace tarn {

namespace {

// Blocks of packed records grow to this size: a record is never moved once it is packed, and
// no copy of all of them is ever needed at once.
constexpr size_t RecordBlockBytes = 256 * 1024;
constexpr uint64_t NotShared = 0;

void PutNumber(std::string& bytes, uint64_t value)
{
    for (; value >= 0x80; value >>= 7) bytes.push_back(static_cast<char>(value | 0x80));
    bytes.push_back(static_cast<char>(value));
}

uint64_t TakeNumber(const char*& at)
{
    uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if (byte < 0x80) return value;
    }
}

}  // namespace

uint32_t TaskRecordList::Share(std::string_view text)
{
    if (const auto found = sharedIndex_.find(text); found != sharedIndex_.end()) return found->second;
    const auto number = static_cast<uint32_t>(shared_.size());
    shared_.emplace_back(text);
    sharedIndex_.emplace(shared_.back(), number);
    return number;
}

void TaskRecordList::push_back(const TMsg& record)
{
    std::string& bytes = scratch_;
    bytes.assign(sizeof record.Time, '\0');
    std::memcpy(bytes.data(), &record.Time, sizeof record.Time);
    PutNumber(bytes, Share(record.Id));
    PutNumber(bytes, record.Params.size());
    for (const std::string& param : record.Params) {
        const size_t cut = param.rfind(PathDelimiter);
        const size_t tail = cut == std::string::npos ? 0 : cut + 1;
        PutNumber(bytes, tail == 0 ? NotShared : uint64_t{Share(std::string_view(param).substr(0, tail))} + 1);
        PutNumber(bytes, param.size() - tail);
        bytes.append(param, tail);
    }
    if (blocks_.empty() || blocks_.back().size() + bytes.size() > blocks_.back().capacity()) {
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(RecordBlockBytes, bytes.size()));
    }
    std::string& block = blocks_.back();
    where_.push_back((static_cast<uint64_t>(blocks_.size() - 1) << 32) | block.size());
    block += bytes;
}

TMsg TaskRecordList::operator[](size_t index) const
{
    const uint64_t where = where_[index];
    const char* at = blocks_[where >> 32].data() + (where & 0xffffffffu);
    TMsg record;
    std::memcpy(&record.Time, at, sizeof record.Time);
    at += sizeof record.Time;
    record.Id = shared_[TakeNumber(at)];
    record.Params.resize(TakeNumber(at));
    for (std::string& param : record.Params) {
        if (const uint64_t folder = TakeNumber(at); folder != NotShared) param = shared_[folder - 1];
        const uint64_t length = TakeNumber(at);
        param.append(at, length);
        at += length;
    }
    return record;
}

}  // namespace tarn
