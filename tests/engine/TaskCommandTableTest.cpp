// Every command in every state, against a real worker copying real files: the state the task ends in and
// the records the command leads to. A row here is a cell of the table in docs/task-states.md.
#include <algorithm>
#include <thread>

#include "platform/DateTime.h"
#include "tests/engine/EngineTestSupport.h"

namespace tarn {
namespace {

using namespace test;

// Paused and Scheduled: in the middle of a file; the AtStart ones: created so, nothing scanned yet;
// Asking: waiting for an answer about an existing file; Failed: the run ended on a failure no retry mends.
enum class Situation { Scanning, Copying, Error, Paused, PausedAtStart, Scheduled, ScheduledAtStart, Finished, Asking, Failed };
enum class Command { Start, Pause, Restart, SkipFile, ChangeSource, Schedule, Delete, DeleteWithFiles };

constexpr uint8_t Ended = 0xFF;  // the worker thread has ended (the task is being deleted)

struct Cell {
    Situation situation;
    Command command;
    uint8_t state;                      // the state the task settles in, or Ended
    std::vector<std::string> logged;    // records the command leads to, in this order
    std::vector<std::string> notLogged; // records it must not lead to
    // Asking, the question left open: answered Overwrite, the state and records that follow, each once.
    uint8_t answeredState = 0;
    std::vector<std::string> answered = {};
};

const char* const SituationNames[] = {"Scanning",  "Copying",          "Error",    "Paused", "PausedAtStart",
                                      "Scheduled", "ScheduledAtStart", "Finished", "Asking", "Failed"};
const char* const CommandNames[] = {"Start", "Pause", "Restart", "SkipFile", "ChangeSource", "Schedule", "Delete", "DeleteWithFiles"};
std::string Name(const Cell& cell)
{
    return std::string(SituationNames[int(cell.situation)]) + "_" + CommandNames[int(cell.command)];
}
void PrintTo(const Cell& cell, std::ostream* out) { *out << Name(cell); }

using S = Situation;
using C = Command;

// clang-format off
const Cell Table[] = {
    // Start: goes on from a pause or a schedule; a run that failed tries again.
    {S::Scanning,         C::Start, StateFinished,  {},         {"Inf005"}},
    {S::Copying,          C::Start, StateCopying,   {},         {"Inf005"}},
    {S::Error,            C::Start, StateError,     {},         {"Inf005"}},
    {S::Paused,           C::Start, StateCopying,   {"Inf005"}, {"Inf009"}},
    {S::PausedAtStart,    C::Start, StateCopying,   {"Inf005"}, {}},
    {S::Scheduled,        C::Start, StateCopying,   {"Inf005"}, {"Inf012"}},
    {S::ScheduledAtStart, C::Start, StateCopying,   {"Inf005"}, {"Inf012"}},
    {S::Finished,         C::Start, StateFinished,  {},         {"Inf005"}},
    {S::Asking,           C::Start, StateCopying,   {},         {"Inf005"}, StateFinished, {"Inf018", "Inf008"}},
    {S::Failed,           C::Start, StateFinished,  {"Inf005", "Inf008"}, {}},
    // Pause: a task at work pauses at once; a scan runs to its end first, a question is answered first.
    {S::Scanning,         C::Pause, StateFinished,  {},         {"Inf009"}},
    {S::Copying,          C::Pause, StatePaused,    {"Inf009"}, {}},
    {S::Error,            C::Pause, StatePaused,    {"Inf009"}, {}},
    {S::Paused,           C::Pause, StatePaused,    {},         {"Inf009"}},
    {S::PausedAtStart,    C::Pause, StatePaused,    {},         {"Inf009"}},
    {S::Scheduled,        C::Pause, StatePaused,    {"Inf009"}, {"Inf012"}},
    {S::ScheduledAtStart, C::Pause, StatePaused,    {"Inf009"}, {"Inf012"}},
    {S::Finished,         C::Pause, StateFinished,  {},         {"Inf009"}},
    {S::Asking,           C::Pause, StateCopying,   {},         {"Inf009"}, StatePaused, {"Inf018", "Inf009"}},
    {S::Failed,           C::Pause, StatePaused,    {"Inf009"}, {}},
    // Restart: always starts over at once; a schedule is dropped.
    {S::Scanning,         C::Restart, StateFinished,  {"Inf013", "Inf003", "Inf008"}, {}},
    {S::Copying,          C::Restart, StateCopying,   {"Inf013", "Inf003"}, {}},
    {S::Error,            C::Restart, StateError,     {"Inf013", "Inf003"}, {}},
    {S::Paused,           C::Restart, StateCopying,   {"Inf013", "Inf003"}, {"Inf005"}},
    {S::PausedAtStart,    C::Restart, StateCopying,   {"Inf013", "Inf003"}, {"Inf005"}},
    {S::Scheduled,        C::Restart, StateCopying,   {"Inf013", "Inf003"}, {"Inf012", "Inf005"}},
    {S::ScheduledAtStart, C::Restart, StateCopying,   {"Inf013", "Inf003"}, {"Inf012", "Inf005"}},
    {S::Finished,         C::Restart, StateFinished,  {"Inf013", "Inf003", "Inf008"}, {}},
    {S::Asking,           C::Restart, StateFinished,  {"Inf013", "Inf017", "Inf018", "Inf008"}, {}},
    {S::Failed,           C::Restart, StateFinished,  {"Inf013", "Inf008"}, {}},
    // Skip File: the file being worked on is skipped; a pause stays, a schedule's wait ends.
    {S::Scanning,         C::SkipFile, StateFinished,  {},                   {"Inf014"}},
    {S::Copying,          C::SkipFile, StateFinished,  {"Inf014", "Inf008"}, {"Inf007"}},
    {S::Error,            C::SkipFile, StateFinished,  {"Inf014", "Inf008"}, {"Inf007"}},
    {S::Paused,           C::SkipFile, StatePaused,    {"Inf014"},           {"Inf005", "Inf009", "Inf007"}},
    {S::PausedAtStart,    C::SkipFile, StatePaused,    {},                   {"Inf014"}},
    {S::Scheduled,        C::SkipFile, StateFinished,  {"Inf005", "Inf014", "Inf008"}, {"Inf012", "Inf011", "Inf007"}},
    {S::ScheduledAtStart, C::SkipFile, StateScheduled, {},                   {"Inf014", "Inf005"}},
    {S::Finished,         C::SkipFile, StateFinished,  {},                   {"Inf014"}},
    {S::Asking,           C::SkipFile, StateFinished,  {"Inf014", "Inf008"}, {"Inf007"}},
    {S::Failed,           C::SkipFile, StateFinished,  {"Inf014", "Inf008"}, {"Inf007"}},
    // Change Source: the work goes on from the new path where it was.
    {S::Scanning,         C::ChangeSource, StateFinished,  {"Inf010", "Inf003", "Inf008"}, {}},
    {S::Copying,          C::ChangeSource, StateCopying,   {"Inf010"}, {"Err005", "Inf024"}},
    {S::Error,            C::ChangeSource, StateError,     {"Inf010"}, {}},
    {S::Paused,           C::ChangeSource, StatePaused,    {"Inf010"}, {}},
    {S::PausedAtStart,    C::ChangeSource, StatePaused,    {"Inf010"}, {}},
    {S::Scheduled,        C::ChangeSource, StateScheduled, {"Inf010"}, {"Inf012"}},
    {S::ScheduledAtStart, C::ChangeSource, StateScheduled, {"Inf010"}, {"Inf012"}},
    {S::Finished,         C::ChangeSource, StateFinished,  {"Inf010"}, {"Inf013"}},
    {S::Asking,           C::ChangeSource, StateCopying,   {"Inf010"}, {}, StateFinished, {"Inf018", "Inf008"}},
    {S::Failed,           C::ChangeSource, StateError,     {"Inf010"}, {}},
    // Schedule: waits for the time from where it was.
    {S::Scanning,         C::Schedule, StateScheduled, {"Inf011"}, {}},
    {S::Copying,          C::Schedule, StateScheduled, {"Inf011"}, {}},
    {S::Error,            C::Schedule, StateScheduled, {"Inf011"}, {}},
    {S::Paused,           C::Schedule, StateScheduled, {"Inf011"}, {"Inf005"}},
    {S::PausedAtStart,    C::Schedule, StateScheduled, {"Inf011"}, {"Inf005"}},
    {S::Scheduled,        C::Schedule, StateScheduled, {},         {"Inf011", "Inf012"}},
    {S::ScheduledAtStart, C::Schedule, StateScheduled, {},         {"Inf011", "Inf012"}},
    {S::Finished,         C::Schedule, StateFinished,  {},         {"Inf011"}},
    {S::Asking,           C::Schedule, StateScheduled, {"Inf011"}, {}},
    {S::Failed,           C::Schedule, StateScheduled, {"Inf011"}, {}},
    // Delete: the worker ends; with its files, what an unfinished task wrote goes.
    {S::Scanning,         C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Copying,          C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Error,            C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Paused,           C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::PausedAtStart,    C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Scheduled,        C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::ScheduledAtStart, C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Finished,         C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Asking,           C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Failed,           C::Delete, Ended, {"Inf015"}, {"Inf016"}},
    {S::Scanning,         C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::Copying,          C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::Error,            C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::Paused,           C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::PausedAtStart,    C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::Scheduled,        C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::ScheduledAtStart, C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::Finished,         C::DeleteWithFiles, Ended, {"Inf015"}, {"Inf016"}},
    {S::Asking,           C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
    {S::Failed,           C::DeleteWithFiles, Ended, {"Inf015", "Inf016"}, {}},
};
// clang-format on

double Tomorrow() { return NowDateTime() + 1; }

class TaskCommandTableTest : public EngineTest, public ::testing::WithParamInterface<Cell> {
protected:
    // The source tree, and a second copy of it under another name for Change Source.
    void MakeSources(Situation situation)
    {
        if (situation != S::Scanning) {
            const std::string big = situation == S::Finished ? "small" : big_;
            WriteTree(Src(), {{"tree/big", big}, {"moved/big", big}});
            // The same files moved elsewhere keep their times.
            fs::last_write_time(Src() + "moved/big", fs::last_write_time(Src() + "tree/big"));
            return;
        }
        // Enough files that the scan waits for a helper listing the subfolder.
        for (const std::string tree : {"tree/", "moved/"}) {
            WriteTree(Src() + tree, {{"sub/last", "y"}});
            for (int i = 0; i < 300; ++i) WriteFile(Src() + tree + "f" + std::to_string(i), "x");
        }
    }

    std::unique_ptr<TDownloadThread> MakeTaskIn(Situation situation)
    {
        MakeSources(situation);
        TaskSetup setup{.speedLimit = 300000};
        switch (situation) {
        case S::Scanning: {
            StallOn(FaultOp::Enumerate, "src/tree/sub");
            setup.speedLimit = 2147483647;
            auto task = NewTask(Src() + "tree", Dst(), setup);
            EXPECT_TRUE(WaitUntil([&] { return StalledCalls() > 0 && task->GetState() == StateScanning; }));
            return task;
        }
        case S::Error:
            InjectFault(FaultOp::Read, "src/tree/big", EIO, 1000000);
            setup.delayOnError = 60000;
            break;
        case S::PausedAtStart: setup.initialState = StatePaused; break;
        case S::ScheduledAtStart:
            setup.initialState = StateScheduled;
            setup.scheduleTime = Tomorrow();
            break;
        case S::Asking:
            WriteTree(Dst(), {{"tree/big", "the user's own file"}});
            setup.speedLimit = 2147483647;
            break;
        case S::Failed:
            InjectFault(FaultOp::Allocate, "", ENOMEM);
            setup.speedLimit = 2147483647;
            break;
        case S::Finished: setup.speedLimit = 2147483647; break;
        default: break;
        }
        auto task = NewTask(Src() + "tree", Dst(), setup);
        const auto copying = [&] { return task->GetState() == StateCopying && task->GetCopiedSize() > 0; };
        switch (situation) {
        case S::Copying: EXPECT_TRUE(WaitUntil(copying)); break;
        case S::Error: EXPECT_TRUE(WaitForState(*task, StateError)); break;
        case S::Paused:
            EXPECT_TRUE(WaitUntil(copying));
            task->Pause();
            EXPECT_TRUE(WaitForState(*task, StatePaused));
            break;
        case S::Scheduled:
            EXPECT_TRUE(WaitUntil(copying));
            task->Schedule(Tomorrow());
            EXPECT_TRUE(WaitForState(*task, StateScheduled));
            break;
        case S::PausedAtStart: EXPECT_TRUE(WaitForLog(*task, "Inf001")); break;
        case S::ScheduledAtStart: EXPECT_TRUE(WaitForLog(*task, "Inf011")); break;
        case S::Finished: EXPECT_TRUE(WaitForState(*task, StateFinished)); break;
        case S::Asking: EXPECT_TRUE(WaitUntil([&] { return task->IsWaitingForAnswer(); })); break;
        case S::Failed: EXPECT_TRUE(WaitUntil([&] { return task->HasRunFailed(); })); break;
        default: break;
        }
        return task;
    }

    static void Apply(TDownloadThread& task, Command command, const std::string& moved)
    {
        switch (command) {
        case C::Start: task.Start(); break;
        case C::Pause: task.Pause(); break;
        case C::Restart: task.Restart(); break;
        case C::SkipFile: task.SkipFile(); break;
        case C::ChangeSource: task.ChangeSource(moved); break;
        case C::Schedule: task.Schedule(Tomorrow()); break;
        case C::Delete: task.DeleteByUser(false); break;
        case C::DeleteWithFiles: task.DeleteByUser(true); break;
        }
    }

    // True when `wanted` appear among `records` in this order.
    static bool InOrder(const std::vector<std::string>& records, const std::vector<std::string>& wanted)
    {
        auto at = records.begin();
        for (const auto& id : wanted) {
            at = std::find(at, records.end(), id);
            if (at == records.end()) return false;
            ++at;
        }
        return true;
    }

    const std::string big_ = RandomBytes(3 * 1000 * 1000, 1);
};

TEST_P(TaskCommandTableTest, TheCommandLeadsWhereTheTableSays)
{
    const Cell& cell = GetParam();
    auto task = MakeTaskIn(cell.situation);
    ASSERT_FALSE(HasFailure()) << "the task did not reach " << SituationNames[int(cell.situation)];
    const size_t before = LogIds(*task).size();
    Apply(*task, cell.command, Src() + "moved");
    // Whatever held the scan or made the errors has done its part.
    if (cell.situation == S::Scanning) ReleaseStalls();

    const auto newRecords = [&] {
        const auto ids = LogIds(*task);
        return std::vector<std::string>(ids.begin() + static_cast<std::ptrdiff_t>(std::min(before, ids.size())), ids.end());
    };
    if (cell.state == Ended) {
        ASSERT_TRUE(task->WaitFor(std::chrono::seconds(20)));
    } else {
        const bool settled = WaitUntil([&] {
            return task->GetState() == cell.state && InOrder(newRecords(), cell.logged) &&
                   (cell.situation != S::Asking || cell.state != StateCopying || task->IsWaitingForAnswer());
        });
        // A state reached only on the way would not hold.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_TRUE(settled);
        EXPECT_EQ(int(task->GetState()), int(cell.state));
    }
    const auto records = newRecords();
    std::string seen;
    for (const auto& id : records) seen += id + " ";
    EXPECT_TRUE(InOrder(records, cell.logged)) << "records after the command: " << seen;
    for (const auto& id : cell.notLogged)
        EXPECT_EQ(std::count(records.begin(), records.end(), id), 0) << id << " in: " << seen;
    if (cell.state != Ended && cell.state != StateCopying) { EXPECT_FALSE(task->IsWaitingForAnswer()); }
    if (!cell.answered.empty()) {
        task->Answer(AnswerOverwrite);
        EXPECT_TRUE(WaitUntil([&] { return task->GetState() == cell.answeredState && InOrder(newRecords(), cell.answered); }));
        const auto after = newRecords();
        for (const auto& id : cell.answered) EXPECT_EQ(std::count(after.begin(), after.end(), id), 1) << id;
    }

    // Deleting with the files takes what the task wrote, never what was there before it.
    if (cell.command == C::DeleteWithFiles) {
        if (cell.situation == S::Asking) {
            EXPECT_EQ(ReadFile(Dst() + "tree/big"), "the user's own file");
        } else if (cell.situation == S::Finished) {
            EXPECT_TRUE(fs::exists(Dst() + "tree/big"));
        } else if (cell.situation == S::Copying || cell.situation == S::Paused || cell.situation == S::Scheduled) {
            EXPECT_FALSE(fs::exists(Dst() + "tree"));
        }
    }
    ClearFaults();
}

INSTANTIATE_TEST_SUITE_P(EveryStateAndCommand, TaskCommandTableTest, ::testing::ValuesIn(Table),
                         [](const ::testing::TestParamInfo<Cell>& info) { return Name(info.param); });

// What the commands leave behind beyond state and records.
using DownloadThreadCommandTest = EngineTest;

TEST_F(DownloadThreadCommandTest, AFailedFlushIsAnErrorOfTheFileAndNeverUndoesAPause)
{
    const std::string data = RandomBytes(2000000, 1);
    WriteFile(Src() + "f", data);
    auto task = NewTask(Src() + "f", Dst(), {.speedLimit = 400000});
    ASSERT_TRUE(WaitUntil([&] { return task->GetCopiedSize() > 100000; }));
    // The save that makes the pause durable cannot flush the file.
    InjectFault(FaultOp::Sync, "dst/f", EIO);
    task->Pause();
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(task->GetState(), StatePaused);
    EXPECT_EQ(CountWith(*task, "Err005", ""), 0);
    // Going on, the failure is an error of the file like any other: logged, counted, retried.
    task->Start();
    ASSERT_TRUE(WaitForLog(*task, "Err005"));
    EXPECT_EQ(CountWith(*task, "Err005", "Input/output error"), 1);
    EXPECT_GE(CountId(*task, "Inf006"), 1);
    task->SetSpeedLimit(2147483647);
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
}

TEST_F(DownloadThreadCommandTest, APausedErrorGoesOnWithoutAnErrorOfItsOwnMaking)
{
    const std::string data = RandomBytes(500000, 2);
    WriteFile(Src() + "f", data);
    InjectFault(FaultOp::Read, "src/f", EIO, 1, 1);
    auto task = NewTask(Src() + "f", Dst(), {.delayOnError = 60000});
    ASSERT_TRUE(WaitForState(*task, StateError));
    task->Pause();
    ASSERT_TRUE(WaitForState(*task, StatePaused));
    task->Start();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(CountWith(*task, "Err005", ""), 1);
    EXPECT_EQ(CountWith(*task, "Err005", "Bad file descriptor"), 0);
    EXPECT_TRUE(ReadFile(Dst() + "f") == data);
}

TEST_F(DownloadThreadCommandTest, ANewSourceDuringTheScanStartsACleanScanOfIt)
{
    for (const std::string tree : {"old/", "new/"}) {
        MakeFolders(Src() + tree + "a/b");
        for (int i = 0; i < 200; ++i) WriteFile(Src() + tree + "f" + std::to_string(i), tree);
        WriteFile(Src() + tree + "a/b/deep", tree);
    }
    StallOn(FaultOp::Enumerate, "src/old/a");
    auto task = NewTask(Src() + "old", Dst());
    ASSERT_TRUE(WaitUntil([&] { return StalledCalls() > 0; }));
    task->ChangeSource(Src() + "new");
    ReleaseStalls();
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    // The copy is the new tree, in the folder named after the old one, and nothing else.
    size_t entries = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Dst())) {
        ++entries;
        if (entry.is_regular_file()) { EXPECT_EQ(ReadFile(entry.path()), "new/") << entry.path(); }
    }
    EXPECT_EQ(entries, 1u + 2 + 201);
    EXPECT_TRUE(fs::exists(Dst() + "old/a/b/deep"));
    // And it restores: every item is inside the task's tree.
    task.reset();
    EXPECT_NO_THROW(RestoreTask());
}

TEST_F(DownloadThreadCommandTest, SkippedFilesKeepTheirAttributesAndStreams)
{
    WriteTree(Src(), {{"tree/there", "new content"}});
    WriteTree(Dst(), {{"tree/there", "old"}});
    if (::setxattr((Src() + "tree/there").c_str(), "user.tag", "source", 6, 0) != 0) GTEST_SKIP() << "no user attributes here";
    ASSERT_EQ(::setxattr((Dst() + "tree/there").c_str(), "user.tag", "mine", 4, 0), 0);
    fs::last_write_time(Src() + "tree/there", fs::file_time_type::clock::now() - std::chrono::hours(48));
    const int64_t mine = ModifiedOf(Dst() + "tree/there");

    // An existing file the user chose to skip: neither its attribute nor its times change.
    auto task = NewTask(Src() + "tree", Dst(), {.copyAttributes = true, .copyStreams = true});
    ASSERT_TRUE(Answered(*task, AnswerSkipAll));
    ASSERT_TRUE(WaitForState(*task, StateFinished));
    EXPECT_EQ(Attribute(Dst() + "tree/there", "user.tag"), "mine");
    EXPECT_EQ(ModifiedOf(Dst() + "tree/there"), mine);
    EXPECT_EQ(ReadFile(Dst() + "tree/there"), "old");
}

}  // namespace
}  // namespace tarn
