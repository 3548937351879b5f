#include "tasks/TaskList.h"

#include <malloc.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "core/MessageList.h"
#include "core/ProgramLog.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "engine/RestoreFiles.h"
#include "platform/OwnFolder.h"
#include "tasks/TaskNames.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

constexpr char TaskListFileName[] = "TaskList";
constexpr char LockFileName[] = "TaskList.lock";
constexpr char DamagedFolderName[] = "damaged";
constexpr char DamagedFolderText[] = "The folder of damaged restore files";
constexpr const char* RestoreExtensions[] = {"var", "con", "log"};
// How long the exit waits for all workers together before it leaves stuck ones behind. A stop
// must end at once for the user; a worker cut off in its last save is no worse off than after a
// kill, since its restore files are replaced whole.
constexpr auto CloseWaitLimit = std::chrono::milliseconds(500);

// Present on disk in any form, a dangling link included.
bool Present(const std::string& path)
{
    std::error_code error;
    return fs::exists(fs::symlink_status(path, error));
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

void DeleteRestoreFiles(const std::string& stem)
{
    for (const char* extension : RestoreExtensions) {
        PlatformDeleteFile(stem + "." + extension);
        // A save cut off by a kill leaves its new content beside the file, unused.
        PlatformDeleteFile(stem + "." + extension + ".new");
    }
}

// The form NewTaskName gives: 8 upper-case hexadecimal digits.
bool IsTaskNameForm(const std::string& name)
{
    return name.size() == 8 &&
           std::all_of(name.begin(), name.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The .var is written last as a task is created, and its worker's first record follows it: a
// task without its .var whose log holds no record (only the version bytes, or nothing) was cut
// off while it was created.
bool CutOffWhileCreated(const std::string& stem)
{
    FileStatus log;
    if (Present(stem + ".var")) return false;
    if (PlatformLinkStatus(stem + ".log", log) != 0) return errno == ENOENT;
    return log.isRegular && log.size <= static_cast<int64_t>(LogFileHeader().size());
}

// Workers that did not end in time at exit. One stuck in a call the kernel does not return from
// (a dead network share) cannot be joined, and destroying it would join: it is kept here, never
// destroyed, for the few moments until the process ends.
std::vector<std::unique_ptr<TDownloadThread>>& AbandonedWorkers()
{
    static auto* const workers = new std::vector<std::unique_ptr<TDownloadThread>>;
    return *workers;
}

}  // namespace

TaskList::TaskList(TSettingsStorage& settings, const TMsgList& msgs, TaskListViews& views)
    : settings_(settings), msgs_(msgs), views_(views)
{
}

TaskList::~TaskList() { Close(); }

void TaskList::ReportProblem(const std::string& detail)
{
    ++loadProblems_;
    views_.ShowError(msgs_.GetMsg("Err007") + "\n" + detail);
}

void TaskList::Append(std::unique_ptr<TDownloadThread> worker)
{
    entries_.push_back(Entry{std::move(worker), std::make_unique<SpeedGraphModel>(), ++lastId_, false});
    UpdateRestorePathLock();
    views_.InsertViews(Count() - 1);
}

int TaskList::IndexOf(TaskId id) const
{
    const auto found = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& entry) { return entry.Id == id; });
    return found == entries_.end() ? -1 : static_cast<int>(found - entries_.begin());
}

void TaskList::UpdateRestorePathLock()
{
    const bool listed = !entries_.empty() || !kept_.empty();
    if (listed == restorePathLocked_) return;
    restorePathLocked_ = listed;
    if (listed)
        settings_.LockRestorePath();
    else
        settings_.UnlockRestorePath();
}

int TaskList::UnrestoredCount() const
{
    return static_cast<int>(std::count_if(kept_.begin(), kept_.end(), [](const KeptName& kept) { return !kept.Earlier; }));
}

int TaskList::EarlierKeptCount() const { return static_cast<int>(kept_.size()) - UnrestoredCount(); }

bool TaskList::TakeFolderLock()
{
    // TaskList is replaced by a rename on every save, which would leave a lock on it behind on
    // the old file; the lock file stays put, so its lock owns the folder.
    const std::string path = folder_ + LockFileName;
    try {
        FileOpenOptions options;
        options.lock = FileLock::Exclusive;
        options.noFollow = true;
        options.regularOnly = true;  // a pipe planted there would hold the open for good
        options.mode = 0600;
        lock_ = CreateFileChecked(path, FileAccess::Read, CreationMode::OpenAlways, options);
        return true;
    } catch (const OsError& error) {
        if (error.Code() == EBUSY) {
            ++loadProblems_;
            views_.ShowError("The restore folder " + Quoted(folder_) +
                             " is in use by another program (it holds " + Quoted(path) + ")");
        } else {
            ReportProblem(Quoted(path) + ": " + error.what());
        }
        return false;
    }
}

bool TaskList::FolderIsOwn()
{
    // Whoever can write the folder can plant a task that copies the user's files to them, or a
    // link at damaged/ that moves the user's files where they say: nothing in it is read then.
    std::string why = WhyNotOwnFolder(folder_, "The restore folder");
    const std::string damaged = folder_ + DamagedFolderName;
    if (why.empty() && Present(damaged)) why = WhyNotOwnFolder(damaged, DamagedFolderText);
    if (why.empty()) return true;
    ++loadProblems_;
    views_.ShowError(why);
    return false;
}

void TaskList::ReleaseFolderLock()
{
    if (lock_ != NoHandle) PlatformClose(lock_);
    lock_ = NoHandle;
}

std::string TaskList::MoveToDamaged(const std::string& path, std::string& error) const
{
    const fs::path folder = fs::path(folder_) / DamagedFolderName;
    const std::string name = ExtractFileName(path);
    fs::path target = folder / name;
    const std::string cannot = "it cannot be moved to " + Quoted(folder.string() + "/") + ": ";
    // Made the user's alone; one standing there already must be the user's own, and no link.
    if (PlatformMakeFolder(folder.string(), 0700) != 0 && errno != EEXIST) {
        error = cannot + SystemErrorText(errno);
        return target.string();
    }
    if (const std::string why = WhyNotOwnFolder(folder.string(), DamagedFolderText); !why.empty()) {
        error = cannot + why;
        return target.string();
    }
    // An earlier damaged file of the same name is kept too.
    for (int n = 1; Present(target); ++n) target = folder / (name + "." + std::to_string(n));
    std::error_code code;
    fs::rename(path, target, code);
    if (code) error = cannot + code.message();
    return target.string();
}

std::vector<std::string> TaskList::ReadTaskList()
{
    const std::string path = folder_ + TaskListFileName;
    TaskListContents list;
    try {
        list = ReadTaskListFile(path);  // a link in its place is not followed
    } catch (const OsError& error) {
        if (error.Code() == ENOENT) return {};
        ReportProblem(Quoted(path) + ": " + error.what());
        ReleaseFolderLock();
        return {};
    }
    auto& [names, damage, size] = list;
    listWhole_ = size > 0 && damage.empty();
    if (damage.empty()) return names;

    std::string moveError;
    const std::string moved = MoveToDamaged(path, moveError);
    ReportProblem(Quoted(path) + " " + damage + "; " +
                  (moveError.empty() ? "it was moved to " + Quoted(moved) : moveError));
    // The whole entries it held are all that is left of the list: they are saved at once.
    saveAfterLoad_ = !names.empty();
    return names;
}

void TaskList::LoadEntry(const std::string& name, EarlierTasks earlier)
{
    const std::string after = entries_.empty() ? std::string() : entries_.back().Worker->TaskName();
    if (!IsSafeTaskName(name)) {
        ReportProblem(Quoted(folder_ + TaskListFileName) + ": an invalid task name " + Quoted(name));
        saveAfterLoad_ = true;
        return;
    }
    if (NameTaken(name)) {
        ReportProblem(Quoted(folder_ + TaskListFileName) + " names task " + name + " twice; the second is left out");
        saveAfterLoad_ = true;
        return;
    }
    std::vector<std::string> missing;
    for (const char* extension : RestoreExtensions)
        if (!Present(folder_ + name + "." + extension)) missing.push_back(name + "." + extension);
    if (missing.size() == std::size(RestoreExtensions)) {
        ReportProblem("Task " + name + ": its restore files are missing; it was taken off the list");
        saveAfterLoad_ = true;
        return;
    }
    if (CutOffWhileCreated(folder_ + name)) {
        // Listed first, then its files made: a program that ended in between leaves a task that
        // never ran and wrote nothing. What it made of its files holds nothing to keep.
        DeleteRestoreFiles(folder_ + name);
        ReportProblem("Task " + name + " was being created when the program ended; it never started and was taken "
                      "off the list. Add its source again");
        saveAfterLoad_ = true;
        return;
    }
    if (earlier == EarlierTasks::Keep) {
        kept_.push_back({name, after, true});
        UpdateRestorePathLock();
        return;
    }
    std::string damage;
    if (!missing.empty()) {
        damage = "its restore file " + Quoted(missing.front()) + " is missing";
    } else {
        try {
            Append(std::make_unique<TDownloadThread>(name, folder_, settings_.DelayOnError(),
                                                     settings_.RestoreUpdateInterval(), settings_.BufferSize(),
                                                     settings_.MaxLinkSpeed()));
            return;
        } catch (const DataFileError& error) {
            damage = std::string("its restore files are damaged: ") + error.what();
        } catch (const std::exception& error) {
            // Locked by another program, no permission, a failing disk: the files may be fine
            // at the next start, so the task keeps its place.
            kept_.push_back({name, after, false});
            UpdateRestorePathLock();
            ReportProblem("Task " + name + ": its restore files in " + Quoted(folder_) + " cannot be read: " +
                          error.what() + ". It stays in the list for the next start");
            return;
        }
    }
    std::string moveError;
    for (const char* extension : RestoreExtensions) {
        const std::string path = folder_ + name + "." + extension;
        if (Present(path) && moveError.empty()) MoveToDamaged(path, moveError);
    }
    const std::string damagedFolder = folder_ + DamagedFolderName + "/";
    ReportProblem("Task " + name + ": " + damage + "; " +
                  (moveError.empty() ? "they were moved to " + Quoted(damagedFolder) : moveError));
    saveAfterLoad_ = true;
}

void TaskList::LoadTaskList(EarlierTasks earlier)
{
    folder_ = settings_.RestorePath();
    loadProblems_ = 0;
    saveAfterLoad_ = false;
    kept_.clear();
    UpdateRestorePathLock();
    // Task files name what the user copies from where: a folder made here is the user's alone.
    if (!ForcePrivateDirectories(folder_)) {
        ReportProblem(Quoted(folder_) + ": " + SystemErrorText(errno));
        return;
    }
    if (!FolderIsOwn()) return;
    if (!TakeFolderLock()) return;
    listWhole_ = false;
    for (const auto& name : ReadTaskList()) LoadEntry(name, earlier);
    if (saveAfterLoad_) SaveTaskList();
    if (listWhole_ && IsOpen()) RemoveLeftovers();
}

void TaskList::RemoveLeftovers()
{
    // A task leaves TaskList before its files are deleted, and is listed before they are made:
    // beside a whole TaskList, the files of a task it does not name are what a kill during a
    // removal left behind. A damaged or missing TaskList may have lost names, so it clears nothing.
    std::error_code code;
    for (const auto& entry : fs::directory_iterator(folder_, code)) {
        const std::string file = entry.path().filename();
        const std::string name = file.substr(0, 8);
        const std::string extension = file.size() > 9 && file[8] == '.' ? file.substr(9) : std::string();
        const bool taskFile = std::any_of(std::begin(RestoreExtensions), std::end(RestoreExtensions),
                                          [&](const char* known) {
                                              return extension == known || extension == std::string(known) + ".new";
                                          });
        if (taskFile && IsTaskNameForm(name) && !NameTaken(name)) PlatformDeleteFile(folder_ + file);
    }
}

void TaskList::SaveTaskList()
{
    if (!IsOpen()) return;
    std::vector<std::string> names;
    const auto addKeptAfter = [&](const std::string& after) {
        for (const auto& kept : kept_)
            if (kept.After == after) names.push_back(kept.Name);
    };
    addKeptAfter({});
    for (const auto& entry : entries_) {
        names.push_back(entry.Worker->TaskName());
        addKeptAfter(entry.Worker->TaskName());
    }
    const std::string bytes = EncodeTaskList(names);
    // A new file renamed over the old: a crash leaves the old list or the new one, never a mix.
    // Errors are not reported; the next save tries again.
    PlatformReplaceFile(folder_ + TaskListFileName, bytes.data(), bytes.size(), 0600);
}

bool TaskList::NameTaken(const std::string& name) const
{
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& entry) { return SameText(entry.Worker->TaskName(), name); }) ||
           std::any_of(kept_.begin(), kept_.end(), [&](const KeptName& kept) { return SameText(kept.Name, name); });
}

std::string TaskList::NewTaskName() const
{
    return tarn::NewTaskName(settings_.RestorePath(), [this](const std::string& name) { return NameTaken(name); });
}

bool TaskList::AddTask(const std::string& source, const std::string& destination, uint8_t initialState,
                       double scheduleTime, int32_t speedLimit, const CopyOptions& options)
{
    if (!IsOpen()) {
        // Its worker would copy, but no list would know the task at the next start.
        views_.ShowError("The task list cannot be written: the restore folder " + Quoted(settings_.RestorePath()) +
                         " is not in use by this program; the task for " + Quoted(source) + " was not created");
        return false;
    }
    // TaskList names the task before its worker starts: a worker may write to the destination
    // at once, and a crash must not leave files of a task no list knows.
    const std::string name = NewTaskName();
    kept_.push_back({name, entries_.empty() ? std::string() : entries_.back().Worker->TaskName(), false});
    UpdateRestorePathLock();
    SaveTaskList();
    std::unique_ptr<TDownloadThread> worker;
    try {
        // Absolute, so that a restart from another folder copies the same files.
        worker = std::make_unique<TDownloadThread>(
            name, settings_.RestorePath(), AbsolutePath(source), AbsolutePath(destination), initialState,
            scheduleTime, settings_.DelayOnError(), settings_.RestoreUpdateInterval(), settings_.BufferSize(),
            settings_.MaxLinkSpeed(), speedLimit, options);
    } catch (const std::exception& error) {
        kept_.pop_back();
        UpdateRestorePathLock();
        SaveTaskList();
        views_.ShowError(Quoted(source) + ": " + error.what());
        return false;
    }
    kept_.pop_back();
    Append(std::move(worker));  // TaskList already says so
    return true;
}

bool TaskList::RemoveTask(int index, Removal removal)
{
    Entry& entry = entries_[static_cast<size_t>(index)];
    std::string summaryError;
    try {
        WriteTaskSummary(settings_, msgs_, *entry.Worker);
    } catch (const std::exception& error) {
        if (removal == Removal::Automatic) {
            entry.RemovalFailed = true;
            views_.ShowError(error.what());
            return false;
        }
        // The user's delete has stopped the worker and may have deleted its copies: a task kept
        // now would resume at its saved position at the next start, without those files.
        summaryError = "Task " + entry.Worker->TaskName() + " (" + Quoted(entry.Worker->GetSource()) +
                       ") was deleted without its summary in the program log " + Quoted(settings_.LogFile()) +
                       ": " + error.what();
    }
    std::unique_ptr<TDownloadThread> worker = std::move(entry.Worker);
    const std::string before = index > 0 ? Task(index - 1).TaskName() : std::string();
    for (auto& kept : kept_)
        if (kept.After == worker->TaskName()) kept.After = before;
    views_.RemoveViews(index);
    entries_.erase(entries_.begin() + index);
    UpdateRestorePathLock();
    // TaskList first: a crash before the files are gone leaves stray files, never a listed task
    // without them.
    SaveTaskList();
    const std::string stem = folder_ + worker->TaskName();
    worker.reset();
    DeleteRestoreFiles(stem);
    // A task of many files leaves much freed memory in the allocator's arenas, which glibc keeps
    // for later use; it is given back now, when the program has shrunk for good.
    malloc_trim(0);
    // Shown only now, with the list whole again.
    if (!summaryError.empty()) views_.ShowError(summaryError);
    return true;
}

bool TaskList::StopAndRemoveTask(int index, Removal removal)
{
    Task(index).Stop();
    return RemoveTask(index, removal);
}

bool TaskList::DeleteTaskByUser(int index, bool deleteCopiedFiles)
{
    Task(index).DeleteByUser(deleteCopiedFiles);
    return RemoveTask(index, Removal::Confirmed);
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

void TaskList::Close()
{
    const bool nothingListed = entries_.empty() && kept_.empty();
    SaveTaskList();
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) it->Worker->Stop();
    const auto deadline = std::chrono::steady_clock::now() + CloseWaitLimit;
    while (!entries_.empty()) {
        std::unique_ptr<TDownloadThread>& worker = entries_.back().Worker;
        const auto left = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       deadline - std::chrono::steady_clock::now()),
                                   std::chrono::milliseconds(0));
        if (!worker->WaitFor(left)) AbandonedWorkers().push_back(std::move(worker));
        views_.RemoveViews(Count() - 1);
        entries_.pop_back();
    }
    if (IsOpen() && nothingListed) PlatformDeleteFile(folder_ + TaskListFileName);
    kept_.clear();
    UpdateRestorePathLock();
    // Only now: a second program must not take the folder while a worker still writes to it.
    ReleaseFolderLock();
}

void TaskList::ReopenAfterRestorePathChange()
{
    if (!entries_.empty()) return;
    Close();
    LoadTaskList();
}

}  // namespace tarn
