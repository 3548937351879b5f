#include "engine/DownloadThread.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "platform/DateTime.h"

namespace tarn {
namespace {

constexpr mode_t RestoreFileMode = 0600;

// The .log is the one restore file written in place (appended); it is held open and locked for
// the whole run, which keeps a second program from working the same task.
FileOpenOptions LogFileOptions()
{
    FileOpenOptions options;
    options.lock = FileLock::Exclusive;
    options.noFollow = true;
    options.regularOnly = true;
    options.mode = RestoreFileMode;
    return options;
}

// FNV-1a, carried over the parts of a path.
constexpr uint64_t PathHashStart = 14695981039346656037u;
uint64_t PathHash(uint64_t hash, std::string_view part)
{
    for (const char c : part) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
    return hash;
}

bool ParseNumber(const std::string& text, int64_t& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

TDownloadThread::TDownloadThread(const std::string& taskName, const std::string& restoreDir,
                                 const std::string& source, const std::string& destination, uint8_t initialState,
                                 double scheduleTime, int32_t delayOnError, int32_t restoreUpdateInterval,
                                 int32_t bufferSize, int32_t maxLinkSpeed, int32_t speedLimit,
                                 const CopyOptions& options)
    : taskName_(taskName), restoreDir_(IncludeTrailingDelimiter(restoreDir)), restored_(false)
{
    source_ = source;
    destination_ = IncludeTrailingDelimiter(destination);
    state_ = initialState;
    scheduleTime_ = scheduleTime;
    startTime_ = NowDateTime();
    delayOnError_ = delayOnError;
    restoreUpdateInterval_ = restoreUpdateInterval;
    bufferSize_ = std::clamp(bufferSize, MinBufferSize, MaxBufferSize);
    maxLinkSpeed_ = maxLinkSpeed;
    speedLimit_ = std::max(speedLimit, 0);
    options_ = options;

    CreateRestoreFiles();
    // The first record, before any command can log its own.
    AddLogRecord("Inf001");
    scheduleWaiting_ = initialState == StateScheduled;
    Launch();
}

TDownloadThread::TDownloadThread(const std::string& taskName, const std::string& restoreDir, int32_t delayOnError,
                                 int32_t restoreUpdateInterval, int32_t bufferSize, int32_t maxLinkSpeed)
    : taskName_(taskName), restoreDir_(IncludeTrailingDelimiter(restoreDir)), restored_(true)
{
    delayOnError_ = delayOnError;
    restoreUpdateInterval_ = restoreUpdateInterval;
    bufferSize_ = std::clamp(bufferSize, MinBufferSize, MaxBufferSize);
    maxLinkSpeed_ = maxLinkSpeed;

    // The lock first: the files must not be read while another program works the task.
    logFile_ = CreateFileChecked(RestoreFilePath("log"), FileAccess::ReadWrite, CreationMode::OpenExisting,
                                 LogFileOptions());
    TaskLogContents log;
    try {
        const TaskVariables v = DecodeVarFile(ReadFileBytes(RestoreFilePath("var")));
        state_ = v.State;
        source_ = v.Source;
        destination_ = v.Destination;
        sourceKind_ = v.SourceKind;
        needScan_ = v.NeedScan;
        currentIndex_ = v.CurrentIndex;
        currentOffset_ = v.CurrentOffset;
        // The clean copy time counts on from where it stopped.
        startTime_ = NowDateTime() - v.Elapsed;
        existsAnswer_ = v.ExistsAnswer;
        scheduleTime_ = v.ScheduleTime;
        speedLimit_ = std::max(v.SpeedLimit, 0);
        peakSpeed_ = v.PeakSpeed;

        options_ = DecodeConFile(ReadFileBytes(RestoreFilePath("con")), [this](TItemAttrs&& item) { AddItem(std::move(item)); });
        // The list is saved before any position in it: a position past its end is damage, and
        // would finish the task without copying what it passed over.
        if (static_cast<size_t>(currentIndex_.load()) > items_.size())
            throw DataFileError("The position " + std::to_string(currentIndex_.load()) + " is past the end of the " +
                                std::to_string(items_.size()) + " items of the file list");
        const std::string logBytes = ReadFileBytes(logFile_);
        if (logBytes.size() < 2) throw DataFileError("The task log has no version bytes");
        log = DecodeLogFile(logBytes);
        logFileSize_ = static_cast<int64_t>(log.WholeSize);
        // A record cut off by a crash would hide every record appended after it.
        if (log.Damaged && PlatformTruncate(logFile_, logFileSize_) != 0) RaiseOsError(errno);
    } catch (...) {
        PlatformClose(logFile_);
        logFile_ = NoHandle;
        throw;
    }
    scheduleWaiting_ = state_ == StateScheduled;
    if (sourceKind_ == SourceFile && !items_.empty()) sourceFileName_ = items_.front().Name;

    const int32_t count = static_cast<int32_t>(items_.size());
    if (count > 0 && currentIndex_ < count) {
        for (int32_t i = 0; i < currentIndex_; ++i) copiedSizes_[items_[static_cast<size_t>(i)].Kind] += items_[static_cast<size_t>(i)].Size;
        const TItemAttrs& current = items_[static_cast<size_t>(currentIndex_.load())];
        copiedSizes_[current.Kind] += std::min(currentOffset_, current.Size);
        currentName_ = current.Name;
        currentDir_ = current.Dir;
    } else {
        for (int k = 0; k < ItemKindCount; ++k) copiedSizes_[k] = totalSizes_[k].load();
    }
    RebuildFromLog(log);
    // The log view shows the task's whole history, not only what this run adds to it.
    for (size_t i = 0; i < log.Records.size(); ++i)
        if (const TMsg record = log.Records[i]; !IsInternalRecord(record)) messages_.push_back(record);
    earlierRecords_ = static_cast<int>(messages_.size());
    logWritten_ = earlierRecords_;
    if (log.Damaged)
        AddLogRecord("Err006", {"The end of the task log was cut off by a crash and is dropped: " + log.Damage,
                                RestoreFilePath("log")});
    Launch();
}

void TDownloadThread::CreateRestoreFiles()
{
    // The .log is made first and exclusively: it claims the name. The other two then must not
    // exist either, and each is written whole, so a task killed right after its creation
    // restores as created.
    logFile_ = CreateFileChecked(RestoreFilePath("log"), FileAccess::ReadWrite, CreationMode::CreateNew, LogFileOptions());
    bool othersFree = false;
    try {
        for (const char* extension : {"var", "con"}) {
            FileStatus status;
            if (PlatformStatPath(RestoreFilePath(extension), status) == 0) RaiseOsError(EEXIST);
            if (errno != ENOENT) RaiseOsError(errno);
        }
        othersFree = true;
        const std::string header = LogFileHeader();
        WriteBytesAt(logFile_, header.data(), static_cast<int64_t>(header.size()), 0);
        logFileSize_ = static_cast<int64_t>(header.size());
        ReplaceRestoreFile("con", EncodeConFile(items_, options_));
        ReplaceRestoreFile("var", VarFileBytes());
    } catch (...) {
        PlatformClose(logFile_);
        logFile_ = NoHandle;
        // Only what this constructor made: files that were there already are another task's.
        PlatformDeleteFile(RestoreFilePath("log"));
        if (othersFree)
            for (const char* extension : {"con", "var"}) PlatformDeleteFile(RestoreFilePath(extension));
        throw;
    }
}

void TDownloadThread::RebuildFromLog(const TaskLogContents& log)
{
    // The records since the last scan began speak of the current file list: the items left
    // out, the items copied in full, and which destination files this pass wrote (each before
    // the file was touched), with the source each copy began from.
    constexpr size_t None = std::string::npos;
    size_t first = 0;
    for (size_t i = 0; i < log.Records.size(); ++i)
        if (log.Records[i].Id == "Inf003") first = i + 1;
    // The items by the hash of their path below the destination, for the records of copied
    // files: a map of whole paths would take more than the list itself.
    std::vector<std::pair<uint64_t, size_t>> byDestination;
    byDestination.reserve(items_.size());
    for (size_t i = 0; i < items_.size(); ++i)
        byDestination.emplace_back(PathHash(PathHash(PathHashStart, items_[i].Dir), items_[i].Name), i);
    std::sort(byDestination.begin(), byDestination.end());
    // The first item whose destination is `path`, None for none.
    const auto copiedItem = [&](const std::string& path) {
        if (path.compare(0, destination_.size(), destination_) != 0) return None;
        const std::string_view relative = std::string_view(path).substr(destination_.size());
        const uint64_t hash = PathHash(PathHashStart, relative);
        for (auto at = std::lower_bound(byDestination.begin(), byDestination.end(), std::make_pair(hash, size_t{0}));
             at != byDestination.end() && at->first == hash; ++at) {
            const TItemAttrs& item = items_[at->second];
            if (relative.size() == item.Dir.size() + item.Name.size() && relative.starts_with(item.Dir) &&
                relative.substr(item.Dir.size()) == item.Name)
                return at->second;
        }
        return None;
    };
    // Per item, the first index of the claim that names it (npos: none), and each claim's end.
    std::vector<size_t> claimedBy(items_.size(), None);
    std::unordered_map<size_t, size_t> claimEnds;
    ResetResultCounts();
    for (size_t r = first; r < log.Records.size(); ++r) {
        const TMsg record = log.Records[r];
        if (record.Id == "Err002" || record.Id == "Err010") ++leftOut_;
        if (record.Id == "Inf014") ++skipped_;
        if (record.Id == "Err009") ++infoNotSet_;
        if (record.Id == "Inf029") ++linksOutside_;
        if (record.Id == "Inf007" && record.Params.size() == 3)
            if (const size_t copied = copiedItem(record.Params[2] + record.Params[0]); copied != None)
                itemCopied_[copied] = true;
        int64_t first = 0;
        int64_t end = 0;
        if (record.Id == ClaimRecordId && record.Params.size() == 2 && ParseNumber(record.Params[0], first) &&
            ParseNumber(record.Params[1], end) && first >= 0 && first <= end &&
            static_cast<size_t>(end) <= items_.size()) {
            claimEnds[static_cast<size_t>(first)] = static_cast<size_t>(end);
            for (auto i = static_cast<size_t>(first); i < static_cast<size_t>(end); ++i) {
                if (items_[i].Kind != KindFile) continue;
                claimedBy[i] = static_cast<size_t>(first);
                itemWrites_[i] = WriteNone;
            }
            continue;
        }
        if (record.Id != WriteRecordId || record.Params.size() != 4) continue;
        int64_t index = 0;
        int64_t mode = 0;
        FileStatus source;
        if (!ParseNumber(record.Params[0], index) || !ParseNumber(record.Params[1], mode) ||
            !ParseNumber(record.Params[2], source.size) || !ParseNumber(record.Params[3], source.modified) || index < 0 ||
            static_cast<size_t>(index) >= items_.size() || items_[static_cast<size_t>(index)].Kind == KindFolder ||
            items_[static_cast<size_t>(index)].Kind == KindStream ||
            mode < WriteNone || mode > WriteUpload)
            continue;
        const auto at = static_cast<size_t>(index);
        // A withdrawn file ends its claim: the task made none of the files the claim names after it.
        if (const size_t claim = claimedBy[at]; mode == WriteNone && claim != None)
            for (size_t i = at + 1, end = claimEnds[claim]; i < end; ++i)
                if (claimedBy[i] == claim) claimedBy[i] = None;
        claimedBy[at] = None;
        itemWrites_[at] = static_cast<uint8_t>(mode);
        if (index == currentIndex_) {
            currentSource_ = source;
            currentSourceKnown_ = mode != WriteNone;
        }
    }
    // Claimed files before the saved position were made: one the task did not make was withdrawn
    // before the position passed it. From there on a claim holds only as far as its files stand.
    const auto saved = static_cast<size_t>(currentIndex_.load());
    for (size_t i = 0; i < items_.size(); ++i)
        if (claimedBy[i] != None) itemWrites_[i] = i < saved ? WriteNew : WriteClaimed;
    for (size_t i = 0; i < items_.size(); ++i)
        if (itemCopied_[i] && IsFileKind(items_[i].Kind)) {
            ++filesCopied_;
            if (items_[i].Link >= 0) sameFileCopies_[items_[i].Link] = i;
            // With verified copies on, a file is recorded copied only once it was found equal.
            if (options_.VerifyCopies && items_[i].Kind == KindFile) {
                ++filesVerified_;
                bytesVerified_ += items_[i].Size;
            }
        }

    // Every folder above a file the task created may be one it made; only empty ones go.
    std::unordered_set<std::string> madeFolders;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (itemWrites_[i] != WriteNew && itemWrites_[i] != WriteOver && itemWrites_[i] != WriteClaimed) continue;
        destinationCreated_ = true;
        for (std::string dir = items_[i].Dir; !dir.empty(); dir = ExtractFilePath(ExcludeTrailingDelimiter(dir)))
            if (!madeFolders.insert(dir).second) break;
    }
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Kind == KindFolder && madeFolders.count(items_[i].Dir + items_[i].Name)) itemWrites_[i] = WriteFolder;
}

TDownloadThread::~TDownloadThread()
{
    Stop();
    WaitFor();
    for (FileHandle* file : {&logFile_, &sourceHandle_, &destHandle_}) {
        if (*file != NoHandle) PlatformClose(*file);
        *file = NoHandle;
    }
}

void TDownloadThread::Launch()
{
    thread_ = std::thread(&TDownloadThread::ThreadMain, this);
}

void TDownloadThread::WaitFor()
{
    std::call_once(joined_, [this] {
        if (thread_.joinable()) thread_.join();
    });
}

bool TDownloadThread::WaitFor(std::chrono::milliseconds limit)
{
    {
        std::unique_lock lock(endMutex_);
        if (!endChanged_.wait_for(lock, limit, [this] { return ended_; })) return false;
    }
    WaitFor();
    return true;
}

std::string TDownloadThread::RestoreFilePath(const char* extension) const
{
    return restoreDir_ + taskName_ + "." + extension;
}

// ---- Operations for other threads ----

// Every operation wakes the worker: a suspended one must see its request, a sleeping one
// should see it at once, and a wake that finds the worker busy costs it one more look at its
// flags, since every suspension waits in a loop on its own condition.

void TDownloadThread::Start()
{
    std::unique_lock lock(lock_);
    const uint8_t state = state_;
    if (state == StatePaused) {
        AppendLogLocked("Inf005", {});
        if (stopTime_ != 0) {
            startTime_ += NowDateTime() - stopTime_;
            stopTime_ = 0;
        }
        speedChanged_ = true;
        pauseRequest_ = false;
        state_ = StateCopying;
    } else if (state == StateScheduled) {
        AppendLogLocked("Inf005", {});
        scheduleWaiting_ = false;
    } else if (state == StateError && runFailed_) {
        // A run that ended on a failure no retry mends waits for the user to try again.
        AppendLogLocked("Inf005", {});
        retryRequest_ = true;
    } else {
        return;
    }
    lock.unlock();
    signal_.Wake();
}

void TDownloadThread::Pause()
{
    std::unique_lock lock(lock_);
    const uint8_t state = state_;
    if (state == StateScanning || state == StateFinished) return;
    if (state == StateScheduled) scheduleWaiting_ = false;
    pauseRequest_ = true;
    lock.unlock();
    signal_.Wake();
}

void TDownloadThread::Restart()
{
    // The task starts over now: a schedule it waits for is dropped. Both change under the lock,
    // where the schedule wait looks at them together.
    std::unique_lock lock(lock_);
    scheduleWaiting_ = false;
    restartRequest_ = true;
    lock.unlock();
    signal_.Wake();
}

void TDownloadThread::SkipFile()
{
    std::unique_lock lock(lock_);
    const uint8_t state = state_;
    // Only a file being worked on can be skipped; a request kept for later would skip another.
    if (state == StateScanning || state == StateFinished || currentName_.empty()) return;
    skipRequest_ = true;
    // A scheduled task goes on now with the next file, as after Start.
    if (state == StateScheduled) {
        AppendLogLocked("Inf005", {});
        scheduleWaiting_ = false;
    }
    lock.unlock();
    signal_.Wake();
}

void TDownloadThread::Schedule(double dateTime)
{
    std::unique_lock lock(lock_);
    if (state_ == StateFinished) return;
    scheduleTime_ = dateTime;
    scheduleWaiting_ = true;
    lock.unlock();
    signal_.Wake();
}

void TDownloadThread::ChangeSource(const std::string& path)
{
    {
        std::unique_lock lock(lock_);
        const std::string old = source_;
        switch (sourceKind_.load()) {
        case SourceUnresolved: source_ = path; break;
        case SourceFolder: source_ = IncludeTrailingDelimiter(path); break;
        case SourceFile:
            source_ = path;
            sourceKind_ = SourceUnresolved;
            restartRequest_ = true;
            break;
        default: break;
        }
        reopenRequest_ = true;
        rescanRequest_ = true;
        AppendLogLocked("Inf010", {old, source_});
    }
    signal_.Wake();
}

void TDownloadThread::DeleteByUser(bool deleteCopiedFiles)
{
    deleteCopiedFiles_ = deleteCopiedFiles;
    deletedByUser_ = true;
    AddLogRecord("Inf015");
    Stop();
}

void TDownloadThread::Stop()
{
    terminated_ = true;
    signal_.Wake();
}

void TDownloadThread::Answer(uint8_t code)
{
    if (!waitingForAnswer_) return;
    existsAnswer_ = code;
    waitingForAnswer_ = false;
    signal_.Wake();
}

void TDownloadThread::SuspendForErrors(int32_t limit)
{
    // The worker pauses itself: its retry wait ends at once on the request. Setting its state
    // from here would let Start() "resume" a worker that never paused.
    AddLogRecord("Inf020", {std::to_string(limit)});
    errorCount_ = 0;
    Pause();
}

void TDownloadThread::SetSpeedLimit(int32_t bytesPerSecond)
{
    speedLimit_ = std::max(bytesPerSecond, 0);
    speedChanged_ = true;
    signal_.Wake();
}

void TDownloadThread::SetBufferSize(int32_t bytes)
{
    bufferSize_ = std::clamp(bytes, MinBufferSize, MaxBufferSize);
    bufferChanged_ = true;
    signal_.Wake();
}

void TDownloadThread::SetDelayOnError(int32_t milliseconds) { delayOnError_ = milliseconds; }

void TDownloadThread::SetRestoreUpdateInterval(int32_t milliseconds) { restoreUpdateInterval_ = milliseconds; }

void TDownloadThread::SetMaxLinkSpeed(int32_t bytesPerSecond) { maxLinkSpeed_ = bytesPerSecond; }

// ---- Readers ----

uint8_t TDownloadThread::GetState() const { return state_.load(); }

std::string TDownloadThread::GetSource() const
{
    std::shared_lock lock(lock_);
    return source_;
}

std::string TDownloadThread::GetDestination() const
{
    std::shared_lock lock(lock_);
    return destination_;
}

std::string TDownloadThread::GetCurrentName() const
{
    std::shared_lock lock(lock_);
    return currentName_;
}

std::string TDownloadThread::GetCurrentDir() const
{
    std::shared_lock lock(lock_);
    return currentDir_;
}

std::string TDownloadThread::GetSourceAsGiven() const
{
    std::shared_lock lock(lock_);
    return source_ + sourceFileName_;
}

double TDownloadThread::GetScheduleTime() const
{
    std::shared_lock lock(lock_);
    return scheduleTime_;
}

int32_t TDownloadThread::GetSpeedLimit() const { return speedLimit_.load(); }

double TDownloadThread::GetElapsed() const
{
    const uint8_t state = state_;
    std::shared_lock lock(lock_);
    const bool stopped = state == StatePaused || state == StateScheduled || state == StateFinished;
    if (stopped && stopTime_ != 0) return stopTime_ - startTime_;
    return NowDateTime() - startTime_;
}

double TDownloadThread::GetRemaining() const
{
    const int32_t speed = speed_;
    if (speed < 1) return 0;
    // Whole seconds, halves to the even neighbour (the default rounding mode).
    const double seconds = std::nearbyint(static_cast<double>(GetTotalSize() - GetCopiedSize()) / speed);
    return seconds / SecondsPerDay;
}

int32_t TDownloadThread::GetSpeed() const { return state_ == StateCopying ? speed_.load() : 0; }

int32_t TDownloadThread::GetSpeedScale() const { return std::max(maxLinkSpeed_.load(), peakSpeed_.load()); }

int32_t TDownloadThread::GetCount(uint8_t kind) const { return kind < ItemKindCount ? counts_[kind].load() : 0; }

int64_t TDownloadThread::GetTotalSize() const
{
    int64_t total = 0;
    for (const auto& size : totalSizes_) total += size.load();
    return total;
}

int64_t TDownloadThread::GetCopiedSize() const
{
    int64_t copied = 0;
    for (const auto& size : copiedSizes_) copied += size.load();
    return copied;
}

bool TDownloadThread::GetLogRecord(int index, TMsg& record) const
{
    std::shared_lock lock(lock_);
    if (index < 0 || static_cast<size_t>(index) >= messages_.size()) return false;
    record = messages_[static_cast<size_t>(index)];
    return true;
}

int TDownloadThread::GetLogHigh() const
{
    std::shared_lock lock(lock_);
    return static_cast<int>(messages_.size()) - 1;
}

TItemAttrs TDownloadThread::GetCurrentItem() const
{
    std::shared_lock lock(lock_);
    return currentItem_;
}

// ---- Worker side: state, log, restore files ----

void TDownloadThread::SetState(uint8_t state)
{
    // The scan sets its state once per entry: an unchanged state needs no lock.
    if (state_.load() == state) return;
    std::unique_lock lock(lock_);
    if (!terminated_) state_ = state;
}

void TDownloadThread::AppendLogLocked(const std::string& id, std::vector<std::string> params)
{
    messages_.push_back(TMsg{id, NowDateTime(), std::move(params)});
}

void TDownloadThread::AddLogRecord(const std::string& id, std::vector<std::string> params)
{
    std::unique_lock lock(lock_);
    AppendLogLocked(id, std::move(params));
}

void TDownloadThread::AddItem(TItemAttrs item)
{
    totalSizes_[item.Kind] += item.Size;
    counts_[item.Kind] += 1;
    items_.push_back(std::move(item));
    itemWrites_.push_back(WriteNone);
    itemCopied_.push_back(false);
    itemTimes_.push_back({});
}

void TDownloadThread::ReleaseFileList()
{
    // A list the .con does not hold yet is kept for the next save to write.
    if (conUnsaved_) return;
    std::vector<TItemAttrs>().swap(items_);
    std::vector<uint8_t>().swap(itemWrites_);
    std::vector<bool>().swap(itemCopied_);
    std::vector<FileTimes>().swap(itemTimes_);
    sameFileCopies_.clear();
    destNames_.reset();
}

void TDownloadThread::ResetCounters()
{
    for (int k = 0; k < ItemKindCount; ++k) {
        counts_[k] = 0;
        totalSizes_[k] = 0;
        copiedSizes_[k] = 0;
    }
}

void TDownloadThread::SaveRestoreFiles(bool var, bool con, bool log, bool force)
{
    const double now = NowDateTime();
    if (!force && std::floor((now - lastSave_) * MillisecondsPerDay) <= restoreUpdateInterval_) return;
    // The order holds after a crash between any two writes: the .var names a list, a position
    // and a state only once the list, the task's records of the files it wrote, and the copied
    // bytes are on disk; a failure of any of them keeps the old .var.
    if (log) WriteLogFile();
    if (con || conUnsaved_) WriteConFile();
    if (var && !conUnsaved_ && unloggedRecords_.empty() && SyncLogFile() && FlushWrittenData()) WriteVarFile();
    lastSave_ = now;
}

void TDownloadThread::ReplaceRestoreFile(const char* extension, const std::string& bytes)
{
    if (PlatformReplaceFile(RestoreFilePath(extension), bytes.data(), bytes.size(), RestoreFileMode) != 0)
        RaiseOsError(errno);
}

bool TDownloadThread::WriteRestoreFile(const char* extension, const std::string& bytes)
{
    try {
        ReplaceRestoreFile(extension, bytes);
        return true;
    } catch (const OsError& error) {
        AddLogRecord("Err006", {error.what(), RestoreFilePath(extension)});
        return false;
    }
}

std::string TDownloadThread::VarFileBytes() const
{
    TaskVariables v;
    v.Elapsed = GetElapsed();
    v.State = state_;
    v.ScheduleTime = GetScheduleTime();
    v.SpeedLimit = speedLimit_;
    v.Source = GetSource();
    v.Destination = GetDestination();
    v.SourceKind = sourceKind_;
    v.NeedScan = needScan_;
    // Copies not read back yet are copied again after a restore.
    const bool parked = !parked_.empty() && static_cast<int32_t>(parked_.front().index) < currentIndex_;
    v.CurrentIndex = parked ? static_cast<int32_t>(parked_.front().index) : currentIndex_.load();
    v.CurrentOffset = parked ? 0 : currentOffset_;
    v.ExistsAnswer = existsAnswer_;
    v.PeakSpeed = peakSpeed_;
    return EncodeVarFile(v);
}

void TDownloadThread::WriteVarFile() { WriteRestoreFile("var", VarFileBytes()); }

void TDownloadThread::WriteConFile() { conUnsaved_ = !WriteRestoreFile("con", EncodeConFile(items_, options_)); }

void TDownloadThread::AppendToLog(const std::string& extra)
{
    const int high = GetLogHigh();
    std::string block;
    for (int i = logWritten_; i <= high; ++i) {
        TMsg record;
        GetLogRecord(i, record);
        block += EncodeLogRecord(record);
    }
    block += unloggedRecords_;
    block += extra;
    if (block.empty()) return;
    // Every new record goes at the known end in one call; after a failed write the next one
    // goes to the same place, over whatever part got through.
    WriteBytesAt(logFile_, block.data(), static_cast<int64_t>(block.size()), logFileSize_);
    logFileSize_ += static_cast<int64_t>(block.size());
    logWritten_ = high + 1;
    unloggedRecords_.clear();
    logUnsynced_ = true;
}

void TDownloadThread::WriteLogFile()
{
    // A position saved inside a file that a claim made comes with the source the copy began
    // from, so that a resume goes on from it.
    if (sourceUnrecorded_ && currentOffset_ > 0) {
        const auto index = static_cast<size_t>(currentIndex_.load());
        unloggedRecords_ += EncodeLogRecord(WriteRecordOf(index, WriteNew, currentSource_));
        sourceUnrecorded_ = false;
    }
    try {
        AppendToLog(std::string());
    } catch (const OsError& error) {
        AddLogRecord("Err006", {error.what(), RestoreFilePath("log")});
    }
}

bool TDownloadThread::SyncLogFile()
{
    if (!logUnsynced_) return true;
    if (PlatformDataSync(logFile_) != 0) {
        AddLogRecord("Err006", {SystemErrorText(errno), RestoreFilePath("log")});
        return false;
    }
    logUnsynced_ = false;
    return true;
}

}  // namespace tarn
