#include "engine/FileStreams.h"

#include <algorithm>
#include <cerrno>

#include "platform/ExtendedAttributes.h"
#include "platform/OsError.h"

namespace tarn {
namespace {

const std::string UserPrefix = "user.";
const std::string StreamSuffix = ":$DATA";

}  // namespace

void TFileStreams::Raise(int code) const
{
    throw OsError(code, SystemErrorText(code) + " \"" + fileName_ + "\"");
}

void TFileStreams::Open(const std::string& fileName)
{
    if (opened_ && fileName == fileName_) return;
    fileName_ = fileName;
    opened_ = true;
    attributes_.clear();
    std::vector<std::string> names;
    if (!ListExtendedAttributes(fileName, names)) {
        if (errno != ENOTSUP) Raise(errno);
        return;  // no extended attributes on this file system: no streams
    }
    for (auto& name : names)
        if (name.compare(0, UserPrefix.size(), UserPrefix) == 0) attributes_.push_back(std::move(name));
}

void TFileStreams::FindFirst(TStreamAttributes& stream)
{
    next_ = 0;
    ReadCurrent(stream);
}

void TFileStreams::FindNext(TStreamAttributes& stream) { ReadCurrent(stream); }

void TFileStreams::ReadCurrent(TStreamAttributes& stream)
{
    stream = TStreamAttributes{};
    atEnd_ = next_ >= attributes_.size();
    if (atEnd_) return;
    const std::string& attribute = attributes_[next_++];
    std::string value;
    if (!GetExtendedAttribute(fileName_, attribute, value)) Raise(errno);
    stream.Name = StreamName(attribute);
    stream.Size = static_cast<int64_t>(value.size());
}

std::string TFileStreams::StreamName(const std::string& attribute) { return ":" + attribute + StreamSuffix; }

bool TFileStreams::SplitStreamPath(const std::string& path, std::string& file, std::string& attribute)
{
    if (path.size() < StreamSuffix.size() ||
        path.compare(path.size() - StreamSuffix.size(), StreamSuffix.size(), StreamSuffix) != 0)
        return false;
    // The last ":user." starts the attribute: a colon is an ordinary character in file names.
    const size_t start = path.rfind(":" + UserPrefix, path.size() - StreamSuffix.size());
    if (start == std::string::npos || start == 0) return false;
    file = path.substr(0, start);
    attribute = path.substr(start + 1, path.size() - StreamSuffix.size() - start - 1);
    return !attribute.empty();
}

void TFileStreams::DropStreamsNotIn(const std::string& source, const std::string& destination)
{
    std::vector<std::string> kept;
    std::vector<std::string> there;
    if (!ListExtendedAttributes(source, kept) && errno != ENOTSUP) RaiseOsError(errno);
    if (!ListExtendedAttributes(destination, there, false)) {
        if (errno == ENOTSUP) return;
        RaiseOsError(errno);
    }
    for (const auto& name : there) {
        if (name.compare(0, UserPrefix.size(), UserPrefix) != 0) continue;
        if (std::find(kept.begin(), kept.end(), name) != kept.end()) continue;
        if (!RemoveExtendedAttribute(destination, name, false) && errno != ENODATA) RaiseOsError(errno);
    }
}

}  // namespace tarn
