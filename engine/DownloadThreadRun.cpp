// The worker thread's run: passes over the file list, the item procedure, the chunk loop with
// its throttle, retries, the closing pass and the final step.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>

#include "engine/DownloadThread.h"
#include "engine/FileStreams.h"
#include "platform/DateTime.h"
#include "platform/ExtendedAttributes.h"

namespace tarn {
namespace {

constexpr int SliceMilliseconds = 500;
constexpr int ScheduleSliceMilliseconds = 3000;
// Bytes of a file written before the device is asked to start writing them.
constexpr int64_t WriteBackBatch = 8 * 1024 * 1024;

bool IsCopyRangeRefusal(int error)
{
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP || error == EPERM;
}

int32_t ClampSpeed(double bytesPerSecond)
{
    return static_cast<int32_t>(std::min<double>(std::nearbyint(bytesPerSecond), INT32_MAX));
}

}  // namespace

void TDownloadThread::ThreadMain()
{
    try {
        Run();
    } catch (const TerminateRun&) {
    } catch (const std::exception& error) {
        FailRun(error.what());
    } catch (...) {
        FailRun("An unknown failure");
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
    runFailed_ = true;
    AddLogRecord("Err005", {reason, GetCurrentName(), GetSource() + GetCurrentDir(), GetDestination() + GetCurrentDir()});
}

bool TDownloadThread::TakeRequest(std::atomic<bool>& flag) { return flag.exchange(false); }

void TDownloadThread::Run()
{
    measurement_.Restart();
    if (restored_) {
        AddLogRecord("Inf002");
    } else {
        {
            std::unique_lock lock(lock_);
            startTime_ = NowDateTime();
        }
        AddLogRecord("Inf001");
        SaveRestoreFiles(true, true, true, true);
    }

    bool finished = false;
    switch (state_.load()) {
    case StatePaused:
        {
            std::unique_lock lock(lock_);
            stopTime_ = NowDateTime();
        }
        SuspendWhilePaused();
        ResumeCleanTime();
        break;
    case StateScheduled: WaitForSchedule(); break;
    case StateFinished: finished = true; break;
    default: break;
    }
    if (Terminated()) return;

    for (;;) {
        if (!finished) finished = RunPass();
        if (finished) {
            {
                std::unique_lock lock(lock_);
                stopTime_ = NowDateTime();
            }
            SaveRestoreFiles(true, false, true, true);
            {
                std::unique_lock lock(lock_);
                currentName_.clear();
                currentDir_.clear();
            }
            while (!Terminated() && !restartRequest_) signal_.Wait();
        }
        if (!restartRequest_) return;
        ResetForRestart();
        SaveRestoreFiles(true, true, true, true);
        AddLogRecord("Inf013");
        speedChanged_ = true;
        finished = false;
    }
}

bool TDownloadThread::RunPass()
{
    restartRequest_ = false;
    while (sourceKind_ == SourceUnresolved && !restartRequest_) ResolveSource();
    if (needScan_ && !restartRequest_) {
        AddLogRecord("Inf003");
        ScanSource();
        SaveRestoreFiles(false, true, false, true);
        needScan_ = false;
        AddLogRecord("Inf004", {std::to_string(counts_[KindFile].load())});
    }

    const std::string destination = GetDestination();
    const bool rootExisted = DirectoryExists(destination);
    while (!ForceDirectories(destination)) {
        AddLogRecord("Err003", {destination});
        RetryDelay();
        Checkpoint();
    }
    if (!rootExisted) destinationCreated_ = true;

    while (static_cast<size_t>(currentIndex_.load()) < items_.size() && !restartRequest_) WorkOnItem();

    ClosingPass();
    if (restartRequest_) return false;
    // "Finished" promises that the copied files are on disk.
    while (!FlushWrittenData()) {
        RetryDelay();
        Checkpoint();
    }
    AddLogRecord("Inf008");
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
    if (Terminated()) throw TerminateRun{};
    if (scheduleWaiting_) WaitForSchedule();
    if (pauseRequest_) PauseSelf();
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

void TDownloadThread::WaitForSchedule()
{
    {
        std::unique_lock lock(lock_);
        if (stopTime_ == 0) stopTime_ = NowDateTime();
    }
    SetState(StateScheduled);
    AddLogRecord("Inf011", {FormatDateTime(GetScheduleTime())});
    SaveRestoreFiles(true, false, true, true);
    for (;;) {
        if (!scheduleWaiting_ || Terminated()) break;
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
    SetState(StatePaused);
    {
        std::unique_lock lock(lock_);
        stopTime_ = NowDateTime();
    }
    AddLogRecord("Inf009");
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
}

std::string TDownloadThread::ItemSourcePath(const TItemAttrs& item) const { return GetSource() + item.Dir + item.Name; }

std::string TDownloadThread::ItemDestPath(const TItemAttrs& item) const
{
    return GetDestination() + item.Dir + item.Name;
}

// ---- The item procedure ----

void TDownloadThread::WorkOnItem()
{
    const size_t index = static_cast<size_t>(currentIndex_.load());
    const TItemAttrs item = items_[index];
    for (;;) {
        try {
            SetState(StateCopying);
            {
                std::unique_lock lock(lock_);
                currentName_ = item.Name;
                currentDir_ = item.Dir;
                currentItem_ = item;
            }
            if (Terminated()) throw TerminateRun{};
            if (scheduleWaiting_) WaitForSchedule();
            if (TakeRequest(skipRequest_)) {
                AddLogRecord("Inf014", {ItemSourcePath(item)});
                ItemClose(item);
                return;
            }
            if (restartRequest_) return;
            if (pauseRequest_) PauseSelf();
            SaveRestoreFiles(true, false, true, false);

            if (item.Kind == KindFolder) {
                const std::string folder = ItemDestPath(item);
                const bool existed = DirectoryExists(folder);
                while (!ForceDirectories(folder)) {
                    AddLogRecord("Err003", {GetDestination() + item.Dir});
                    RetryDelay();
                    Checkpoint();
                }
                if (!existed) writtenByTask_[index] = true;
                SetState(StateCopying);
                currentOffset_ = 0;
                ++currentIndex_;
                return;
            }
            if (item.Kind == KindStream) {
                CopyStreamItem(item);
            } else {
                CopyFileItem(item);
            }
            return;
        } catch (const OsError& error) {
            HandleItemError(item, error.what());
        }
    }
}

void TDownloadThread::CopyStreamItem(const TItemAttrs& item)
{
    std::string sourceFile;
    std::string destFile;
    std::string attribute;
    std::string ignored;
    if (!TFileStreams::SplitStreamPath(ItemSourcePath(item), sourceFile, attribute) ||
        !TFileStreams::SplitStreamPath(ItemDestPath(item), destFile, ignored))
        throw OsError(EINVAL, "The item names no stream");
    std::string value;
    if (!GetExtendedAttribute(sourceFile, attribute, value)) RaiseOsError(errno);
    if (!SetExtendedAttribute(destFile, attribute, value)) RaiseOsError(errno);
    currentOffset_ = item.Size;
    AddLogRecord("Inf007", {item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
    ItemClose(item);
}

void TDownloadThread::CopyFileItem(const TItemAttrs& item)
{
    const std::string sourcePath = ItemSourcePath(item);
    const std::string destPath = ItemDestPath(item);
    const size_t index = static_cast<size_t>(currentIndex_.load());
    FileOpenOptions sequential;
    // The read-ahead hint pays only for a file of more than one chunk.
    sequential.sequential = item.Size > bufferSize_;

    sourceHandle_ = CreateFileChecked(sourcePath, FileAccess::Read, CreationMode::OpenExisting, sequential);
    bool exists = false;
    if (currentOffset_ == 0 && !currentItemCreated_) {
        // Most destination files are new: creating one answers at once whether it existed.
        SetLastError(0);
        const FileHandle created = PlatformOpen(destPath, FileAccess::Write, CreationMode::CreateNew, sequential);
        if (created != NoHandle) {
            destHandle_ = created;
            currentItemCreated_ = true;
        } else if (GetLastError() == EEXIST) {
            exists = FileExists(destPath);  // a folder of that name is no file: the create below reports it
        } else {
            CheckOSError();
        }
    } else {
        exists = FileExists(destPath);
    }
    if (destHandle_ != NoHandle) {
        // Created above.
    } else if (exists && currentOffset_ == 0 && currentItemCreated_) {
        // Our own file from an earlier attempt at this item: no question, start it over.
        destHandle_ = CreateFileChecked(destPath, FileAccess::Write, CreationMode::TruncateExisting, sequential);
    } else if (exists && currentOffset_ == 0) {
        AddLogRecord("Inf017", {GetDestination() + item.Dir, item.Name});
        if (existsAnswer_ == AnswerAsk || existsAnswer_ > AnswerSkipAll) {
            do {
                waitingForAnswer_ = true;
                while (waitingForAnswer_ && !Terminated()) signal_.Wait();
                if (Terminated()) throw TerminateRun{};
            } while (existsAnswer_ == AnswerAsk || existsAnswer_ > AnswerSkipAll);
            speedChanged_ = true;
        }
        switch (existsAnswer_.load()) {
        case AnswerOverwrite:
        case AnswerOverwriteAll:
            destHandle_ = CreateFileChecked(destPath, FileAccess::Write, CreationMode::TruncateExisting, sequential);
            currentItemCreated_ = true;
            AddLogRecord("Inf018", {sourcePath});
            break;
        case AnswerUpload:
        case AnswerUploadAll: {
            destHandle_ = CreateFileChecked(destPath, FileAccess::Write, CreationMode::OpenExisting, sequential);
            const int64_t size = SeekFile(destHandle_, 2, 0);
            currentOffset_ = std::min(item.Size, size);
            SeekFile(sourceHandle_, 0, currentOffset_);
            copiedSizes_[item.Kind] += currentOffset_;
            AddLogRecord("Inf019", {sourcePath});
            break;
        }
        default:
            AddLogRecord("Inf014", {sourcePath});
            ItemClose(item);
            return;
        }
    } else if (exists) {
        destHandle_ = CreateFileChecked(destPath, FileAccess::Write, CreationMode::OpenExisting, sequential);
        SeekFile(destHandle_, 0, currentOffset_);
        SeekFile(sourceHandle_, 0, currentOffset_);
    } else {
        destHandle_ = CreateFileChecked(destPath, FileAccess::Write, CreationMode::CreateNew, sequential);
        currentItemCreated_ = true;
        if (currentOffset_ > 0) {
            AddLogRecord("Err004", {destPath});
            copiedSizes_[item.Kind] -= currentOffset_;
            currentOffset_ = 0;
        }
    }
    if (currentItemCreated_) writtenByTask_[index] = true;
    durableOffset_ = currentOffset_;
    writeBackFrom_ = currentOffset_;
    SetState(StateCopying);

    ChunkLoop(item);

    CloseItemFiles(true);
    if (currentOffset_ >= item.Size) AddLogRecord("Inf007", {item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
    ItemClose(item);
}

void TDownloadThread::ItemClose(const TItemAttrs& item)
{
    CloseItemFiles(false);
    copiedSizes_[item.Kind] += item.Size - std::min(item.Size, currentOffset_);
    const uint8_t answer = existsAnswer_;
    if (answer == AnswerOverwrite || answer == AnswerUpload || answer == AnswerSkip) existsAnswer_ = AnswerAsk;
    currentOffset_ = 0;
    durableOffset_ = 0;
    currentItemCreated_ = false;
    ++currentIndex_;
}

void TDownloadThread::CloseItemFiles(bool raise)
{
    FileHandle source = sourceHandle_;
    FileHandle dest = destHandle_;
    sourceHandle_ = NoHandle;
    destHandle_ = NoHandle;
    if (dest != NoHandle) unsyncedFiles_ = true;
    if (!raise) {
        if (source != NoHandle) PlatformClose(source);
        if (dest != NoHandle) PlatformClose(dest);
        return;
    }
    // A network file system may report a failed write only when the file is closed.
    try {
        CloseFile(source);
    } catch (...) {
        if (dest != NoHandle) PlatformClose(dest);
        throw;
    }
    destinationFailed_ = dest != NoHandle;
    CloseFile(dest);
    destinationFailed_ = false;
}

void TDownloadThread::HandleItemError(const TItemAttrs& item, const std::string& errorText)
{
    SetState(StateError);
    ++errorCount_;
    speed_ = 0;
    CloseItemFiles(false);
    // A failed write or close may have lost bytes written since the last flush; a failed read
    // lost nothing, and rewinding then would throw progress away on every retry.
    if (destinationFailed_) RewindToDurable(item);
    destinationFailed_ = false;
    AddLogRecord("Err005", {errorText, item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
    RetryDelay();
    bytesMeasured_ = 0;
    measurement_.Restart();
}

void TDownloadThread::RewindToDurable(const TItemAttrs& item)
{
    // Bytes written after the last flush may be lost with a failing device or share; the
    // retry writes them again.
    if (currentOffset_ <= durableOffset_) return;
    copiedSizes_[item.Kind] -= currentOffset_ - durableOffset_;
    currentOffset_ = durableOffset_;
    writeBackFrom_ = std::min(writeBackFrom_, currentOffset_);
}

bool TDownloadThread::FlushWrittenData()
{
    if (destHandle_ != NoHandle && currentOffset_ > durableOffset_) {
        if (PlatformDataSync(destHandle_) != 0) {
            const int error = errno;
            const TItemAttrs item = GetCurrentItem();
            RewindToDurable(item);
            reopenRequest_ = true;
            ReportFlushError(error, item);
            return false;
        }
        durableOffset_ = currentOffset_;
    }
    if (unsyncedFiles_) {
        const int fd = ::open(GetDestination().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int result = fd < 0 ? -1 : PlatformSyncFileSystem(fd);
        const int error = errno;
        if (fd >= 0) ::close(fd);
        if (result != 0) {
            ReportFlushError(error, GetCurrentItem());
            return false;
        }
        unsyncedFiles_ = false;
    }
    return true;
}

void TDownloadThread::ReportFlushError(int error, const TItemAttrs& item)
{
    SetState(StateError);
    ++errorCount_;
    AddLogRecord("Err005", {SystemErrorText(error), item.Name, GetSource() + item.Dir, GetDestination() + item.Dir});
}

// ---- The chunk loop ----

int64_t TDownloadThread::ChunkSize(int32_t speed) const
{
    if (bufferChanged_ || speedLimit_ == 0) return 0;
    return std::min<int64_t>(bufferSize_, std::max<int64_t>(speed, 512));
}

void TDownloadThread::ChunkLoop(const TItemAttrs& item)
{
    bool waitingCycle = false;
    int64_t pendingWait = 0;
    while (currentOffset_ < item.Size) {
        if (Terminated()) throw TerminateRun{};
        if (restartRequest_) return;
        if (scheduleWaiting_) WaitForSchedule();
        if (pauseRequest_) PauseSelf();
        if (TakeRequest(skipRequest_)) {
            AddLogRecord("Inf014", {ItemSourcePath(item)});
            return;
        }
        if (TakeRequest(bufferChanged_)) {
            bufferCapacity_ = bufferSize_;
            buffer_ = std::make_unique<char[]>(static_cast<size_t>(bufferCapacity_));
            speedChanged_ = true;
        }
        if (TakeRequest(speedChanged_)) {
            bytesMeasured_ = 0;
            measurement_.Restart();
        }
        if (reopenRequest_) CloseItemFiles(false);
        SaveRestoreFiles(true, false, true, false);

        try {
            if (state_ == StateError || reopenRequest_) {
                reopenRequest_ = false;
                FileOpenOptions sequential;
                sequential.sequential = true;
                CloseItemFiles(false);
                sourceHandle_ = CreateFileChecked(ItemSourcePath(item), FileAccess::Read, CreationMode::OpenExisting, sequential);
                destHandle_ = CreateFileChecked(ItemDestPath(item), FileAccess::Write, CreationMode::OpenExisting, sequential);
                SeekFile(sourceHandle_, 0, currentOffset_);
                SeekFile(destHandle_, 0, currentOffset_);
            }
            SetState(StateCopying);
            if (!waitingCycle) {
                const int64_t want = std::min(ChunkSize(speed_), item.Size - currentOffset_);
                pendingWait = 0;
                if (want == 0) {
                    // Nothing may move (a limit of 0): idle until a request or a new limit.
                    signal_.SleepFor(SliceMilliseconds);
                } else {
                    const int64_t moved = CopyChunk(want);
                    if (moved == 0)
                        throw OsError(EIO, "The source file ended at byte " + std::to_string(currentOffset_) +
                                               " of the " + std::to_string(item.Size) + " bytes it had when scanned");
                    currentOffset_ += moved;
                    copiedSizes_[item.Kind] += moved;
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
            const int32_t speed = t > 0 ? ClampSpeed(static_cast<double>(bytesMeasured_) / t) : 0;
            speed_ = speed;
            if (speed > peakSpeed_) peakSpeed_ = speed;
            errorCount_ = 0;
        } catch (const OsError& error) {
            waitingCycle = false;
            pendingWait = 0;
            HandleItemError(item, error.what());
        }
    }
}

void TDownloadThread::StartWriteBack()
{
    // The device writes while the copy goes on, so the flushes that make the copy durable find
    // little left to do, rather than the whole file waiting in memory for them.
    if (currentOffset_ - writeBackFrom_ < WriteBackBatch) return;
    PlatformStartWriteBack(destHandle_, writeBackFrom_, currentOffset_ - writeBackFrom_);
    writeBackFrom_ = currentOffset_;
}

int64_t TDownloadThread::CopyChunk(int64_t count)
{
    if (useCopyRange_) {
        // One call lets the kernel copy on the server or share extents; where it cannot, the
        // copy goes through the buffer from then on.
        const ssize_t n = PlatformCopyRange(sourceHandle_, destHandle_, static_cast<size_t>(count));
        if (n > 0) return n;
        if (n < 0 && !IsCopyRangeRefusal(errno)) {
            destinationFailed_ = true;  // either side may have failed; assume the worse one
            RaiseOsError(errno);
        }
        // A refusal, or 0 bytes, which some file systems report when they cannot serve the
        // call: the buffer decides.
        useCopyRange_ = false;
    }
    if (!buffer_ || bufferCapacity_ < count) {
        bufferCapacity_ = std::max<int64_t>(count, bufferSize_);
        buffer_ = std::make_unique<char[]>(static_cast<size_t>(bufferCapacity_));
    }
    const int64_t read = ReadBytes(sourceHandle_, buffer_.get(), count);
    if (read == 0) return 0;
    destinationFailed_ = true;
    const int64_t written = WriteBytes(destHandle_, buffer_.get(), read);
    destinationFailed_ = false;
    return written;
}

// ---- Closing pass, deletion, restart, final step ----

void TDownloadThread::ClosingPass()
{
    const auto inOrder = [this](uint8_t kind) {
        for (const auto& item : items_)
            if (item.Kind == kind) CopyItemInfo(ItemSourcePath(item), ItemDestPath(item));
    };
    // Extended attributes carry no attributes or security of their own.
    inOrder(KindFile);
    for (auto it = items_.rbegin(); it != items_.rend(); ++it)
        if (it->Kind == KindFolder) CopyItemInfo(ItemSourcePath(*it), ItemDestPath(*it));
    if (sourceKind_ == SourceFolder) CopyItemInfo(GetSource(), GetDestination());
}

void TDownloadThread::CopyItemInfo(const std::string& sourcePath, const std::string& destPath)
{
    if (!options_.CopyAttributes && !options_.CopySecurity) return;
    // Nothing to carry over to an item that was never copied.
    if (!FileExists(destPath) && !DirectoryExists(destPath)) return;
    std::string copied;
    const auto part = [&](const char* reference, const auto& copy) {
        try {
            copy();
            copied += copied.empty() ? reference : std::string(", ") + reference;
        } catch (const OsError& error) {
            AddLogRecord("Err009", {reference, sourcePath, destPath, error.what()});
        }
    };
    if (options_.CopyAttributes) part("^Msg014^", [&] { CopyFileAttributes(sourcePath, destPath); });
    if (options_.CopySecurity) {
        part("^Msg016^", [&] { CopyFileSecurity(sourcePath, destPath, SecurityGroup); });
        part("^Msg017^", [&] { CopyFileSecurity(sourcePath, destPath, SecurityOwner); });
        // Auditing lists have no counterpart here: not copied and not reported.
        part("^Msg015^", [&] { CopyFileSecurity(sourcePath, destPath, SecurityPermissions); });
    }
    if (!copied.empty()) AddLogRecord("Inf021", {copied, sourcePath, destPath});
}

void TDownloadThread::DeleteCopiedItems()
{
    // Only what this task created or overwrote: a file that existed before and was skipped,
    // resumed or not reached yet belongs to the user.
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Kind == KindFile && writtenByTask_[i]) PlatformDeleteFile(ItemDestPath(items_[i]));
    for (size_t i = items_.size(); i-- > 0;)
        if (items_[i].Kind == KindFolder && writtenByTask_[i]) PlatformRemoveFolder(ItemDestPath(items_[i]));
    if (sourceKind_ == SourceFolder && destinationCreated_) PlatformRemoveFolder(GetDestination());
}

void TDownloadThread::ResetForRestart()
{
    {
        std::unique_lock lock(lock_);
        if (sourceKind_ == SourceFile && !items_.empty()) source_ += items_.front().Name;
        if (sourceKind_ == SourceFolder)
            destination_ = ExtractFilePath(ExcludeTrailingDelimiter(destination_));
        scheduleTime_ = 0;
        currentName_.clear();
        currentDir_.clear();
        startTime_ = NowDateTime();
        stopTime_ = 0;
    }
    sourceKind_ = SourceUnresolved;
    ResetCounters();
    speed_ = 0;
    peakSpeed_ = 0;
    waitingForAnswer_ = false;
    deletedByUser_ = false;
    currentIndex_ = 0;
    currentOffset_ = 0;
    durableOffset_ = 0;
    currentItemCreated_ = false;
    existsAnswer_ = AnswerOverwriteAll;
    needScan_ = false;
    scheduleWaiting_ = false;
    skipRequest_ = false;
    pauseRequest_ = false;
    deleteCopiedFiles_ = false;
    errorCount_ = 0;
    items_.clear();
    writtenByTask_.clear();
    destinationCreated_ = false;
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
    if (deleteCopiedFiles_ && state_ != StateFinished) {
        DeleteCopiedItems();
        AddLogRecord("Inf016");
    }
    SaveRestoreFiles(true, false, true, true);
    for (FileHandle* file : {&varFile_, &conFile_, &logFile_}) {
        if (*file != NoHandle) PlatformClose(*file);
        *file = NoHandle;
    }
    buffer_.reset();
}

}  // namespace tarn
