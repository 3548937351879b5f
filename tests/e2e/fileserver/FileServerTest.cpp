// Copies from a real file server (docs/reliability.md) while it or its link fails: a dying sshfs
// connection hands out zeros before the end of a file, which a copy must never keep. Needs root,
// FUSE, network namespaces, sshd and sshfs; without them every test is skipped with the reason.
#include <stdexcept>

#include "tasks/ServerOfPath.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/e2e/TaskListCampaign.h"
#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

using namespace test;
using Words = std::vector<std::string>;

// What the test bed printed when it failed, nothing when it did what it was asked.
std::string Testbed(const Words& arguments, const std::string& home)
{
    std::string errors, output;
    return RunCommand(TESTBED_PATH, arguments, home, &errors, &output) == 0 ? ""
                                                                           : "testbed " + arguments[0] + ": " + output + errors;
}

// A server of the test bed for one test, taken down with all it started when it goes.
class FileServer {
public:
    FileServer(const std::string& tag, const std::string& work)
        : name_("tarnbed-" + std::to_string(::getpid()) + "-" + tag), work_(work)
    {
        MakeFolders(work_);
        if (const auto why = Testbed({"up", name_, work_, RELAY_PATH, "0"}, work_ + "/up"); !why.empty())
            throw std::runtime_error(why);
    }
    ~FileServer()
    {
        if (const auto why = Testbed({"down", name_}, work_ + "/down"); !why.empty()) ADD_FAILURE() << why;
    }
    const std::string& Name() const { return name_; }  // also the host part of the mount source
    std::string Export() const { return work_ + "/export/"; }  // the server's own folder
    std::string Mount() const { return work_ + "/mnt/"; }      // the same folder over the network
    // "kill-connections", "server stop|start", "link down|up" (the namespace's end).
    void Do(Words arguments) const
    {
        arguments.insert(arguments.begin() + 1, name_);
        if (const auto why = Testbed(arguments, work_ + "/control"); !why.empty()) throw std::runtime_error(why);
    }

private:
    std::string name_;
    std::string work_;
};

class FileServerTest : public TempFolderTest {
protected:
    void SetUp() override
    {
        if (const auto why = Testbed({"check"}, TempFolder().Path()); !why.empty())
            GTEST_SKIP() << "no file server on this machine: " << why;
    }
    std::unique_ptr<FileServer> StartServer(const std::string& tag) { return std::make_unique<FileServer>(tag, temp / ("bed-" + tag)); }
    // `tarnctl copy` of the server's tree through the mount, slow enough to fail in, returned once
    // it is well inside the tree's big file; small files in folders around it.
    std::unique_ptr<CommandRunner> StartCopy(const FileServer& server, bool verify = false)
    {
        const std::string root = server.Export() + "tree/";
        MakeFolders(root + "a/b");
        MakeFolders(root + "c");
        unsigned seed = 7;
        WriteFile(root + "a/big", RandomBytes(24 * 1024 * 1024, seed++));
        for (int i = 0; i < 24; ++i)
            WriteFile(root + (i % 2 ? "a/b/" : "c/") + "small" + std::to_string(i),
                      RandomBytes(static_cast<size_t>(i * 1531 % 70000), seed++));
        Words arguments{"copy", "--speed-limit", "3M", "--delay-on-error", "500", "--max-errors", "1000",
                        "--restore-dir", temp / "restore", server.Mount() + "tree", temp / "dst"};
        if (verify) arguments.insert(arguments.begin() + 1, "--verify");
        auto copy = std::make_unique<CommandRunner>(TARNCTL_PATH, arguments, temp / "home");
        WaitUntilMidFile(temp / "dst/tree/a/big");
        return copy;
    }
    static void WaitUntilMidFile(const std::string& big)
    {
        ASSERT_TRUE(WaitUntil([&] { return FileSize(big) >= 6 * 1024 * 1024; }, 60s))
            << "the copy did not reach the middle of the big file";
    }
    void ExpectCopied(CommandRunner& copy, const FileServer& server, std::chrono::seconds limit)
    {
        EXPECT_EQ(copy.WaitFor(limit) ? copy.Wait() : -1, 0) << copy.Errors();
        EXPECT_TRUE(SameTree(server.Export() + "tree", temp / "dst/tree"));
    }
};

struct Outage {
    const char* name;
    Words down, up;  // no `up`: the failure heals by itself, and the copy is verified
    std::chrono::seconds lasts, limit;
    bool reported;  // the copy reports Err005 for it
};

class FileServerOutageTest : public FileServerTest, public ::testing::WithParamInterface<Outage> {};

// A long cut outlasts the client's keep-alive (15 s); a short one heals without a new connection.
TEST_P(FileServerOutageTest, TheCopyEndsByteIdentical)
{
    const Outage& outage = GetParam();
    const auto server = StartServer("o");
    const auto copy = StartCopy(*server, outage.up.empty());
    server->Do(outage.down);
    std::this_thread::sleep_for(outage.lasts);
    EXPECT_FALSE(copy->WaitFor(0s)) << "the copy gave up during the outage:\n" << copy->Errors();
    if (!outage.up.empty()) server->Do(outage.up);
    ExpectCopied(*copy, *server, outage.limit);
    EXPECT_TRUE(!outage.reported || copy->Errors().find("\" source \"") != npos) << copy->Errors();
}

INSTANTIATE_TEST_SUITE_P(
    FileServer, FileServerOutageTest,
    ::testing::Values(Outage{"ConnectionKilledMidFile", {"kill-connections"}, {}, 0s, 90s, true},
                      Outage{"ServerDownForTwentySeconds", {"server", "stop"}, {"server", "start"}, 20s, 90s, true},
                      Outage{"LinkDownForTenSeconds", {"link", "down"}, {"link", "up"}, 10s, 90s, false},
                      Outage{"LinkDownForFortySeconds", {"link", "down"}, {"link", "up"}, 40s, 120s, true}),
    [](const auto& info) { return std::string(info.param.name); });

// With reads hanging on the cut link, SIGTERM ends tarnctl at once and a task's Stop returns at
// once; the task's worker ends once its read returns, and a resume finishes tarnctl's task.
TEST_F(FileServerTest, AReadThatHangsHoldsNoStopUp)
{
    const auto server = StartServer("e");
    const auto copy = StartCopy(*server);
    MakeFolders(temp / "taskrestore");
    auto task = std::make_unique<TDownloadThread>("5E77E500", temp / "taskrestore/", server->Mount() + "tree",
                                                  temp / "taskdst/", StateCopying, 0, 500, 15000, 65536, 12500000,
                                                  3 * 1024 * 1024);
    WaitUntilMidFile(temp / "taskdst/tree/a/big");
    server->Do({"link", "down"});
    std::this_thread::sleep_for(2s);
    const auto asked = std::chrono::steady_clock::now();
    task->Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    copy->Signal(SIGTERM);
    EXPECT_EQ(copy->WaitFor(10s) ? copy->Wait() : -1, 128 + SIGTERM) << copy->Errors();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s) << "the program waited for the hung read";
    EXPECT_FALSE(task->WaitFor(500ms)) << "the read did not hang: the test proves nothing";
    server->Do({"link", "up"});
    EXPECT_TRUE(task->WaitFor(60s)) << "the worker did not end after its read returned";
    EXPECT_NE(task->GetState(), StateFinished);
    CommandRunner resume(TARNCTL_PATH, {"resume", "--restore-dir", temp / "restore"}, temp / "resume");
    ExpectCopied(resume, *server, 90s);
}

// "Queue by File Servers": one task per server at a time, both servers at once, each server told
// by its mount's source.
TEST_F(FileServerTest, QueueByFileServersRunsOneTaskPerServer)
{
    const auto one = StartServer("q1");
    const auto two = StartServer("q2");
    FakeViews views;
    FakeHost host;
    FakePower power;
    TMsgList msgs;
    TSettingsStorage settings(RegistryLocation{"/dev/null", "/dev/null"});
    settings.SetRestorePath(temp / "queue-restore/");
    settings.SetLogFile(temp / "queue-restore/log.txt");
    settings.SetDelayOnError(200);
    TaskList tasks(settings, msgs, views);
    QueueScheduler scheduler(tasks, settings, msgs, host, power);
    tasks.LoadTaskList();
    scheduler.Modes().SourceQueue = true;
    unsigned seed = 11;
    for (const FileServer* server : {one.get(), two.get()}) {
        ASSERT_EQ(ServerOfPath(server->Mount() + "x"), server->Name());
        for (const std::string folder : {"t1", "t2"}) {
            MakeFolders(server->Export() + folder);
            WriteFile(server->Export() + folder + "/data", RandomBytes(2 * 1024 * 1024, seed++));
            ASSERT_TRUE(tasks.AddTask(server->Mount() + folder, temp / ("dst/" + server->Name() + "/"), StatePaused,
                                      0, 2 * 1024 * 1024));
        }
    }
    bool bothAtOnce = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (int finished = 0; finished < tasks.Count(); std::this_thread::sleep_for(100ms)) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << finished << " of 4 tasks finished in time";
        scheduler.Tick({});
        std::map<std::string, int> running;
        finished = 0;
        for (int i = 0; i < tasks.Count(); ++i) {
            const uint8_t state = tasks.Task(i).GetState();
            if (state == StateScanning || state == StateCopying || state == StateError)
                ++running[ServerOfPath(tasks.Task(i).GetSource())];
            finished += state == StateFinished;
        }
        for (const auto& [key, count] : running) EXPECT_LE(count, 1) << key << " runs more than one task";
        bothAtOnce |= running.size() == 2;
    }
    EXPECT_TRUE(bothAtOnce) << "the two servers never ran at the same time";
    for (const FileServer* server : {one.get(), two.get()})
        for (const std::string folder : {"t1", "t2"})
            EXPECT_TRUE(SameTree(server->Export() + folder, temp / ("dst/" + server->Name() + "/" + folder)));
    EXPECT_EQ(views.errors, Words{});
    EXPECT_EQ(host.errors, Words{});
    tasks.Close();
}

// The trees are made in the server's own folder and copied through its mount, so that every kill
// also leaves the share's connection with reads in flight.
using TaskListCampaignShareTest = FileServerTest;
TEST_F(TaskListCampaignShareTest, EveryTaskOfAKilledListFromAShareEndsByteIdentical)
{
    FileServer server("c", temp / "bed");
    MakeTaskListCampaignTrees(server.Export() + "src/");
    RunCampaign({.Source = server.Mount() + "src/", .Original = server.Export() + "src/", .Destination = temp / "dst/",
                 .Work = temp.Path()});
}

}  // namespace
}  // namespace tarn
