#include "engine/DestinationWriteBack.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/PlatformFile.h"

namespace tarn {

DestinationWriteBack::~DestinationWriteBack()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

void DestinationWriteBack::Nudge(const std::string& folder)
{
    if (!chosen_) {
        chosen_ = true;
        // Opened while the pages are still in memory, so that one that fails to reach the disk is
        // reported to it.
        if (!PlatformOnRemoteFileSystem(folder)) fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd_ < 0 || ++written_ < FilesPerFlush) return;
    written_ = 0;
    {
        const std::lock_guard lock(mutex_);
        wanted_ = true;
        if (!thread_.joinable()) thread_ = std::thread(&DestinationWriteBack::Run, this);
    }
    wake_.notify_one();
}

int DestinationWriteBack::TakeError()
{
    const std::lock_guard lock(mutex_);
    return std::exchange(error_, 0);
}

void DestinationWriteBack::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return wanted_ || stopping_; });
        if (stopping_) return;
        wanted_ = false;
        lock.unlock();
        const int result = PlatformSyncFileSystem(fd_);
        const int error = errno;
        lock.lock();
        if (result != 0 && error_ == 0) error_ = error;
        wake_.wait_for(lock, Pause, [this] { return stopping_; });
    }
}

}  // namespace tarn
