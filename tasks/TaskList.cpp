#include "tasks/TaskList.h"

#include <algorithm>

#include "core/MessageList.h"
#include "core/ProgramLog.h"
#include "core/SettingsStorage.h"
#include "engine/DataBytes.h"
#include "engine/DownloadThread.h"
#include "tasks/TaskNames.h"

namespace tarn {
namespace {

constexpr char TaskListFileName[] = "TaskList";

// A name read from TaskList becomes part of file paths: it must stay inside the restore folder.
bool IsSafeTaskName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find(PathDelimiter) == std::string::npos &&
           name.find('\0') == std::string::npos;
}

}  // namespace

TaskList::TaskList(TSettingsStorage& settings, const TMsgList& msgs, TaskListViews& views)
    : settings_(settings), msgs_(msgs), views_(views)
{
}

TaskList::~TaskList() { Close(); }

void TaskList::ReportError(const std::string& detail)
{
    views_.ShowError(msgs_.GetMsg("Err007") + "\n" + detail);
}

void TaskList::Append(std::unique_ptr<TDownloadThread> worker)
{
    entries_.push_back(Entry{std::move(worker), {}, 0, false});
    views_.InsertViews(Count() - 1);
}

void TaskList::LoadTaskList()
{
    const std::string folder = settings_.RestorePath();
    filePath_ = folder + TaskListFileName;
    if (!ForceDirectories(folder)) {
        ReportError("\"" + folder + "\": " + SystemErrorText(errno));
        return;
    }
    std::string bytes;
    try {
        FileOpenOptions options;
        options.lock = FileLock::Exclusive;  // one program per restore folder
        options.writeThrough = true;
        options.mode = 0600;
        file_ = CreateFileChecked(filePath_, FileAccess::ReadWrite, CreationMode::OpenAlways, options);
        bytes = ReadToEnd(file_);
    } catch (const OsError& error) {
        CloseFile();
        ReportError("\"" + filePath_ + "\": " + error.what());
        return;
    }
    if (bytes.size() < 6) return;

    ByteReader reader(bytes);
    reader.Byte();
    reader.Byte();
    const int32_t count = reader.Int32();
    for (int32_t i = 0; i < count; ++i) {
        std::string name;
        try {
            name = reader.LenString();
        } catch (const DataFileError&) {
            // A Count larger than the entries present: one report for the damage, not one per entry.
            ReportError("\"" + filePath_ + "\" names " + std::to_string(count) + " tasks but holds only " +
                        std::to_string(i));
            return;
        }
        if (!IsSafeTaskName(name)) {
            ReportError("\"" + filePath_ + "\": an invalid task name \"" + name + "\"");
            continue;
        }
        try {
            Append(std::make_unique<TDownloadThread>(name, folder, settings_.DelayOnError(),
                                                     settings_.RestoreUpdateInterval(), settings_.BufferSize(),
                                                     settings_.MaxLinkSpeed()));
        } catch (const std::exception& error) {
            ReportError("Task " + name + ": " + error.what());
        }
    }
}

void TaskList::SaveTaskList()
{
    if (!IsOpen()) return;
    ByteWriter writer;
    writer.Byte(ProgramMajorVersion);
    writer.Byte(ProgramMinorVersion);
    writer.Int32(Count());
    for (const auto& entry : entries_) writer.LenString(entry.Worker->TaskName());
    // The file is never shortened: readers stop after Count entries. Errors are not reported.
    PlatformWriteAt(file_, writer.Bytes().data(), writer.Size(), 0);
}

std::string TaskList::NewTaskName() const
{
    return tarn::NewTaskName(settings_.RestorePath(), [this](const std::string& name) {
        return std::any_of(entries_.begin(), entries_.end(),
                           [&](const Entry& entry) { return SameText(entry.Worker->TaskName(), name); });
    });
}

bool TaskList::AddTask(const std::string& source, const std::string& destination, uint8_t initialState,
                       double scheduleTime, int32_t speedLimit, bool copyAttributes, bool copySecurity,
                       bool copyStreams)
{
    std::unique_ptr<TDownloadThread> worker;
    try {
        worker = std::make_unique<TDownloadThread>(
            NewTaskName(), settings_.RestorePath(), source, destination, initialState, scheduleTime,
            settings_.DelayOnError(), settings_.RestoreUpdateInterval(), settings_.BufferSize(),
            settings_.MaxLinkSpeed(), speedLimit, copyAttributes, copySecurity, copyStreams);
    } catch (const std::exception& error) {
        views_.ShowError("\"" + source + "\": " + error.what());
        return false;
    }
    Append(std::move(worker));
    SaveTaskList();
    return true;
}

bool TaskList::RemoveTask(int index)
{
    Entry& entry = entries_[static_cast<size_t>(index)];
    try {
        WriteTaskSummary(settings_, msgs_, *entry.Worker);
    } catch (const std::exception& error) {
        entry.RemovalFailed = true;
        views_.ShowError(error.what());
        return false;
    }
    for (const char* extension : {"var", "con", "log"}) PlatformDeleteFile(entry.Worker->RestoreFilePath(extension));
    views_.RemoveViews(index);
    entries_.erase(entries_.begin() + index);
    SaveTaskList();
    return true;
}

bool TaskList::StopAndRemoveTask(int index)
{
    Task(index).Stop();
    return RemoveTask(index);
}

bool TaskList::DeleteTaskByUser(int index, bool deleteCopiedFiles)
{
    Task(index).DeleteByUser(deleteCopiedFiles);
    return RemoveTask(index);
}

void TaskList::ClearRemovalFailures()
{
    for (auto& entry : entries_) entry.RemovalFailed = false;
}

void TaskList::Move(int from, int to)
{
    const auto first = entries_.begin();
    if (from < to) {
        std::rotate(first + from, first + from + 1, first + to + 1);
    } else {
        std::rotate(first + to, first + from, first + from + 1);
    }
    views_.MoveViews(from, to);
}

void TaskList::CloseFile()
{
    if (file_ != NoHandle) PlatformClose(file_);
    file_ = NoHandle;
}

void TaskList::Close()
{
    const bool owned = IsOpen();
    SaveTaskList();
    CloseFile();
    if (owned && entries_.empty()) PlatformDeleteFile(filePath_);
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) it->Worker->Stop();
    while (!entries_.empty()) {
        entries_.back().Worker->WaitFor();
        views_.RemoveViews(Count() - 1);
        entries_.pop_back();
    }
}

void TaskList::ReopenAfterRestorePathChange()
{
    if (!entries_.empty()) return;
    CloseFile();
    LoadTaskList();
}

}  // namespace tarn
