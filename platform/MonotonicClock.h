#pragma once

#include <chrono>

namespace tarn {

// Seconds since the last restart, from the monotonic clock.
class MonotonicClock {
public:
    MonotonicClock() { Restart(); }
    void Restart() { start_ = std::chrono::steady_clock::now(); }
    double Seconds() const;

private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace tarn
