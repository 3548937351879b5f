#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tarn::test {

// A child process with its standard output and standard error captured to files.
class CommandRunner {
public:
    // Starts `program` with `arguments`; HOME and the XDG folders point into `home`.
    CommandRunner(const std::string& program, const std::vector<std::string>& arguments, const std::string& home);
    ~CommandRunner();
    // Waits for the end; the exit status, or 128 + the signal that ended it.
    int Wait();
    void Signal(int signal);
    std::string Errors() const;
    std::string Output() const;
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    std::string errorFile_;
    std::string outputFile_;
    int status_ = -1;
};

// Runs a command to its end; the exit status.
int RunCommand(const std::string& program, const std::vector<std::string>& arguments, const std::string& home,
               std::string* errors = nullptr, std::string* output = nullptr);

}  // namespace tarn::test
