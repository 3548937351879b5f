#include "tests/e2e/CommandRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

#include "tests/support/TestSupport.h"

namespace tarn::test {

CommandRunner::CommandRunner(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& home)
    : errorFile_(home + "/stderr.txt"), outputFile_(home + "/stdout.txt")
{
    MakeFolders(home);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int err = ::open(errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int out = ::open(outputFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
}

CommandRunner::~CommandRunner()
{
    if (status_ < 0 && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Wait();
    }
}

int CommandRunner::Wait()
{
    if (status_ >= 0) return status_;
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
    }
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return status_;
}

void CommandRunner::Signal(int signal) { ::kill(pid_, signal); }

std::string CommandRunner::Errors() const { return ReadFile(errorFile_); }

std::string CommandRunner::Output() const { return ReadFile(outputFile_); }

int RunCommand(const std::string& program, const std::vector<std::string>& arguments, const std::string& home,
               std::string* errors, std::string* output)
{
    CommandRunner runner(program, arguments, home);
    const int status = runner.Wait();
    if (errors) *errors = runner.Errors();
    if (output) *output = runner.Output();
    return status;
}

}  // namespace tarn::test
