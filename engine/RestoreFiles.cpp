#include "engine/RestoreFiles.h"

#include <algorithm>
#include <cstdint>

#include "engine/DataBytes.h"
#include "engine/GlobalUtils.h"

namespace tarn {
namespace {

// A data file's bound and what it is called in messages.
struct SizeBound {
    int64_t Limit;
    const char* What;
};
constexpr SizeBound TaskListBound{TaskListSizeLimit, "a task list"};
constexpr SizeBound VarBound{VarFileSizeLimit, "a task's variables (.var)"};
constexpr SizeBound ConBound{ConFileSizeLimit, "a task's file list (.con)"};
constexpr SizeBound LogBound{LogFileSizeLimit, "a task's log (.log)"};
constexpr SizeBound NoBound{INT64_MAX, "a file"};
// Each read call takes at most this much.
constexpr int64_t ReadPiece = int64_t{1} << 20;

SizeBound BoundOf(const std::string& path)
{
    const std::string name = ExtractFileName(path);
    if (name == "TaskList") return TaskListBound;
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    if (extension == ".var") return VarBound;
    if (extension == ".con") return ConBound;
    if (extension == ".log") return LogBound;
    return NoBound;
}

std::string TooLarge(int64_t size, const SizeBound& bound)
{
    return "is " + std::to_string(size) + " bytes, more than the " + std::to_string(bound.Limit) + " bytes " +
           bound.What + " may hold";
}

void CheckSize(std::string_view bytes, const SizeBound& bound)
{
    if (static_cast<int64_t>(bytes.size()) > bound.Limit)
        throw DataFileError("The file " + TooLarge(static_cast<int64_t>(bytes.size()), bound));
}

// Up to `count` bytes from the current position, fewer when the file ends first.
std::string ReadPart(FileHandle handle, int64_t count)
{
    std::string bytes(static_cast<size_t>(std::max<int64_t>(count, 0)), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        const int64_t n = ReadBytes(handle, bytes.data() + done, std::min<int64_t>(ReadPiece, bytes.size() - done));
        if (n == 0) break;  // the file shrank meanwhile
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

// The rest of the file from the current position, as large as it was when this began.
std::string ReadBounded(FileHandle handle, const SizeBound& bound, const std::string& subject)
{
    const int64_t size = GetFileSize64(handle) - SeekFile(handle, 1, 0);
    if (size > bound.Limit) throw DataFileError(subject + " " + TooLarge(size, bound));
    return ReadPart(handle, size);
}

FileHandle OpenDataFile(const std::string& path)
{
    FileOpenOptions options;
    options.noFollow = true;
    options.regularOnly = true;
    return CreateFileChecked(path, FileAccess::Read, CreationMode::OpenExisting, options);
}

TaskListContents DecodeWithinBound(std::string_view bytes)
{
    constexpr size_t HeaderSize = 6;
    TaskListContents contents;
    if (bytes.empty()) return contents;
    if (bytes.size() < HeaderSize) {
        contents.Damage = "holds " + std::to_string(bytes.size()) + " bytes, less than its header";
        return contents;
    }
    ByteReader reader(bytes);
    reader.Byte();
    reader.Byte();
    const int32_t count = reader.Int32();
    // Each entry takes at least its 4-byte length, which bounds what a damaged count can cost.
    try {
        while (static_cast<int64_t>(contents.Names.size()) < count) contents.Names.push_back(reader.LenString());
    } catch (const DataFileError&) {
    }
    if (count < 0 || static_cast<int64_t>(contents.Names.size()) < count)
        contents.Damage = "names " + std::to_string(count) + " tasks but holds only " +
                          std::to_string(contents.Names.size());
    return contents;
}

// The entries of a task list's first bytes, up to its bound; `size` is the whole file's.
TaskListContents DecodeTaskListPart(std::string_view bytes, int64_t size)
{
    TaskListContents contents = DecodeWithinBound(bytes.substr(0, TaskListBound.Limit));
    contents.Size = size;
    if (size > TaskListBound.Limit) contents.Damage = TooLarge(size, TaskListBound);
    return contents;
}

void WriteVersion(ByteWriter& writer)
{
    writer.Byte(ProgramMajorVersion);
    writer.Byte(ProgramMinorVersion);
}

uint8_t CheckedByte(ByteReader& reader, uint8_t highest, const char* field)
{
    const uint8_t value = reader.Byte();
    if (value > highest) throw DataFileError(std::string("Invalid ") + field + " " + std::to_string(value));
    return value;
}

// A relative path the task may join to its roots: not absolute and no ".." component.
void CheckRelative(const std::string& path, const char* field)
{
    if (!path.empty() && path.front() == PathDelimiter)
        throw DataFileError(std::string("An absolute item ") + field + " \"" + path + "\"");
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(PathDelimiter, start);
        if (end == std::string::npos) end = path.size();
        if (path.compare(start, end - start, "..") == 0)
            throw DataFileError(std::string("An item ") + field + " leaves its folder: \"" + path + "\"");
        start = end + 1;
    }
}

}  // namespace

std::string EncodeVarFile(const TaskVariables& v)
{
    ByteWriter writer;
    WriteVersion(writer);
    writer.Byte(v.State);
    writer.LenString(v.Source);
    writer.LenString(v.Destination);
    writer.Byte(v.SourceKind);
    writer.Byte(v.NeedScan ? 1 : 0);
    writer.Int32(v.CurrentIndex);
    writer.Int64(v.CurrentOffset);
    writer.Double(v.Elapsed);
    writer.Byte(v.ExistsAnswer);
    writer.Double(v.ScheduleTime);
    writer.Int32(v.SpeedLimit);
    writer.Int32(v.PeakSpeed);
    return std::move(writer.Bytes());
}

TaskVariables DecodeVarFile(std::string_view bytes)
{
    CheckSize(bytes, VarBound);
    ByteReader reader(bytes);
    TaskVariables v;
    reader.Byte();
    reader.Byte();
    v.State = CheckedByte(reader, StateFinished, "task state");
    v.Source = reader.LenString();
    v.Destination = reader.LenString();
    v.SourceKind = CheckedByte(reader, SourceFile, "source kind");
    v.NeedScan = reader.Byte() != 0;
    v.CurrentIndex = reader.Int32();
    v.CurrentOffset = reader.Int64();
    v.Elapsed = reader.Double();
    v.ExistsAnswer = CheckedByte(reader, AnswerSkipAll, "answer");
    v.ScheduleTime = reader.Double();
    v.SpeedLimit = reader.Int32();
    v.PeakSpeed = reader.Int32();
    // Every path below it is joined to it: a relative one would land wherever the program runs.
    if (v.Destination.empty() || v.Destination.front() != PathDelimiter)
        throw DataFileError("A destination that is not an absolute path: \"" + v.Destination + "\"");
    if (v.CurrentIndex < 0 || v.CurrentOffset < 0)
        throw DataFileError("Invalid position " + std::to_string(v.CurrentIndex) + ":" + std::to_string(v.CurrentOffset));
    return v;
}

std::string EncodeConFile(const std::vector<TItemAttrs>& items, const CopyOptions& options)
{
    ByteWriter writer;
    WriteVersion(writer);
    writer.UInt32(static_cast<uint32_t>(items.size()));
    for (const auto& item : items) {
        writer.LenString(item.Dir);
        writer.LenString(item.Name);
        writer.Int64(item.Size);
        writer.Byte(item.Kind);
        if (item.Kind == KindHardLink) writer.UInt32(static_cast<uint32_t>(item.Link));
    }
    writer.Byte(options.CopyAttributes ? 1 : 0);
    writer.Byte(options.CopySecurity ? 1 : 0);
    writer.Byte(options.CopyStreams ? 1 : 0);
    // The later options only as far as one is on, so that a list without them keeps the layout
    // that earlier versions write and read.
    const bool later[] = {options.VerifyCopies, options.CopyLinksAsLinks, options.KeepHardLinks};
    size_t count = std::size(later);
    while (count > 0 && !later[count - 1]) --count;
    for (size_t i = 0; i < count; ++i) writer.Byte(later[i] ? 1 : 0);
    return std::move(writer.Bytes());
}

CopyOptions DecodeConFile(std::string_view bytes, const std::function<void(TItemAttrs&&)>& addItem)
{
    CheckSize(bytes, ConBound);
    ByteReader reader(bytes);
    const uint8_t major = reader.Byte();
    const uint8_t minor = reader.Byte();
    const bool current = major >= 3 && minor >= 1;
    const uint32_t count = reader.UInt32();
    const size_t smallestItem = current ? 17 : 16;
    if (count > reader.Remaining() / smallestItem)
        throw DataFileError("An item count of " + std::to_string(count) + " is more than the file holds");
    std::string lastFile;
    std::string lastFileDir;
    std::vector<bool> isFile;  // of each item before: a hard link must name a file
    isFile.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        TItemAttrs item;
        item.Dir = reader.LenString();
        item.Name = reader.LenString();
        item.Size = reader.Int64();
        if (current) {
            item.Kind = CheckedByte(reader, KindSpecial, "item kind");
            if (item.Kind == KindHardLink) {
                const uint32_t first = reader.UInt32();
                if (first >= i || !isFile[first])
                    throw DataFileError("A hard link to item " + std::to_string(first) + ", which is no earlier file");
                item.Link = static_cast<int32_t>(first);
            }
        } else {
            item.Kind = !item.Name.empty() && item.Name.back() == PathDelimiter ? KindFolder : KindFile;
        }
        CheckRelative(item.Dir, "folder");
        if (item.Kind == KindStream) {
            // Only the file part is a path; the attribute's name may hold '/' or "..".
            if (lastFile.empty() || item.Dir != lastFileDir || item.Name.size() <= lastFile.size() + 1 ||
                item.Name.compare(0, lastFile.size() + 1, lastFile + ":") != 0)
                throw DataFileError("A stream item that does not follow its file or folder: \"" + item.Dir + item.Name +
                                    "\"");
        } else {
            CheckRelative(item.Name, "name");
        }
        if (item.Kind == KindFile || item.Kind == KindFolder || item.Kind == KindHardLink) {
            lastFile = item.Name;
            lastFileDir = item.Dir;
        }
        isFile.push_back(item.Kind == KindFile);
        if (item.Name.empty()) throw DataFileError("An item without a name");
        if (item.Size < 0) throw DataFileError("An item of negative size");
        addItem(std::move(item));
    }
    CopyOptions options;
    if (current) {
        options.CopyAttributes = reader.Byte() != 0;
        options.CopySecurity = reader.Byte() != 0;
        options.CopyStreams = reader.Byte() != 0;
        for (bool* later : {&options.VerifyCopies, &options.CopyLinksAsLinks, &options.KeepHardLinks})
            if (reader.Remaining() > 0) *later = reader.Byte() != 0;
    }
    return options;
}

std::string LogFileHeader()
{
    ByteWriter writer;
    WriteVersion(writer);
    return std::move(writer.Bytes());
}

std::string EncodeLogRecord(const TMsg& record)
{
    ByteWriter writer;
    writer.Double(record.Time);
    writer.LenString(record.Id);
    writer.UInt32(static_cast<uint32_t>(record.Params.size()));
    for (const auto& param : record.Params) writer.LenString(param);
    return std::move(writer.Bytes());
}

bool IsInternalRecord(const TMsg& record) { return !record.Id.empty() && record.Id.front() == '#'; }

TaskLogContents DecodeLogFile(std::string_view bytes)
{
    CheckSize(bytes, LogBound);
    TaskLogContents contents;
    ByteReader reader(bytes);
    try {
        reader.Byte();
        reader.Byte();
        contents.WholeSize = reader.Position();
        while (!reader.AtEnd()) {
            TMsg record;
            record.Time = reader.Double();
            record.Id = reader.LenString();
            if (record.Id.empty())
                throw DataFileError("A record without an id at byte " + std::to_string(contents.WholeSize));
            const uint32_t count = reader.UInt32();
            if (count > reader.Remaining() / 4)
                throw DataFileError("A parameter count of " + std::to_string(count) + " is more than the file holds");
            for (uint32_t i = 0; i < count; ++i) record.Params.push_back(reader.LenString());
            contents.Records.push_back(std::move(record));
            contents.WholeSize = reader.Position();
        }
    } catch (const DataFileError& error) {
        contents.Damaged = true;
        contents.Damage = error.what();
    }
    return contents;
}

std::string EncodeTaskList(const std::vector<std::string>& names)
{
    ByteWriter writer;
    WriteVersion(writer);
    writer.Int32(static_cast<int32_t>(names.size()));
    for (const auto& name : names) writer.LenString(name);
    return std::move(writer.Bytes());
}

TaskListContents DecodeTaskList(std::string_view bytes)
{
    return DecodeTaskListPart(bytes, static_cast<int64_t>(bytes.size()));
}

bool IsSafeTaskName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find(PathDelimiter) == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string ReadFileBytes(const std::string& path)
{
    FileHandle handle = OpenDataFile(path);
    std::string bytes;
    try {
        bytes = ReadBounded(handle, BoundOf(path), "\"" + path + "\"");
    } catch (...) {
        PlatformClose(handle);
        throw;
    }
    CloseFile(handle);
    return bytes;
}

std::string ReadFileBytes(FileHandle handle)
{
    SeekFile(handle, 0, 0);
    return ReadBounded(handle, LogBound, "The task's log");
}

TaskListContents ReadTaskListFile(const std::string& path)
{
    FileHandle handle = OpenDataFile(path);
    std::string bytes;
    int64_t size = 0;
    try {
        size = GetFileSize64(handle);
        bytes = ReadPart(handle, std::min(size, TaskListBound.Limit));
    } catch (...) {
        PlatformClose(handle);
        throw;
    }
    CloseFile(handle);
    return DecodeTaskListPart(bytes, std::max(size, static_cast<int64_t>(bytes.size())));
}

}  // namespace tarn
