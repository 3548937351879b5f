#include <thread>

#include "engine/DataBytes.h"
#include "platform/DateTime.h"
#include "platform/ThreadSignal.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn::test {
namespace {

class DownloadThreadRecordTest : public EngineTest {
protected:
    // Restore files written by hand.
    void WriteRestoreFiles(const std::string& var, const std::string& con, const std::string& log = LogFileHeader()) const
    {
        WriteFile(RestoreDir() + "0000ABCD.var", var);
        WriteFile(RestoreDir() + "0000ABCD.con", con);
        WriteFile(RestoreDir() + "0000ABCD.log", log);
    }
};

TEST_F(DownloadThreadRecordTest, ANewTaskWritesItsThreeFilesHoldsThemAndRestoresFromThem)
{
    WriteFile(RestoreDir() + "0000ABCD.con", "left over");
    EXPECT_THROW(NewTask(Src() + "x", Dst()), OsError);
    EXPECT_FALSE(FileExists(RestoreDir() + "0000ABCD.var"));  // no half set left behind
    fs::remove(RestoreDir() + "0000ABCD.con");

    const TaskSetup setup{.initialState = StatePaused, .scheduleTime = 45000.5, .speedLimit = 777, .copyAttributes = true};
    auto task = NewTask(Src() + "a.iso", temp / "dst", setup);
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(RestoreDir() + "0000ABCD.log").size() > 2; }));
    EXPECT_EQ(task->GetDestination(), Dst());  // the delimiter was added
    TaskVariables expected{.State = StatePaused, .Source = Src() + "a.iso", .Destination = Dst(), .ScheduleTime = 45000.5,
                           .SpeedLimit = 777};
    const std::string var = ReadFile(RestoreDir() + "0000ABCD.var");
    expected.Elapsed = DecodeVarFile(var).Elapsed;
    EXPECT_GE(expected.Elapsed, 0.0);
    EXPECT_LT(expected.Elapsed, 60.0 / SecondsPerDay);
    EXPECT_EQ(var, EncodeVarFile(expected));
    EXPECT_EQ(ReadFile(RestoreDir() + "0000ABCD.con"), EncodeConFile({}, {true, false, false, false}));
    EXPECT_EQ(Log(*task).front().Id, "Inf001");
    EXPECT_EQ(ReadFile(RestoreDir() + "0000ABCD.log"), LogFileHeader() + EncodeLogRecord(Log(*task).front()));
    EXPECT_THROW(RestoreTask(), OsError);  // a second holder of the same restore files
    task->SetSpeedLimit(4096);
    task->SuspendForErrors(60);
    EXPECT_EQ(ParamsOf(*task, "Inf020"), std::vector<std::string>{"60"});
    auto restored = Restored(task);
    ASSERT_TRUE(WaitForLog(*restored, "Inf002"));
    EXPECT_TRUE(restored->IsRestored());
    EXPECT_EQ(restored->GetState(), StatePaused);
    EXPECT_EQ(restored->GetSource(), Src() + "a.iso");
    EXPECT_EQ(restored->GetDestination(), Dst());
    EXPECT_EQ(restored->GetSpeedLimit(), 4096);
    EXPECT_EQ(restored->GetEarlierRecordCount(), 2);  // the log view gets the whole history, each record once
    EXPECT_EQ(restored->GetLogHigh(), 2);
    restored.reset();  // its log closed
    const auto log = DecodeLogFile(ReadFile(RestoreDir() + "0000ABCD.log"));
    ASSERT_FALSE(log.Damaged);
    ASSERT_EQ(log.Records.size(), 3u);
    EXPECT_EQ(log.Records[2].Id, "Inf002");  // the restored task's records went on after the earlier ones
}

TEST_F(DownloadThreadRecordTest, RestoreRebuildsProgressFromTheFileList)
{
    TaskVariables v{.State = StatePaused, .Source = Src(), .Destination = Dst(), .SourceKind = SourceFolder,
                    .CurrentIndex = 2, .CurrentOffset = 5, .PeakSpeed = 9};
    const std::vector<TItemAttrs> items = {
        {"", "d/", 0, KindFolder}, {"d/", "a", 100, KindFile}, {"d/", "b", 40, KindFile}, {"d/", "b:user.x:$DATA", 7, KindStream}};
    WriteRestoreFiles(EncodeVarFile(v) + std::string(50, 'Z'), EncodeConFile(items, {}));
    auto task = RestoreTask();
    EXPECT_EQ((std::vector{task->GetCount(KindFile), task->GetCount(KindStream), task->GetCount(KindFolder)}), (std::vector{2, 1, 1}));
    EXPECT_EQ(task->GetTotalSize(), 147);
    EXPECT_EQ(task->GetCopiedSize(), 105);  // the items before the current one, and its offset
    EXPECT_EQ(task->GetCurrentName(), "b");
    EXPECT_EQ(task->GetCurrentDir(), "d/");
    task.reset();
    v.CurrentIndex = 4;  // past the last item: everything counts as copied
    WriteRestoreFiles(EncodeVarFile(v), EncodeConFile(items, {}));
    auto done = RestoreTask();
    EXPECT_EQ(done->GetCopiedSize(), done->GetTotalSize());
}

TEST_F(DownloadThreadRecordTest, AClaimOnNewFilesHoldsForTheFilesThatStandInOrder)
{
    // Killed under one record claiming a folder's files, Skip standing: its own are copied anew ('n'), others kept ('k').
    const std::vector<TItemAttrs> items = {{"", "d/", 0, KindFolder}, {"d/", "a", 4, KindFile}, {"d/", "b", 4, KindFile},
                                           {"d/", "c", 4, KindFile}, {"d/", "e", 4, KindFile}};
    const std::string files = "abce";
    MakeFolders(Src() + "d");
    for (const char f : files) WriteFile(Src() + "d/" + f, std::string("new") + f);
    const struct {
        const char* what;
        std::string claimEnd;
        std::vector<TMsg> after;  // records after the claim
        std::string standing;     // files in the destination before the resume
        std::string expected;     // per file of `files`
    } cases[] = {
        {"made up to the cut", "5", {}, "abc", "nnnn"},
        {"a gap: the kill came before b", "5", {}, "ace", "nnkk"},
        {"b withdrawn: someone else's", "5", {{WriteRecordId, 0, {"2", "0", "0", "0"}}}, "abce", "nkkk"},
        {"past the claim's end", "4", {}, "abce", "nnnk"},
        {"a claim of the pass before the last scan", "5", {{"Inf003", 0, {}}}, "abce", "kkkk"},
    };
    const TaskVariables v{.Source = Src(), .Destination = Dst(), .SourceKind = SourceFolder, .CurrentIndex = 1,
                          .ExistsAnswer = AnswerSkipAll, .SpeedLimit = 2147483647};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(Dst());
        MakeFolders(Dst() + "d");
        for (const char f : c.standing) WriteFile(Dst() + "d/" + f, "old!");
        std::string log = LogFileHeader() + EncodeLogRecord({ClaimRecordId, 0, {"1", c.claimEnd}});
        for (const TMsg& record : c.after) log += EncodeLogRecord(record);
        WriteRestoreFiles(EncodeVarFile(v), EncodeConFile(items, {}), log);
        auto task = RestoreTask();
        ASSERT_TRUE(WaitForState(*task, StateFinished));
        std::string outcome;
        for (const char f : files) outcome += ReadFile(Dst() + "d/" + f) == ReadFile(Src() + "d/" + f) ? 'n' : 'k';
        EXPECT_EQ(outcome, c.expected);
    }
}

// Restore files damaged or written by someone else are refused, before the task reads or writes anything.
TEST_F(DownloadThreadRecordTest, DamagedOrHostileRestoreFilesAreRefusedWithAClearError)
{
    const auto restoreError = [&]() -> std::string {
        try { RestoreTask(); } catch (const std::exception& error) { return error.what(); }
        return {};
    };
    const TaskVariables v{.State = StatePaused, .Source = Src() + "tree/", .Destination = Dst() + "tree/",
                          .SourceKind = SourceFolder, .CurrentIndex = 2};
    const std::vector<TItemAttrs> items = {{"", "a", 1, KindFile}, {"", "b", 1, KindFile}, {"", "c", 1, KindFile}};
    const std::string var = EncodeVarFile(v);
    const std::string con = EncodeConFile(items, {});
    WriteRestoreFiles(var.substr(0, var.size() / 2), con);
    EXPECT_THROW(RestoreTask(), DataFileError);
    WriteRestoreFiles(var, con, "\x03");
    EXPECT_THROW(RestoreTask(), DataFileError);
    fs::remove(RestoreDir() + "0000ABCD.con");
    EXPECT_THROW(RestoreTask(), OsError);
    TaskVariables past = v;
    past.CurrentIndex = 4;
    const struct {
        const char* what;
        TaskVariables v;
        std::vector<TItemAttrs> items;
        const char* error;
    } cases[] = {
        {"a position past the list", past, items, "past the end"},
        {"an item climbing out", v, {{"", "a", 1, KindFile}, {"../../", "evil", 1, KindFile}}, "leaves its folder"},
    };
    for (const auto& c : cases) {
        WriteRestoreFiles(EncodeVarFile(c.v), EncodeConFile(c.items, {}));
        EXPECT_NE(restoreError().find(c.error), std::string::npos) << c.what;
    }
    // A restore file that is a link (to another task's file, or to anything) is not read.
    WriteRestoreFiles(var, con);
    fs::rename(RestoreDir() + "0000ABCD.var", temp / "elsewhere.var");
    fs::create_symlink(temp / "elsewhere.var", RestoreDir() + "0000ABCD.var");
    EXPECT_FALSE(restoreError().empty());
    EXPECT_FALSE(fs::exists(Dst() + "tree"));
    fs::remove(RestoreDir() + "0000ABCD.var");
    // Sparse far past its bound: refused by its size before a byte is read into memory.
    for (const char* extension : {".var", ".con", ".log"}) {
        WriteRestoreFiles(var, con);
        fs::resize_file(RestoreDir() + "0000ABCD" + extension, uintmax_t{64} << 30);
        EXPECT_NE(restoreError().find(" is 68719476736 bytes, more than the "), std::string::npos) << extension;
    }
    WriteRestoreFiles(var, con);
    EXPECT_EQ(restoreError(), "");
}

TEST(ThreadSignalTest, AWakeBeforeTheWaitIsNeverLost)
{
    // A lost wake would hang the waiter.
    ThreadSignal signal;
    for (int round = 0; round < 20000; ++round) {
        std::thread waker([&] { signal.Wake(); });
        signal.Wait();
        waker.join();
    }
}

TEST_F(DownloadThreadRecordTest, StartRacingThePauseAtCreationIsNeverLost)
{
    // Started at once by its owner, as the queue does, a task still begins its log created.
    WriteFile(Src() + "f", "content");
    for (int round = 0; round < 30; ++round) {
        auto task = NewTask(Src() + "f", temp / ("out" + std::to_string(round)), {.initialState = StatePaused}, "0000" + std::to_string(1000 + round));
        task->Start();  // lands before or after the worker suspends itself
        ASSERT_TRUE(WaitForState(*task, StateFinished)) << "round " << round;
        EXPECT_EQ(LogIds(*task).front(), "Inf001");
    }
}

}  // namespace
}  // namespace tarn::test
