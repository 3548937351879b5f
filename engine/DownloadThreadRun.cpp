// The worker thread's run: passes over the file list, the item procedure, the chunk loop with
// its throttle, retries, the closing pass and the final step.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>
#include <climits>
#include <cmath>
#include <new>
#include <random>
#include <cstdio>

#include <xxhash.h>

#include "engine/DownloadThread.h"
#include "engine/FileReadAhead.h"
#include "engine/FileStreams.h"
#include "platform/DateTime.h"
#include "platform/ExtendedAttributes.h"
#include "platform/FolderEnumerator.h"
#include "platform/PathBeneath.h"

namespace tarn {
namespace {

constexpr int SliceMilliseconds = 500;
// A speed the views show spans at least the window's tick: one over a chunk's few milliseconds
// would be one the task never kept to.
constexpr double ShownSpeedSeconds = 1.0;
constexpr int ScheduleSliceMilliseconds = 3000;
// Bytes of a file written before the device is asked to start writing them.
constexpr int64_t WriteBackBatch = 8 * 1024 * 1024;
// A source file up to this size keeps its pages in the cache: it is small enough to be worth it.
constexpr int64_t KeepSourceCacheBelow = 64 * 1024 * 1024;
// Files from this size on have the rest of their bytes sent to the device as they are closed.
constexpr int64_t WriteBackAtCloseFrom = 256 * 1024;
// The largest chunk the kernel copies in one call.
constexpr int64_t MaxRangeChunk = 32 * 1024 * 1024;
// Times one item starts over because its source changed while it was copied, before it is
// left out rather than copied for ever.
constexpr int MaxSourceChanges = 3;
// Files of a folder the task made that one record of the task log names before they are made:
// one write for many small files, and little to go through when a restore reads the records.
constexpr size_t ClaimSpan = 64;

// The same file content as far as the system tells: size and modification time.
bool SameFileContent(const FileStatus& a, const FileStatus& b) { return a.size == b.size && a.modified == b.modified; }
bool SameFile(const FileStatus& a, const FileStatus& b) { return a.device == b.device && a.inode == b.inode; }

// Bytes read before a source failed that are copied again and compared with the source: at
// least this much, and all read in the last RecentSeconds.
constexpr int64_t SuspectBytes = 16 * 1024 * 1024;
constexpr auto RecentSeconds = std::chrono::seconds(10);
// Blocks in which suspect regions are compared.
constexpr int64_t CompareBlock = 64 * 1024;
// The largest read of a verification: reads of the buffer's size from a device cost several
// times the system time of reads this big, and a fast disk gives this in a few milliseconds.
constexpr int64_t MaxReadBackChunk = 4 * 1024 * 1024;
// Small copies read back together: their descriptors stay open meanwhile.
constexpr size_t ParkedCopiesAtMost = 64;
// Small files of a share read ahead: helper threads, and at most this many files and bytes
// held; a file's open and read are a few round trips, which eight helpers overlap.
constexpr int ReadAheadHelpers = 8;
constexpr size_t ReadAheadFiles = 16;
constexpr int64_t ReadAheadBytes = 32 << 20;

// Errors that no wait mends: the destination refuses the name, the size, the attribute or the
// kind of item (a stick keeps no links), or cannot be written at all, or the path holds a link.
// Retrying would meet them again and fail the task, with every later file uncopied; the item is
// left out at once instead.
bool IsLastingError(int error)
{
    return error == ErrorLinkInPath || error == ErrorNameRefused || error == EINVAL || error == EILSEQ ||
           error == ENAMETOOLONG || error == EFBIG || error == EROFS || error == EOPNOTSUPP || error == E2BIG ||
           error == EPERM || error == ENOSYS;
}

int64_t SteadyNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool IsCopyRangeRefusal(int error)
{
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EPERM;
}

int32_t ClampSpeed(double bytesPerSecond)
{
    return static_cast<int32_t>(std::min<double>(std::nearbyint(bytesPerSecond), INT32_MAX));
}

}  // namespace

TDownloadThread::BlockingCall::BlockingCall(TDownloadThread& task) : task_(task)
{
    task_.blockedSince_ = SteadyNanoseconds();
}

TDownloadThread::BlockingCall::~BlockingCall()
{
    const int64_t since = task_.blockedSince_.exchange(0);
    // A stall the user was told of gets its end too.
    if (task_.stallReported_.exchange(false))
        task_.AddLogRecord("Inf026", {std::to_string((SteadyNanoseconds() - since) / 1000000000),
                                      task_.GetSource() + task_.GetCurrentDir() + task_.GetCurrentName()});
}

void TDownloadThread::HashStateDeleter::operator()(XXH3_state_s* state) const { XXH3_freeState(state); }

void TDownloadThread::CheckForStall(std::chrono::seconds limit)
{
    const int64_t since = blockedSince_;
    if (since == 0 || SteadyNanoseconds() - since < std::chrono::nanoseconds(limit).count()) return;
    if (stallReported_.exchange(true)) return;
    // The call may have returned meanwhile: then there is no stall to tell of.
    if (blockedSince_ != since) {
        stallReported_ = false;
        return;
    }
    const int64_t seconds = (SteadyNanoseconds() - since) / 1000000000;
    AddLogRecord("Err011", {std::to_string(seconds), GetSource() + GetCurrentDir() + GetCurrentName()});
}

void TDownloadThread::ThreadMain()
{
    bool begun = false;
    for (;;) {
        try {
            if (!begun) {
                begun = true;
                if (!Begin()) break;
            }
            RunPasses();
            break;
        } catch (const TerminateRun&) {
            break;
        } catch (const std::bad_alloc&) {
            FailRun("Not enough memory");
        } catch (const std::exception& error) {
            FailRun(error.what());
        } catch (...) {
            FailRun("An unknown failure");
        }
        if (!AwaitRetry()) break;
    }
    FinalStep();
    {
        std::lock_guard lock(endMutex_);
        ended_ = true;
    }
    endChanged_.notify_all();
}

void TDownloadThread::FailRun(const std::string& reason)
{
    // Retries mend errors of files and folders; memory or a thread that cannot be had is no
    // such error. The task shows Error with the reason rather than a state it is no longer in.
    {
        std::unique_lock lock(lock_);
        state_ = StateError;
    }
    speed_ = 0;
    measuredSpeed_ = 0;
    // The reason first: whoever sees the failed mark finds it logged.
    AddLogRecord("Err005", {reason, GetCurrentName(), GetSource() + GetCurrentDir(), GetDestination() + GetCurrentDir()});
    runFailed_ = true;
}

bool TDownloadThread::AwaitRetry()
{
    // The worker keeps its files and waits in Error until it is started, paused (the queue does
    // that to a failing task), restarted or stopped; then the run goes on where it stopped.
    CloseItemFiles(false);
    SaveRestoreFiles(true, false, true, true);
    for (;;) {
        if (Terminated()) return false;
        if (restartRequest_ || skipRequest_ || ScheduleWanted() || TakeRequest(retryRequest_)) break;
        if (PauseWanted()) {
            try {
                PauseSelf();
            } catch (const TerminateRun&) {
                return false;
            }
            break;
        }
        signal_.Wait();
    }
    runFailed_ = false;
    errorCount_ = 0;
    return true;
}

bool TDownloadThread::TakeRequest(std::atomic<bool>& flag) { return flag.exchange(false); }

bool TDownloadThread::Begin()
{
    measurement_.Restart();
    if (restored_) {
        AddLogRecord("Inf002");
    } else {
        {
            std::unique_lock lock(lock_);
            startTime_ = NowDateTime();
        }
        SaveRestoreFiles(true, true, true, true);
    }
    switch (state_.load()) {
    case StatePaused:
        {
            std::unique_lock lock(lock_);
            stopTime_ = NowDateTime();
        }
        SuspendWhilePaused();
        ResumeCleanTime();
        break;
    case StateScheduled: WaitForSchedule(false); break;
    default: break;
    }
    return !Terminated();
}

void TDownloadThread::RunPasses()
{
    bool finished = state_ == StateFinished;
    for (;;) {
        // A restart is taken whatever the task was doing, also before its first pass.
        if (TakeRequest(restartRequest_)) {
            ResetForRestart();
            SaveRestoreFiles(true, true, true, true);
            AddLogRecord("Inf013");
            if (!scheduleWaiting_) SetState(StateCopying);
            speedChanged_ = true;
            finished = false;
        }
        if (!finished) finished = RunPass();
        if (finished) {
            {
                std::unique_lock lock(lock_);
                stopTime_ = NowDateTime();
            }
            SaveRestoreFiles(true, false, true, true);
            ReleaseFileList();
            {
                std::unique_lock lock(lock_);
                currentName_.clear();
                currentDir_.clear();
            }
            while (!Terminated() && !restartRequest_) signal_.Wait();
        }
        if (Terminated() || !restartRequest_) return;
    }
}

bool TDownloadThread::RunPass()
{
    Checkpoint();
    while (sourceKind_ == SourceUnresolved && !restartRequest_) ResolveSource();
    while (needScan_ && !restartRequest_) {
        rescanRequest_ = false;
        AddLogRecord("Inf003");
        try {
            ScanSource();
        } catch (const ScanInterrupted&) {
            // A new source starts a clean scan of it; a restart starts the task over.
            continue;
        }
        needScan_ = false;
        AddLogRecord("Inf004", {std::to_string(GetFileCount())});
        // The .var says the scan is done before the first file is written: a task that scanned
        // again after a crash would have forgotten which files it wrote.
        SaveRestoreFiles(true, true, true, true);
    }
    if (restartRequest_) return false;

    // The folder the user chose is made as given; the task's own top folder in it is made
    // without following a link standing at its name, which the items then meet (DestRoot).
    ReleaseDestRoot();
    const std::string destination = GetDestination();
    const std::string chosen = HasTopFolder() ? ExtractFilePath(ExcludeTrailingDelimiter(destination)) : destination;
    const bool chosenExisted = DirectoryExists(chosen);
    bool madeTop = false;
    leftOutFolder_.reset();
    freshFolder_.reset();
    for (std::string failed;;) {
        int error = 0;
        if (!ForceDirectories(chosen, failed)) {
            error = errno;
        } else if (!HasTopFolder()) {
            break;
        } else if (PlatformMakeFolder(destination) == 0) {
            madeTop = true;
            break;
        } else {
            error = errno;
            FileStatus top;
            if (error == EEXIST && PlatformLinkStatus(ExcludeTrailingDelimiter(destination), top) == 0 &&
                (top.isFolder || top.isLink))
                break;
            // A file standing where the folder goes leaves EEXIST, which says little; a name
            // refused in a folder that is there may leave ENOENT.
            if (error == EEXIST) error = ENOTDIR;
            if (error == ENOENT && DirectoryExists(chosen)) error = ErrorNameRefused;
            failed = destination;
        }
        skipRequest_ = false;  // no file is being worked on yet
        if (IsLastingError(error)) {
            // A name the destination refuses: every item would meet it.
            AddLogRecord("Err003", {failed, SystemErrorText(error)});
            leftOutFolder_ = "";
            break;
        }
        FolderError(failed, error);
        if (restartRequest_) return false;
    }
    if (HasTopFolder() ? madeTop : !chosenExisted) {
        destinationCreated_ = true;
        unsyncedFiles_ = true;
    }
    if (madeTop) freshFolder_ = "";

    {
        // Small files of a share are opened and read a few at a time while the files before them
        // are written; files reach the destination one by one, in the list's order, as before.
        std::optional<FileReadAhead> ahead;
        if (ReadsAhead(GetSource())) ahead.emplace(ReadAheadHelpers, ReadAheadFiles, ReadAheadBytes);
        readAhead_ = ahead ? &*ahead : nullptr;
        aheadTo_ = 0;
        writeBack_ = std::make_unique<DestinationWriteBack>();
        const struct Forget {
            FileReadAhead*& reader;
            ~Forget() { reader = nullptr; }
        } forget{readAhead_};
        while (static_cast<size_t>(currentIndex_.load()) < items_.size() && !restartRequest_) {
            // A further name of a file links to a copy only once that copy is read back.
            if (items_[static_cast<size_t>(currentIndex_.load())].Kind == KindHardLink) CheckParkedCopies();
            WorkOnItem();
            if (parked_.size() >= ParkedCopiesAtMost) CheckParkedCopies();
        }
        if (!restartRequest_) CheckParkedCopies();
    }
    // A task paused or scheduled while its last file was skipped stays so.
    Checkpoint();

    ClosingPass();
    if (restartRequest_) return false;
    // "Finished" promises that the copied files are on disk.
    while (!FlushWrittenData()) {
        const int error = std::exchange(pendingFlushError_, 0);
        CountError();
        AddLogRecord("Err005", {SystemErrorText(error), "", GetSource(), GetDestination()});
        RetryDelay();
        Checkpoint();
        if (restartRequest_) return false;
    }
    if (options_.VerifyCopies)
        AddLogRecord("Inf028", {std::to_string(filesVerified_.load()), std::to_string(bytesVerified_.load())});
    if (linksOutside_ > 0) AddLogRecord("Inf030", {std::to_string(linksOutside_.load())});
    if (leftOut_ > 0) {
        AddLogRecord("Inf022", {std::to_string(leftOut_.load())});
    } else {
        AddLogRecord("Inf008");
    }
    SetState(StateFinished);
    return true;
}

void TDownloadThread::RetryDelay()
{
    const int32_t delay = delayOnError_;
    AddLogRecord("Inf006", {std::to_string(delay)});
    SetState(StateError);
    SleepInSlices(delay);
}

void TDownloadThread::Checkpoint()
{
    // Where no file is being worked on: a schedule and a pause are kept, a skip waits for one.
    for (;;) {
        if (Terminated()) throw TerminateRun{};
        if (restartRequest_ || !WaitWhileHeld(false)) return;
    }
}

bool TDownloadThread::WaitWhileHeld(bool forItem)
{
    if (ScheduleWanted()) {
        WaitForSchedule(forItem);
        return true;
    }
    if (PauseWanted()) {
        PauseSelf();
        return true;
    }
    return false;
}

bool TDownloadThread::SleepInterrupted() const
{
    return Terminated() || scheduleWaiting_ || skipRequest_ || restartRequest_ || pauseRequest_;
}

void TDownloadThread::SleepInSlices(int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (!SleepInterrupted()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left < 1) return;
        signal_.SleepFor(static_cast<int>(std::min<long long>(left, SliceMilliseconds)));
    }
}

void TDownloadThread::WaitForSchedule(bool forItem)
{
    DiscardReadAhead();
    {
        std::unique_lock lock(lock_);
        if (stopTime_ == 0) stopTime_ = NowDateTime();
    }
    // A wait that goes on after a skip or a restart is the same wait: no second record.
    if (!std::exchange(scheduleResumed_, false)) {
        SetState(StateScheduled);
        AddLogRecord("Inf011", {FormatDateTime(GetScheduleTime())});
    }
    SaveRestoreFiles(true, false, true, true);
    for (;;) {
        if (Terminated()) break;
        {
            // Under the lock: Restart and Skip File end the wait and make their request at once.
            std::shared_lock lock(lock_);
            if (!scheduleWaiting_) break;
            // A restart or skip that leaves the schedule on (a new file source, a skip asked
            // before the task was scheduled) is carried out now, while the task stays
            // scheduled; the caller comes back to the wait.
            if (restartRequest_ || (forItem && skipRequest_)) {
                scheduleResumed_ = true;
                return;
            }
        }
        const double left = (GetScheduleTime() - NowDateTime()) * MillisecondsPerDay;
        if (left <= 0) break;
        signal_.SleepFor(static_cast<int>(std::min<double>(std::ceil(left), ScheduleSliceMilliseconds)));
    }
    SetState(StateCopying);
    ResumeCleanTime();
    if (scheduleWaiting_ && !Terminated()) AddLogRecord("Inf012");
    scheduleWaiting_ = false;
    speedChanged_ = true;
    if (Terminated()) throw TerminateRun{};
}

void TDownloadThread::ResumeCleanTime()
{
    std::unique_lock lock(lock_);
    if (stopTime_ != 0) {
        startTime_ += NowDateTime() - stopTime_;
        stopTime_ = 0;
    }
}

void TDownloadThread::PauseSelf()
{
    pauseRequest_ = false;
    DiscardReadAhead();
    // A pause that goes on after a skip is the same pause: no second record.
    if (std::exchange(holdAfterSkip_, 0) != StatePaused) {
        SetState(StatePaused);
        AddLogRecord("Inf009");
    }
    {
        std::unique_lock lock(lock_);
        stopTime_ = NowDateTime();
    }
    SaveRestoreFiles(true, false, true, true);
    SuspendWhilePaused();
    ResumeCleanTime();
    if (Terminated()) throw TerminateRun{};
}

void TDownloadThread::SuspendWhilePaused()
{
    // Only a request that ends the pause lets the worker go on; a stale wake does not.
    while (!Terminated() && state_ == StatePaused && !restartRequest_ && !skipRequest_ && !scheduleWaiting_)
        signal_.Wait();
    // A skip is carried out at once, and the task stays paused after it.
    if (state_ == StatePaused && skipRequest_ && !restartRequest_ && !scheduleWaiting_) holdAfterSkip_ = StatePaused;
}

std::string TDownloadThread::ItemSourcePath(const TItemAttrs& item) const { return GetSource() + item.Dir + item.Name; }

std::string TDownloadThread::ItemShownPath(const TItemAttrs& item) const
{
    return GetDestination() + item.Dir + item.Name;
}

std::string TDownloadThread::ItemDestPath(const TItemAttrs& item) { return DestRoot() + item.Dir + item.Name; }

bool TDownloadThread::HasTopFolder() const
{
    return sourceKind_ == SourceFolder && !ExtractFileName(ExcludeTrailingDelimiter(GetSource())).empty();
}

// Every call below the destination goes through the root folder held open here, so that the
// root renamed or swapped for a link while the task runs changes nothing: the files still go
// into the folder the task opened. The folder the user chose is followed as given; the top
// folder a task makes in it is the task's own, and a link standing there (before the copy,
// or put there before a resume) is never followed.
const std::string& TDownloadThread::DestRoot()
{
    if (destRoot_ != NoHandle) return destRootPath_;
    const FileHandle root = PlatformOpenFolder(GetDestination(), !HasTopFolder());
    if (root == NoHandle) {
        const int error = errno;
        if (error == ErrorLinkInPath)
            throw OsError(error, SystemErrorText(error) + ": \"" + ExcludeTrailingDelimiter(GetDestination()) + "\"");
        RaiseOsError(error);
    }
    destRoot_ = root;
    destRootPath_ = DescriptorPath(root) + PathDelimiter;
    return destRootPath_;
}

void TDownloadThread::RefreshDestRoot()
{
    // The retry reaches the root as it is by then (one removed and made anew, a share's stale
    // folder), through the same descriptor number, so that paths made before stay good. A root
    // that cannot be opened now keeps the old one: its calls fail, and the retries go on.
    if (destRoot_ == NoHandle) return;
    const FileHandle fresh = PlatformOpenFolder(GetDestination(), !HasTopFolder());
    if (fresh == NoHandle) return;
    PlatformMoveDescriptor(fresh, destRoot_);
}

void TDownloadThread::ReleaseDestRoot()
{
    writeBack_.reset();
    if (destRoot_ != NoHandle) PlatformClose(destRoot_);
    destRoot_ = NoHandle;
    destRootPath_.clear();
}

// ---- The item procedure ----

void TDownloadThread::WorkOnItem()
{
    const size_t index = static_cast<size_t>(currentIndex_.load());
    const TItemAttrs item = items_[index];
    {
        std::unique_lock lock(lock_);
        currentName_ = item.Name;
        currentDir_ = item.Dir;
        currentItem_ = item;
    }
    for (;;) {
        try {
            // The requests first, so that a task paused or scheduled stays so while a skip is
            // carried out.
            if (Terminated()) throw TerminateRun{};
            if (restartRequest_) return;
            if (TakeRequest(skipRequest_)) {
                DiscardReadAhead();
                LogSkipped(ItemSourcePath(item));
                ItemClose(item);
                return;
            }
            if (WaitWhileHeld(true)) continue;
            SetState(StateCopying);
            SaveRestoreFiles(true, false, true, false);
            RaisePendingFlushError();
            // What lies in a folder that could not be made goes with it (the list holds a
            // folder's whole tree right after the folder).
            if (leftOutFolder_ && item.Dir.compare(0, leftOutFolder_->size(), *leftOutFolder_) == 0) {
                LeaveOut(index, "Its folder \"" + GetDestination() + *leftOutFolder_ + "\" could not be made");
                return;
            }
            leftOutFolder_.reset();

            ItemStep step = ItemStep::Done;
            switch (item.Kind) {
            case KindFolder: MakeFolderItem(index); break;
            case KindStream: step = CopyStreamItem(index); break;
            case KindLink:
            case KindSpecial: step = MakeNodeItem(index); break;
            case KindHardLink: step = MakeHardLinkItem(index); break;
            default: step = CopyFileItem(index); break;
            }
            if (step == ItemStep::Done) return;
        } catch (const OsError& error) {
            if (IsLastingError(error.Code())) {
                sourceFailed_ = false;
                destinationFailed_ = false;
                // A partial copy must not stay; nothing is deleted through a link.
                if (error.Code() != ErrorLinkInPath) {
                    try {
                        DropPartialCopy(index);
                    } catch (const OsError&) {
                    }
                }
                if (item.Kind == KindFolder) leftOutFolder_ = item.Dir + item.Name;
                LeaveOut(index, error.what());
                return;
            }
            HandleItemError(items_[index], error.what());
        }
    }
}

void TDownloadThread::MakeFolderItem(size_t index)
{
    const std::string folder = ItemDestPath(items_[index]);
    FileStatus status;
    const bool existed = PlatformLinkStatusBeneath(DestRoot(), folder, status) == 0 && status.isFolder;
    std::string failed;
    while (!ForceDirectoriesBeneath(DestRoot(), folder, failed)) {
        int error = errno;
        FileStatus above;
        if (error == ENOENT && PlatformLinkStatusBeneath(DestRoot(), ExtractFilePath(failed), above) == 0 && above.isFolder)
            error = ErrorNameRefused;  // as a file's name, above
        const std::string shown = GetDestination() + failed.substr(std::min(failed.size(), DestRoot().size()));
        if (IsLastingError(error)) {
            leftOutFolder_ = items_[index].Dir + items_[index].Name;
            LeaveOut(index, SystemErrorText(error) + ": \"" + shown + "\"");
            return;
        }
        FolderError(shown, error);
        if (TakeRequest(skipRequest_)) {
            LogSkipped(ItemSourcePath(items_[index]));
            return ItemClose(items_[index]);
        }
        if (restartRequest_) return;
    }
    if (!existed) {
        itemWrites_[index] = WriteFolder;
        unsyncedFiles_ = true;  // a saved position past the folder must not outlive it
        freshFolder_ = items_[index].Dir + items_[index].Name;
    } else if (options_.CopyStreams) {
        // A folder that was there may have attributes its source lacks. One that cannot be
        // removed is told, and the folder's files are copied all the same.
        try {
            DropStreamsNotInSource(index);
        } catch (const OsError& error) {
            ++infoNotSet_;
            AddLogRecord("Err009", {"^Msg025^", ItemSourcePath(items_[index]),
                                    GetDestination() + items_[index].Dir + items_[index].Name, error.what()});
        }
    }
    itemCopied_[index] = true;
    SetState(StateCopying);
    currentOffset_ = 0;
    ++currentIndex_;
    ForgetErrorsPastTheirPoint();
}

void TDownloadThread::FolderError(const std::string& failed, int error)
{
    CountError();
    AddLogRecord("Err003", {failed, SystemErrorText(error)});
    RetryDelay();
    Checkpoint();
}

TDownloadThread::ItemStep TDownloadThread::CopyStreamItem(size_t index)
{
    const TItemAttrs& item = items_[index];
    // A stream follows its file or folder in the list; that one's name says where the
    // attribute's begins, which may hold any character, colons included.
    size_t owner = index;
    while (owner > 0 && items_[owner].Kind == KindStream) --owner;
    const std::string& file = items_[owner].Name;
    const std::string suffix = ":$DATA";
    if (items_[owner].Kind == KindStream || item.Name.size() < file.size() + 1 + suffix.size() ||
        item.Name.compare(0, file.size() + 1, file + ":") != 0)
        throw OsError(EINVAL, "The item names no stream of a file");
    // A stream belongs to its file or folder: one skipped or left out keeps its own attributes.
    if (!itemCopied_[owner]) {
        ItemClose(item);
        return ItemStep::Done;
    }
    // It moves like a chunk of the file: not while nothing may move, not faster than the limit.
    if (speedLimit_ == 0) {
        signal_.SleepFor(SliceMilliseconds);
        return ItemStep::Again;
    }
    const std::string attribute = item.Name.substr(file.size() + 1, item.Name.size() - file.size() - 1 - suffix.size());
    std::string value;
    if (!GetExtendedAttribute(GetSource() + item.Dir + file, attribute, value)) {
        if (errno == ENOENT && DirectoryExists(GetSource())) {
            LeaveOut(index, "Its file vanished after the scan");
            return ItemStep::Done;
        }
        RaiseOsError(errno);
    }
    const PathBeneath dest(DestRoot(), DestRoot() + item.Dir + file);
    if (!dest.Valid()) RaiseOsError(dest.Error());
    if (!SetExtendedAttribute(dest.Path(), attribute, value, false)) RaiseOsError(errno);
    unsyncedFiles_ = true;
    currentOffset_ = item.Size;
    itemCopied_[index] = true;
    AddLogRecord("Inf007", {item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
    ItemClose(item);
    ThrottleStream(item);
    return ItemStep::Done;
}

void TDownloadThread::ThrottleStream(const TItemAttrs& item)
{
    bytesMeasured_ += item.Size;
    const int32_t limit = speedLimit_;
    if (limit <= 0) return;
    const double wait = (static_cast<double>(bytesMeasured_) - limit * measurement_.Seconds()) / limit * 1000.0;
    if (wait >= 1) SleepInSlices(static_cast<int>(std::min<double>(wait, INT32_MAX)));
}

TDownloadThread::ItemStep TDownloadThread::CopyFileItem(size_t index)
{
    const std::string sourcePath = ItemSourcePath(items_[index]);
    const std::string destPath = ItemDestPath(items_[index]);
    FileOpenOptions options;
    options.regularOnly = true;
    options.noAtime = true;
    options.sequential = items_[index].Size > bufferSize_;
    hashedTo_ = -1;  // a copy that goes on from an offset has not read what lies before it
    FileStatus source;
    {
        BlockingCall call(*this);
        SetLastError(0);
        if (!OpenSource(index, sourcePath, options, source)) return ItemStep::Again;
    }
    if (sourceHandle_ == NoHandle) {
        const int error = errno;
        // A pipe or device would never end or would block the task; it is no file to copy. A
        // file the user may not read stays so however long the task waits.
        if (error == ErrorNotRegularFile || error == EISDIR || error == EACCES || error == EPERM) {
            LeaveOut(index, SystemErrorText(error));
            return ItemStep::Done;
        }
        // A file gone from a source that is still there was deleted, or its folder was; a whole
        // source gone (a share lost) may come back.
        if (error == ENOENT && DirectoryExists(GetSource())) {
            LeaveOut(index, DirectoryExists(GetSource() + items_[index].Dir) ? "The file vanished after the scan"
                                                                             : "Its folder vanished after the scan");
            return ItemStep::Done;
        }
        RaiseOsError(error);
    }
    // The times as they were before this copy read the file.
    if (itemTimes_[index].Modified == 0) itemTimes_[index] = {source.accessed, source.modified};
    switch (OpenDestination(index, source, destPath)) {
    case Opened::Closed: return ItemStep::Done;
    case Opened::Interrupted:
        CloseItemFiles(false);
        return ItemStep::Again;
    case Opened::Ready: break;
    }
    // The file is copied as it is now, whatever size the scan saw.
    SetItemSize(index, currentSource_.size);
    sparseSource_ = currentSource_.allocated < currentSource_.size;
    durableOffset_ = currentOffset_;
    writeBackFrom_ = currentOffset_;
    droppedTo_ = currentOffset_;
    recentOffsets_.clear();
    SetState(StateCopying);

    if (currentSource_.size == 0) {
        CopyUnsized(index);
    } else {
        for (;;) {
            ChunkLoop(index);
            if (currentOffset_ < items_[index].Size) break;  // skipped, vanished, or the task restarts
            // A source written to while it was read gives a mix of old and new bytes: start over.
            if (!SourceUnchanged(index)) {
                if (++sourceChanges_ <= MaxSourceChanges) continue;
                // The copy is neither the old file nor the new one; it must not stay behind.
                DropPartialCopy(index);
                LeaveOut(index, "The file kept changing while it was copied");
                return ItemStep::Done;
            }
            VerifySuspectRegions(index);
            break;
        }
    }
    if (std::exchange(sourceVanished_, false)) {
        DropPartialCopy(index);
        LeaveOut(index, "The file vanished while it was copied");
        return ItemStep::Done;
    }

    const TItemAttrs& item = items_[index];
    const bool whole = currentOffset_ >= item.Size;
    // What the destination kept: a file system may cut a file short without an error. Asked of
    // the open file, which is the copy whatever its name leads to by now.
    FileStatus kept;
    if (whole) {
        if (PlatformStat(destHandle_, kept) != 0) RaiseOsError(errno);
        // Counted as copied only once read back equal; a copy of another size is not read back,
        // the check below leaves it out.
        const bool readBack = options_.VerifyCopies && kept.size == item.Size;
        if (readBack && ParkForReadBack(index)) return ItemStep::Done;
        if (const Verified verified = readBack ? VerifyCopy(index) : Verified::Same; verified != Verified::Same) {
            if (verified == Verified::Differs) {
                AddLogRecord("Err013", {ItemShownPath(item)});
                SetState(StateError);
                CountError();  // before the rewind, so that copying the file again does not forget it
                CopyAgainFromStart(index, currentSource_);
            }
            CloseItemFiles(false);
            if (verified == Verified::Differs) RetryDelay();
            return ItemStep::Again;
        }
        FinishCopy(index, destHandle_, currentSource_, kept);
        // The device starts on the rest of the file while the next ones are copied; tiny files
        // are left to the system, which writes them together.
        if (item.Size >= WriteBackAtCloseFrom && currentOffset_ > writeBackFrom_)
            PlatformStartWriteBack(destHandle_, writeBackFrom_, currentOffset_ - writeBackFrom_);
    }
    {
        BlockingCall call(*this);
        CloseItemFiles(true);
    }
    if (whole) {
        if (kept.size != item.Size) {
            const uint8_t mode = itemWrites_[index];
            FileStatus there;
            if ((mode == WriteNew || mode == WriteOver) && PlatformLinkStatusBeneath(DestRoot(), destPath, there) == 0 &&
                SameFile(there, kept) && PlatformDeleteFileBeneath(DestRoot(), destPath) == 0)
                itemWrites_[index] = WriteNone;
            LeaveOut(index, "The destination kept " + std::to_string(kept.size) + " of its " +
                                std::to_string(item.Size) + " bytes");
            return ItemStep::Done;
        }
        CountCopied(index);
    }
    ItemClose(item);
    return ItemStep::Done;
}

void TDownloadThread::FinishCopy(size_t index, FileHandle copy, const FileStatus& source, const FileStatus& kept)
{
    // Made writable for the owner so that a retry could open it again; now as the source.
    if (itemWrites_[index] == WriteNew && (source.mode & S_IWUSR) == 0 &&
        PlatformSetMode(copy, kept.mode & ~S_IWUSR) != 0)
        RaiseOsError(errno);
    // A file the task did not make may have attributes its source lacks.
    if (options_.CopyStreams && itemWrites_[index] != WriteNew) DropStreamsNotInSource(index);
}

void TDownloadThread::DropStreamsNotInSource(size_t index)
{
    const TItemAttrs& item = items_[index];
    const PathBeneath dest(DestRoot(), ItemDestPath(item));
    if (!dest.Valid()) RaiseOsError(dest.Error());
    TFileStreams::DropStreamsNotIn(ItemSourcePath(item), dest.Path());
}

bool TDownloadThread::DestinationStatus(const std::string& destPath, FileStatus& dest)
{
    BlockingCall call(*this);
    if (PlatformLinkStatusBeneath(DestRoot(), destPath, dest) == 0) return true;
    if (errno != ENOENT) RaiseOsError(errno);
    return false;
}

void TDownloadThread::CountCopied(size_t index)
{
    const TItemAttrs& item = items_[index];
    // A resume may copy again files an earlier run counted: each file counts once.
    if (!itemCopied_[index] && IsFileKind(item.Kind)) {
        ++filesCopied_;
        // A further name made as a link was read back as its first name.
        if (options_.VerifyCopies && item.Kind == KindFile) {
            ++filesVerified_;
            bytesVerified_ += item.Size;
        }
    }
    itemCopied_[index] = true;
    if (item.Link >= 0) sameFileCopies_[item.Link] = index;
    AddLogRecord("Inf007", {item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
}

void TDownloadThread::CopyUnsized(size_t index)
{
    // A file whose size reads 0 may still have contents (/proc, some FUSE file systems): it is
    // read to its end, as it is now.
    if (!buffer_ || bufferCapacity_ < bufferSize_) {
        bufferCapacity_ = bufferSize_;
        buffer_ = PlatformAllocateBuffer(static_cast<size_t>(bufferCapacity_));
    }
    const uint8_t kind = items_[index].Kind;
    for (;;) {
        if (Terminated()) throw TerminateRun{};
        int64_t read = 0;
        {
            BlockingCall call(*this);
            sourceFailed_ = true;
            read = ReadBytes(sourceHandle_, buffer_.get(), bufferCapacity_);
            sourceFailed_ = false;
        }
        if (read == 0) return;
        destinationFailed_ = true;
        WriteBytes(destHandle_, buffer_.get(), read);
        destinationFailed_ = false;
        HashSource(buffer_.get(), read);
        currentOffset_ += read;
        copiedSizes_[kind] += read;
        SetItemSize(index, currentOffset_);
    }
}

void TDownloadThread::DropPartialCopy(size_t index)
{
    // A partial copy must not stand where a copy is expected. A file the user had (upload) is
    // still the start of the source as it was, and stays.
    CloseItemFiles(false);
    const uint8_t mode = itemWrites_[index];
    if ((mode == WriteNew || mode == WriteOver) && PlatformDeleteFileBeneath(DestRoot(), ItemDestPath(items_[index])) == 0)
        itemWrites_[index] = WriteNone;
}

// Opens the current item's destination as the records and the answers say.
TDownloadThread::Opened TDownloadThread::OpenDestination(size_t index, const FileStatus& source,
                                                         const std::string& destPath)
{
    const TItemAttrs item = items_[index];
    const std::string sourcePath = ItemSourcePath(item);
    FileOpenOptions create;
    create.noFollow = true;        // a link put there meanwhile is never written through
    create.beneath = DestRoot();   // nor a link put in place of one of its folders
    // A new file gets the source's permissions less the umask, writable for the owner until done.
    create.mode = (source.mode & 0777) | S_IWUSR;
    const auto createNew = [&] {
        BlockingCall call(*this);
        SetLastError(0);
        destHandle_ = PlatformOpen(destPath, FileAccess::Write, CreationMode::CreateNew, create);
        if (destHandle_ == NoHandle && errno != EEXIST) RaiseDestinationError(errno, destPath);
        if (destHandle_ == NoHandle) return false;
        // Made under a claim: the task's from here on, whatever follows.
        if (itemWrites_[index] == WriteNone) itemWrites_[index] = WriteNew;
        LockDestination();
        if (destNames_ && destNamesDir_ == item.Dir) destNames_->insert(item.Name);
        return true;
    };
    // An existing file, emptied; another's that may not receive the source is replaced.
    const auto openEmptied = [&] {
        if (!OpenDestFile(index, FileAccess::Write, source)) return ReplaceForeignFile(index, source, destPath);
        if (PlatformTruncate(destHandle_, 0) != 0) RaiseOsError(errno);
        return Opened::Ready;
    };
    const auto upload = [&] {
        return UploadFrom(index, source) ? Opened::Ready : ReplaceForeignFile(index, source, destPath);
    };
    // In a folder this pass made, the file is made at once under a claim on the folder's files;
    // only a name someone else took meanwhile leads to the look at what stands there.
    if (InFreshFolder(index)) {
        ClaimNewFiles(index);
        if (createNew()) {
            currentSource_ = source;
            currentSourceKnown_ = true;
            sourceUnrecorded_ = true;
            return Opened::Ready;
        }
        WithdrawClaim(index);
    }
    for (;;) {
        FileStatus dest;
        const bool exists = DestinationStatus(destPath, dest);
        {
            BlockingCall call(*this);
            // The source itself, by its own name, a hard link or a link to it, is never written.
            FileStatus target = dest;
            if (exists && dest.isLink && PlatformStatPath(destPath, target) != 0) target = {};
            if (exists && SameFile(target, source)) {
                LeaveOut(index, "The destination is the source file itself");
                return Opened::Closed;
            }
        }
        if (itemWrites_[index] == WriteClaimed) ResolveClaim(index, exists && dest.isRegular);
        if (exists && !dest.isRegular && !dest.isLink) {
            LeaveOut(index, dest.isFolder ? "A folder of that name is in the destination"
                                          : "The destination of that name is not a regular file");
            return Opened::Closed;
        }
        // A link there is never followed: whatever the answer, the copy takes its place.
        const bool link = exists && dest.isLink;
        const uint8_t written = link ? uint8_t{WriteNone} : itemWrites_[index];
        // Never one file for two items: a file system that folds letter case (a FAT or exFAT
        // stick) opens "Case" for the "case" the task wrote.
        if (exists && !link && written == WriteNone) {
            if (const size_t other = WrittenUnderOtherName(index); other < items_.size()) {
                LeaveOut(index, "The destination's file system takes its name for that of \"" +
                                    ItemSourcePath(items_[other]) + "\", whose copy is there");
                return Opened::Closed;
            }
        }
        if (!exists) {
            if (currentOffset_ > 0) {
                // The half-copied file has gone: copy it again from its start.
                AddLogRecord("Err004", {ItemShownPath(item)});
                copiedSizes_[item.Kind] -= currentOffset_;
                currentOffset_ = 0;
            }
            RecordWrite(index, WriteNew, source);
            if (createNew()) return Opened::Ready;
            // Someone made it meanwhile: it is theirs.
            WithdrawClaim(index);
            continue;
        }
        if (!link && currentOffset_ > 0 && (written == WriteNone || SameFileContent(source, currentSource_)) &&
            currentOffset_ <= source.size) {
            // A resumed item: the bytes before the offset came from this same source, as far as
            // they are still there. The record a restore read it from keeps only its identity:
            // the fresh status brings its mode and allocation back.
            if (!currentSourceKnown_ || SameFileContent(source, currentSource_)) {
                currentSource_ = source;
                currentSourceKnown_ = true;
            }
            if (currentOffset_ > dest.size) {
                copiedSizes_[item.Kind] -= currentOffset_ - dest.size;
                currentOffset_ = dest.size;
            }
            if (!OpenDestFile(index, FileAccess::Write, source)) return ReplaceForeignFile(index, source, destPath);
            SeekFile(destHandle_, 0, currentOffset_);
            SeekFile(sourceHandle_, 0, currentOffset_);
            return Opened::Ready;
        }
        if (written != WriteNone) {
            // The task's own file: no question. A copy the task had begun from an older source
            // starts over; its own upload is checked again.
            if (currentOffset_ > 0) {
                AddLogRecord("Inf024", {sourcePath});
                copiedSizes_[item.Kind] -= currentOffset_;
                currentOffset_ = 0;
            }
            if (written == WriteUpload) return upload();
            RecordWrite(index, written, source);
            return openEmptied();
        }
        AddLogRecord("Inf017", {GetDestination() + item.Dir, item.Name});
        if (!AwaitExistsAnswer()) return Opened::Interrupted;
        switch (existsAnswer_.load()) {
        case AnswerOverwrite:
        case AnswerOverwriteAll:
            AddLogRecord("Inf018", {sourcePath});
            RecordWrite(index, WriteOver, source);
            if (!link) return openEmptied();
            break;
        case AnswerUpload:
        case AnswerUploadAll:
            AddLogRecord("Inf019", {sourcePath});
            if (!link) return upload();
            // Bytes behind a link are not this file's to continue.
            AddLogRecord("Inf023", {sourcePath});
            RecordWrite(index, WriteOver, source);
            break;
        default:
            LogSkipped(sourcePath);
            ItemClose(item);
            return Opened::Closed;
        }
        // The link goes; the file takes its place.
        if (PlatformDeleteFileBeneath(DestRoot(), destPath) != 0 && errno != ENOENT) RaiseOsError(errno);
        if (createNew()) return Opened::Ready;
    }
}

bool TDownloadThread::AwaitExistsAnswer()
{
    if (existsAnswer_ != AnswerAsk && existsAnswer_ <= AnswerSkipAll) return true;
    do {
        waitingForAnswer_ = true;
        // A pause waits for the answer, which is carried out first. Any other request ends the
        // question; the item asks again when it goes on.
        while (waitingForAnswer_ && !Terminated() && !restartRequest_ && !skipRequest_ && !ScheduleWanted())
            signal_.Wait();
        if (waitingForAnswer_.exchange(false)) return false;
    } while (existsAnswer_ == AnswerAsk || existsAnswer_ > AnswerSkipAll);
    speedChanged_ = true;
    return true;
}

size_t TDownloadThread::WrittenUnderOtherName(size_t index)
{
    // Only what the folder's listing lacks stands there under another name. The listing is
    // kept while the items of one folder, which come together, are worked on.
    const TItemAttrs& item = items_[index];
    if (!destNames_ || destNamesDir_ != item.Dir) {
        destNames_.emplace();
        destNamesDir_ = item.Dir;
        FolderEnumerator folder;
        FolderEntry entry;
        if (folder.Open(DestRoot() + item.Dir))
            while (folder.Next(entry)) destNames_->insert(entry.name);
    }
    if (destNames_->count(item.Name)) return items_.size();
    // Letter case folded as ASCII: a stick that also folds other letters goes unnoticed there.
    for (size_t i = index; i-- > 0 && items_[i].Dir == item.Dir;)
        if (items_[i].Kind == KindFile && itemWrites_[i] != WriteNone && SameText(items_[i].Name, item.Name)) return i;
    return items_.size();
}

bool TDownloadThread::OpenDestFile(size_t index, FileAccess access, const FileStatus& source)
{
    FileOpenOptions options;
    options.regularOnly = true;
    options.noFollow = true;
    options.beneath = DestRoot();
    FileStatus dest;
    {
        BlockingCall call(*this);
        SetLastError(0);
        destHandle_ = PlatformOpen(ItemDestPath(items_[index]), access, CreationMode::OpenExisting, options, &dest);
    }
    if (destHandle_ == NoHandle) RaiseOsError(errno);
    // The source's bytes go into someone else's file only where that one may read the source
    // anyway (its owner, or everyone): the file's owner reads what is written into it.
    if (dest.owner == PlatformEffectiveUser() || (dest.owner == source.owner && (source.mode & S_IRUSR)) ||
        (source.mode & S_IROTH)) {
        LockDestination();
        return true;
    }
    foreignOwner_ = dest.owner;
    PlatformClose(destHandle_);
    destHandle_ = NoHandle;
    return false;
}

TDownloadThread::Opened TDownloadThread::ReplaceForeignFile(size_t index, const FileStatus& source,
                                                            const std::string& destPath)
{
    const TItemAttrs& item = items_[index];
    const std::string owner = PlatformUserName(foreignOwner_);
    copiedSizes_[item.Kind] -= currentOffset_;
    currentOffset_ = 0;
    // A new file of the task's, made beside the other's and renamed over it: the name never
    // stands empty, and the other keeps nothing of what is copied.
    FileOpenOptions create;
    create.beneath = DestRoot();
    create.mode = (source.mode & 0777) | S_IWUSR;
    std::random_device random;
    std::string temporary;
    {
        BlockingCall call(*this);
        do {
            char name[32];
            std::snprintf(name, sizeof name, ".tarnwell-%08x", static_cast<unsigned>(random()));
            temporary = ExtractFilePath(destPath) + name;
            destHandle_ = PlatformOpen(temporary, FileAccess::Write, CreationMode::CreateNew, create);
        } while (destHandle_ == NoHandle && errno == EEXIST);
        if (destHandle_ == NoHandle) RaiseOsError(errno);
        LockDestination();
    }
    if (PlatformRenameBeneath(DestRoot(), temporary, destPath) != 0) {
        const int error = errno;
        PlatformClose(destHandle_);
        destHandle_ = NoHandle;
        PlatformDeleteFileBeneath(DestRoot(), temporary);
        if (error != EPERM && error != EACCES) RaiseOsError(error);
        // A sticky folder keeps another's file from being replaced.
        LeaveOut(index, "The file there belongs to " + owner +
                            ", who may not read its source, and the folder does not let it be replaced");
        return Opened::Closed;
    }
    AddLogRecord("Inf025", {ItemShownPath(item), owner});
    RecordWrite(index, WriteNew, source);
    return Opened::Ready;
}

bool TDownloadThread::UploadFrom(size_t index, const FileStatus& source)
{
    const TItemAttrs& item = items_[index];
    RecordWrite(index, WriteUpload, source);
    if (!OpenDestFile(index, FileAccess::ReadWrite, source)) return false;
    FileStatus there;
    if (PlatformStat(destHandle_, there) != 0) RaiseOsError(errno);
    if (there.size == source.size && there.modified == source.modified) {
        // The quick check users know: the same size and time are the same file.
        AddLogRecord("Inf027", {ItemSourcePath(item)});
        currentOffset_ = there.size;
    } else {
        // What is there is kept as far as it is the source's, and the copy goes on from there.
        currentOffset_ = FirstDifference(destHandle_, 0, std::min(there.size, source.size));
        if (currentOffset_ < there.size) {
            AddLogRecord("Inf023", {ItemSourcePath(item)});
            if (PlatformTruncate(destHandle_, currentOffset_) != 0) RaiseOsError(errno);
        }
    }
    copiedSizes_[item.Kind] += currentOffset_;
    SeekFile(destHandle_, 0, currentOffset_);
    SeekFile(sourceHandle_, 0, currentOffset_);
    return true;
}

int64_t TDownloadThread::FirstDifference(FileHandle copy, int64_t from, int64_t to)
{
    std::string wanted(static_cast<size_t>(CompareBlock), '\0');
    std::string there(static_cast<size_t>(CompareBlock), '\0');
    for (int64_t at = from; at < to; at += CompareBlock) {
        if (Terminated()) throw TerminateRun{};
        const size_t count = static_cast<size_t>(std::min(CompareBlock, to - at));
        BlockingCall call(*this);
        sourceFailed_ = true;
        const ssize_t a = PlatformReadAt(sourceHandle_, wanted.data(), count, at);
        if (a < 0) RaiseOsError(errno);
        sourceFailed_ = false;
        const ssize_t b = PlatformReadAt(copy, there.data(), count, at);
        if (b < 0) RaiseOsError(errno);
        const size_t same = static_cast<size_t>(std::min(a, b));
        const auto differ = std::mismatch(wanted.begin(), wanted.begin() + static_cast<std::ptrdiff_t>(same), there.begin());
        if (differ.first != wanted.begin() + static_cast<std::ptrdiff_t>(same) || same < count)
            return at + (differ.first - wanted.begin());
    }
    return to;
}

void TDownloadThread::RaiseDestinationError(int error, const std::string& path)
{
    // Some file systems answer a name they refuse with "no such file" although its folder is
    // there (an exFAT stick does): no wait mends that either.
    FileStatus folder;
    if (error == ENOENT && PlatformLinkStatusBeneath(DestRoot(), ExtractFilePath(path), folder) == 0 && folder.isFolder)
        error = ErrorNameRefused;
    RaiseOsError(error);
}

void TDownloadThread::LockDestination()
{
    if (PlatformLockForWriting(destHandle_) == 0) return;
    const int error = errno;
    PlatformClose(destHandle_);
    destHandle_ = NoHandle;
    if (error == EBUSY) throw OsError(EBUSY, "Another task is writing this file now");
    RaiseOsError(error);
}

void TDownloadThread::RecordWrite(size_t index, uint8_t mode, const FileStatus& source)
{
    // In the task log before the file is touched (with the records made so far), so that a task
    // killed at any moment after it knows the file as its own. A failure leaves the file alone.
    AppendRecord(WriteRecordOf(index, mode, source));
    itemWrites_[index] = mode;
    currentSource_ = source;
    currentSourceKnown_ = true;
    sourceUnrecorded_ = false;
}

TMsg TDownloadThread::WriteRecordOf(size_t index, uint8_t mode, const FileStatus& source)
{
    return {WriteRecordId, NowDateTime(),
            {std::to_string(index), std::to_string(mode), std::to_string(source.size), std::to_string(source.modified)}};
}

void TDownloadThread::AppendRecord(const TMsg& record)
{
    try {
        AppendToLog(EncodeLogRecord(record));
    } catch (const OsError& error) {
        throw OsError(error.Code(), "The task log \"" + RestoreFilePath("log") + "\" cannot be written: " + error.what());
    }
}

bool TDownloadThread::InFreshFolder(size_t index) const
{
    const TItemAttrs& item = items_[index];
    return freshFolder_ && item.Kind == KindFile && item.Dir == *freshFolder_ && itemWrites_[index] == WriteNone &&
           currentOffset_ == 0;
}

void TDownloadThread::ClaimNewFiles(size_t index)
{
    // The files are made in the order of the list, so after a kill the claimed files that stand
    // one after the other from the first on are the task's, and the first missing one ends the
    // claim (ResolveClaim). Only a folder the task made holds none of someone else's files.
    if (index < claimedTo_) return;
    const std::string& dir = items_[index].Dir;
    size_t end = index + 1;
    for (size_t files = 1; end < items_.size() && items_[end].Kind != KindFolder && items_[end].Dir == dir; ++end)
        if (items_[end].Kind == KindFile && ++files > ClaimSpan) break;
    AppendRecord({ClaimRecordId, NowDateTime(), {std::to_string(index), std::to_string(end)}});
    claimedTo_ = end;
}

void TDownloadThread::WithdrawClaim(size_t index)
{
    // A file the log names that the task did not make, or took away again: a record says so, so
    // that whatever stands there (someone else's file) is never taken for the task's, and a
    // claim ends before it. It goes with the next write when this one fails.
    itemWrites_[index] = WriteNone;
    claimedTo_ = 0;
    unloggedRecords_ += EncodeLogRecord(WriteRecordOf(index, WriteNone, {}));
    WriteLogFile();
}

void TDownloadThread::ResolveClaim(size_t index, bool standing)
{
    if (standing) {
        itemWrites_[index] = WriteNew;
        return;
    }
    for (size_t i = index; i < items_.size(); ++i)
        if (itemWrites_[i] == WriteClaimed) itemWrites_[i] = WriteNone;
}

bool TDownloadThread::SourceUnchanged(size_t index)
{
    FileStatus now;
    if (PlatformStat(sourceHandle_, now) != 0) RaiseOsError(errno);
    if (SameFileContent(now, currentSource_)) return true;
    StartItemOver(index, now);
    return false;
}

void TDownloadThread::StartItemOver(size_t index, const FileStatus& source)
{
    AddLogRecord("Inf024", {ItemSourcePath(items_[index])});
    CopyAgainFromStart(index, source);
}

void TDownloadThread::CopyAgainFromStart(size_t index, const FileStatus& source)
{
    const TItemAttrs& item = items_[index];
    // A position kept by an older task log has no record; the file is the task's all the same.
    RecordWrite(index, itemWrites_[index] == WriteNone ? uint8_t{WriteNew} : itemWrites_[index], source);
    DropReadAhead();  // what a helper read is of the file as it was
    if (PlatformTruncate(destHandle_, 0) != 0) RaiseOsError(errno);
    SeekFile(destHandle_, 0, 0);
    SeekFile(sourceHandle_, 0, 0);
    copiedSizes_[item.Kind] -= std::min(currentOffset_, item.Size);
    currentOffset_ = 0;
    durableOffset_ = 0;
    writeBackFrom_ = 0;
    droppedTo_ = 0;
    SetItemSize(index, source.size);
    sparseSource_ = source.allocated < source.size;
}

void TDownloadThread::SetItemSize(size_t index, int64_t size)
{
    TItemAttrs& item = items_[index];
    if (item.Size == size) return;
    totalSizes_[item.Kind] += size - item.Size;
    item.Size = size;
    conUnsaved_ = true;
}

void TDownloadThread::LeaveOut(size_t index, const std::string& reason)
{
    ++leftOut_;
    AddLogRecord("Err010", {ItemSourcePath(items_[index]), reason});
    ItemClose(items_[index]);
}

void TDownloadThread::LogSkipped(const std::string& sourcePath)
{
    ++skipped_;
    AddLogRecord("Inf014", {sourcePath});
}

void TDownloadThread::ResetResultCounts()
{
    leftOut_ = 0;
    filesCopied_ = 0;
    skipped_ = 0;
    infoNotSet_ = 0;
    filesVerified_ = 0;
    bytesVerified_ = 0;
    linksOutside_ = 0;
}

void TDownloadThread::ItemClose(const TItemAttrs& item)
{
    CloseItemFiles(false);
    sourceUnrecorded_ = false;
    if (const size_t index = static_cast<size_t>(currentIndex_.load());
        item.Kind == KindFile && index < claimedTo_ && itemWrites_[index] != WriteNew)
        WithdrawClaim(index);
    copiedSizes_[item.Kind] += item.Size - std::min(item.Size, currentOffset_);
    const uint8_t answer = existsAnswer_;
    if (answer == AnswerOverwrite || answer == AnswerUpload || answer == AnswerSkip) existsAnswer_ = AnswerAsk;
    currentOffset_ = 0;
    durableOffset_ = 0;
    currentSourceKnown_ = false;
    sourceChanges_ = 0;
    ++currentIndex_;
    ForgetErrorsPastTheirPoint();
}

void TDownloadThread::CloseItemFiles(bool raise)
{
    FileHandle source = sourceHandle_;
    FileHandle dest = destHandle_;
    sourceHandle_ = NoHandle;
    destHandle_ = NoHandle;
    DropReadAhead();
    if (dest != NoHandle) {
        unsyncedFiles_ = true;
        if (writeBack_ && destRoot_ != NoHandle) writeBack_->Nudge(destRootPath_);
    }
    if (!raise) {
        if (source != NoHandle) PlatformClose(source);
        if (dest != NoHandle) PlatformClose(dest);
        return;
    }
    // A network file system may report a failed write only when the file is closed, and a
    // dying share a failed read.
    try {
        sourceFailed_ = source != NoHandle;
        CloseFile(source);
        sourceFailed_ = false;
    } catch (...) {
        if (dest != NoHandle) PlatformClose(dest);
        throw;
    }
    destinationFailed_ = dest != NoHandle;
    CloseFile(dest);
    destinationFailed_ = false;
}

bool TDownloadThread::ReopenItemFiles(size_t index)
{
    const TItemAttrs& item = items_[index];
    CloseItemFiles(false);
    BlockingCall call(*this);
    FileOpenOptions options;
    options.regularOnly = true;
    options.noAtime = true;
    options.sequential = true;
    SetLastError(0);
    sourceHandle_ = PlatformOpen(ItemSourcePath(item), FileAccess::Read, CreationMode::OpenExisting, options);
    if (sourceHandle_ == NoHandle) {
        // Deleted from a folder that is still there: the file is gone for good.
        if (errno == ENOENT && DirectoryExists(GetSource())) return false;
        RaiseOsError(errno);
    }
    FileStatus source;
    if (PlatformStat(sourceHandle_, source) != 0) RaiseOsError(errno);
    // Another's file put in place of the copy meanwhile is not written into; the retry replaces it.
    if (!OpenDestFile(index, FileAccess::Write, source))
        throw OsError(EPERM, "The copy was replaced by a file of " + PlatformUserName(foreignOwner_) + " meanwhile");
    SeekFile(sourceHandle_, 0, currentOffset_);
    SeekFile(destHandle_, 0, currentOffset_);
    // `Source` may have changed meanwhile (a new path); the bytes so far must still be its.
    SourceUnchanged(index);
    return true;
}

void TDownloadThread::HandleItemError(const TItemAttrs& item, const std::string& errorText)
{
    // After an error the file is read from its source again: what was read ahead may be part of
    // what failed.
    DropReadAhead();
    SetState(StateError);
    CountError();
    speed_ = 0;
    measuredSpeed_ = 0;
    // A failed read lost nothing of its own, but what the source gave just before may be wrong.
    // A failed write or close may have lost bytes written since the last flush.
    if (sourceFailed_) DistrustRecentSource(item);
    CloseItemFiles(false);
    if (destinationFailed_) RewindToDurable(item);
    destinationFailed_ = false;
    RefreshDestRoot();
    sourceFailed_ = false;
    AddLogRecord("Err005", {errorText, item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
    RetryDelay();
    bytesMeasured_ = 0;
    measurement_.Restart();
}

void TDownloadThread::CountError()
{
    // The count starts again only once the task gets past the place of its last error: a
    // retry that redoes the same bytes and fails there again (a full disk after rewinding to
    // the last flush) keeps counting.
    ++errorCount_;
    errorPoint_ = std::max(errorPoint_, std::make_pair(currentIndex_.load(), currentOffset_));
}

void TDownloadThread::ForgetErrorsPastTheirPoint()
{
    if (errorPoint_.first < 0) return;
    if (std::make_pair(currentIndex_.load(), currentOffset_) <= errorPoint_) return;
    errorCount_ = 0;
    errorPoint_ = {-1, -1};
}

void TDownloadThread::DistrustRecentSource(const TItemAttrs& item)
{
    // A dying share answers with zeros before it reports its end or an error. What it gave in
    // the last while is copied again, and compared with the source before the file counts as
    // copied.
    const int64_t failedAt = currentOffset_;
    int64_t from = std::max<int64_t>(0, failedAt - SuspectBytes);
    if (!recentOffsets_.empty()) from = std::min(from, recentOffsets_.front().second);
    suspect_.emplace_back(from, failedAt);
    copiedSizes_[item.Kind] -= failedAt - from;
    currentOffset_ = from;
    durableOffset_ = std::min(durableOffset_, from);
    RewindWriteBack(from);
    recentOffsets_.clear();
    // The distrusted bytes leave the file, and the position saved says so, so that a resume
    // after a crash cannot keep them.
    if (destHandle_ != NoHandle) {
        PlatformTruncate(destHandle_, from);
    } else if (destRoot_ != NoHandle) {
        FileOpenOptions options;
        options.regularOnly = true;
        options.noFollow = true;
        options.beneath = destRootPath_;
        const FileHandle dest = PlatformOpen(ItemDestPath(item), FileAccess::Write, CreationMode::OpenExisting, options);
        if (dest != NoHandle) {
            PlatformTruncate(dest, from);
            PlatformClose(dest);
        }
    }
    SaveRestoreFiles(true, false, true, true);
}

void TDownloadThread::VerifySuspectRegions(size_t index)
{
    if (suspect_.empty()) return;
    const TItemAttrs& item = items_[index];
    FileOpenOptions options;
    options.regularOnly = true;
    options.noFollow = true;
    options.beneath = DestRoot();
    FileHandle copy = CreateFileChecked(ItemDestPath(item), FileAccess::Read, CreationMode::OpenExisting, options);
    int64_t differsAt = -1;
    try {
        for (size_t region = 0; region < suspect_.size() && differsAt < 0; ++region) {
            const int64_t to = std::min(suspect_[region].second, item.Size);
            if (const int64_t at = FirstDifference(copy, suspect_[region].first, to); at < to) differsAt = at;
        }
    } catch (...) {
        PlatformClose(copy);
        throw;
    }
    PlatformClose(copy);
    if (differsAt < 0) {
        suspect_.clear();
        return;
    }
    // Copied again from there, and compared again after.
    copiedSizes_[item.Kind] -= currentOffset_ - differsAt;
    currentOffset_ = differsAt;
    durableOffset_ = std::min(durableOffset_, differsAt);
    RewindWriteBack(differsAt);
    if (PlatformTruncate(destHandle_, differsAt) != 0) RaiseOsError(errno);
    throw OsError(EIO, "The copy differs from the source after byte " + std::to_string(differsAt) +
                           ", where the source failed before; that part is copied again");
}

void TDownloadThread::NoteProgress()
{
    const auto now = std::chrono::steady_clock::now();
    if (!recentOffsets_.empty() && now - recentOffsets_.back().first < std::chrono::seconds(1)) return;
    recentOffsets_.emplace_back(now, currentOffset_);
    while (now - recentOffsets_.front().first > RecentSeconds) recentOffsets_.pop_front();
}

void TDownloadThread::HashSource(const char* data, int64_t count)
{
    if (!options_.VerifyCopies) return;
    if (currentOffset_ == 0) {
        if (!sourceHash_) sourceHash_.reset(XXH3_createState());
        if (!sourceHash_) throw std::bad_alloc();
        XXH3_128bits_reset(sourceHash_.get());
        hashedTo_ = 0;
    }
    if (hashedTo_ != currentOffset_) {
        hashedTo_ = -1;
        return;
    }
    XXH3_128bits_update(sourceHash_.get(), data, static_cast<size_t>(count));
    hashedTo_ += count;
}

TDownloadThread::Verified TDownloadThread::VerifyCopy(size_t index)
{
    const TItemAttrs& item = items_[index];
    // Read back from the device, not from the pages the copy left in memory: the data goes to
    // the device first, and its pages are dropped before each reading. A small file is only
    // written out, not flushed with the device's cache: a flush a file would cost small copies
    // many times their time, and the task flushes them all before it finishes.
    if (item.Size < WriteBackAtCloseFrom) {
        BlockingCall call(*this);
        PlatformFinishWriteBack(destHandle_, 0, item.Size);
    } else {
        BlockingCall call(*this);
        destinationFailed_ = true;
        if (PlatformDataSync(destHandle_) != 0) RaiseOsError(errno);
        destinationFailed_ = false;
        durableOffset_ = currentOffset_;
    }
    const FileHandle copy = OpenCopyForReadBack(item, destHandle_);
    const struct Close {
        FileHandle handle;
        ~Close() { PlatformClose(handle); }
    } close{copy};
    // About a tenth of a second's reading at the speed the copy went, so that requests are seen
    // as often as while copying.
    const int64_t chunk =
        std::clamp<int64_t>(measuredSpeed_ / 10, bufferSize_, std::max<int64_t>(bufferSize_, MaxReadBackChunk));
    if (!buffer_ || bufferCapacity_ < chunk) {
        bufferCapacity_ = chunk;
        buffer_ = PlatformAllocateBuffer(static_cast<size_t>(bufferCapacity_));
    }
    const HashState copyHash(XXH3_createState());
    // The source is read again unless the copy read all of it in order.
    const bool readSource = hashedTo_ != item.Size;
    const HashState sourceHash(readSource ? XXH3_createState() : nullptr);
    if (!copyHash || (readSource && !sourceHash)) throw std::bad_alloc();
    for (;;) {
        Verified result = HashFile(copy, item.Size, chunk, copyHash.get());
        if (result == Verified::Same && readSource)
            result = HashFile(sourceHandle_, item.Size, chunk, sourceHash.get());
        if (result == Verified::Held) continue;
        if (result == Verified::Interrupted) return result;
        const XXH128_hash_t a = XXH3_128bits_digest(copyHash.get());
        const XXH128_hash_t b = XXH3_128bits_digest(readSource ? sourceHash.get() : sourceHash_.get());
        return XXH128_isEqual(a, b) ? Verified::Same : Verified::Differs;
    }
}

FileHandle TDownloadThread::OpenCopyForReadBack(const TItemAttrs& item, FileHandle written)
{
    FileOpenOptions options;
    options.regularOnly = true;
    options.noFollow = true;
    options.sequential = true;
    options.beneath = DestRoot();
    FileHandle copy = NoHandle;
    {
        BlockingCall call(*this);
        copy = CreateFileChecked(ItemDestPath(item), FileAccess::Read, CreationMode::OpenExisting, options);
    }
    FileStatus writtenStatus;
    FileStatus opened;
    const bool stated = PlatformStat(written, writtenStatus) == 0 && PlatformStat(copy, opened) == 0;
    const int error = errno;
    if (stated && SameFile(writtenStatus, opened)) return copy;
    PlatformClose(copy);
    if (!stated) RaiseOsError(error);
    // Another file put at the copy's name meanwhile says nothing of the copy.
    throw OsError(EIO, "The copy was replaced by another file before it was read back");
}

TDownloadThread::Verified TDownloadThread::HashFile(FileHandle file, int64_t size, int64_t chunk, XXH3_state_s* state,
                                                    bool watchRequests)
{
    PlatformDropCache(file, 0, size);
    XXH3_128bits_reset(state);
    for (int64_t at = 0; at < size;) {
        if (Terminated()) throw TerminateRun{};
        if (watchRequests) {
            if (restartRequest_ || skipRequest_) return Verified::Interrupted;
            // What was read before a pause may have changed during it.
            if (WaitWhileHeld(true)) return Verified::Held;
            SetState(StateCopying);
            SaveRestoreFiles(true, false, true, false);
        }
        ssize_t read = 0;
        {
            BlockingCall call(*this);
            read = PlatformReadAt(file, buffer_.get(), static_cast<size_t>(std::min(chunk, size - at)), at);
        }
        if (read < 0) RaiseOsError(errno);
        if (read == 0) break;  // shorter than it was: the hashes differ
        XXH3_128bits_update(state, buffer_.get(), static_cast<size_t>(read));
        // A big file read back does not push the user's working set out of memory, as its copy did not.
        if (size > KeepSourceCacheBelow) PlatformDropCache(file, at, read);
        at += read;
    }
    return Verified::Same;
}

bool TDownloadThread::ParkForReadBack(size_t index)
{
    const TItemAttrs& item = items_[index];
    // Big copies are read back at once, where their flush is worth its time; a source not hashed
    // whole as it was read is read again by VerifyCopy.
    if (readBackAtOnce_ || item.Size >= WriteBackAtCloseFrom || hashedTo_ != item.Size) return false;
    const XXH128_hash_t hash = XXH3_128bits_digest(sourceHash_.get());
    parked_.reserve(ParkedCopiesAtMost);
    const FileHandle written = std::exchange(destHandle_, NoHandle);
    try {
        BlockingCall call(*this);
        CloseItemFiles(true);
    } catch (...) {
        PlatformClose(written);
        throw;
    }
    unsyncedFiles_ = true;
    // The device starts on it now and has it written by the time the batch is read back.
    PlatformStartWriteBack(written, 0, item.Size);
    parked_.push_back({index, {hash.low64, hash.high64}, currentSource_, written});
    ItemClose(item);
    return true;
}

void TDownloadThread::CheckParkedCopies()
{
    if (parked_.empty()) return;
    {
        BlockingCall call(*this);
        for (const ParkedCopy& copy : parked_) PlatformFinishWriteBack(copy.written, 0, items_[copy.index].Size);
    }
    // Each copy leaves the list only once it is counted or copied again, so that a save of the
    // position meanwhile never passes one that was not read back.
    while (!parked_.empty()) {
        if (Terminated()) throw TerminateRun{};
        if (restartRequest_) return;  // the restart drops them with the rest of the pass
        ParkedCopy copy = parked_.front();
        bool equal = false;
        bool counted = false;
        std::string failure;  // what kept the copy from being read back or finished
        try {
            equal = ParkedCopyEqual(copy.index, copy.written, copy.sourceHash);
            if (equal) {
                FinishParkedCopy(copy.index, copy.written, copy.source);
                counted = true;
            }
        } catch (const OsError& error) {
            failure = error.what();
        }
        parked_.erase(parked_.begin());
        if (!counted) {
            if (copy.written != NoHandle) PlatformClose(copy.written);
            const TItemAttrs& item = items_[copy.index];
            // Either is an error of the file, toward the limit; a failure says what it was, not
            // that the copy differs.
            if (!failure.empty())
                AddLogRecord("Err005", {failure, item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
            else
                AddLogRecord("Err013", {ItemShownPath(item)});
            SetState(StateError);
            CountError();
            RetryDelay();
            CopyParkedAgain(copy.index);
        }
    }
}

bool TDownloadThread::ParkedCopyEqual(size_t index, FileHandle written, const std::pair<uint64_t, uint64_t>& sourceHash)
{
    const TItemAttrs& item = items_[index];
    const FileHandle copy = OpenCopyForReadBack(item, written);
    const struct Close {
        FileHandle handle;
        ~Close() { PlatformClose(handle); }
    } close{copy};
    const HashState copyHash(XXH3_createState());
    if (!copyHash) throw std::bad_alloc();
    HashFile(copy, item.Size, bufferCapacity_, copyHash.get(), false);
    const XXH128_hash_t hash = XXH3_128bits_digest(copyHash.get());
    return hash.low64 == sourceHash.first && hash.high64 == sourceHash.second;
}

void TDownloadThread::FinishParkedCopy(size_t index, FileHandle& written, const FileStatus& source)
{
    FileStatus kept;
    if (PlatformStat(written, kept) != 0) RaiseOsError(errno);
    FinishCopy(index, written, source, kept);
    {
        BlockingCall call(*this);
        CloseFile(written);  // the caller's handle too: a failed close has let it go
    }
    CountCopied(index);
}

void TDownloadThread::CopyParkedAgain(size_t index)
{
    // The file is worked on as the current item once more, then the pass goes on where it was.
    const int32_t next = currentIndex_;
    const std::optional<std::string> leftOutFolder = leftOutFolder_;
    const std::optional<std::string> freshFolder = freshFolder_;
    copiedSizes_[KindFile] -= items_[index].Size;
    currentIndex_ = static_cast<int32_t>(index);
    readBackAtOnce_ = true;
    const struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{readBackAtOnce_};
    WorkOnItem();
    if (restartRequest_) return;
    currentIndex_ = next;
    leftOutFolder_ = leftOutFolder;
    freshFolder_ = freshFolder;
}

void TDownloadThread::DropParkedCopies()
{
    for (const ParkedCopy& copy : parked_) PlatformClose(copy.written);
    parked_.clear();
}

void TDownloadThread::RewindToDurable(const TItemAttrs& item)
{
    // Bytes written after the last flush may be lost with a failing device or share; the
    // retry writes them again.
    if (currentOffset_ <= durableOffset_) return;
    copiedSizes_[item.Kind] -= currentOffset_ - durableOffset_;
    currentOffset_ = durableOffset_;
    RewindWriteBack(currentOffset_);
}

bool TDownloadThread::FlushWrittenData()
{
    // A failure is an error of the current item, raised where the item goes on: it never
    // overrides the pause or the schedule wait whose save met it.
    if (destHandle_ != NoHandle && currentOffset_ > durableOffset_) {
        if (PlatformDataSync(destHandle_) != 0) {
            pendingFlushError_ = errno;
            RewindToDurable(GetCurrentItem());
            reopenRequest_ = true;
            return false;
        }
        durableOffset_ = currentOffset_;
    }
    if (unsyncedFiles_) {
        const std::string root = destRoot_ != NoHandle ? destRootPath_ : GetDestination();
        const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int result = fd < 0 ? -1 : PlatformSyncFileSystem(fd);
        int error = result != 0 ? errno : 0;
        // A page the early flushes failed to write is as lost as one of this flush.
        if (error == 0 && writeBack_) error = writeBack_->TakeError();
        if (fd >= 0) ::close(fd);
        if (error != 0) {
            pendingFlushError_ = error;
            return false;
        }
        unsyncedFiles_ = false;
    }
    return true;
}

void TDownloadThread::RaisePendingFlushError()
{
    if (pendingFlushError_ == 0) return;
    const int error = std::exchange(pendingFlushError_, 0);
    RaiseOsError(error);
}

// ---- The chunk loop ----

int64_t TDownloadThread::ChunkSize(int32_t speed) const
{
    const int32_t limit = speedLimit_;
    if (bufferChanged_ || limit == 0) return 0;
    // Without a limit, while the kernel copies without the buffer, a chunk is about a tenth of
    // a second's worth: few calls, and still the counters, Stop and Pause see every tenth.
    if (limit == INT32_MAX && useCopyRange_) return std::clamp<int64_t>(speed / 10, bufferSize_, MaxRangeChunk);
    return std::min<int64_t>(bufferSize_, std::max<int64_t>(speed, 512));
}

void TDownloadThread::ChunkLoop(size_t index)
{
    bool waitingCycle = false;
    int64_t pendingWait = 0;
    while (currentOffset_ < items_[index].Size) {
        const TItemAttrs& item = items_[index];
        if (Terminated()) throw TerminateRun{};
        if (restartRequest_) return;
        if (TakeRequest(skipRequest_)) {
            DiscardReadAhead();
            LogSkipped(ItemSourcePath(item));
            return;
        }
        if (WaitWhileHeld(true)) continue;
        if (TakeRequest(bufferChanged_)) {
            bufferCapacity_ = bufferSize_;
            buffer_ = PlatformAllocateBuffer(static_cast<size_t>(bufferCapacity_));
            speedChanged_ = true;
        }
        if (TakeRequest(speedChanged_)) {
            bytesMeasured_ = 0;
            measurement_.Restart();
        }
        if (reopenRequest_) CloseItemFiles(false);
        SaveRestoreFiles(true, false, true, false);

        try {
            RaisePendingFlushError();
            // Files closed by an error, a new source path or a failed flush are opened again.
            if (TakeRequest(reopenRequest_) || sourceHandle_ == NoHandle || destHandle_ == NoHandle) {
                if (!ReopenItemFiles(index)) {
                    sourceVanished_ = true;
                    return;
                }
                if (currentOffset_ >= item.Size) continue;
            }
            SetState(StateCopying);
            if (!waitingCycle) {
                pendingWait = 0;
                if (sparseSource_ && SkipHole(index)) continue;
                const int64_t want = std::min(ChunkSize(measuredSpeed_), item.Size - currentOffset_);
                if (want == 0) {
                    // Nothing may move (a limit of 0): idle until a request or a new limit.
                    signal_.SleepFor(SliceMilliseconds);
                } else {
                    const int64_t moved = CopyChunk(want);
                    if (moved == 0) {
                        if (!SourceUnchanged(index)) continue;
                        sourceFailed_ = true;
                        // Its size and time are as before: a connection that died gives nothing
                        // more, where a file that shrank would have changed.
                        throw OsError(EIO, "The source stopped answering at byte " + std::to_string(currentOffset_) +
                                               " of its " + std::to_string(item.Size) + " bytes, its size unchanged");
                    }
                    currentOffset_ += moved;
                    copiedSizes_[item.Kind] += moved;
                    NoteProgress();
                    StartWriteBack();
                    bytesMeasured_ += moved;
                    const int32_t limit = speedLimit_;
                    if (limit > 0) {
                        // The throttle: sleep off what was sent beyond what the limit allows
                        // for the time since the measurement restarted.
                        const double t = measurement_.Seconds();
                        pendingWait = static_cast<int64_t>(
                            std::nearbyint((static_cast<double>(bytesMeasured_) - limit * t) / limit * 1000.0));
                    }
                }
            }
            if (pendingWait > 0) {
                if (pendingWait <= SliceMilliseconds) {
                    waitingCycle = false;
                    signal_.SleepFor(static_cast<int>(pendingWait));
                } else {
                    pendingWait -= SliceMilliseconds;
                    waitingCycle = true;
                    signal_.SleepFor(SliceMilliseconds);
                }
            } else {
                waitingCycle = false;
            }
            const double t = measurement_.Seconds();
            measuredSpeed_ = t > 0 ? ClampSpeed(static_cast<double>(bytesMeasured_) / t) : 0;
            // Shown only once the throttle has slept off the last chunk: before, the chunk
            // counts as moved in less time than the limit gives it.
            if (t >= ShownSpeedSeconds && !waitingCycle) {
                speed_ = measuredSpeed_;
                if (measuredSpeed_ > peakSpeed_) peakSpeed_ = measuredSpeed_;
            }
            ForgetErrorsPastTheirPoint();
        } catch (const OsError& error) {
            if (IsLastingError(error.Code())) throw;  // the item procedure leaves it out
            waitingCycle = false;
            pendingWait = 0;
            HandleItemError(items_[index], error.what());
        }
    }
}

bool TDownloadThread::SkipHole(size_t index)
{
    // A hole of the source stays a hole: the destination's position moves past it unwritten,
    // and a hole at the end is made by setting the file's length.
    const TItemAttrs& item = items_[index];
    const int64_t data = PlatformNextData(sourceHandle_, currentOffset_, item.Size);
    if (data < 0) RaiseOsError(errno);
    if (data <= currentOffset_) return false;
    const int64_t end = std::min(data, item.Size);
    destinationFailed_ = true;
    if (end == item.Size && PlatformTruncate(destHandle_, item.Size) != 0) RaiseOsError(errno);
    destinationFailed_ = false;
    copiedSizes_[item.Kind] += end - currentOffset_;
    currentOffset_ = end;
    SeekFile(sourceHandle_, 0, currentOffset_);
    SeekFile(destHandle_, 0, currentOffset_);
    return true;
}

void TDownloadThread::StartWriteBack()
{
    // The device writes batch n while the copy goes on, so the flushes that make the copy
    // durable find little left to do. Batch n − 1 is waited for and its pages dropped, as are
    // the source's of a big file: a big copy neither piles up dirty pages nor pushes the user's
    // working set out of memory. The waits are no promise of durability; the flushes are.
    if (currentOffset_ - writeBackFrom_ < WriteBackBatch) return;
    BlockingCall call(*this);
    PlatformStartWriteBack(destHandle_, writeBackFrom_, currentOffset_ - writeBackFrom_);
    if (droppedTo_ < writeBackFrom_) {
        PlatformFinishWriteBack(destHandle_, droppedTo_, writeBackFrom_ - droppedTo_);
        PlatformDropCache(destHandle_, droppedTo_, writeBackFrom_ - droppedTo_);
        if (currentSource_.size > KeepSourceCacheBelow) PlatformDropCache(sourceHandle_, droppedTo_, writeBackFrom_ - droppedTo_);
        droppedTo_ = writeBackFrom_;
    }
    writeBackFrom_ = currentOffset_;
}

void TDownloadThread::RewindWriteBack(int64_t to)
{
    // Bytes read again after a rewind need not be those hashed the first time.
    if (to < hashedTo_) hashedTo_ = -1;
    writeBackFrom_ = std::min(writeBackFrom_, to);
    droppedTo_ = std::min(droppedTo_, to);
}

int64_t TDownloadThread::CopyChunk(int64_t count)
{
    if (aheadActive_) return CopyChunkAhead(count);
    if (sparseSource_) {
        // Up to the next hole only, so that the hole is not filled with zeros.
        const int64_t hole = PlatformNextHole(sourceHandle_, currentOffset_, currentOffset_ + count);
        if (hole < 0) RaiseOsError(errno);
        if (hole > currentOffset_) count = hole - currentOffset_;
        SeekFile(sourceHandle_, 0, currentOffset_);  // looking for the hole moved the position
    }
    BlockingCall call(*this);
    // A verified copy reads the source through the buffer, hashing it on the way, rather than
    // read it again after the kernel copied it.
    if (useCopyRange_ && !options_.VerifyCopies) {
        // One call lets the kernel copy on the server or share extents; where it cannot, the
        // copy goes through the buffer from then on.
        const ssize_t n = PlatformCopyRange(sourceHandle_, destHandle_, static_cast<size_t>(count));
        if (n > 0) return n;
        if (n < 0 && !IsCopyRangeRefusal(errno)) {
            // Either side may have failed: both are treated as failed.
            destinationFailed_ = true;
            sourceFailed_ = true;
            RaiseOsError(errno);
        }
        // A refusal, or 0 bytes, which some file systems report when they cannot serve the
        // call: the buffer decides.
        useCopyRange_ = false;
    }
    count = std::min<int64_t>(count, bufferSize_);  // a chunk meant for the kernel's copy
    if (!buffer_ || bufferCapacity_ < count) {
        bufferCapacity_ = std::max<int64_t>(count, bufferSize_);
        buffer_ = PlatformAllocateBuffer(static_cast<size_t>(bufferCapacity_));
    }
    sourceFailed_ = true;
    const int64_t read = ReadBytes(sourceHandle_, buffer_.get(), count);
    sourceFailed_ = false;
    if (read == 0) return 0;
    destinationFailed_ = true;
    const int64_t written = WriteBytes(destHandle_, buffer_.get(), read);
    destinationFailed_ = false;
    HashSource(buffer_.get(), written);
    return written;
}

bool TDownloadThread::OpenSource(size_t index, const std::string& path, const FileOpenOptions& options,
                                 FileStatus& source)
{
    if (readAhead_) {
        AnnounceReadAhead(index);
        ReadAheadFile file;
        switch (readAhead_->Take(index, path, [this] { return SleepInterrupted(); }, file)) {
        case FileReadAhead::Result::Interrupted: return false;
        case FileReadAhead::Result::NotRead: break;
        case FileReadAhead::Result::Taken:
            // What the helper met is met here, as if this open and read had met it.
            if (file.handle == NoHandle) {
                errno = file.openError;
                return true;
            }
            // A file deleted, replaced or changed since the helper opened it is opened again, so
            // that the copy meets it as it is now: left out when it is gone, read anew otherwise.
            if (FileStatus now; PlatformStatPath(path, now) != 0 || !SameFile(now, file.status) ||
                                !SameFileContent(now, file.status) || now.mode != file.status.mode)
                break;
            sourceHandle_ = std::exchange(file.handle, NoHandle);
            source = file.status;
            aheadData_ = std::move(file.data);
            aheadEnd_ = file.endError;
            aheadActive_ = true;
            return true;
        }
    }
    sourceHandle_ = PlatformOpen(path, FileAccess::Read, CreationMode::OpenExisting, options, &source);
    return true;
}

void TDownloadThread::AnnounceReadAhead(size_t index)
{
    aheadTo_ = std::max(aheadTo_, index + 1);
    for (; aheadTo_ < items_.size(); ++aheadTo_) {
        const TItemAttrs& item = items_[aheadTo_];
        if (item.Kind != KindFile || item.Size > ReadAheadFileLimit) continue;
        if (!readAhead_->HasRoom(item.Size)) return;
        readAhead_->Announce(aheadTo_, ItemSourcePath(item), item.Size);
    }
}

int64_t TDownloadThread::CopyChunkAhead(int64_t count)
{
    const int64_t held = static_cast<int64_t>(aheadData_.size());
    if (currentOffset_ >= held) {
        // Where the helper's reading ended, the copy's own read ends once the same way; the
        // file is read from its source after that.
        const int error = aheadEnd_;
        DropReadAhead();
        if (error == 0) return 0;
        sourceFailed_ = true;
        RaiseOsError(error);
    }
    count = std::min(count, held - currentOffset_);
    BlockingCall call(*this);
    destinationFailed_ = true;
    const int64_t written = WriteBytes(destHandle_, aheadData_.data() + currentOffset_, count);
    destinationFailed_ = false;
    HashSource(aheadData_.data() + currentOffset_, written);
    return written;
}

void TDownloadThread::DropReadAhead()
{
    if (!std::exchange(aheadActive_, false)) return;
    aheadData_ = {};
    aheadEnd_ = 0;
    // The helper read at offsets: the source's position is still at its start.
    if (sourceHandle_ != NoHandle) SeekFile(sourceHandle_, 0, currentOffset_);
}

void TDownloadThread::DiscardReadAhead()
{
    if (readAhead_) readAhead_->Discard();
}

// ---- Closing pass, deletion, restart, final step ----

void TDownloadThread::ClosingPass()
{
    // Extended attributes carry no attributes or security of their own; a file skipped or left
    // out keeps its own, so that a stale copy never looks like a current one.
    for (size_t i = 0; i < items_.size(); ++i) {
        const uint8_t kind = items_[i].Kind;
        if (kind == KindFolder || kind == KindStream || !itemCopied_[i]) continue;
        const FileTimes& times = itemTimes_[i];
        CopyItemInfo(ItemSourcePath(items_[i]), items_[i].Dir + items_[i].Name, times.Modified != 0 ? &times : nullptr,
                     kind == KindLink);
    }
    for (auto it = items_.rbegin(); it != items_.rend(); ++it)
        if (it->Kind == KindFolder) CopyItemInfo(ItemSourcePath(*it), it->Dir + it->Name);
    if (sourceKind_ == SourceFolder) CopyItemInfo(GetSource(), "");
}

void TDownloadThread::CopyItemInfo(const std::string& sourcePath, const std::string& relative, const FileTimes* times,
                                   bool link)
{
    if (!options_.CopyAttributes && !options_.CopySecurity) return;
    const std::string destPath = GetDestination() + relative;
    // Every part is set on a descriptor of the item itself, or of a link's folder, reached
    // through the held root without following a link: a name swapped meanwhile cannot lead the
    // calls elsewhere.
    FileHandle held = NoHandle;
    std::optional<PathBeneath> linkAt;
    try {
        if (link) {
            linkAt.emplace(DestRoot(), DestRoot() + relative);
            if (!linkAt->Valid()) RaiseOsError(linkAt->Error());
        } else {
            held = PlatformHoldBeneath(DestRoot(), DestRoot() + relative);
            if (held == NoHandle) {
                if (errno == ENOENT) return;  // nothing to carry over to an item that is not there
                RaiseOsError(errno);
            }
        }
    } catch (const OsError& error) {
        ++infoNotSet_;
        AddLogRecord("Err009", {"^Msg014^", sourcePath, destPath, error.what()});
        return;
    }
    unsyncedFiles_ = true;  // "finished" waits until the changed attributes are on disk
    std::string copied;
    const auto part = [&](const char* reference, const auto& copy) {
        try {
            copy();
            copied += copied.empty() ? reference : std::string(", ") + reference;
            return true;
        } catch (const OsError& error) {
            ++infoNotSet_;
            AddLogRecord("Err009", {reference, sourcePath, destPath, error.what()});
            return false;
        }
    };
    if (linkAt) {
        if (options_.CopyAttributes)
            part("^Msg014^", [&] { CopyLinkTimes(sourcePath, linkAt->Folder(), linkAt->Name(), times); });
        if (options_.CopySecurity) part("^Msg017^", [&] { CopyLinkOwner(sourcePath, linkAt->Folder(), linkAt->Name()); });
    } else if (options_.CopyAttributes) {
        part("^Msg014^", [&] { CopyFileAttributes(sourcePath, held, times); });
    }
    if (options_.CopySecurity && !linkAt) {
        bool owned = part("^Msg016^", [&] { CopyFileSecurity(sourcePath, held, SecurityGroup); });
        owned &= part("^Msg017^", [&] { CopyFileSecurity(sourcePath, held, SecurityOwner); });
        // Auditing lists have no counterpart here: not copied and not reported. The set-id bits
        // go only with the owner and group they were given for.
        part("^Msg015^", [&] { CopyFileSecurity(sourcePath, held, SecurityPermissions, owned); });
    }
    if (held != NoHandle) PlatformClose(held);
    if (!copied.empty()) AddLogRecord("Inf021", {copied, sourcePath, destPath});
}

void TDownloadThread::DeleteCopiedItems()
{
    // Only what this task created or overwrote: a file that existed before and was skipped,
    // resumed or not reached yet belongs to the user. Nothing is deleted through a link put in
    // place of the task's top folder.
    std::string root;
    try {
        root = DestRoot();
    } catch (const OsError&) {
        return;
    }
    for (size_t i = 0; i < items_.size(); ++i) {
        if (itemWrites_[i] == WriteClaimed) {
            FileStatus there;
            ResolveClaim(i, PlatformLinkStatusBeneath(root, ItemDestPath(items_[i]), there) == 0 && there.isRegular);
        }
        if (itemWrites_[i] == WriteNew || itemWrites_[i] == WriteOver)
            PlatformDeleteFileBeneath(root, ItemDestPath(items_[i]));
    }
    for (size_t i = items_.size(); i-- > 0;)
        if (itemWrites_[i] == WriteFolder) PlatformRemoveFolderBeneath(root, ItemDestPath(items_[i]));
    if (sourceKind_ == SourceFolder && destinationCreated_) {
        const std::string top = ExcludeTrailingDelimiter(GetDestination());
        PlatformRemoveFolderBeneath(ExtractFilePath(top), top);
    }
}

void TDownloadThread::ResetForRestart()
{
    {
        std::unique_lock lock(lock_);
        if (sourceKind_ == SourceFile) source_ += sourceFileName_;
        sourceFileName_.clear();
        if (sourceKind_ == SourceFolder)
            destination_ = ExtractFilePath(ExcludeTrailingDelimiter(destination_));
        // A schedule still to come stays: the new pass waits for it.
        if (!scheduleWaiting_) scheduleTime_ = 0;
        currentName_.clear();
        currentDir_.clear();
        startTime_ = NowDateTime();
        stopTime_ = 0;
    }
    sourceKind_ = SourceUnresolved;
    ResetCounters();
    speed_ = 0;
    measuredSpeed_ = 0;
    peakSpeed_ = 0;
    waitingForAnswer_ = false;
    deletedByUser_ = false;
    currentIndex_ = 0;
    currentOffset_ = 0;
    durableOffset_ = 0;
    currentSourceKnown_ = false;
    sourceChanges_ = 0;
    errorPoint_ = {-1, -1};
    ResetResultCounts();
    existsAnswer_ = AnswerOverwriteAll;
    needScan_ = false;
    skipRequest_ = false;
    pauseRequest_ = false;
    holdAfterSkip_ = 0;
    pendingFlushError_ = 0;
    deleteCopiedFiles_ = false;
    errorCount_ = 0;
    items_.clear();
    itemWrites_.clear();
    itemCopied_.clear();
    itemTimes_.clear();
    suspect_.clear();
    sameFileCopies_.clear();
    destNames_.reset();
    leftOutFolder_.reset();
    freshFolder_.reset();
    claimedTo_ = 0;
    sourceUnrecorded_ = false;
    destinationCreated_ = false;
    DropParkedCopies();
    ReleaseDestRoot();
}

void TDownloadThread::FinalStep()
{
    // The offset saved below must be on disk; a failed flush rewinds it.
    if (destHandle_ != NoHandle && currentOffset_ > durableOffset_) {
        if (PlatformDataSync(destHandle_) == 0) {
            durableOffset_ = currentOffset_;
        } else {
            RewindToDurable(GetCurrentItem());
        }
    }
    CloseItemFiles(false);
    // Copies not read back yet are copied again when the task goes on.
    if (!parked_.empty()) {
        currentIndex_ = static_cast<int32_t>(parked_.front().index);
        currentOffset_ = 0;
        durableOffset_ = 0;
    }
    DropParkedCopies();
    if (deleteCopiedFiles_ && state_ != StateFinished) {
        DeleteCopiedItems();
        AddLogRecord("Inf016");
    }
    ReleaseDestRoot();
    SaveRestoreFiles(true, false, true, true);
    SyncLogFile();
    if (logFile_ != NoHandle) PlatformClose(logFile_);
    logFile_ = NoHandle;
    buffer_.reset();
}

}  // namespace tarn
