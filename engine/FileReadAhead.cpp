#include "engine/FileReadAhead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace tarn {

namespace {

std::atomic<long> filesRead{0};

constexpr auto InterruptSlice = std::chrono::milliseconds(50);

}  // namespace

ReadAheadFile::ReadAheadFile(ReadAheadFile&& other) noexcept
    : handle(std::exchange(other.handle, NoHandle)),
      openError(other.openError),
      status(other.status),
      data(std::move(other.data)),
      endError(other.endError)
{
}

ReadAheadFile& ReadAheadFile::operator=(ReadAheadFile&& other) noexcept
{
    if (this != &other) {
        if (handle != NoHandle) PlatformClose(handle);
        handle = std::exchange(other.handle, NoHandle);
        openError = other.openError;
        status = other.status;
        data = std::move(other.data);
        endError = other.endError;
    }
    return *this;
}

ReadAheadFile::~ReadAheadFile()
{
    if (handle != NoHandle) PlatformClose(handle);
}

FileReadAhead::FileReadAhead(int helpers, size_t maxFiles, int64_t maxBytes)
    : helpers_(helpers), maxFiles_(maxFiles), maxBytes_(maxBytes)
{
}

FileReadAhead::~FileReadAhead()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        entries_.clear();
    }
    work_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

bool FileReadAhead::HasRoom(int64_t size) const
{
    std::lock_guard lock(mutex_);
    return entries_.size() < maxFiles_ && bytes_ + size <= maxBytes_;
}

void FileReadAhead::Announce(size_t key, const std::string& path, int64_t size)
{
    {
        std::lock_guard lock(mutex_);
        auto entry = std::make_shared<Entry>();
        entry->key = key;
        entry->path = path;
        entry->size = size;
        entries_.push_back(std::move(entry));
        bytes_ += size;
        if (threads_.empty())
            for (int i = 0; i < helpers_; ++i) threads_.emplace_back(&FileReadAhead::HelperLoop, this);
    }
    work_.notify_one();
}

FileReadAhead::Result FileReadAhead::Take(size_t key, const std::string& path, const Interrupt& interrupt,
                                          ReadAheadFile& file)
{
    std::unique_lock lock(mutex_);
    auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& entry) { return entry->key >= key; });
    DropLocked(it);  // the files before it were passed by
    if (entries_.empty() || entries_.front()->key != key) return Result::NotRead;
    const std::shared_ptr<Entry> entry = entries_.front();
    if (entry->path != path || entry->step == Entry::Waiting) {
        DropLocked(entries_.begin() + 1);
        return Result::NotRead;
    }
    while (entry->step == Entry::Reading) {
        if (interrupt()) return Result::Interrupted;
        finished_.wait_for(lock, InterruptSlice);
    }
    DropLocked(entries_.begin() + 1);
    if (entry->step == Entry::Declined) return Result::NotRead;
    file = std::move(entry->file);
    return Result::Taken;
}

void FileReadAhead::Discard()
{
    std::lock_guard lock(mutex_);
    DropLocked(entries_.end());
}

void FileReadAhead::DropLocked(std::deque<std::shared_ptr<Entry>>::iterator end)
{
    // A helper reading a dropped entry keeps it alive and closes its file when it is done.
    for (auto it = entries_.begin(); it != end; ++it) bytes_ -= (*it)->size;
    entries_.erase(entries_.begin(), end);
}

long FileReadAhead::FilesRead() { return filesRead.load(); }

void FileReadAhead::HelperLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto next = std::find_if(entries_.begin(), entries_.end(),
                                       [](const auto& entry) { return entry->step == Entry::Waiting; });
        if (stopping_) return;
        if (next == entries_.end()) {
            work_.wait(lock);
            continue;
        }
        const std::shared_ptr<Entry> entry = *next;
        entry->step = Entry::Reading;
        lock.unlock();
        ReadAheadFile file;
        bool declined = false;
        Read(entry->path, file, declined);
        lock.lock();
        entry->file = std::move(file);
        entry->step = declined ? Entry::Declined : Entry::Done;
        finished_.notify_all();
    }
}

void FileReadAhead::Read(const std::string& path, ReadAheadFile& file, bool& declined)
{
    // Opened as the worker opens a source, so that the same file, or the same error, reaches it.
    FileOpenOptions options;
    options.regularOnly = true;
    options.noAtime = true;
    file.handle = PlatformOpen(path, FileAccess::Read, CreationMode::OpenExisting, options, &file.status);
    if (file.handle == NoHandle) {
        file.openError = errno != 0 ? errno : EIO;
        return;
    }
    // A file that grew past what was announced, or has holes to keep, is the worker's to copy.
    if (file.status.size > ReadAheadFileLimit || file.status.allocated < file.status.size) {
        declined = true;
        return;
    }
    file.data.resize(static_cast<size_t>(file.status.size));
    size_t done = 0;
    while (done < file.data.size()) {
        // Reads at an offset leave the position at 0, where the worker expects a file it opened.
        const ssize_t n = PlatformReadAt(file.handle, file.data.data() + done, file.data.size() - done,
                                         static_cast<int64_t>(done));
        if (n < 0) {
            file.endError = errno != 0 ? errno : EIO;
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    file.data.resize(done);
    if (file.endError == 0 && static_cast<int64_t>(done) == file.status.size) ++filesRead;
}

bool ReadsAhead(const std::string& path)
{
    if (const char* choice = std::getenv("TARN_READ_AHEAD")) {
        if (std::strcmp(choice, "always") == 0) return true;
        if (std::strcmp(choice, "never") == 0) return false;
    }
    return PlatformOnRemoteFileSystem(path);
}

}  // namespace tarn
