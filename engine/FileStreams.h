#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarn {

// One named stream of a file, as the scan lists it.
struct TStreamAttributes {
    std::string Name;  // ":<attribute name>:$DATA"
    int64_t Size = 0;
};

// Finds the streams of one file. A file's streams are its extended attributes in the "user."
// namespace, each reported with the name ":<attribute>:$DATA". A file system without extended
// attributes reports none. Every failure raises OsError with the text "<system text> "<file>"".
class TFileStreams {
public:
    // Opens `fileName` unless it is the file already held.
    void Open(const std::string& fileName);
    void FindFirst(TStreamAttributes& stream);
    void FindNext(TStreamAttributes& stream);
    bool AtEnd() const { return atEnd_; }
    const std::string& FileName() const { return fileName_; }

    // The stream name of an attribute, and back: splits an item path "<file>:<attr>:$DATA"
    // into the file and the attribute. False when the path names no stream.
    static std::string StreamName(const std::string& attribute);
    static bool SplitStreamPath(const std::string& path, std::string& file, std::string& attribute);
    // Removes the streams of `destination` that `source` has not, so that a file written anew
    // ends with the source's set; a link at `destination` is not followed. Raises OsError on failure.
    static void DropStreamsNotIn(const std::string& source, const std::string& destination);

private:
    [[noreturn]] void Raise(int code) const;
    void ReadCurrent(TStreamAttributes& stream);

    std::string fileName_;
    bool opened_ = false;
    std::vector<std::string> attributes_;
    size_t next_ = 0;
    bool atEnd_ = true;
};

}  // namespace tarn
