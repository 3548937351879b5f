#pragma once

namespace tarn {

// SIGINT and SIGTERM ask the command line to stop its tasks in order, not to die at once.
void InstallStopSignals();
// The signal that asked for the stop, or 0.
int StopSignal();

}  // namespace tarn
