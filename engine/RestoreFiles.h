#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/GlobalUtils.h"
#include "engine/TaskTypes.h"

// The layouts of a task's three restore files (".var", ".con", ".log"). Every writer lays the
// whole content out in one buffer, to go to the disk in one write call; every reader checks
// the bytes and raises DataFileError for a damaged file instead of guessing.
namespace tarn {

// The ".var" file: the task's variables.
struct TaskVariables {
    uint8_t State = StateCopying;
    std::string Source;
    std::string Destination;
    uint8_t SourceKind = SourceUnresolved;
    bool NeedScan = false;
    int32_t CurrentIndex = 0;
    int64_t CurrentOffset = 0;
    double Elapsed = 0;  // clean copy time, days
    uint8_t ExistsAnswer = AnswerAsk;
    double ScheduleTime = 0;
    int32_t SpeedLimit = 0;
    int32_t PeakSpeed = 0;

    bool operator==(const TaskVariables&) const = default;
};

struct CopyOptions {
    bool CopyAttributes = false;
    bool CopySecurity = false;
    bool CopyStreams = false;

    bool operator==(const CopyOptions&) const = default;
};

std::string EncodeVarFile(const TaskVariables& variables);
// Anything after the last field is ignored: a shorter Source leaves old bytes behind. A
// destination that is not an absolute path is damage.
TaskVariables DecodeVarFile(std::string_view bytes);

// The ".con" file: the file list and the copy options.
std::string EncodeConFile(const std::vector<TItemAttrs>& items, const CopyOptions& options);
// Hands every item to `addItem` in file order and returns the options. Files older than
// version 3.1 carry neither kinds nor options: a name ending with a delimiter is a folder,
// anything else a file, and the options are off. Items whose paths are absolute or climb out
// with ".." are rejected: they would be written outside the destination. A stream item must
// follow its file or folder: its name is that one's name, a colon and an attribute name, which
// may hold any character.
CopyOptions DecodeConFile(std::string_view bytes, const std::function<void(TItemAttrs&&)>& addItem);

// The ".log" file: two version bytes, then records appended one by one.
std::string LogFileHeader();
std::string EncodeLogRecord(const TMsg& record);
// Records whose id begins with '#' are the engine's own bookkeeping: written to the file only,
// never shown as a message.
bool IsInternalRecord(const TMsg& record);
// The record a task writes before it creates or opens a destination file for writing: item
// index, how it writes it, and the source's size and modification time as the copy began.
constexpr char WriteRecordId[] = "#Wrt";

struct TaskLogContents {
    std::vector<TMsg> Records;
    // Set when the file ends inside a record (a crash while it was appended): the records before
    // it are all in `Records`, and `Damage` says what was wrong.
    bool Damaged = false;
    std::string Damage;
    size_t WholeSize = 0;  // bytes up to the end of the last whole record
};
TaskLogContents DecodeLogFile(std::string_view bytes);

// The file "TaskList": two version bytes, a signed count, then that many names. Bytes after
// the last entry are left over from a longer list and ignored.
std::string EncodeTaskList(const std::vector<std::string>& names);
struct TaskListContents {
    std::vector<std::string> Names;  // the whole entries, in order
    std::string Damage;              // empty when the file holds every entry its count names
};
// An empty file holds no tasks. Names are returned as written: the caller checks that each
// stays inside its folder (IsSafeTaskName).
TaskListContents DecodeTaskList(std::string_view bytes);
// A task name becomes part of file paths: it must name a file in the restore folder itself.
bool IsSafeTaskName(const std::string& name);

// The whole content of a restore file: a regular file, not reached through a symbolic link.
// Raises OsError when it cannot be opened or read.
std::string ReadFileBytes(const std::string& path);
// The whole content of a file already open, read from its start.
std::string ReadFileBytes(FileHandle handle);

}  // namespace tarn
