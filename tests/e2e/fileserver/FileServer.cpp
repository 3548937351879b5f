#include "tests/e2e/fileserver/FileServer.h"

#include <unistd.h>

#include <stdexcept>

#include "tests/e2e/CommandRunner.h"
#include "tests/support/TestSupport.h"

namespace tarn::test {
namespace {

// The script's messages, with what it printed before failing.
int RunTestbed(const std::vector<std::string>& arguments, const std::string& home, std::string& messages)
{
    std::string output;
    const int status = RunCommand(TESTBED_PATH, arguments, home, &messages, &output);
    messages = output + messages;
    return status;
}

}  // namespace

std::string FileServer::WhyUnavailable()
{
    TempFolder home;
    std::string messages;
    if (RunTestbed({"check"}, home.Path(), messages) == 0) return {};
    return messages.empty() ? "the test bed's check failed" : messages;
}

FileServer::FileServer(const std::string& tag, const std::string& work, int delayMs)
    : name_("tarnbed-" + std::to_string(getpid()) + "-" + tag), work_(work)
{
    MakeFolders(work_);
    std::string messages;
    if (RunTestbed({"up", name_, work_, RELAY_PATH, std::to_string(delayMs)}, work_ + "/up", messages) != 0)
        throw std::runtime_error("the file server " + name_ + " did not come up: " + messages);
}

FileServer::~FileServer()
{
    std::string messages;
    if (RunTestbed({"down", name_}, work_ + "/down", messages) != 0)
        ADD_FAILURE() << "the file server " << name_ << " was not taken down: " << messages;
}

void FileServer::Run(const std::string& command, const std::string& argument)
{
    std::vector<std::string> arguments = {command, name_};
    if (!argument.empty()) arguments.push_back(argument);
    std::string messages;
    if (RunTestbed(arguments, work_ + "/control", messages) != 0)
        throw std::runtime_error("testbed " + command + " " + argument + " failed: " + messages);
}

void FileServer::KillConnections() { Run("kill-connections"); }
void FileServer::StopServer() { Run("server", "stop"); }
void FileServer::StartServer() { Run("server", "start"); }
void FileServer::LinkDown() { Run("link", "down"); }
void FileServer::LinkUp() { Run("link", "up"); }

}  // namespace tarn::test
