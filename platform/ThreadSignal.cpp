#include "platform/ThreadSignal.h"

#include <chrono>

namespace tarn {

void ThreadSignal::Wake()
{
    {
        std::lock_guard lock(mutex_);
        woken_ = true;
        nudged_ = true;
    }
    changed_.notify_all();
}

void ThreadSignal::Wait()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return woken_; });
    woken_ = false;
}

void ThreadSignal::Nudge()
{
    {
        std::lock_guard lock(mutex_);
        nudged_ = true;
    }
    changed_.notify_all();
}

void ThreadSignal::SleepFor(int milliseconds)
{
    std::unique_lock lock(mutex_);
    if (milliseconds > 0)
        changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return nudged_; });
    nudged_ = false;
}

}  // namespace tarn
