#include <cstring>
#include <filesystem>
#include <thread>

#include "engine/DataBytes.h"
#include "platform/DateTime.h"
#include "platform/FaultInjection.h"
#include "platform/ThreadSignal.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using test::EngineTest;
using test::MakeFolders;
using test::ReadFile;
using test::TaskSetup;
using test::WaitUntil;
using test::WriteFile;
namespace fs = std::filesystem;

std::string Header() { return std::string("\x03\x01", 2); }

// The bytes of a .var file; `elapsed` is whatever the task wrote.
std::string ExpectedVar(uint8_t state, const std::string& source, const std::string& destination, double elapsed,
                        double scheduleTime, int32_t speedLimit)
{
    ByteWriter w;
    w.Byte(3);
    w.Byte(1);
    w.Byte(state);
    w.LenString(source);
    w.LenString(destination);
    w.Byte(0);
    w.Byte(0);
    w.Int32(0);
    w.Int64(0);
    w.Double(elapsed);
    w.Byte(0);
    w.Double(scheduleTime);
    w.Int32(speedLimit);
    w.Int32(0);
    return w.Bytes();
}

double ElapsedIn(const std::string& var, size_t sourceLength, size_t destinationLength)
{
    const size_t at = 3 + 4 + sourceLength + 4 + destinationLength + 1 + 1 + 4 + 8;
    double elapsed;
    std::memcpy(&elapsed, var.data() + at, 8);
    return elapsed;
}

class DownloadThreadRecordTest : public EngineTest {};

TEST_F(DownloadThreadRecordTest, NewTaskWritesItsThreeFilesAtStart)
{
    TaskSetup setup;
    setup.initialState = StatePaused;
    setup.scheduleTime = 45000.5;
    setup.speedLimit = 777;
    auto task = NewTask(Src() + "a.iso", temp / "dst", setup);
    const std::string var = RestoreDir() + "0000ABCD.var";
    const std::string log = RestoreDir() + "0000ABCD.log";
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(log).size() > 2; }));

    const std::string varBytes = ReadFile(var);
    const double elapsed = ElapsedIn(varBytes, (Src() + "a.iso").size(), Dst().size());
    EXPECT_GE(elapsed, 0.0);
    EXPECT_LT(elapsed, 60.0 / SecondsPerDay);
    EXPECT_EQ(varBytes, ExpectedVar(StatePaused, Src() + "a.iso", Dst(), elapsed, 45000.5, 777));
    EXPECT_EQ(ReadFile(RestoreDir() + "0000ABCD.con"), Header() + std::string(4, '\0') + std::string(3, '\0'));

    TMsg created;
    ASSERT_TRUE(task->GetLogRecord(0, created));
    EXPECT_EQ(created.Id, "Inf001");
    EXPECT_EQ(ReadFile(log), Header() + EncodeLogRecord(created));
    EXPECT_EQ(task->GetDestination(), Dst());  // the delimiter was added
}

TEST_F(DownloadThreadRecordTest, RestoredTaskReadsItsFilesBack)
{
    TaskSetup setup;
    setup.initialState = StatePaused;
    setup.speedLimit = 4096;
    setup.copyAttributes = true;
    {
        auto task = NewTask(Src() + "x", Dst(), setup);
        ASSERT_TRUE(WaitForState(*task, StatePaused));
        task->Stop();
        task->WaitFor();
    }
    auto restored = RestoreTask();
    ASSERT_TRUE(WaitForLog(*restored, "Inf002"));
    EXPECT_TRUE(restored->IsRestored());
    EXPECT_EQ(restored->GetState(), StatePaused);
    EXPECT_EQ(restored->GetSource(), Src() + "x");
    EXPECT_EQ(restored->GetDestination(), Dst());
    EXPECT_EQ(restored->GetSpeedLimit(), 4096);
    // The log view gets the whole history, each record once.
    EXPECT_EQ(restored->GetEarlierRecordCount(), 1);
    EXPECT_EQ(restored->GetLogHigh(), 1);
    restored->Stop();
    restored->WaitFor();
    // Both runs' records are in the file, one after the other.
    const auto log = DecodeLogFile(ReadFile(RestoreDir() + "0000ABCD.log"));
    ASSERT_FALSE(log.Damaged);
    ASSERT_EQ(log.Records.size(), 2u);
    EXPECT_EQ(log.Records[0].Id, "Inf001");
    EXPECT_EQ(log.Records[1].Id, "Inf002");
}

// Writes a finished set of restore files by hand.
void WriteRestoreFiles(const std::string& dir, const TaskVariables& v, const std::string& con,
                       const std::string& varTail = "")
{
    WriteFile(dir + "0000ABCD.var", EncodeVarFile(v) + varTail);
    WriteFile(dir + "0000ABCD.con", con);
    WriteFile(dir + "0000ABCD.log", LogFileHeader());
}

TEST_F(DownloadThreadRecordTest, RestoreRebuildsProgressFromTheFileList)
{
    TaskVariables v;
    v.State = StatePaused;
    v.Source = Src();
    v.Destination = Dst();
    v.SourceKind = SourceFolder;
    v.CurrentIndex = 2;
    v.CurrentOffset = 5;
    v.PeakSpeed = 9;
    const std::vector<TItemAttrs> items = {
        {"", "d/", 0, KindFolder}, {"d/", "a", 100, KindFile}, {"d/", "b", 40, KindFile}, {"d/", "b:user.x:$DATA", 7, KindStream}};
    WriteRestoreFiles(RestoreDir(), v, EncodeConFile(items, {}), std::string(50, 'Z'));
    auto task = RestoreTask();
    EXPECT_EQ(task->GetCount(KindFile), 2);
    EXPECT_EQ(task->GetCount(KindStream), 1);
    EXPECT_EQ(task->GetCount(KindFolder), 1);
    EXPECT_EQ(task->GetTotalSize(), 147);
    EXPECT_EQ(task->GetCopiedSize(), 105);  // the items before the current one, and its offset
    EXPECT_EQ(task->GetCurrentName(), "b");
    EXPECT_EQ(task->GetCurrentDir(), "d/");
    EXPECT_EQ(task->GetSpeedScale(), 12500000);
    task->Stop();
    task->WaitFor();

    v.CurrentIndex = 4;  // past the last item: everything counts as copied
    WriteRestoreFiles(RestoreDir(), v, EncodeConFile(items, {}));
    auto done = RestoreTask();
    EXPECT_EQ(done->GetCopiedSize(), done->GetTotalSize());
}

TEST_F(DownloadThreadRecordTest, AClaimOnNewFilesHoldsForTheFilesThatStandInOrder)
{
    // A task killed while it made the files of a folder it had made, under one record that names
    // them before they are made. Its saved position is the first file; the standing answer is
    // Skip. The files it takes for its own are copied anew ('n'); any other is kept ('k').
    const std::vector<TItemAttrs> items = {{"", "d/", 0, KindFolder}, {"d/", "a", 4, KindFile}, {"d/", "b", 4, KindFile},
                                           {"d/", "c", 4, KindFile}, {"d/", "e", 4, KindFile}};
    const std::string files = "abce";
    MakeFolders(Src() + "d");
    for (const char f : files) WriteFile(Src() + "d/" + f, std::string("new") + f);
    struct Case {
        const char* what;
        std::string claimEnd;
        std::vector<TMsg> after;  // records after the claim
        std::string standing;     // files in the destination before the resume
        std::string expected;     // per file of `files`
    };
    const Case cases[] = {
        {"made up to the cut", "5", {}, "abc", "nnnn"},
        {"a gap: the kill came before b", "5", {}, "ace", "nnkk"},
        {"b withdrawn: someone else's", "5", {{WriteRecordId, 0, {"2", "0", "0", "0"}}}, "abce", "nkkk"},
        {"past the claim's end", "4", {}, "abce", "nnnk"},
    };
    for (const Case& c : cases) {
        fs::remove_all(Dst());
        MakeFolders(Dst() + "d");
        for (const char f : c.standing) WriteFile(Dst() + "d/" + f, "old!");
        TaskVariables v;
        v.Source = Src();
        v.Destination = Dst();
        v.SourceKind = SourceFolder;
        v.CurrentIndex = 1;
        v.ExistsAnswer = AnswerSkipAll;
        v.SpeedLimit = 2147483647;
        WriteRestoreFiles(RestoreDir(), v, EncodeConFile(items, {}));
        std::string log = LogFileHeader() + EncodeLogRecord({ClaimRecordId, 0, {"1", c.claimEnd}});
        for (const TMsg& record : c.after) log += EncodeLogRecord(record);
        WriteFile(RestoreDir() + "0000ABCD.log", log);

        auto task = RestoreTask();
        ASSERT_TRUE(WaitForState(*task, StateFinished)) << c.what;
        std::string outcome;
        for (const char f : files) outcome += ReadFile(Dst() + "d/" + f) == ReadFile(Src() + "d/" + f) ? 'n' : 'k';
        EXPECT_EQ(outcome, c.expected) << c.what;
    }
}

TEST_F(DownloadThreadRecordTest, OlderFileListWithoutKindsRestores)
{
    TaskVariables v;
    v.State = StatePaused;
    v.Source = Src();
    v.Destination = Dst();
    v.SourceKind = SourceFolder;
    ByteWriter con;
    con.Byte(3);
    con.Byte(0);
    con.UInt32(2);
    con.LenString("");
    con.LenString("Sub/");
    con.Int64(0);
    con.LenString("Sub/");
    con.LenString("f.txt");
    con.Int64(11);
    WriteRestoreFiles(RestoreDir(), v, con.Bytes());
    auto task = RestoreTask();
    EXPECT_EQ(task->GetCount(KindFolder), 1);
    EXPECT_EQ(task->GetCount(KindFile), 1);
    EXPECT_EQ(task->GetTotalSize(), 11);
}

TEST_F(DownloadThreadRecordTest, DamagedRestoreFilesRaiseAClearError)
{
    TaskVariables v;
    v.State = StatePaused;
    v.Source = Src();
    v.Destination = Dst();
    const std::string var = EncodeVarFile(v);
    const std::string con = EncodeConFile({{"", "f", 1, KindFile}}, {});
    for (size_t cut = 0; cut < var.size(); ++cut) {
        WriteRestoreFiles(RestoreDir(), v, con);
        WriteFile(RestoreDir() + "0000ABCD.var", var.substr(0, cut));
        EXPECT_THROW(RestoreTask(), DataFileError) << "var cut at " << cut;
    }
    for (size_t cut = 0; cut < con.size(); ++cut) {
        WriteRestoreFiles(RestoreDir(), v, con.substr(0, cut));
        EXPECT_THROW(RestoreTask(), DataFileError) << "con cut at " << cut;
    }
    WriteRestoreFiles(RestoreDir(), v, EncodeConFile({{"../", "outside", 1, KindFile}}, {}));
    EXPECT_THROW(RestoreTask(), DataFileError);
    WriteRestoreFiles(RestoreDir(), v, con);
    WriteFile(RestoreDir() + "0000ABCD.log", "\x03");
    EXPECT_THROW(RestoreTask(), DataFileError);
    WriteRestoreFiles(RestoreDir(), v, con);
    std::remove((RestoreDir() + "0000ABCD.con").c_str());
    EXPECT_THROW(RestoreTask(), OsError);
    // The damage left no thread and no open file behind: a good set restores.
    WriteRestoreFiles(RestoreDir(), v, con);
    EXPECT_NO_THROW(RestoreTask());
}

TEST_F(DownloadThreadRecordTest, NamesAndFoldersAreNotShared)
{
    WriteFile(RestoreDir() + "0000ABCD.con", "left over");
    EXPECT_THROW(NewTask(Src() + "x", Dst()), OsError);
    EXPECT_FALSE(FileExists(RestoreDir() + "0000ABCD.var"));  // no half set left behind
    std::remove((RestoreDir() + "0000ABCD.con").c_str());

    TaskSetup setup;
    setup.initialState = StatePaused;
    auto task = NewTask(Src() + "x", Dst(), setup);
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    // A second holder of the same restore files, in this process or another, is refused.
    EXPECT_THROW(RestoreTask(), OsError);
}

TEST_F(DownloadThreadRecordTest, OperationsFollowTheStateRules)
{
    TaskSetup setup;
    setup.initialState = StatePaused;
    auto task = NewTask(Src() + "x", Dst(), setup);
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    task->SetBufferSize(0);
    EXPECT_EQ(task->GetBufferSize(), 1);
    task->SetSpeedLimit(-5);
    EXPECT_EQ(task->GetSpeedLimit(), 0);
    task->SuspendForErrors(60);
    EXPECT_EQ(Log(*task).back().Id, "Inf020");
    EXPECT_EQ(Log(*task).back().Params, std::vector<std::string>{"60"});

    // A finished task ignores a schedule.
    WriteFile(Src() + "f", "data");
    auto finished = NewTask(Src() + "f", Dst(), {}, "0000BEEF");
    ASSERT_TRUE(WaitForState(*finished, StateFinished));
    finished->Schedule(50000);
    finished->SkipFile();
    finished->Pause();
    EXPECT_EQ(finished->GetScheduleTime(), 0);
    EXPECT_EQ(finished->GetState(), StateFinished);
    EXPECT_EQ(CountId(*finished, "Inf009"), 0);
}

TEST_F(DownloadThreadRecordTest, PauseAndSkipDoNothingWhileScanning)
{
    test::MakeFolders(Src() + "tree/");
    WriteFile(Src() + "tree/one", "1");
    WriteFile(Src() + "tree/two", "22");
    StallOn(FaultOp::Enumerate, "/src/tree/", 1);  // held after the first entry
    auto task = NewTask(Src() + "tree", Dst());
    EXPECT_TRUE(WaitUntil([] { return StalledCalls() > 0; }));
    EXPECT_EQ(task->GetState(), StateScanning);
    task->Pause();
    task->SkipFile();
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(CountId(*task, "Inf009"), 0);
    EXPECT_EQ(CountId(*task, "Inf014"), 0);
    EXPECT_EQ(CountId(*task, "Inf007"), 2);
}

TEST(ThreadSignalTest, AWakeBeforeTheWaitIsNeverLost)
{
    // Each round races one wake against one wait; a lost wake would hang the waiter.
    ThreadSignal signal;
    for (int round = 0; round < 20000; ++round) {
        std::thread waker([&] { signal.Wake(); });
        signal.Wait();
        waker.join();
    }
}

TEST_F(DownloadThreadRecordTest, StartRacingThePauseAtCreationIsNeverLost)
{
    WriteFile(Src() + "f", "content");
    TaskSetup setup;
    setup.initialState = StatePaused;
    for (int round = 0; round < 30; ++round) {
        char name[9];
        std::snprintf(name, sizeof name, "%08X", round);
        auto task = NewTask(Src() + "f", temp / ("out" + std::to_string(round)), setup, name);
        task->Start();  // lands before or after the worker suspends itself
        ASSERT_TRUE(WaitForState(*task, StateFinished)) << "round " << round;
    }
}

}  // namespace
}  // namespace tarn
