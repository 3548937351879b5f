// Faults a task comes through without losing a file, hanging, or reporting a copy not identical.
#include <sys/mount.h>

#include <optional>

#include "engine/DataBytes.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

// A small tmpfs of its own for a test, where the system lets the test mount one.
struct TmpfsMount {
    explicit TmpfsMount(const std::string& at) : path(at) {}
    ~TmpfsMount() { if (mounted) ::umount2(path.c_str(), MNT_DETACH); }
    const std::string path;
    const bool mounted = (MakeFolders(path), ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=1m") == 0);
};

using DownloadThreadFaultTest = EngineTest;

TEST_F(DownloadThreadFaultTest, SpecialFilesAreLeftOutAndCountedNeverWaitedOn)
{
    ASSERT_EQ(::mkfifo((Src() + "pipe").c_str(), 0600), 0);
    for (const std::string& source : {Src() + "pipe", std::string("/dev/zero")}) {
        auto task = NewTask(source, Dst());
        ASSERT_TRUE(WaitForState(*task, StateFinished)) << source;
        EXPECT_EQ(task->GetLeftOutCount(), 1);
        EXPECT_EQ(Log(*task).back().Id, "Inf022");
        EXPECT_EQ(ParamsOf(*task, "Inf022"), std::vector<std::string>{"1"});
        EXPECT_TRUE(Logged(*task, "Err002", "Not a regular file"));
        EXPECT_FALSE(fs::exists(Dst() + ExtractFileName(source)));
        task.reset();
        Fresh();
    }

    // A pipe, a dangling link, a folder not listed, a pipe where a file goes, a file turned pipe after the scan.
    const std::string root = Src() + "tree/";
    WriteTree(root, {{"a", RandomBytes(400000, 1)}, {"busy", "x"}, {"locked/f", "x"}, {"z/later", "y"}});
    MakeFolders(Dst() + "tree");
    ASSERT_EQ(::mkfifo((root + "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((Dst() + "tree/busy").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("nowhere", (root + "dangling").c_str()), 0);
    InjectFault(FaultOp::Open, "src/tree/locked", EACCES, 1000);
    auto task = NewTask(Src() + "tree", Dst(), {.speedLimit = 1000000});
    ASSERT_TRUE(WaitUntil([&] { return task->GetCopiedSize() > 0; }));
    fs::remove(root + "z/later");
    ASSERT_EQ(::mkfifo((root + "z/later").c_str(), 0600), 0);
    task->SetSpeedLimit(2147483647);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(task->GetLeftOutCount(), 5);
    EXPECT_EQ(Log(*task).back().Params, std::vector<std::string>{"5"});
    EXPECT_TRUE(Logged(*task, "Err010", "tree/busy"));
    EXPECT_TRUE(Logged(*task, "Err010", "z/later"));
    EXPECT_TRUE(Identical(root + "a", Dst() + "tree/a"));

    EXPECT_EQ(Restored(task)->GetLeftOutCount(), 5);  // and survives a restart of the program
}

TEST_F(DownloadThreadFaultTest, AFileWrittenBeforeAKillIsTheTasksOwnWhateverTheAnswer)
{
    // Killed between two saves: the restore files name an early position; files made since stand, the last half
    // written over the user's file of that name, as the user answered.
    const std::string root = Src() + "tree/";
    WriteTree(root, {{"one", RandomBytes(3000, 1)}, {"sub/two", RandomBytes(5000, 2)}, {"sub/three", RandomBytes(300000, 3)}});
    for (const uint8_t answer : {AnswerAsk, AnswerSkipAll, AnswerUploadAll}) {
        Fresh();
        WriteTree(Dst(), {{"tree/sub/three", "the user's"}});
        StallOn(FaultOp::Write, "sub/three", 2);  // past its emptying and a chunk: "three" takes several
        {
            // The files as a kill while the worker is held in that write would leave them.
            auto task = NewTask(Src() + "tree", Dst(), {.speedLimit = 1000000000});
            ASSERT_TRUE(Answered(*task, AnswerOverwriteAll));
            ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
            fs::copy(RestoreDir(), temp / "restore-killed", fs::copy_options::recursive);
            fs::copy(Dst(), temp / "dst-killed", fs::copy_options::recursive);
            task->Stop();
            ReleaseStalls();
        }
        Fresh();
        fs::rename(temp / "restore-killed", RestoreDir());
        fs::rename(temp / "dst-killed", Dst());
        ASSERT_GT(fs::file_size(Dst() + "tree/sub/three"), 0u);
        ASSERT_LT(fs::file_size(Dst() + "tree/sub/three"), 300000u);
        // The answer the task holds for existing files, as the user may have given it.
        TaskVariables v = DecodeVarFile(ReadFile(RestoreDir() + "0000ABCD.var"));
        v.ExistsAnswer = answer;
        WriteFile(RestoreDir() + "0000ABCD.var", EncodeVarFile(v));

        auto restored = RestoreTask();
        ASSERT_TRUE(WaitUntil([&] { return restored->GetState() == StateFinished || restored->IsWaitingForAnswer(); }));
        EXPECT_FALSE(restored->IsWaitingForAnswer()) << int(answer);
        EXPECT_EQ(CountId(*restored, "Inf017"), 1);  // the question of the run before the kill, no other
        EXPECT_EQ(restored->GetCopiedFileCount(), 3) << int(answer);  // each file once, however often it was copied
        for (const char* name : {"one", "sub/two", "sub/three"})
            EXPECT_TRUE(Identical(root + name, Dst() + "tree/" + name)) << name << " answer " << int(answer);
    }
}

TEST_F(DownloadThreadFaultTest, AFullDiskFailsTheTaskAndAReadOnlyOneLeavesItsItemsOut)
{
    // A real tmpfs where the system lets the test mount one, and the seam's named disks the other tests use.
    WriteTree(Src(), {{"big", RandomBytes(3 * 1024 * 1024, 1)}, {"tree/sub/f", "x"}});
    for (const bool real : {true, false}) {
        Fresh();
        SCOPED_TRACE(real ? "tmpfs" : "seam");
        const std::string disk = temp / (real ? "tmpfs/" : "seam/");
        std::optional<TmpfsMount> mount;
        if (real && !mount.emplace(disk).mounted) continue;
        MakeFolders(disk);
        if (!real) DiskFull(disk);
        // Each retry rewinds to the last flush and gets as far as the last error: the count goes on.
        auto full = NewTask(Src() + "big", disk + "out");
        ASSERT_TRUE(WaitUntil([&] { return full->GetErrorCount() >= 6; }));
        EXPECT_TRUE(Logged(*full, "Err005", "No space left"));
        full.reset();
        ClearFaults();
        fs::remove_all(disk + "out");
        // A folder that cannot be made counts as an error, and the message names it.
        MakeFolders(disk + "in/tree");
        WriteFile(disk + "in/tree/sub", "a file where the folder must go");
        auto blocked = NewTask(Src() + "tree", disk + "in", {}, "00000002");
        ASSERT_TRUE(WaitUntil([&] { return blocked->GetErrorCount() >= 3; }));
        EXPECT_TRUE(Logged(*blocked, "Err003", disk + "in/tree/sub"));
        blocked.reset();
        // No wait mends a read-only disk: the task ends at once, its items left out, and says why.
        if (real) ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        else ReadOnlyDisk(disk);
        auto readOnly = NewTask(Src() + "tree", disk + "ro/deeper", {}, "00000003");
        ASSERT_TRUE(WaitForState(*readOnly, StateFinished));
        EXPECT_TRUE(Logged(*readOnly, "Err003", disk + "ro"));
        EXPECT_TRUE(Logged(*readOnly, "Err003", "Read-only file system"));
        EXPECT_FALSE(Logged(*readOnly, "Err003", disk + "ro/deeper"));
        EXPECT_EQ(readOnly->GetLeftOutCount(), 2);
        EXPECT_EQ(readOnly->GetErrorCount(), 0);
    }
}

TEST_F(DownloadThreadFaultTest, AFailedFlushOfSmallFilesWhileTheyAreCopiedIsAnErrorOfTheTask)
{
    // The destination's file system is flushed while the files are written, long before the end.
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 100; ++i) files.emplace_back("tree/f" + std::to_string(i), RandomBytes(4000, i));
    WriteTree(Src(), files);
    InjectFault(FaultOp::Sync, ExcludeTrailingDelimiter(Dst()), EIO);
    auto task = NewTask(Src() + "tree", Dst(), {.speedLimit = 400000});
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(CountWith(*task, "Err005", "Input/output error"), 1);
    EXPECT_EQ(task->GetErrorCount(), 1);
    for (const auto& [name, data] : files) EXPECT_EQ(ReadFile(Dst() + name), data) << name;
}

TEST_F(DownloadThreadFaultTest, AFailureNoRetryMendsWaitsInErrorForTheUser)
{
    WriteFile(Src() + "f", RandomBytes(100000, 1));
    for (const bool restartProgram : {false, true}) {
        Fresh();
        InjectFault(FaultOp::Allocate, "", ENOMEM);
        auto task = NewTask(Src() + "f", Dst());
        ASSERT_TRUE(WaitUntil([&] { return task->HasRunFailed() && Logged(*task, "Err005", "Not enough memory"); }));
        EXPECT_EQ(task->GetState(), StateError);
        ASSERT_TRUE(WaitUntil([&] { return DecodeVarFile(ReadFile(RestoreDir() + "0000ABCD.var")).State == StateError; }));
        ClearFaults();
        // Start tries again now; so does the next start of the program.
        if (restartProgram) task = Restored(task);
        else task->Start();
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_FALSE(task->HasRunFailed());
        EXPECT_TRUE(Identical(Src() + "f", Dst() + "f"));
    }
}

TEST_F(DownloadThreadFaultTest, ACrashDuringAnySaveLeavesATaskThatRestores)
{
    WriteFile(Src() + "f", RandomBytes(2000000, 1));
    // Attribute names that look like paths, in the file list the restore reads.
    const bool attributes = ::setxattr((Src() + "f").c_str(), "user.a/../../b", "v", 1, 0) == 0 &&
                            ::setxattr((Src() + "f").c_str(), "user.c:user.d", "w", 1, 0) == 0;
    auto task = NewTask(Src() + "f", Dst(), {.restoreUpdateInterval = 0, .speedLimit = 1000000, .copyStreams = true});
    ASSERT_TRUE(WaitUntil([&] { return task->GetCopiedSize() > 100000; }));
    // Every later write of the .var fails part way: the one on disk stays whole.
    InjectFault(FaultOp::Write, "0000ABCD.var.new", EIO, 1000000);
    ASSERT_TRUE(WaitForLog(*task, "Err006"));
    task->Stop();
    task->WaitFor();
    task.reset();
    ClearFaults();
    EXPECT_FALSE(fs::exists(RestoreDir() + "0000ABCD.var.new"));
    // A record cut short at the end of the log, as a kill while it was appended leaves it.
    WriteFile(RestoreDir() + "0000ABCD.log", ReadFile(RestoreDir() + "0000ABCD.log") + std::string("\x01\x02\x03\x04\x05\x06\x07", 7));
    auto restored = RestoreTask();
    ASSERT_TRUE(WaitForState(*restored, StateFinished));
    EXPECT_TRUE(Identical(Src() + "f", Dst() + "f"));
    EXPECT_EQ(Attribute(Dst() + "f", "user.a/../../b"), attributes ? "v" : "(none)");
    EXPECT_EQ(Attribute(Dst() + "f", "user.c:user.d"), attributes ? "w" : "(none)");
    EXPECT_TRUE(Logged(*restored, "Err006", "cut off"));
    restored.reset();  // its log closed
    const TaskLogContents contents = DecodeLogFile(ReadFile(RestoreDir() + "0000ABCD.log"));
    EXPECT_FALSE(contents.Damaged);
    EXPECT_EQ(contents.Records.back().Id, "Inf008");
}

TEST_F(DownloadThreadFaultTest, TheSavedOffsetNeverPassesWhatIsOnDisk)
{
    // While no flush of the copy succeeds, no save may name a byte of it, however big the chunks.
    const std::string data = RandomBytes(40 * 1000 * 1000, 1);
    WriteFile(Src() + "f", data);
    InjectFault(FaultOp::Sync, "dst/f", EIO, 1000000);
    auto task = NewTask(Src() + "f", Dst(), {.restoreUpdateInterval = 0});
    ASSERT_TRUE(WaitUntil([&] { return CountId(*task, "Err005") >= 3; }));
    EXPECT_GT(fs::file_size(Dst() + "f"), 0u);
    EXPECT_EQ(DecodeVarFile(ReadFile(RestoreDir() + "0000ABCD.var")).CurrentOffset, 0);
    ClearFaults();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
}

TEST_F(DownloadThreadFaultTest, ASourceIsCopiedAsItIsNowNeverAsAMix)
{
    // Changed between a stop and the resume: see the stopped copy in DownloadThreadCopyTest.
    const std::string before = RandomBytes(1000000, 1), after = RandomBytes(1000000, 2);
    const TaskSetup setup{.speedLimit = 300000};
    // Grown during a pause, or shrunk under the copy (an early end): started over, copied as it is at the end.
    for (const bool grown : {true, false}) {
        Fresh();
        const std::string now = grown ? before + after : after.substr(0, 50000);
        WriteFile(Src() + "g", before);
        auto changing = NewTask(Src() + "g", Dst(), setup, "00000002");
        ASSERT_TRUE(WaitUntil([&] { return changing->GetCopiedSize() > 100000; }));
        if (grown) changing->Pause();
        ASSERT_TRUE(WaitForState(*changing, grown ? StatePaused : StateCopying));
        WriteFile(Src() + "g", now);
        changing->SetSpeedLimit(2147483647);
        changing->Start();
        ASSERT_TRUE(WaitForState(*changing, StateFinished));
        EXPECT_TRUE(ReadFile(Dst() + "g") == now) << now.size();
        EXPECT_EQ(changing->GetTotalSize(), static_cast<int64_t>(now.size()));
        EXPECT_EQ(changing->GetCopiedSize(), static_cast<int64_t>(now.size()));
        EXPECT_EQ(CountId(*changing, "Inf024"), 1);
        EXPECT_EQ(changing->GetErrorCount(), 0);  // a change is no error of the source
    }
}

}  // namespace
}  // namespace tarn::test
