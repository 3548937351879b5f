#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace tarn {

// Has the destination's file system write its dirty pages on a thread of its own while the worker
// goes on creating files. Small files are left to the system, which would otherwise hold them all
// until the flush that ends the task; flushed as they come, they reach the disk while the next ones
// are made, and that flush finds little left. A share's files are left to that flush: a flush there
// waits on the server.
class DestinationWriteBack {
public:
    // A flush follows the last one after this many files and this long at the least: often enough
    // that the final flush finds little left, seldom enough that the flushes do not hold up the
    // worker, nor keep the disk flushing under a low speed limit.
    static constexpr int FilesPerFlush = 64;
    static constexpr std::chrono::milliseconds Pause{10};

    DestinationWriteBack() = default;
    DestinationWriteBack(const DestinationWriteBack&) = delete;
    DestinationWriteBack& operator=(const DestinationWriteBack&) = delete;
    ~DestinationWriteBack();  // waits for a flush under way

    // A file was written below `folder`; the first call settles the file system.
    void Nudge(const std::string& folder);
    // The first error a flush met since the last call (an errno), or 0.
    int TakeError();

private:
    void Run();

    bool chosen_ = false;  // the first nudge came: fd_ is open, or this destination is left alone
    int fd_ = -1;
    std::mutex mutex_;
    std::condition_variable wake_;
    int written_ = 0;  // files written since the last flush was asked for
    bool wanted_ = false;
    bool stopping_ = false;
    int error_ = 0;
    std::thread thread_;
};

}  // namespace tarn
