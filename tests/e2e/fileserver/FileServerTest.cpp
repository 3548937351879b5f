// Copies from a real file server (OpenSSH in a network namespace, mounted with sshfs) while the
// server or its link fails: the connection's processes are killed mid-file, the whole server is
// down for 20 s, the link is down for 10 s and for 40 s, the copy is stopped or the program ends
// while a read hangs on the dead share, and two servers are worked by "Queue by File Servers".
// Every copy must end byte-identical: a dying sshfs connection hands out reads filled with
// zeros before the end of the file, which a copy must never keep.
//
// Needs root, FUSE, network namespaces, sshd and sshfs; without them every test is skipped
// with the reason.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
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
#include "tests/e2e/CommandRunner.h"
#include "tests/e2e/fileserver/FileServer.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::CommandRunner;
using test::FileServer;
using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::SameTree;
using test::WaitUntil;
using test::WriteFile;
namespace fs = std::filesystem;

constexpr size_t BigFileSize = 24 * 1024 * 1024;

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

class FileServerTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        if (const std::string why = FileServer::WhyUnavailable(); !why.empty())
            GTEST_SKIP() << "no file server on this machine: " << why;
    }

    std::unique_ptr<FileServer> StartServer(const std::string& tag, int delayMs = 0)
    {
        return std::make_unique<FileServer>(tag, temp / ("bed-" + tag), delayMs);
    }

    // One big file to fail in, small ones in folders around it.
    static void MakeTree(const std::string& root, unsigned seed)
    {
        MakeFolders(root + "a/b");
        MakeFolders(root + "c");
        WriteFile(root + "a/big", RandomBytes(BigFileSize, seed++));
        for (int i = 0; i < 24; ++i)
            WriteFile(root + (i % 2 ? "a/b/" : "c/") + "small" + std::to_string(i),
                      RandomBytes(static_cast<size_t>(i * 1531 % 70000), seed++));
    }

    // `tarnctl copy` of the server's tree, through the mount, at a pace that leaves time to fail;
    // `verify`: each copy is read back and compared with the server's file.
    std::unique_ptr<CommandRunner> StartCopy(const FileServer& server, const std::string& home = "home",
                                             bool verify = false)
    {
        MakeTree(server.Export() + "tree/", 7);
        std::vector<std::string> arguments{"copy", "--speed-limit", "3M", "--delay-on-error", "500", "--max-errors",
                                           "1000", "--restore-dir", temp / "restore", server.Mount() + "tree",
                                           temp / "dst"};
        if (verify) arguments.insert(arguments.begin() + 1, "--verify");
        return std::make_unique<CommandRunner>(TARNCTL_PATH, arguments, temp / home);
    }

    // Waits until the copy is well inside the big file.
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

    // Err005 records among the command's messages.
    static int CopyErrors(const std::string& text) { return Count(text, "\" source \""); }

    static int Count(const std::string& text, const std::string& word)
    {
        int count = 0;
        for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
        return count;
    }

    // A copy through a failure: it must end by itself, copied, byte-identical.
    void ExpectCopied(CommandRunner& copy, const FileServer& server, std::chrono::seconds limit)
    {
        const int status = WaitForExit(copy, limit);
        EXPECT_EQ(status, 0) << copy.Errors();
        EXPECT_TRUE(SameTree(server.Export() + "tree", temp / "dst/tree"));
    }
};

// The connection's processes die mid-file and the listener takes the reconnection: the read
// in flight fails (or comes back as zeros), the task reports Err005, and the file is finished
// from the server anew. The copies are verified: a source read again over the new connection
// must agree with what the old one gave.
TEST_F(FileServerTest, ConnectionKilledMidFileEndsByteIdentical)
{
    const auto server = StartServer("k");
    const auto copy = StartCopy(*server, "home", true);
    WaitUntilMidFile();
    server->KillConnections();
    ExpectCopied(*copy, *server, 90s);
    EXPECT_GE(CopyErrors(copy->Errors()), 1)
        << "the failed read was not reported:\n" << copy->Errors();
}

// The whole server is down for 20 s: every reconnection is refused meanwhile, each retry is an
// error, and the copy goes on when the server is back.
TEST_F(FileServerTest, ServerDownForTwentySecondsThenBack)
{
    const auto server = StartServer("s");
    const auto copy = StartCopy(*server);
    WaitUntilMidFile();
    server->StopServer();
    std::this_thread::sleep_for(20s);
    EXPECT_FALSE(HasEnded(copy->Pid())) << "the copy gave up while the server was down:\n" << copy->Errors();
    server->StartServer();
    ExpectCopied(*copy, *server, 90s);
    EXPECT_GE(CopyErrors(copy->Errors()), 1) << "the outage was not reported:\n" << copy->Errors();
}

// A cut link keeps the reads waiting; a short cut heals without a new connection, a long one
// outlasts the client's keep-alive (15 s) and the copy goes on over a new connection.
TEST_F(FileServerTest, LinkDownForTenSecondsThenBack)
{
    const auto server = StartServer("l");
    const auto copy = StartCopy(*server);
    WaitUntilMidFile();
    server->LinkDown();
    std::this_thread::sleep_for(10s);
    server->LinkUp();
    ExpectCopied(*copy, *server, 90s);
}

TEST_F(FileServerTest, LinkDownForFortySecondsThenBack)
{
    const auto server = StartServer("m");
    const auto copy = StartCopy(*server);
    WaitUntilMidFile();
    server->LinkDown();
    std::this_thread::sleep_for(40s);
    server->LinkUp();
    ExpectCopied(*copy, *server, 120s);
    // Once the client gave the connection up, every reconnection failed until the link was back.
    EXPECT_GE(CopyErrors(copy->Errors()), 1) << "the outage was not reported:\n" << copy->Errors();
}

// With a read hanging on the cut link, the program ends at once on SIGTERM, and the task it
// leaves behind is finished by a resume once the link is back.
TEST_F(FileServerTest, ProgramEndsWhileAReadHangsAndTheTaskResumes)
{
    const auto server = StartServer("e");
    const auto copy = StartCopy(*server);
    WaitUntilMidFile();
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

}  // namespace
}  // namespace tarn
