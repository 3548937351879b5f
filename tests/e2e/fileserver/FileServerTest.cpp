// Copies from a real file server (docs/reliability.md) while it or its link fails. Every copy
// must end byte-identical: a dying sshfs connection hands out reads filled with zeros before the
// end of the file, which a copy must never keep. Needs root, FUSE, network namespaces, sshd and
// sshfs; without them every test is skipped with the reason.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "tasks/PowerControl.h"
#include "tasks/QueueScheduler.h"
#include "tasks/SchedulerHost.h"
#include "tasks/ServerOfPath.h"
#include "tasks/TaskList.h"
#include "tasks/TaskListViews.h"
#include "tests/e2e/TaskListCampaign.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using namespace std::chrono_literals;
using namespace test;

// The `testbed` script's status, its messages with what it printed before failing.
int RunTestbed(const std::vector<std::string>& arguments, const std::string& home, std::string& messages)
{
    std::string output;
    const int status = RunCommand(TESTBED_PATH, arguments, home, &messages, &output);
    messages = output + messages;
    return status;
}

// A real file server for one test, set up and taken down by the test bed: an OpenSSH server in a
// network namespace of its own, a rate-limited veth link, a relay that delays every byte, and
// the server's folder mounted here with sshfs. Everything it started goes with it.
class FileServer {
public:
    // `tag` tells apart the servers of one test; `work` holds keys, logs, export/ and mnt/.
    FileServer(const std::string& tag, const std::string& work)
        : name_("tarnbed-" + std::to_string(::getpid()) + "-" + tag), work_(work)
    {
        MakeFolders(work_);
        std::string messages;
        if (RunTestbed({"up", name_, work_, RELAY_PATH, "0"}, work_ + "/up", messages) != 0)
            throw std::runtime_error("the file server " + name_ + " did not come up: " + messages);
    }
    ~FileServer()
    {
        std::string messages;
        if (RunTestbed({"down", name_}, work_ + "/down", messages) != 0)
            ADD_FAILURE() << "the file server " << name_ << " was not taken down: " << messages;
    }
    FileServer(const FileServer&) = delete;
    FileServer& operator=(const FileServer&) = delete;

    const std::string& Name() const { return name_; }  // also the host part of the mount source
    std::string Export() const { return work_ + "/export/"; }  // the server's own folder
    std::string Mount() const { return work_ + "/mnt/"; }      // the same folder over the network

    void KillConnections() { Run({"kill-connections"}); }  // the listener stays
    void StopServer() { Run({"server", "stop"}); }          // listener and connections
    void StartServer() { Run({"server", "start"}); }
    void LinkDown() { Run({"link", "down"}); }  // the namespace's end of the link
    void LinkUp() { Run({"link", "up"}); }

private:
    void Run(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin() + 1, name_);
        std::string messages;
        if (RunTestbed(arguments, work_ + "/control", messages) != 0)
            throw std::runtime_error("testbed " + arguments[0] + " failed: " + messages);
    }

    std::string name_;
    std::string work_;
};

int64_t FileSize(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

// True once the process has ended (a zombie waiting to be reaped), so that a test can wait for
// it with a limit before it reaps it.
bool HasEnded(pid_t pid)
{
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
}

// Err005 records among the command's messages.
int CopyErrors(const std::string& text)
{
    int count = 0;
    for (size_t at = text.find("\" source \""); at != std::string::npos; at = text.find("\" source \"", at + 1)) ++count;
    return count;
}

class FileServerTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        TempFolder home;
        std::string why;
        if (RunTestbed({"check"}, home.Path(), why) != 0) GTEST_SKIP() << "no file server on this machine: " << why;
    }

    std::unique_ptr<FileServer> StartServer(const std::string& tag)
    {
        return std::make_unique<FileServer>(tag, temp / ("bed-" + tag));
    }

    // One big file to fail in, small ones in folders around it.
    static void MakeTree(const std::string& root, unsigned seed)
    {
        MakeFolders(root + "a/b");
        MakeFolders(root + "c");
        WriteFile(root + "a/big", RandomBytes(24 * 1024 * 1024, seed++));
        for (int i = 0; i < 24; ++i)
            WriteFile(root + (i % 2 ? "a/b/" : "c/") + "small" + std::to_string(i),
                      RandomBytes(static_cast<size_t>(i * 1531 % 70000), seed++));
    }

    // `tarnctl copy` of the server's tree, through the mount, at a pace that leaves time to fail,
    // once it is well inside the big file; `verify`: each copy is read back and compared.
    std::unique_ptr<CommandRunner> StartCopy(const FileServer& server, bool verify = false)
    {
        MakeTree(server.Export() + "tree/", 7);
        std::vector<std::string> arguments{"copy", "--speed-limit", "3M", "--delay-on-error", "500", "--max-errors",
                                           "1000", "--restore-dir", temp / "restore", server.Mount() + "tree",
                                           temp / "dst"};
        if (verify) arguments.insert(arguments.begin() + 1, "--verify");
        auto copy = std::make_unique<CommandRunner>(TARNCTL_PATH, arguments, temp / "home");
        WaitUntilMidFile();
        return copy;
    }

    void WaitUntilMidFile()
    {
        ASSERT_TRUE(WaitUntil([&] { return FileSize(temp / "dst/tree/a/big") >= 6 * 1024 * 1024; }, 60s))
            << "the copy did not reach the middle of the big file";
    }

    // The command's exit status, or -1 when it has not ended within `limit`.
    static int WaitForExit(CommandRunner& command, std::chrono::seconds limit)
    {
        if (!WaitUntil([&] { return HasEnded(command.Pid()); }, limit)) return -1;
        return command.Wait();
    }

    // A copy through a failure: it must end by itself, copied, byte-identical.
    void ExpectCopied(CommandRunner& copy, const FileServer& server, std::chrono::seconds limit)
    {
        EXPECT_EQ(WaitForExit(copy, limit), 0) << copy.Errors();
        EXPECT_TRUE(SameTree(server.Export() + "tree", temp / "dst/tree"));
    }
};

struct Outage {
    const char* name;
    void (FileServer::*down)();
    void (FileServer::*up)();  // none: the failure heals by itself
    std::chrono::seconds lasts;
    std::chrono::seconds limit;  // for the copy to end after it
    bool reported;               // the copy reports Err005 for it
};

class FileServerOutageTest : public FileServerTest, public ::testing::WithParamInterface<Outage> {};

// Killed connections: the read in flight fails or comes back as zeros, and the verified copy must
// agree with a new read. A short cut heals without a new connection; a long one outlasts the
// client's keep-alive (15 s).
TEST_P(FileServerOutageTest, TheCopyEndsByteIdentical)
{
    const Outage& outage = GetParam();
    const auto server = StartServer("o");
    const auto copy = StartCopy(*server, outage.up == nullptr);
    ((*server).*outage.down)();
    std::this_thread::sleep_for(outage.lasts);
    EXPECT_FALSE(HasEnded(copy->Pid())) << "the copy gave up during the outage:\n" << copy->Errors();
    if (outage.up) ((*server).*outage.up)();
    ExpectCopied(*copy, *server, outage.limit);
    if (outage.reported) {
        EXPECT_GE(CopyErrors(copy->Errors()), 1) << "the outage was not reported:\n" << copy->Errors();
    }
}

INSTANTIATE_TEST_SUITE_P(
    FileServer, FileServerOutageTest,
    ::testing::Values(Outage{"ConnectionKilledMidFile", &FileServer::KillConnections, nullptr, 0s, 90s, true},
                      Outage{"ServerDownForTwentySeconds", &FileServer::StopServer, &FileServer::StartServer, 20s, 90s,
                             true},
                      Outage{"LinkDownForTenSeconds", &FileServer::LinkDown, &FileServer::LinkUp, 10s, 90s, false},
                      Outage{"LinkDownForFortySeconds", &FileServer::LinkDown, &FileServer::LinkUp, 40s, 120s, true}),
    [](const auto& info) { return std::string(info.param.name); });

// With a read hanging on the cut link, the program ends at once on SIGTERM, and the task it
// leaves behind is finished by a resume once the link is back.
TEST_F(FileServerTest, ProgramEndsWhileAReadHangsAndTheTaskResumes)
{
    const auto server = StartServer("e");
    const auto copy = StartCopy(*server);
    server->LinkDown();
    std::this_thread::sleep_for(2s);
    const auto asked = std::chrono::steady_clock::now();
    copy->Signal(SIGTERM);
    EXPECT_EQ(WaitForExit(*copy, 10s), 128 + SIGTERM) << copy->Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s) << "the program waited for the hung read";
    server->LinkUp();
    CommandRunner resume(TARNCTL_PATH, {"resume", "--restore-dir", temp / "restore"}, temp / "resume");
    ExpectCopied(resume, *server, 90s);
}

// Stop returns while the worker hangs in a read on the cut link; the worker ends once the
// read returns, and the copied part is kept for a later start.
TEST_F(FileServerTest, StopReturnsWhileAReadHangs)
{
    const auto server = StartServer("t");
    MakeTree(server->Export() + "tree/", 3);
    MakeFolders(temp / "taskrestore");
    auto task = std::make_unique<TDownloadThread>("5E77E500", temp / "taskrestore/", server->Mount() + "tree",
                                                  temp / "dst/", StateCopying, 0, 500, 15000, 65536, 12500000,
                                                  3 * 1024 * 1024);
    WaitUntilMidFile();
    server->LinkDown();
    std::this_thread::sleep_for(2s);
    const auto asked = std::chrono::steady_clock::now();
    task->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    EXPECT_FALSE(task->WaitFor(500ms)) << "the read did not hang: the test proves nothing";
    server->LinkUp();
    EXPECT_TRUE(task->WaitFor(60s)) << "the worker did not end after its read returned";
    EXPECT_NE(task->GetState(), StateFinished);
}

// Views and questions for a task list driven by the test itself.
class QuietHost : public TaskListViews, public SchedulerHost, public PowerControl {
public:
    void InsertViews(int) override {}
    void RemoveViews(int) override {}
    void MoveViews(int, int) override {}
    void ShowError(const std::string& text) override { ADD_FAILURE() << text; }
    void AskAboutExistingFile(TDownloadThread& task) override { task.Answer(AnswerOverwriteAll); }
    bool ConfirmShutDown() override { return false; }
    bool PowerOff(std::string&) override { return false; }
};

// Two servers, two tasks each: "Queue by File Servers" runs one task per server at a time, both
// servers at once, the server told by each mount's source.
TEST_F(FileServerTest, QueueByFileServersRunsOneTaskPerServer)
{
    const auto one = StartServer("q1");
    const auto two = StartServer("q2");
    ASSERT_EQ(ServerOfPath(one->Mount() + "x"), one->Name());
    ASSERT_EQ(ServerOfPath(two->Mount() + "x"), two->Name());
    unsigned seed = 11;
    for (const FileServer* server : {one.get(), two.get()})
        for (const char* folder : {"t1/", "t2/"}) {
            MakeFolders(server->Export() + folder);
            WriteFile(server->Export() + folder + "data", RandomBytes(2 * 1024 * 1024, seed++));
        }
    QuietHost host;
    TMsgList msgs;
    TSettingsStorage settings(RegistryLocation{"/dev/null", "/dev/null"});
    settings.SetRestorePath(temp / "queue-restore/");
    settings.SetLogFile(temp / "queue-restore/log.txt");
    settings.SetDelayOnError(200);
    TaskList tasks(settings, msgs, host);
    QueueScheduler scheduler(tasks, settings, msgs, host, host);
    tasks.LoadTaskList();
    scheduler.Modes().SourceQueue = true;
    const std::vector<std::pair<const FileServer*, std::string>> sources = {
        {one.get(), "t1"}, {one.get(), "t2"}, {two.get(), "t1"}, {two.get(), "t2"}};
    for (const auto& [server, folder] : sources)
        ASSERT_TRUE(tasks.AddTask(server->Mount() + folder, temp / ("dst/" + server->Name() + "/"), StatePaused, 0,
                                  2 * 1024 * 1024));
    bool bothAtOnce = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (;;) {
        scheduler.Tick({});
        std::map<std::string, int> running;
        int finished = 0;
        for (int i = 0; i < tasks.Count(); ++i) {
            const uint8_t state = tasks.Task(i).GetState();
            if (state == StateScanning || state == StateCopying || state == StateError)
                ++running[ServerOfPath(tasks.Task(i).GetSource())];
            finished += state == StateFinished;
        }
        for (const auto& [key, count] : running) EXPECT_LE(count, 1) << key << " runs more than one task";
        bothAtOnce |= running.size() == 2;
        if (finished == tasks.Count()) break;
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << finished << " of 4 tasks finished in time";
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(bothAtOnce) << "the two servers never ran at the same time";
    for (const auto& [server, folder] : sources)
        EXPECT_EQ(ReadFile(temp / ("dst/" + server->Name() + "/" + folder + "/data")),
                  ReadFile(server->Export() + folder + "/data"));
    tasks.Close();
}

// The trees are made in the server's own folder and copied through its mount, so that every kill
// also leaves the share's connection with reads in flight.
using TaskListCampaignShareTest = FileServerTest;
TEST_F(TaskListCampaignShareTest, EveryTaskOfAKilledListFromAShareEndsByteIdentical)
{
    FileServer server("c", temp / "bed");
    MakeTaskListCampaignTrees(server.Export() + "src/");
    RunTaskListCampaign({server.Mount() + "src/", server.Export() + "src/", temp / "dst/", temp.Path()}, 2);
}

}  // namespace
}  // namespace tarn
