#include "engine/DownloadThread.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>

#include "platform/DateTime.h"

namespace tarn {
namespace {

FileOpenOptions RestoreFileOptions()
{
    FileOpenOptions options;
    options.lock = FileLock::Exclusive;  // one process per restore folder
    options.writeThrough = true;
    options.mode = 0600;
    return options;
}

}  // namespace

TDownloadThread::TDownloadThread(const std::string& taskName, const std::string& restoreDir,
                                 const std::string& source, const std::string& destination, uint8_t initialState,
                                 double scheduleTime, int32_t delayOnError, int32_t restoreUpdateInterval,
                                 int32_t bufferSize, int32_t maxLinkSpeed, int32_t speedLimit, bool copyAttributes,
                                 bool copySecurity, bool copyStreams)
    : taskName_(taskName), restoreDir_(IncludeTrailingDelimiter(restoreDir)), restored_(false)
{
    source_ = source;
    destination_ = IncludeTrailingDelimiter(destination);
    state_ = initialState;
    scheduleTime_ = scheduleTime;
    delayOnError_ = delayOnError;
    restoreUpdateInterval_ = restoreUpdateInterval;
    bufferSize_ = std::max(bufferSize, 1);
    maxLinkSpeed_ = maxLinkSpeed;
    speedLimit_ = std::max(speedLimit, 0);
    options_ = {copyAttributes, copySecurity, copyStreams};

    OpenRestoreFiles(CreationMode::CreateNew);
    logFileSize_ = 0;
    scheduleWaiting_ = initialState == StateScheduled;
    Launch();
}

TDownloadThread::TDownloadThread(const std::string& taskName, const std::string& restoreDir, int32_t delayOnError,
                                 int32_t restoreUpdateInterval, int32_t bufferSize, int32_t maxLinkSpeed)
    : taskName_(taskName), restoreDir_(IncludeTrailingDelimiter(restoreDir)), restored_(true)
{
    delayOnError_ = delayOnError;
    restoreUpdateInterval_ = restoreUpdateInterval;
    bufferSize_ = std::max(bufferSize, 1);
    maxLinkSpeed_ = maxLinkSpeed;

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
    const std::string logBytes = ReadFileBytes(RestoreFilePath("log"));
    if (logBytes.size() < 2) throw DataFileError("The task log has no version bytes");

    OpenRestoreFiles(CreationMode::OpenExisting);
    logFileSize_ = static_cast<int64_t>(logBytes.size());  // only the holder of the lock appends
    scheduleWaiting_ = v.State == StateScheduled;

    const int32_t count = static_cast<int32_t>(items_.size());
    if (count > 0 && currentIndex_ < count) {
        for (int32_t i = 0; i < currentIndex_; ++i) copiedSizes_[items_[static_cast<size_t>(i)].Kind] += items_[static_cast<size_t>(i)].Size;
        const TItemAttrs& current = items_[static_cast<size_t>(currentIndex_.load())];
        copiedSizes_[current.Kind] += currentOffset_;
        currentName_ = current.Name;
        currentDir_ = current.Dir;
    } else {
        for (int k = 0; k < ItemKindCount; ++k) copiedSizes_[k] = totalSizes_[k].load();
    }
    RebuildWrittenItems(DecodeLogFile(logBytes));
    Launch();
}

void TDownloadThread::OpenRestoreFiles(CreationMode creation)
{
    FileHandle* const files[] = {&varFile_, &conFile_, &logFile_};
    const char* const extensions[] = {"var", "con", "log"};
    for (int i = 0; i < 3; ++i) {
        try {
            *files[i] = CreateFileChecked(RestoreFilePath(extensions[i]), FileAccess::Write, creation, RestoreFileOptions());
        } catch (...) {
            for (int j = 0; j < i; ++j) {
                PlatformClose(*files[j]);
                *files[j] = NoHandle;
                // A half set of new restore files would block the name.
                if (creation == CreationMode::CreateNew) PlatformDeleteFile(RestoreFilePath(extensions[j]));
            }
            throw;
        }
    }
}

void TDownloadThread::RebuildWrittenItems(const TaskLogContents& log)
{
    // Which destination files earlier runs of this pass created or overwrote is not kept in the
    // restore files; the task log tells it. Only the records since the last restart count:
    // earlier passes had other lists.
    auto first = log.Records.begin();
    for (auto it = log.Records.begin(); it != log.Records.end(); ++it)
        if (it->Id == "Inf013") first = it + 1;
    std::unordered_map<std::string, size_t> bySource;
    std::unordered_map<std::string, size_t> byDestination;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].Kind != KindFile) continue;
        bySource.emplace(source_ + items_[i].Dir + items_[i].Name, i);
        byDestination.emplace(destination_ + items_[i].Dir + items_[i].Name, i);
    }
    const auto find = [](const auto& map, const std::string& key) {
        const auto it = map.find(key);
        return it == map.end() ? SIZE_MAX : it->second;
    };
    std::vector<bool> existed(items_.size());
    std::vector<bool> overwritten(items_.size());
    std::vector<bool> completed(items_.size());
    for (auto it = first; it != log.Records.end(); ++it) {
        const auto& p = it->Params;
        size_t i = SIZE_MAX;
        if (it->Id == "Inf017" && p.size() >= 2 && (i = find(byDestination, p[0] + p[1])) != SIZE_MAX) existed[i] = true;
        if (it->Id == "Inf018" && p.size() >= 1 && (i = find(bySource, p[0])) != SIZE_MAX) overwritten[i] = true;
        if (it->Id == "Inf007" && p.size() >= 3 && (i = find(byDestination, p[2] + p[0])) != SIZE_MAX) completed[i] = true;
    }
    const size_t current = static_cast<size_t>(currentIndex_.load());
    std::unordered_set<std::string> writtenFolders;
    for (size_t i = 0; i < items_.size() && i <= current; ++i) {
        const bool reached = completed[i] || (i == current && currentOffset_ > 0);
        if (items_[i].Kind != KindFile || !reached || (existed[i] && !overwritten[i])) continue;
        writtenByTask_[i] = true;
        destinationCreated_ = true;
        // Every folder above a written file may be one the task made; only empty ones go.
        for (std::string dir = items_[i].Dir; !dir.empty(); dir = ExtractFilePath(ExcludeTrailingDelimiter(dir)))
            if (!writtenFolders.insert(dir).second) break;
    }
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].Kind == KindFolder && writtenFolders.count(items_[i].Dir + items_[i].Name)) writtenByTask_[i] = true;
}

TDownloadThread::~TDownloadThread()
{
    Stop();
    WaitFor();
    for (FileHandle* file : {&varFile_, &conFile_, &logFile_, &sourceHandle_, &destHandle_}) {
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

void TDownloadThread::WakeOrNudge(bool suspended)
{
    // A suspended worker needs a wake; a running one only looks at its flags sooner.
    if (suspended) {
        signal_.Wake();
    } else {
        signal_.Nudge();
    }
}

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
        lock.unlock();
        signal_.Wake();
    } else if (state == StateScheduled) {
        AppendLogLocked("Inf005", {});
        scheduleWaiting_ = false;
        lock.unlock();
        signal_.Nudge();
    }
}

void TDownloadThread::Pause()
{
    std::unique_lock lock(lock_);
    const uint8_t state = state_;
    if (state == StateScanning || state == StateFinished) return;
    if (state == StateScheduled) scheduleWaiting_ = false;
    pauseRequest_ = true;
    lock.unlock();
    signal_.Nudge();
}

void TDownloadThread::Restart()
{
    std::unique_lock lock(lock_);
    const uint8_t state = state_;
    restartRequest_ = true;
    if (state == StateScheduled) scheduleWaiting_ = false;
    lock.unlock();
    WakeOrNudge(state == StatePaused || state == StateFinished);
}

void TDownloadThread::SkipFile()
{
    std::unique_lock lock(lock_);
    const uint8_t state = state_;
    if (state == StateScanning || state == StateFinished) return;
    skipRequest_ = true;
    if (state == StateScheduled) scheduleWaiting_ = false;
    lock.unlock();
    WakeOrNudge(state == StatePaused);
}

void TDownloadThread::Schedule(double dateTime)
{
    std::unique_lock lock(lock_);
    const uint8_t state = state_;
    if (state == StateFinished) return;
    scheduleTime_ = dateTime;
    scheduleWaiting_ = true;
    lock.unlock();
    WakeOrNudge(state == StatePaused);
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
        AppendLogLocked("Inf010", {old, source_});
    }
    signal_.Nudge();
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
    SetState(StatePaused);
    AddLogRecord("Inf020", {std::to_string(limit)});
    errorCount_ = 0;
    Pause();
}

void TDownloadThread::SetSpeedLimit(int32_t bytesPerSecond)
{
    speedLimit_ = std::max(bytesPerSecond, 0);
    speedChanged_ = true;
    signal_.Nudge();
}

void TDownloadThread::SetBufferSize(int32_t bytes)
{
    bufferSize_ = std::max(bytes, 1);
    bufferChanged_ = true;
    signal_.Nudge();
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
    return totalSizes_[0].load() + totalSizes_[1].load() + totalSizes_[2].load();
}

int64_t TDownloadThread::GetCopiedSize() const
{
    return copiedSizes_[0].load() + copiedSizes_[1].load() + copiedSizes_[2].load();
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
    writtenByTask_.push_back(false);
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
    // The .var file must never name an offset or an item whose bytes could still be lost with
    // the page cache: flush first, and keep the old .var when the flush fails.
    if (var && FlushWrittenData()) WriteVarFile();
    if (con) WriteConFile();
    if (log) WriteLogFile();
    lastSave_ = now;
}

void TDownloadThread::WriteRestoreFile(FileHandle file, const char* extension, const std::string& bytes)
{
    try {
        WriteBytesAt(file, bytes.data(), static_cast<int64_t>(bytes.size()), 0);
    } catch (const OsError& error) {
        AddLogRecord("Err006", {error.what(), RestoreFilePath(extension)});
    }
}

void TDownloadThread::WriteVarFile()
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
    v.CurrentIndex = currentIndex_;
    v.CurrentOffset = currentOffset_;
    v.ExistsAnswer = existsAnswer_;
    v.PeakSpeed = peakSpeed_;
    WriteRestoreFile(varFile_, "var", EncodeVarFile(v));
}

void TDownloadThread::WriteConFile() { WriteRestoreFile(conFile_, "con", EncodeConFile(items_, options_)); }

void TDownloadThread::WriteLogFile()
{
    const int high = GetLogHigh();
    if (high < logWritten_ && logFileSize_ > 0) return;
    std::string block = logFileSize_ == 0 ? LogFileHeader() : std::string();
    for (int i = logWritten_; i <= high; ++i) {
        TMsg record;
        GetLogRecord(i, record);
        block += EncodeLogRecord(record);
    }
    // All new records go at the known end in one call; after a failed write the next save
    // writes them again at the same place, over whatever part got through.
    try {
        WriteBytesAt(logFile_, block.data(), static_cast<int64_t>(block.size()), logFileSize_);
        logFileSize_ += static_cast<int64_t>(block.size());
        logWritten_ = high + 1;
    } catch (const OsError& error) {
        AddLogRecord("Err006", {error.what(), RestoreFilePath("log")});
    }
}

}  // namespace tarn
