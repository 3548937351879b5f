#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/GlobalUtils.h"
#include "engine/TaskRecordList.h"
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
    bool VerifyCopies = false;  // each file read back from the device and compared with its source
    // Symbolic links in the source made as links; off, they are followed to what they name.
    bool CopyLinksAsLinks = false;
    // Further names of one source file made as hard links to its first copy.
    bool KeepHardLinks = false;

    bool operator==(const CopyOptions&) const = default;
};

std::string EncodeVarFile(const TaskVariables& variables);
// Anything after the last field is ignored: a shorter Source leaves old bytes behind. A
// destination that is not an absolute path, or a file beyond VarFileSizeLimit, is damage.
TaskVariables DecodeVarFile(std::string_view bytes);

// The ".con" file: the file list and the copy options.
std::string EncodeConFile(const std::vector<TItemAttrs>& items, const CopyOptions& options);
// Hands every item to `addItem` in file order and returns the options. Files older than
// version 3.1 carry neither kinds nor options: a name ending with a delimiter is a folder,
// anything else a file, and the options are off. An item of a hard link is followed by the
// 32-bit index of an earlier file item, the first name of its file. The options after the
// first three are written only as far as one of them is on: an earlier list lacks them, and
// they are off. Items whose paths are absolute or climb out
// with ".." are rejected: they would be written outside the destination. A stream item must
// follow its file or folder: its name is that one's name, a colon and an attribute name, which
// may hold any character. A file beyond ConFileSizeLimit is damage.
CopyOptions DecodeConFile(std::string_view bytes, const std::function<void(TItemAttrs&&)>& addItem);

// The ".log" file: two version bytes, then records appended one by one.
std::string LogFileHeader();
std::string EncodeLogRecord(const TMsg& record);
// Records whose id begins with '#' are the engine's own bookkeeping: written to the file only,
// never shown as a message.
bool IsInternalRecord(const TMsg& record);
// The record a task writes before it creates or opens a destination file for writing: item
// index, how it writes it, and the source's size and modification time as the copy began. How
// 0 withdraws a claim (below) from the item on: the task did not make its file.
constexpr char WriteRecordId[] = "#Wrt";
// The record a task writes before it makes the files of a folder it made itself: the items from
// the first index to the end index (exclusive) are made new, one after the other, as the task
// reaches them. The files it made are those that stand in order from the first one on.
constexpr char ClaimRecordId[] = "#New";

struct TaskLogContents {
    TaskRecordList Records;
    // Set when the file ends inside a record (a crash while it was appended): the records before
    // it are all in `Records`, and `Damage` says what was wrong.
    bool Damaged = false;
    std::string Damage;
    size_t WholeSize = 0;  // bytes up to the end of the last whole record
};
// A record without an id is no record: zeros that a crash or a sparse extension left end the
// records as a cut-off one does. A file beyond LogFileSizeLimit raises DataFileError.
TaskLogContents DecodeLogFile(std::string_view bytes);

// The file "TaskList": two version bytes, a signed count, then that many names. Bytes after
// the last entry are left over from a longer list and ignored.
std::string EncodeTaskList(const std::vector<std::string>& names);
struct TaskListContents {
    std::vector<std::string> Names;  // the whole entries, in order
    std::string Damage;              // empty when the file holds every entry its count names
    int64_t Size = 0;                // of the whole file
};
// An empty file holds no tasks. Names are returned as written: the caller checks that each
// stays inside its folder (IsSafeTaskName). A list larger than its bound is damaged, but the
// whole entries within the bound are kept.
TaskListContents DecodeTaskList(std::string_view bytes);
// A task name becomes part of file paths: it must name a file in the restore folder itself.
bool IsSafeTaskName(const std::string& name);

// The most bytes each data file may hold. Each lies far above any real file, so a larger one is
// damage (a sparse file, a write far past the end) and is refused before it is read into memory.
// TaskList: 12 bytes an entry of an 8-character name, so some 87,000 tasks, each a thread.
constexpr int64_t TaskListSizeLimit = int64_t{1} << 20;
// .var: two paths of at most PATH_MAX (4096) bytes and 44 bytes of numbers.
constexpr int64_t VarFileSizeLimit = int64_t{64} << 10;
// The .con and the .log grow with the copy. The .con takes 17 bytes and the relative path per
// item, some 100 bytes in an ordinary tree: ten million items. Restored, a list takes several
// times its file's size in memory, so a real task this long is beyond any desktop already.
constexpr int64_t ConFileSizeLimit = int64_t{1} << 30;
// The .log gets two records per copied file (its name and both folders; its size and time),
// some 300 bytes, and one per error or retry: the log of seven million files, or of a task that
// retried every few seconds for years.
constexpr int64_t LogFileSizeLimit = int64_t{2} << 30;

// The whole content of a data file: a regular file, not reached through a symbolic link, read
// in pieces. "TaskList" and a task's ".var", ".con" and ".log" (told by their names, so every
// reader of them gets it) larger than their bound raise DataFileError before anything is read.
// Raises OsError when it cannot be opened or read.
std::string ReadFileBytes(const std::string& path);
// The whole content of a task's .log already open (its task holds it locked), from its start.
std::string ReadFileBytes(FileHandle handle);
// TaskList as DecodeTaskList reads it, of which only the bytes within its bound are read.
TaskListContents ReadTaskListFile(const std::string& path);

}  // namespace tarn
