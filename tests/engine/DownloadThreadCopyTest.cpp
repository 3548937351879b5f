#include <algorithm>
#include <fstream>
#include <thread>

#include "platform/DateTime.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

using DownloadThreadCopyTest = EngineTest;

// The list a one-threaded walk makes in the file system's order: a folder's files before its subfolders.
std::vector<TItemAttrs> DepthFirstList(const std::string& root, const std::string& dir = "", std::vector<TItemAttrs> list = {})
{
    std::vector<std::string> subfolders;
    for (const auto& name : NamesOnDisk(root + dir)) {
        if (fs::is_directory(root + dir + name)) subfolders.push_back(name);
        else list.push_back({dir, name, static_cast<int64_t>(fs::file_size(root + dir + name)), KindFile});
    }
    for (const auto& name : subfolders) {
        list.push_back({dir, name + "/", 0, KindFolder});
        list = DepthFirstList(root, dir + name + "/", std::move(list));
    }
    return list;
}

TEST_F(DownloadThreadCopyTest, ATreeArrivesByteIdenticalInScanOrder)
{
    const std::string root = Src() + "Photos/";
    WriteTree(root, {{"Empty/", ""}, {"top.bin", RandomBytes(70000, 1)}, {".dotfile", "dot"}, {"empty.txt", ""}, {".hidden/inner", "x"},
                     {"With Space/Deeper/a b:c.txt", RandomBytes(1234, 2)}, {"Grüße: 2020/ä.bin", RandomBytes(50 * 1000 * 1000, 3)}});
    // Wide enough that helpers list folders ahead of the scan.
    for (int a = 0; a < 12; ++a)
        for (int b = 0; b < 6; ++b) {
            const std::string folder = root + "wide/a" + std::to_string(a) + "/b" + std::to_string(b) + "/";
            MakeFolders(folder + "c");
            for (int f = 0; f < 4; ++f) WriteFile(folder + "f" + std::to_string(f), std::string(static_cast<size_t>(a + b + f), 'x'));
        }
    const std::string sparse = root + "sparse";  // data between holes, and a hole at the end
    WriteFile(sparse, "");
    for (const int at : {1 << 20, 5 << 20}) {
        std::fstream file(sparse, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(at).write("data", 4);
    }
    fs::resize_file(sparse, 12 << 20);
    auto task = NewTask(Src() + "Photos", Dst());  // no trailing delimiter
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(task->GetSource(), root);
    EXPECT_EQ(task->GetDestination(), Dst() + "Photos/");
    EXPECT_TRUE(SameTree(root, Dst() + "Photos"));
    EXPECT_EQ(task->GetCopiedSize(), task->GetTotalSize());
    EXPECT_EQ(CountId(*task, "Inf007"), 7 + 288);
    EXPECT_EQ(ParamsOf(*task, "Inf004"), std::vector<std::string>{"295"});
    EXPECT_EQ(Items(), DepthFirstList(root));
    struct stat source, copy;
    ASSERT_EQ(::stat(sparse.c_str(), &source), 0);
    ASSERT_EQ(::stat((Dst() + "Photos/sparse").c_str(), &copy), 0);
    if (source.st_blocks * 512 < source.st_size) { EXPECT_LT(copy.st_blocks * 512, 1 << 20); }  // where holes are kept

    // A file whose size reads 0 is read to its end.
    auto proc = NewTask("/proc/self/status", temp / "proc", {}, "00000002");
    ASSERT_TRUE(WaitForState(*proc, StateFinished));
    EXPECT_EQ(ReadFile(temp / "proc/status").rfind("Name:", 0), 0u);
}

// Changed between the stop and the resume, the source is copied as it is now: the same size, other bytes, a new time.
TEST_F(DownloadThreadCopyTest, AStoppedCopyResumesAtTheSavedOffsetOrStartsOverWhenItOrItsSourceChanged)
{
    const std::string data = RandomBytes(600000, 5), rewritten = RandomBytes(600000, 6);
    for (const std::string change : {"none", "copy vanished", "source rewritten"}) {
        Fresh();
        SCOPED_TRACE(change);
        WriteFile(Src() + "big", data);
        ::chmod((Src() + "big").c_str(), 0640);
        {
            auto task = NewTask(Src() + "big", Dst(), {.restoreUpdateInterval = 100, .speedLimit = 400000});
            ASSERT_TRUE(WaitUntil([&] { return task->GetCopiedSize() > 100000; }));
            task->Stop();
        }
        const int64_t saved = DecodeVarFile(ReadFile(RestoreDir() + "0000ABCD.var")).CurrentOffset;
        EXPECT_GT(saved, 0);
        EXPECT_LT(saved, 600000);
        if (change == "copy vanished") fs::remove(Dst() + "big");
        if (change == "source rewritten") WriteFile(Src() + "big", rewritten);
        auto restored = RestoreTask();
        EXPECT_EQ(restored->GetCopiedSize(), saved);
        restored->SetSpeedLimit(2147483647);
        ASSERT_TRUE(WaitForState(*restored, StateFinished));
        EXPECT_EQ(CountId(*restored, "Inf017"), 0);  // its own half file is no conflict
        EXPECT_EQ(CountId(*restored, "Err004"), change == "copy vanished" ? 1 : 0);
        EXPECT_EQ(CountId(*restored, "Inf024"), change == "source rewritten" ? 1 : 0);
        EXPECT_TRUE(ReadFile(Dst() + "big") == (change == "source rewritten" ? rewritten : data));
        EXPECT_EQ(ModeOf(Dst() + "big"), 0640u);  // as one copied in a single run
    }
}

TEST_F(DownloadThreadCopyTest, AnswersAboutExistingFiles)
{
    // What is there is kept as far as it is the source's; the same size and time count as the same file.
    const std::string data = RandomBytes(200000, 8);
    const std::string other = data.substr(0, 150000) + "x" + data.substr(150001);
    const struct {
        const char* name;
        std::string source, there;
        int age;          // seconds the copy is older than the source; below zero: written after it
        int startedOver;  // Inf023: what was there differed from the source
        int takenAsIs;    // Inf027: the same size and time, left as it is
    } cases[] = {
        {"short", "abc", "abcdefgh", -1, 1, 0},
        {"other", data, data.substr(0, 100000) + "x" + data.substr(100001, 50000), -1, 1, 0},
        {"prefix", data, data.substr(0, 150000), -1, 0, 0},
        {"samesize", data, other, 10, 1, 0},
        {"twin", data, other, 0, 0, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        WriteFile(Src() + c.name, c.source);
        WriteFile(Dst() + c.name, c.there);
        if (c.age >= 0) fs::last_write_time(Dst() + c.name, fs::last_write_time(Src() + c.name) - std::chrono::seconds(c.age));
        auto task = NewTask(Src() + c.name, Dst(), {}, "0000000" + std::to_string(i + 3));
        ASSERT_TRUE(WaitUntil([&] { return task->IsWaitingForAnswer(); }));
        EXPECT_EQ(Log(*task).back().Id, "Inf017");
        EXPECT_EQ(Log(*task).back().Params, (std::vector<std::string>{Dst(), c.name}));
        task->Answer(AnswerUpload);
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_EQ(ReadFile(Dst() + c.name) == c.source, c.takenAsIs == 0);
        EXPECT_EQ(CountId(*task, "Inf019"), 1);
        EXPECT_EQ(CountId(*task, "Inf023"), c.startedOver);
        EXPECT_EQ(CountId(*task, "Inf027"), c.takenAsIs);
        EXPECT_EQ(CountId(*task, "Inf007"), 1);
    }
}

TEST_F(DownloadThreadCopyTest, OneTimeAndStandingAnswers)
{
    WriteTree(Src(), {{"s/a", "new a"}, {"s/b", "new b"}, {"s/c", "new c"}});
    WriteTree(Dst(), {{"s/a", "old"}, {"s/b", "old"}, {"s/c", "old"}});
    auto task = NewTask(Src() + "s", Dst());
    int asked = 0;
    for (const uint8_t answer : {AnswerOverwrite, AnswerSkip, AnswerOverwriteAll}) {  // the one-time ones ask again
        ASSERT_TRUE(WaitUntil([&] { return task->IsWaitingForAnswer() && CountId(*task, "Inf017") == asked + 1; }));
        task->Answer(answer);
        ++asked;
    }
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(CountId(*task, "Inf018"), 2);
    EXPECT_EQ(CountId(*task, "Inf014"), 1);
    EXPECT_EQ(CountId(*task, "Inf007"), 2);  // the skipped one has none
    int old = 0;
    for (const char* name : {"a", "b", "c"}) old += ReadFile(Dst() + "s/" + name) == "old";
    EXPECT_EQ(old, 1);
    // A restart overwrites everything without asking, whatever was answered.
    task->Restart();
    ASSERT_TRUE(WaitForLog(*task, "Inf008", 2));
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(CountId(*task, "Inf013"), 1);
    for (const char* name : {"a", "b", "c"}) EXPECT_EQ(ReadFile(Dst() + "s/" + name), std::string("new ") + name);
    EXPECT_FALSE(task->IsWaitingForAnswer());
}

TEST_F(DownloadThreadCopyTest, SkipDuringTheChunkLoopGoesOnWithTheNextItem)
{
    // What it leaves half copied gets neither the source's time nor its attributes.
    WriteTree(Src(), {{"s/1big", RandomBytes(400000, 8)}});
    ::setxattr((Src() + "s/1big").c_str(), "user.tag", "big", 3, 0);
    fs::last_write_time(Src() + "s/1big", fs::file_time_type::clock::now() - std::chrono::hours(48));
    auto task = NewTask(Src() + "s", Dst(), {.speedLimit = 100000, .copyAttributes = true, .copyStreams = true});
    ASSERT_TRUE(WaitUntil([&] { return task->GetCopiedSize() > 0; }));
    WriteFile(Src() + "s/2small", "late");  // not in the list: the scan is over
    task->SkipFile();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(CountId(*task, "Inf014"), 1);
    EXPECT_EQ(CountId(*task, "Inf007"), 0);
    EXPECT_EQ(task->GetCopiedSize(), task->GetTotalSize());
    EXPECT_NE(ModifiedOf(Dst() + "s/1big"), ModifiedOf(Src() + "s/1big"));
    EXPECT_EQ(Attribute(Dst() + "s/1big", "user.tag"), "(none)");
}

TEST_F(DownloadThreadCopyTest, DeleteByUserRemovesOnlyWhatTheTaskWroteInEveryRun)
{
    WriteTree(Src(), {{"t/mine", "copied"}, {"t/theirs", "source"}, {"t/z/big", RandomBytes(500000, 17)}});
    for (const bool restarted : {false, true}) {
        Fresh();
        SCOPED_TRACE(restarted ? "after a restart" : "in the run");
        WriteTree(Dst(), {{"t/theirs", "user's own file"}});
        auto task = NewTask(Src() + "t", Dst(), {.restoreUpdateInterval = 20, .speedLimit = 100000});
        ASSERT_TRUE(Answered(*task, AnswerSkip));
        ASSERT_TRUE(WaitUntil([&] { return task->GetCurrentName() == "big" && task->GetCopiedSize() > 30000; }));
        if (restarted) task = Restored(task);
        task->DeleteByUser(true);
        task->WaitFor();
        EXPECT_EQ(LogIds(*task).back(), "Inf016");
        EXPECT_FALSE(FileExists(Dst() + "t/mine"));
        EXPECT_FALSE(DirectoryExists(Dst() + "t/z"));
        EXPECT_EQ(ReadFile(Dst() + "t/theirs"), "user's own file");  // and so "t" stays
    }
}

TEST_F(DownloadThreadCopyTest, ErrorsAreRetriedAndNothingIsCorrupted)
{
    const std::string data = RandomBytes(1000000, 10);
    WriteFile(Src() + "big", data);
    InjectFault(FaultOp::Write, "dst/big", EXDEV);  // the chunks go through the buffer
    InjectFault(FaultOp::Read, "src/big", EIO, 1, 2);
    InjectFault(FaultOp::Open, "src/big", ENOTCONN, 2, 1);  // the share is gone for two reopens
    InjectFault(FaultOp::Write, "dst/big", ENOSPC, 1, 4);
    InjectFault(FaultOp::Read, "src/big", 0, 1, 8);  // a dead share: 0 bytes and no error
    InjectFault(FaultOp::Close, "dst/big", EIO, 1, 4);  // the last close, after the compare the early end leads to
    auto task = NewTask(Src() + "big", Dst(), {.bufferSize = 8192});
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "big") == data);
    EXPECT_EQ(task->GetErrorCount(), 0);
    EXPECT_EQ(task->GetCopiedSize(), 1000000);
    std::vector<std::string> texts;
    for (const auto& record : Log(*task))
        if (record.Id == "Err005") texts.push_back(record.Params[0].substr(0, 22));
    EXPECT_EQ(texts, (std::vector<std::string>{"Input/output error", "Transport endpoint is ", "Transport endpoint is ",
                                               "No space left on devic", "The source stopped ans", "Input/output error"}));
    EXPECT_EQ(CountId(*task, "Inf006"), 6);
}

TEST_F(DownloadThreadCopyTest, AMissingSourceOrOneThatEndsEarlyUnchangedIsAnErrorUntilItIsBack)
{
    // A source not there yet, and a share that answers reads with nothing, the file unchanged: no spin.
    WriteFile(Src() + "ends", RandomBytes(300000, 11));
    InjectFault(FaultOp::Read, "src/ends", 0, 1000000, 1);
    auto ends = NewTask(Src() + "ends", Dst());
    auto later = NewTask(Src() + "later", Dst(), {}, "00000002");
    ASSERT_TRUE(WaitUntil([&] { return ends->GetErrorCount() >= 2 && CountId(*later, "Err001") >= 2; }));
    EXPECT_TRUE(Logged(*ends, "Err005", "stopped answering at byte"));
    EXPECT_EQ(later->GetState(), StateError);
    ClearFaults();
    WriteTree(Src(), {{"later/f", "f"}});
    ASSERT_TRUE(WaitForState(*ends, StateFinished));
    ASSERT_TRUE(WaitForState(*later, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "ends") == ReadFile(Src() + "ends"));
    EXPECT_EQ(ReadFile(Dst() + "later/f"), "f");
}

TEST_F(DownloadThreadCopyTest, ALimitOfZeroMovesNothingAndNeitherAScheduleNorAPauseCountsAsCopyTime)
{
    WriteFile(Src() + "f", RandomBytes(5000, 12));
    const bool attributes = HasUserAttributes(Src() + "f") && ::setxattr((Src() + "f").c_str(), "user.tag", "e", 1, 0) == 0;
    auto task = NewTask(Src() + "f", Dst(), {.speedLimit = 0, .copyStreams = true});
    ASSERT_TRUE(WaitUntil([&] { return task->GetCurrentName() == "f" && fs::exists(Dst() + "f"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(task->GetState(), StateCopying);
    EXPECT_EQ(task->GetSpeed(), 0);
    EXPECT_EQ(task->GetCopiedSize(), 0);
    EXPECT_EQ(Attribute(Dst() + "f", "user.tag"), "(none)");  // not even an attribute moves
    task->Pause();
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    const double paused = task->GetElapsed();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(task->GetElapsed(), paused);
    task->Start();
    task->SetSpeedLimit(100000);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(ReadFile(Dst() + "f"), ReadFile(Src() + "f"));
    EXPECT_EQ(Attribute(Dst() + "f", "user.tag"), attributes ? "e" : "(none)");

    const TaskSetup soon{.initialState = StateScheduled, .scheduleTime = NowDateTime() + 0.3 / SecondsPerDay};
    auto scheduled = NewTask(Src() + "f", temp / "scheduled", soon, "00000002");
    ASSERT_TRUE(WaitForState(*scheduled, StateFinished));
    const auto ids = LogIds(*scheduled);
    ASSERT_GE(ids.size(), 3u);
    EXPECT_EQ((std::vector<std::string>{ids[1], ids[2]}), (std::vector<std::string>{"Inf011", "Inf012"}));
    EXPECT_LT(scheduled->GetElapsed() * SecondsPerDay, 0.25);
}

TEST_F(DownloadThreadCopyTest, ALimitedCopyShowsNoSpeedAboveItsLimit)
{
    // Measured over a chunk's first microseconds, or before the throttle slept it off, speed and scale soared.
    WriteFile(Src() + "f", RandomBytes(5000000, 16));
    auto task = NewTask(Src() + "f", Dst(), {.bufferSize = 4000000, .maxLinkSpeed = 0, .speedLimit = 2000000});
    int32_t highest = 0;
    ASSERT_TRUE(WaitUntil([&] {
        highest = std::max({highest, task->GetSpeed(), task->GetSpeedScale()});
        return task->GetState() == StateFinished;
    }));
    EXPECT_GT(highest, 0);
    EXPECT_LE(highest, 3000000);
}

TEST_F(DownloadThreadCopyTest, RestartDuringTheItemsRunsTheClosingPassFirst)
{
    WriteTree(Src(), {{"r/a", "a"}, {"r/b", RandomBytes(300000, 14)}});
    ::chmod((Src() + "r/a").c_str(), 0604);
    auto task = NewTask(Src() + "r", Dst(), {.speedLimit = 100000, .copyAttributes = true});
    ASSERT_TRUE(WaitUntil([&] { return task->GetCurrentName() == "b" && task->GetCopiedSize() > 10; }));
    task->Restart();
    ASSERT_TRUE(WaitForLog(*task, "Inf013"));
    const auto ids = LogIds(*task);
    EXPECT_LT(std::find(ids.begin(), ids.end(), "Inf021"), std::find(ids.begin(), ids.end(), "Inf013"));
    task->SetSpeedLimit(2147483647);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(task->GetDestination(), Dst() + "r/");  // the folder name was not appended twice
    EXPECT_TRUE(ReadFile(Dst() + "r/b") == ReadFile(Src() + "r/b"));
}

using VerifiedCopyTest = EngineTest;
constexpr TaskSetup Verifying{.bufferSize = 16384, .verifyCopies = true};

// Each way the source's hash is had (the copy's own reads; bytes a helper read ahead, written from memory; a big
// file's holes skipped, so its source is read again): one file's read-back gives zeros; it alone is copied again.
TEST_F(VerifiedCopyTest, EveryCopyPathReadsBackAndCopiesAgainWhatDiffers)
{
    const std::string big = RandomBytes(300000, 7), small = RandomBytes(5000, 8);
    for (const std::string way : {"own reads", "read ahead", "holes skipped"}) {
        Fresh();
        SCOPED_TRACE(way);
        if (way == "read ahead") ::setenv("TARN_READ_AHEAD", "always", 1);
        WriteTree(Src(), {{"t/big", big}, {"t/d/small", small}, {"t/d/empty", ""}});
        if (way == "holes skipped") fs::resize_file(Src() + "t/big", 4 * 1024 * 1024);
        InjectFault(FaultOp::Read, "dst/t/d/small", FaultZeroData);
        auto task = NewTask(Src() + "t", Dst(), Verifying);
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_EQ(CountId(*task, "Err013"), 1);
        EXPECT_TRUE(Logged(*task, "Err013", Dst() + "t/d/small"));
        EXPECT_EQ(CountId(*task, "Inf007"), 3);
        const std::string bigThere = ReadFile(Src() + "t/big");
        EXPECT_EQ(ParamsOf(*task, "Inf028"), (std::vector<std::string>{"3", std::to_string(bigThere.size() + small.size())}));
        EXPECT_TRUE(ReadFile(Dst() + "t/big") == bigThere);
        EXPECT_TRUE(ReadFile(Dst() + "t/d/small") == small);
    }
}

// A copy that differs at every read-back, or cannot be read back, counts an error each time,
// toward the task's limit; only a difference is reported as one.
TEST_F(VerifiedCopyTest, EachReadBackThatDiffersOrFailsCountsAnError)
{
    const std::string data = RandomBytes(10000, 11);  // one read a read-back
    WriteFile(Src() + "f", data);
    const struct {
        int fault;
        const char* id;
        const char* text;
    } cases[] = {{FaultZeroData, "Err013", "dst/f"}, {EIO, "Err005", "Input/output error"}};
    for (const auto& c : cases) {
        Fresh();
        SCOPED_TRACE(c.id);
        InjectFault(FaultOp::Read, "dst/f", c.fault, 2);
        StallOn(FaultOp::Open, "src/f", 2);  // the third copy, after two that failed
        auto task = NewTask(Src() + "f", Dst(), Verifying);
        ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
        EXPECT_EQ(task->GetErrorCount(), 2);
        EXPECT_EQ(CountWith(*task, c.id, c.text), 2);
        EXPECT_EQ(CountId(*task, "Err013") + CountId(*task, "Err005"), 2);
        ReleaseStalls();
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        EXPECT_TRUE(ReadFile(Dst() + "f") == data);
    }
}

// A stop during the read-back leaves the file uncounted: a big copy is read back again, a small one copied again.
TEST_F(VerifiedCopyTest, AStopDuringTheReadBackVerifiesAgainAfterTheRestore)
{
    for (const int size : {5 * 1024 * 1024, 100000}) {
        Fresh();
        SCOPED_TRACE(size);
        const bool big = size > 100000;
        const std::string data = RandomBytes(size, 10);  // the big one: more than one read, the stop comes between
        WriteFile(Src() + "f", data);
        StallOn(FaultOp::Read, "dst/f");
        auto task = NewTask(Src() + "f", Dst(), Verifying);
        ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
        std::fstream(Dst() + "f", std::ios::in | std::ios::out | std::ios::binary).seekp(70000).write("changed", 7);
        task->Stop();
        ReleaseStalls();
        task->WaitFor();
        EXPECT_EQ(CountId(*task, "Inf007"), 0);
        EXPECT_EQ(task->GetVerifiedFileCount(), 0);
        task.reset();
        auto restored = RestoreTask();
        ASSERT_TRUE(WaitForState(*restored, StateFinished));
        EXPECT_EQ(CountId(*restored, "Err013"), big ? 1 : 0);
        EXPECT_EQ(CountId(*restored, "Inf007"), 1);
        EXPECT_TRUE(ReadFile(Dst() + "f") == data);
        EXPECT_EQ(ParamsOf(*restored, "Inf028"), (std::vector<std::string>{"1", std::to_string(data.size())}));
    }
}

}  // namespace
}  // namespace tarn::test
