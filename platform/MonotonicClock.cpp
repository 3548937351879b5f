#include "platform/MonotonicClock.h"

namespace tarn {

double MonotonicClock::Seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

}  // namespace tarn
