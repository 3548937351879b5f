#pragma once

#include <condition_variable>
#include <mutex>

namespace tarn {

// How a worker thread suspends itself and is woken by another thread.
//
// A wake is a flag, not a pulse: Wake() before Wait() leaves the flag set, and Wait() then
// returns at once, so a wake that races ahead of the suspension is never lost. Callers wait in
// a loop on their own condition, so a stale wake only costs one extra look at it.
//
// Nudge() ends a SleepFor() early without counting as a wake: request flags use it so that a
// sleeping worker looks at them at once instead of at the end of its slice.
class ThreadSignal {
public:
    void Wake();
    void Wait();
    void Nudge();
    // Sleeps up to `milliseconds`; returns early after a Nudge() or Wake() that came during the
    // sleep or since the last sleep ended.
    void SleepFor(int milliseconds);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool woken_ = false;
    bool nudged_ = false;
};

}  // namespace tarn
