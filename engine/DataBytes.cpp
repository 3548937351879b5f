#include "engine/DataBytes.h"

#include <cstring>

#include "engine/GlobalUtils.h"

namespace tarn {

void ByteWriter::Unsigned(uint64_t value, int width)
{
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

void ByteWriter::Double(double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    Unsigned(bits, 8);
}

void ByteWriter::LenString(const std::string& value)
{
    UInt32(static_cast<uint32_t>(value.size()));
    bytes_ += value;
}

void ByteWriter::PatchUInt32(size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes_[offset + static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i) & 0xFF);
}

void ByteReader::Need(size_t count, const char* what) const
{
    if (count > Remaining())
        throw DataFileError(std::string("The file ends inside ") + what + " at byte " + std::to_string(position_));
}

uint8_t ByteReader::Byte()
{
    Need(1, "a byte field");
    return static_cast<uint8_t>(bytes_[position_++]);
}

uint64_t ByteReader::Unsigned(int width)
{
    Need(static_cast<size_t>(width), "a number");
    uint64_t value = 0;
    for (int i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(static_cast<uint8_t>(bytes_[position_ + static_cast<size_t>(i)])) << (8 * i);
    position_ += static_cast<size_t>(width);
    return value;
}

double ByteReader::Double()
{
    const uint64_t bits = Unsigned(8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

std::string ByteReader::LenString()
{
    const uint32_t length = UInt32();
    if (length > Remaining())
        throw DataFileError("A length prefix of " + std::to_string(length) + " bytes runs past the end of the file");
    std::string value(bytes_.substr(position_, length));
    position_ += length;
    return value;
}

}  // namespace tarn
