#include "app/StopSignals.h"

#include <csignal>

namespace tarn {
namespace {

volatile std::sig_atomic_t received = 0;

void OnSignal(int signal) { received = signal; }

}  // namespace

void InstallStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int StopSignal() { return received; }

}  // namespace tarn
