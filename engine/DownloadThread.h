#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/DestinationWriteBack.h"
#include "engine/GlobalUtils.h"
#include "engine/RestoreFiles.h"
#include "engine/TaskTypes.h"
#include "platform/MonotonicClock.h"
#include "platform/PlatformFile.h"
#include "platform/ThreadSignal.h"

struct XXH3_state_s;

namespace tarn {

class FileReadAhead;
class FolderPrefetcher;

// One copy task: at once the task record with its three restore files and the worker thread
// that resolves, scans and copies it. The thread starts as the constructor's last step and
// runs until Stop() or DeleteByUser(); the owner calls WaitFor() (or lets the destructor stop
// and join it) before it lets the object go.
//
// Other threads drive the task only through the operations below, which set request flags
// under the task's lock and wake or nudge the worker; the worker looks at the flags at fixed
// checkpoints. Numbers the main thread reads once a second without the lock are atomics;
// strings and times are read through the lock.
class TDownloadThread {
public:
    // A new task: creates its three restore files (fails when one exists).
    TDownloadThread(const std::string& taskName, const std::string& restoreDir, const std::string& source,
                    const std::string& destination, uint8_t initialState, double scheduleTime,
                    int32_t delayOnError, int32_t restoreUpdateInterval, int32_t bufferSize,
                    int32_t maxLinkSpeed, int32_t speedLimit, const CopyOptions& options = {});
    // A task restored from its restore files. Raises OsError when a file cannot be opened or read,
    // DataFileError when one is damaged.
    TDownloadThread(const std::string& taskName, const std::string& restoreDir, int32_t delayOnError,
                    int32_t restoreUpdateInterval, int32_t bufferSize, int32_t maxLinkSpeed);
    ~TDownloadThread();

    TDownloadThread(const TDownloadThread&) = delete;
    TDownloadThread& operator=(const TDownloadThread&) = delete;

    // Operations for other threads.
    void Start();
    void Pause();
    void Restart();
    void SkipFile();
    void Schedule(double dateTime);
    void ChangeSource(const std::string& path);
    void DeleteByUser(bool deleteCopiedFiles);
    void Stop();
    void Answer(uint8_t code);
    void SuspendForErrors(int32_t limit);
    void SetSpeedLimit(int32_t bytesPerSecond);
    void SetBufferSize(int32_t bytes);
    void SetDelayOnError(int32_t milliseconds);
    void SetRestoreUpdateInterval(int32_t milliseconds);
    void SetMaxLinkSpeed(int32_t bytesPerSecond);
    // Blocks until the worker thread has ended; only after Stop() or DeleteByUser().
    void WaitFor();
    // The same, for at most `limit`: false when the thread has not ended by then (it is stuck
    // in a call the kernel does not return from); the object must then outlive it.
    bool WaitFor(std::chrono::milliseconds limit);

    // Readers.
    uint8_t GetState() const;
    std::string GetSource() const;
    std::string GetDestination() const;
    std::string GetCurrentName() const;
    std::string GetCurrentDir() const;
    double GetScheduleTime() const;
    int32_t GetSpeedLimit() const;
    int32_t GetBufferSize() const { return bufferSize_.load(); }
    double GetElapsed() const;
    double GetRemaining() const;
    int32_t GetSpeed() const;
    int32_t GetSpeedScale() const;
    int32_t GetCount(uint8_t kind) const;
    int64_t GetTotalSize() const;
    int64_t GetCopiedSize() const;
    bool GetLogRecord(int index, TMsg& record) const;
    int GetLogHigh() const;
    // Records of earlier runs that a restored task holds before its own: reported once already.
    int GetEarlierRecordCount() const { return earlierRecords_; }
    uint8_t GetSourceKind() const { return sourceKind_.load(std::memory_order_relaxed); }
    int32_t GetErrorCount() const { return errorCount_.load(std::memory_order_relaxed); }
    bool IsWaitingForAnswer() const { return waitingForAnswer_.load(); }
    bool IsRestored() const { return restored_; }
    bool IsDeletedByUser() const { return deletedByUser_.load(); }
    // The run ended on a failure that no retry can mend (memory or a thread could not be had):
    // the state is Error, the reason is logged, and the worker takes no more commands.
    bool HasRunFailed() const { return runFailed_.load(); }
    // Items that could not be listed or copied (a folder that cannot be read, a file that is no
    // regular file or that vanished): the task finishes without them.
    int32_t GetLeftOutCount() const { return leftOut_.load(); }
    // Of the current pass: files copied in full, items skipped (an existing file kept, or a
    // skip), and attribute or security parts that could not be set (each logged with Err009).
    int32_t GetCopiedFileCount() const { return filesCopied_.load(); }
    int32_t GetSkippedCount() const { return skipped_.load(); }
    int32_t GetUnsetInfoCount() const { return infoNotSet_.load(); }
    // Of the current pass, with verified copies on: files read back and found equal to their
    // source, and their bytes.
    int32_t GetVerifiedFileCount() const { return filesVerified_.load(); }
    // Of the current pass: symbolic links made whose target lies outside the copied folder.
    int32_t GetLinksOutsideCount() const { return linksOutside_.load(); }
    // Items of the list that are files: first names and further names (hard links) alike.
    int32_t GetFileCount() const { return counts_[KindFile].load() + counts_[KindHardLink].load(); }
    int64_t GetVerifiedSize() const { return bytesVerified_.load(); }
    // The source as the user named it: the folder, or the file itself once the scan has cut
    // `Source` to the file's folder.
    std::string GetSourceAsGiven() const;
    // Logs once (Err011) when a read, write or open of the worker has not returned for `limit`,
    // so that the user sees why nothing moves. Called by the owner's once-a-second tick.
    void CheckForStall(std::chrono::seconds limit);
    const std::string& TaskName() const { return taskName_; }
    const std::string& RestoreDir() const { return restoreDir_; }
    // The restore file of this task with the extension "var", "con" or "log".
    std::string RestoreFilePath(const char* extension) const;
    // The item being worked on and the answer code, for the question about an existing file.
    TItemAttrs GetCurrentItem() const;
    uint8_t GetExistsAnswer() const { return existsAnswer_.load(); }

private:
    struct TerminateRun {};  // thrown at a checkpoint to leave the run for its final step

    // How this pass wrote an item's destination. A file's mode is in the task log before the
    // file is created or opened for writing, so a task killed at any moment still knows which
    // destination files are its own.
    enum WriteMode : uint8_t {
        WriteNone = 0,    // not touched: a file there is the user's
        WriteNew = 1,     // created by the task
        WriteOver = 2,    // the user's file, emptied and written anew (answer overwrite)
        WriteUpload = 3,  // the user's file, continued (answer upload)
        WriteFolder = 4,  // a folder the task made
        // Named by a claim of an earlier run (ClaimNewFiles) and not reached since: the task's
        // own only while the claimed files before it stand (ResolveClaim).
        WriteClaimed = 5,
    };

    struct ScanInterrupted {};  // thrown at a scan checkpoint when the scan must start again
    // Marks a call that may wait on a share, for the stall watch.
    struct BlockingCall {
        explicit BlockingCall(TDownloadThread& task);
        ~BlockingCall();
        BlockingCall(const BlockingCall&) = delete;
        BlockingCall& operator=(const BlockingCall&) = delete;
        TDownloadThread& task_;
    };
    enum class ItemStep { Done, Again };  // Again: a request came first; the item procedure looks at it
    enum class Opened { Ready, Closed, Interrupted };  // Closed: skipped or left out
    enum class Placed { Made, Closed, Interrupted };  // of an item made anew, as Opened
    // Of a copy read back: Held, a pause or schedule came between and the reading starts again;
    // Interrupted, a restart or skip came first and the item procedure looks at it.
    enum class Verified { Same, Differs, Held, Interrupted };
    struct HashStateDeleter {
        void operator()(XXH3_state_s* state) const;
    };
    using HashState = std::unique_ptr<XXH3_state_s, HashStateDeleter>;

    void Launch();
    void ThreadMain();
    bool Begin();
    void RunPasses();
    void FailRun(const std::string& reason);
    bool AwaitRetry();

    // Task record (DownloadThread.cpp).
    bool Terminated() const { return terminated_.load(); }
    void SetState(uint8_t state);
    void AppendLogLocked(const std::string& id, std::vector<std::string> params);
    void AddLogRecord(const std::string& id, std::vector<std::string> params = {});
    void SaveRestoreFiles(bool var, bool con, bool log, bool force);
    std::string VarFileBytes() const;
    void ReplaceRestoreFile(const char* extension, const std::string& bytes);
    bool WriteRestoreFile(const char* extension, const std::string& bytes);
    void WriteVarFile();
    void WriteConFile();
    void WriteLogFile();
    void AppendToLog(const std::string& extra);
    bool SyncLogFile();
    void AddItem(TItemAttrs item);
    // A finished task needs its list again only when it starts over, which scans anew.
    void ReleaseFileList();
    void ResetCounters();
    void CreateRestoreFiles();
    void RebuildFromLog(const TaskLogContents& log);

    // The run (DownloadThreadRun.cpp).
    bool RunPass();
    void RetryDelay();
    void Checkpoint();
    // Waits out a schedule or a pause that holds the task; true when it waited, so that the
    // caller looks at its requests again.
    bool WaitWhileHeld(bool forItem);
    // A pause is wanted when requested, or when a skip interrupted one that is still on.
    bool PauseWanted() const { return pauseRequest_ || (holdAfterSkip_ == StatePaused && state_ == StatePaused); }
    bool ScheduleWanted() const { return scheduleWaiting_; }
    bool SleepInterrupted() const;
    void SleepInSlices(int milliseconds);
    // `forItem`: the caller works on a file and carries out a skip that ends the wait early.
    void WaitForSchedule(bool forItem);
    void ResumeCleanTime();
    void PauseSelf();
    void SuspendWhilePaused();
    bool TakeRequest(std::atomic<bool>& flag);
    std::string ItemSourcePath(const TItemAttrs& item) const;
    // The destination as the user knows it, for messages.
    std::string ItemShownPath(const TItemAttrs& item) const;
    // The destination as calls reach it: through the held root folder (DestRoot).
    std::string ItemDestPath(const TItemAttrs& item);
    // "/proc/self/fd/N/" of the destination's root folder, opened on first use and held until
    // the run ends; raises OsError (ErrorLinkInPath for a link where the task's own top folder goes).
    const std::string& DestRoot();
    void RefreshDestRoot();
    void ReleaseDestRoot();
    // A folder source is copied into a folder of its name that the task makes in the destination.
    bool HasTopFolder() const;
    void WorkOnItem();
    void MakeFolderItem(size_t index);
    void FolderError(const std::string& failed, int error);
    ItemStep CopyStreamItem(size_t index);
    ItemStep CopyFileItem(size_t index);
    // Links, hard links and special files (DownloadThreadLinks.cpp).
    ItemStep MakeNodeItem(size_t index);
    ItemStep MakeHardLinkItem(size_t index);
    // The item of the same file as the hard link at `index` whose copy this task made, or -1.
    size_t CopyOfSameFile(size_t index) const;
    // Puts an item made anew at its destination: `make` makes it (0, or -1 with errno) where
    // nothing is; what is there already and `same` finds as the source is, stays; anything else
    // is replaced as the answers about existing files say.
    Placed PlaceItem(size_t index, const FileStatus& source, const std::function<bool(const FileStatus&)>& same,
                     const std::function<int()>& make);
    // Waits for the answer about an existing destination when there is none for the rest of the
    // task; false when another request came first.
    bool AwaitExistsAnswer();
    Opened OpenDestination(size_t index, const FileStatus& source, const std::string& destPath);
    // False, the file closed, when it belongs to someone who could not read the source.
    bool OpenDestFile(size_t index, FileAccess access, const FileStatus& source);
    Opened ReplaceForeignFile(size_t index, const FileStatus& source, const std::string& destPath);
    bool UploadFrom(size_t index, const FileStatus& source);
    // The first offset in [from, to) where `copy` differs from the source, or `to`.
    int64_t FirstDifference(FileHandle copy, int64_t from, int64_t to);
    // What stands at `destPath`, a link not followed; false for nothing, raises on a failure.
    bool DestinationStatus(const std::string& destPath, FileStatus& dest);
    // Removes the attributes that the item's destination has and its source lacks.
    void DropStreamsNotInSource(size_t index);
    // Takes the write lock of the open destination: another task writing it is an error.
    void LockDestination();
    // Raises `error` for making `path`, told apart from a folder that is missing.
    [[noreturn]] void RaiseDestinationError(int error, const std::string& path);
    // An item before `index` whose file the task wrote and that the destination's file system
    // takes for this one's (it folds letter case); items_.size() for none.
    size_t WrittenUnderOtherName(size_t index);
    void RecordWrite(size_t index, uint8_t mode, const FileStatus& source);
    static TMsg WriteRecordOf(size_t index, uint8_t mode, const FileStatus& source);
    // Appends the task's own record (with the records made so far); raises when the log cannot
    // be written.
    void AppendRecord(const TMsg& record);
    // A file of a folder this pass made, not written yet: it is made new under a claim.
    bool InFreshFolder(size_t index) const;
    // One record names the next files of the folder, from `index` on, as made new.
    void ClaimNewFiles(size_t index);
    // Ends the claim at `index`, whose file the task did not make.
    void WithdrawClaim(size_t index);
    // An earlier run's claim on the current item holds when its file stands, a regular file;
    // otherwise that run never got here, and no claim after it holds either.
    void ResolveClaim(size_t index, bool standing);
    void StartItemOver(size_t index, const FileStatus& source);
    void CopyAgainFromStart(size_t index, const FileStatus& source);
    // Reads the current file's copy back from the device and compares its hash with the source's;
    // the caller has checked the copy's size.
    Verified VerifyCopy(size_t index);
    // Opens the copy of `item` for reading back, by its name; raises when the name leads to
    // another file than `written` by now.
    FileHandle OpenCopyForReadBack(const TItemAttrs& item, FileHandle written);
    // Hashes `file` from its first byte up to `size` into `state`, between reads of `chunk` bytes
    // looking at the requests when `watchRequests`.
    Verified HashFile(FileHandle file, int64_t size, int64_t chunk, XXH3_state_s* state, bool watchRequests = true);
    // The copy whole and equal to its source: read-only if the source is, streams the source lacks
    // dropped from a file it overwrote.
    void FinishCopy(size_t index, FileHandle copy, const FileStatus& source, const FileStatus& kept);
    // Counts the item as copied (and verified, with verified copies) and logs it.
    void CountCopied(size_t index);
    // A small copy whose source was hashed whole waits, written and open, to be read back with
    // the next ones: the device writes them together instead of one flush a file.
    bool ParkForReadBack(size_t index);
    // Reads back the parked copies; each that is equal counts as copied, each other is copied
    // again and read back at once.
    void CheckParkedCopies();
    bool ParkedCopyEqual(size_t index, FileHandle written, const std::pair<uint64_t, uint64_t>& sourceHash);
    void FinishParkedCopy(size_t index, FileHandle& written, const FileStatus& source);
    void CopyParkedAgain(size_t index);
    void DropParkedCopies();
    // Adds bytes the copy read from the current source at currentOffset_ to its hash.
    void HashSource(const char* data, int64_t count);
    bool SourceUnchanged(size_t index);
    void SetItemSize(size_t index, int64_t size);
    void LeaveOut(size_t index, const std::string& reason);
    void LogSkipped(const std::string& sourcePath);
    void ResetResultCounts();
    void ItemClose(const TItemAttrs& item);
    void CloseItemFiles(bool raise);
    // False when the source was deleted from its folder meanwhile.
    bool ReopenItemFiles(size_t index);
    void HandleItemError(const TItemAttrs& item, const std::string& errorText);
    void CountError();
    void ForgetErrorsPastTheirPoint();
    void RewindToDurable(const TItemAttrs& item);
    void DistrustRecentSource(const TItemAttrs& item);
    void VerifySuspectRegions(size_t index);
    void NoteProgress();
    void CopyUnsized(size_t index);
    void DropPartialCopy(size_t index);
    bool FlushWrittenData();
    int64_t ChunkSize(int32_t speed) const;
    void ChunkLoop(size_t index);
    bool SkipHole(size_t index);
    int64_t CopyChunk(int64_t count);
    // Opens the current file's source, or takes it as a helper read it ahead; false: a request
    // came first. On a failure the handle stays NoHandle and errno says why.
    bool OpenSource(size_t index, const std::string& path, const FileOpenOptions& options, FileStatus& source);
    void AnnounceReadAhead(size_t index);
    int64_t CopyChunkAhead(int64_t count);
    void DropReadAhead();     // the current file is read from its source from now on
    void DiscardReadAhead();  // and nothing read ahead is kept
    void StartWriteBack();
    void RewindWriteBack(int64_t to);
    void RaisePendingFlushError();
    void ThrottleStream(const TItemAttrs& item);
    void ClosingPass();
    // `relative`: the item's path below the destination's root, empty for the root itself.
    // A `link` is a symbolic link, whose own times and owner are set.
    void CopyItemInfo(const std::string& sourcePath, const std::string& relative, const FileTimes* times = nullptr,
                      bool link = false);
    void DeleteCopiedItems();
    void ResetForRestart();
    void FinalStep();

    // Source resolution and scan (DownloadThreadScan.cpp).
    void ResolveSource();
    void ScanSource();
    void ScanCheckpoint();
    void ScanError(const std::string& reason, const std::string& path);
    struct ScanVisits;  // which folders the scan is in and has listed (DownloadThreadScan.cpp)
    void ScanFolder(const std::string& root, const std::string& path, ScanVisits& visits, FolderPrefetcher& lister);
    void ScanFile(const std::string& path);
    void ScanStreams(const std::string& root, TItemAttrs entry);  // a copy: the list grows meanwhile

    // Identity and settings given at construction.
    const std::string taskName_;
    const std::string restoreDir_;
    const bool restored_;
    int earlierRecords_ = 0;

    mutable std::shared_mutex lock_;  // guards the strings and times below, and the log

    // Locked fields.
    std::string source_;
    std::string destination_;
    std::string currentName_;
    std::string currentDir_;
    double startTime_ = 0;
    double stopTime_ = 0;
    double scheduleTime_ = 0;
    TaskRecordList messages_;
    TItemAttrs currentItem_;

    // Fields read or set from other threads without the lock.
    std::atomic<uint8_t> state_{StateCopying};
    std::atomic<uint8_t> sourceKind_{SourceUnresolved};
    std::atomic<uint8_t> existsAnswer_{AnswerAsk};
    std::atomic<int32_t> counts_[ItemKindCount] = {};
    std::atomic<int64_t> totalSizes_[ItemKindCount] = {};
    std::atomic<int64_t> copiedSizes_[ItemKindCount] = {};
    std::atomic<int32_t> speed_{0};
    std::atomic<int32_t> peakSpeed_{0};
    std::atomic<int32_t> errorCount_{0};
    std::atomic<int32_t> speedLimit_{0};
    std::atomic<int32_t> bufferSize_{1};
    std::atomic<int32_t> delayOnError_{0};
    std::atomic<int32_t> restoreUpdateInterval_{0};
    std::atomic<int32_t> maxLinkSpeed_{0};
    std::atomic<bool> waitingForAnswer_{false};
    std::atomic<bool> deletedByUser_{false};
    std::atomic<bool> deleteCopiedFiles_{false};
    std::atomic<bool> scheduleWaiting_{false};
    std::atomic<bool> speedChanged_{true};
    std::atomic<bool> skipRequest_{false};
    std::atomic<bool> restartRequest_{false};
    std::atomic<bool> reopenRequest_{false};
    std::atomic<bool> bufferChanged_{true};
    std::atomic<bool> pauseRequest_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<int32_t> currentIndex_{0};
    std::atomic<bool> runFailed_{false};
    std::atomic<int64_t> blockedSince_{0};  // steady-clock nanoseconds a call that may wait began; 0: none
    std::atomic<bool> stallReported_{false};
    std::atomic<bool> retryRequest_{false};
    std::atomic<bool> rescanRequest_{false};
    std::atomic<int32_t> leftOut_{0};
    std::atomic<int32_t> filesCopied_{0};
    std::atomic<int32_t> skipped_{0};
    std::atomic<int32_t> infoNotSet_{0};
    std::atomic<int32_t> filesVerified_{0};
    std::atomic<int64_t> bytesVerified_{0};
    std::atomic<int32_t> linksOutside_{0};

    // Worker-only fields.
    std::vector<TItemAttrs> items_;
    CopyOptions options_;
    bool needScan_ = false;
    int64_t currentOffset_ = 0;
    int logWritten_ = 0;
    int64_t logFileSize_ = 0;
    bool logUnsynced_ = false;
    std::string unloggedRecords_;       // records of the task's own for the next write of the log (kept when it fails)
    bool conUnsaved_ = false;           // the .con on disk is not the list in memory
    double lastSave_ = 0;
    FileHandle logFile_ = NoHandle;     // held, and locked, from construction to the end of the run
    FileHandle sourceHandle_ = NoHandle;
    FileHandle destHandle_ = NoHandle;
    int64_t durableOffset_ = 0;         // bytes of the current item known to be on disk
    int64_t writeBackFrom_ = 0;         // where the current item's bytes not yet sent to the device begin
    int64_t droppedTo_ = 0;             // where its pages not yet waited for and dropped begin
    bool unsyncedFiles_ = false;        // files or folders changed since the destination was last flushed
    bool destinationFailed_ = false;    // the error being handled came from the destination
    bool destinationCreated_ = false;   // this task created the destination root
    FileHandle destRoot_ = NoHandle;    // the destination root, held while the run uses it
    std::string destRootPath_;          // DescriptorPath of destRoot_ with a final delimiter
    uid_t foreignOwner_ = 0;            // owner of the destination file OpenDestFile refused
    // A folder of the list (relative, with its delimiter; "" for the root) that could not be
    // made for good: the items below it are left out with it.
    std::optional<std::string> leftOutFolder_;
    // The names in the destination folder of the current items, as listed when one of them met
    // an existing file, with the files the task made there since.
    std::optional<std::unordered_set<std::string>> destNames_;
    // Per file with several names: the last of its names after the first that the task copied
    // (the first one's is itemCopied_), so that a further name links to a copy made.
    std::unordered_map<int32_t, size_t> sameFileCopies_;
    std::string destNamesDir_;
    std::vector<uint8_t> itemWrites_;   // per item, a WriteMode: how this pass wrote its destination
    std::optional<std::string> freshFolder_;  // a folder this pass made (relative; "" for the top folder)
    size_t claimedTo_ = 0;              // the last claim of this run names the items up to here
    bool sourceUnrecorded_ = false;     // the current file's source is in no record (a claim made it)
    std::vector<bool> itemCopied_;      // per item: copied in full in this pass
    std::vector<FileTimes> itemTimes_;  // per item: the source's times before the copy read it
    std::vector<std::pair<int64_t, int64_t>> suspect_;  // regions of the current item read from a failing source
    std::deque<std::pair<std::chrono::steady_clock::time_point, int64_t>> recentOffsets_;  // about one a second
    bool sourceFailed_ = false;         // the error being handled came from the source
    bool sourceVanished_ = false;       // the current source was deleted while it was copied
    uint8_t holdAfterSkip_ = 0;         // StatePaused: a skip interrupted a pause, which goes on after it
    bool scheduleResumed_ = false;      // a request interrupted the schedule wait, which goes on after it
    int pendingFlushError_ = 0;         // a flush of the current file failed; the item's next step raises it
    FileStatus currentSource_;          // the current item's source as its copy began
    bool currentSourceKnown_ = false;
    bool sparseSource_ = false;         // the current source has holes to keep
    int sourceChanges_ = 0;             // times the current item started over for a changed source
    std::pair<int32_t, int64_t> errorPoint_{-1, -1};  // item and offset of the last error counted
    FileReadAhead* readAhead_ = nullptr;  // this pass's reader of the next small files, on shares
    std::unique_ptr<DestinationWriteBack> writeBack_;  // this pass's flusher of small files, on local disks
    size_t aheadTo_ = 0;                  // the items before this one were announced or passed over
    std::vector<char> aheadData_;         // the current file's first bytes as a helper read them
    int aheadEnd_ = 0;                    // the error that ended that reading early; 0: the file's end
    bool aheadActive_ = false;            // the copy writes from aheadData_, not from the source
    HashState sourceHash_;  // the current source as the copy read it, over [0, hashedTo_)
    // Copies waiting to be read back, in the list's order; none is counted as copied yet, and
    // the saved position does not pass the first.
    struct ParkedCopy {
        size_t index;
        std::pair<uint64_t, uint64_t> sourceHash;  // XXH3-128, low and high halves
        FileStatus source;                         // as the copy read it
        FileHandle written;                        // the copy, open for writing
    };
    std::vector<ParkedCopy> parked_;
    bool readBackAtOnce_ = false;  // set while a parked copy is copied again
    int64_t hashedTo_ = -1;  // -1: the bytes read were not all in order from the first; read again
    std::unique_ptr<char[]> buffer_;
    int64_t bufferCapacity_ = 0;
    bool useCopyRange_ = true;  // off for good after the kernel refused it once
    MonotonicClock measurement_;
    int64_t bytesMeasured_ = 0;
    int32_t measuredSpeed_ = 0;  // bytes a second since the measurement restarted: sizes the chunks

    std::string sourceFileName_;  // locked: the file of a file source, once `Source` was cut

    ThreadSignal signal_;
    std::thread thread_;
    std::once_flag joined_;
    std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool ended_ = false;
};

}  // namespace tarn
