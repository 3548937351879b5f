#pragma once

#include <sys/types.h>

#include <string>

namespace tarn {

// Starts the desktop program for a hand-over when none runs: in a session of its own, in the
// root folder, its standard streams on /dev/null. The file manager's action that started it thus
// neither waits for it nor ends it, and the folder it ran in can still be unmounted.
class DesktopStarter {
public:
    // tarn beside this executable, else on PATH; empty when there is neither.
    static std::string FindProgram();

    // False with `error` when `program` cannot be started.
    bool Start(const std::string& program, std::string& error);
    // True once the started program has ended, with its exit status (128 + signal when killed).
    bool Ended(int& status);

private:
    pid_t pid_ = -1;
};

}  // namespace tarn
