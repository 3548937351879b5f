#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Little-endian byte layouts of the program's data files. A writer lays a whole file out in
// memory so that it reaches the disk in one write call; a reader checks every field against
// the bytes it has and raises DataFileError instead of reading past them.
namespace tarn {

class ByteWriter {
public:
    void Byte(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
    void Int32(int32_t value) { Unsigned(static_cast<uint32_t>(value), 4); }
    void UInt32(uint32_t value) { Unsigned(value, 4); }
    void Int64(int64_t value) { Unsigned(static_cast<uint64_t>(value), 8); }
    void Double(double value);
    void LenString(const std::string& value);
    // Overwrites four bytes already written.
    void PatchUInt32(size_t offset, uint32_t value);
    const std::string& Bytes() const { return bytes_; }
    std::string& Bytes() { return bytes_; }
    size_t Size() const { return bytes_.size(); }

private:
    void Unsigned(uint64_t value, int width);
    std::string bytes_;
};

class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}
    uint8_t Byte();
    int32_t Int32() { return static_cast<int32_t>(UInt32()); }
    uint32_t UInt32() { return static_cast<uint32_t>(Unsigned(4)); }
    int64_t Int64() { return static_cast<int64_t>(Unsigned(8)); }
    double Double();
    std::string LenString();
    size_t Remaining() const { return bytes_.size() - position_; }
    size_t Position() const { return position_; }
    bool AtEnd() const { return position_ >= bytes_.size(); }

private:
    uint64_t Unsigned(int width);
    void Need(size_t count, const char* what) const;
    std::string_view bytes_;
    size_t position_ = 0;
};

}  // namespace tarn
