#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "core/ProgramLog.h"
#include "engine/DataBytes.h"
#include "engine/RestoreFiles.h"
#include "tests/tasks/TasksFixture.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using test::FakeViews;
using test::MakeFolders;
using test::ReadFile;
using test::WaitUntil;
using test::WriteFile;

std::string TaskListBytes(const std::vector<std::string>& names, uint8_t major = 3, uint8_t minor = 1, int32_t count = -1)
{
    ByteWriter writer;
    writer.Byte(major);
    writer.Byte(minor);
    writer.Int32(count < 0 ? static_cast<int32_t>(names.size()) : count);
    for (const auto& name : names) writer.LenString(name);
    return writer.Bytes();
}

class TaskListTest : public test::TasksTest {
protected:
    // Restore files of a finished task, written by hand so that a TaskList can name them.
    void WriteFinishedTask(const std::string& name)
    {
        TaskVariables v;
        v.State = StateFinished;
        v.Source = temp / "src/";
        v.Destination = temp / "dst/";
        WriteFile(Restore() + name + ".var", EncodeVarFile(v));
        WriteFile(Restore() + name + ".con", EncodeConFile({}, {}));
        WriteFile(Restore() + name + ".log", LogFileHeader());
    }
    // Another program could take the folder now.
    bool FolderLockFree() const
    {
        FileOpenOptions options;
        options.lock = FileLock::Exclusive;
        const int fd = PlatformOpen(Restore() + "TaskList.lock", FileAccess::Read, CreationMode::OpenExisting, options);
        if (fd >= 0) PlatformClose(fd);
        return fd >= 0;
    }
    // A list written by hand, opened as at a new start.
    void LoadList(const std::string& bytes, EarlierTasks earlier = EarlierTasks::Restore)
    {
        tasks->Close();
        WriteFile(Restore() + "TaskList", bytes);
        Reload(earlier);
    }
};

// A crash at any point must leave no file of a task no list knows, and no listed task without its
// files. A move reaches the file with the next save only; views and speed histories stay with their task.
TEST_F(TaskListTest, TheFileListsTheTasksInOrderBeforeTheirFilesComeAndAfterTheyGo)
{
    WriteFile(temp / "src/a", "a");
    StallOn(FaultOp::Open, Restore() + "TaskList");  // the save that lists the new task
    std::thread adder([&] { tasks->AddTask(temp / "src/a", temp / "dst/a", StateCopying, 0, INT32_MAX); });
    EXPECT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    for (const auto& file : test::NamesOnDisk(Restore())) EXPECT_EQ(file.rfind("TaskList", 0), 0u) << file;
    EXPECT_FALSE(FileExists(temp / "dst/a"));
    ReleaseStalls();
    adder.join();
    for (const char* name : {"b", "c"}) AddQuickTask(name);
    const auto before = Names();
    EXPECT_EQ(ReadFile(Restore() + "TaskList"), TaskListBytes(before));
    const SpeedGraphModel* graph = &tasks->Graph(0);
    tasks->Move(2, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{before[2], before[0], before[1]}));
    EXPECT_EQ(views.views, (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(SavedNames(), before);  // a forced end now restarts in the saved order
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(WaitForState(i, StateFinished));
    EXPECT_EQ(ReadFile(temp / "dst/a/a"), "a");
    WriteFile(Restore() + before[1] + ".con.new", "left by a save a kill cut off");
    StallOn(FaultOp::Open, Restore() + "TaskList");  // the save of the shorter list
    std::thread remover([&] { tasks->StopAndRemoveTask(2, Removal::Confirmed); });
    EXPECT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    EXPECT_TRUE(FileExists(Restore() + before[1] + ".var"));
    ReleaseStalls();
    remover.join();
    ASSERT_TRUE(tasks->StopAndRemoveTask(0, Removal::Automatic));
    EXPECT_EQ(views.views, std::vector<int>{0});
    EXPECT_EQ(&tasks->Graph(0), graph);
    EXPECT_EQ(SavedNames(), std::vector<std::string>{before[0]});
    Reload();
    EXPECT_EQ(Names(), std::vector<std::string>{before[0]});
    EXPECT_EQ(ReadFile(LogFile()).find("Log file - Tarnwell version 3.1"), 0u);
    for (const auto& name : {before[1], before[2]})
        for (const char* extension : {".var", ".con", ".log", ".con.new"})
            EXPECT_FALSE(FileExists(Restore() + name + extension)) << name << extension;

    // Relative paths name the same files from any other folder; a ".." in them is resolved.
    const std::string cwd = fs::current_path();
    fs::current_path(temp.Path());
    WriteFile(temp / "src/rel", "relative");
    const bool added = tasks->AddTask("src/../src/./rel", "./dst/rel", StatePaused, 0, 0);
    fs::current_path(cwd);
    ASSERT_TRUE(added);
    EXPECT_EQ(tasks->Task(1).GetSourceAsGiven(), temp / "src/rel");
    EXPECT_EQ(tasks->Task(1).GetDestination(), temp / "dst/rel/");
}

TEST_F(TaskListTest, TheFolderIsOwnedThroughItsLockFileAndTaskListIsReplacedWhole)
{
    // A second list finds the folder taken; a task it took on would copy, but no list would know it.
    FakeViews otherViews;
    TaskList other(*settings, msgs, otherViews);
    other.LoadTaskList();
    EXPECT_FALSE(other.IsOpen());
    WriteFile(temp / "src/f", "data");
    EXPECT_FALSE(other.AddTask(temp / "src/f", temp / "dst", StateCopying, 0, INT32_MAX) || other.Count() > 0);
    EXPECT_TRUE(otherViews.HasError("in use by another program"));
    EXPECT_TRUE(otherViews.HasError("is not in use by this program; the task for \"" + temp / "src/f\" was not created"));
    EXPECT_EQ(test::NamesOnDisk(Restore()), std::vector<std::string>{"TaskList.lock"});
    EXPECT_FALSE(FileExists(temp / "dst"));
    other.Close();
    EXPECT_FALSE(FolderLockFree());  // closing gave up nothing it did not have

    // A save makes a new file: a name still linked to the old one sees the old list whole. The
    // restore path setting stays while a task is listed.
    AddHeldTask("a", StatePaused);
    TaskList(*settings, msgs, otherViews).LoadTaskList();  // unlocks nothing it did not lock
    settings->SetRestorePath(temp / "elsewhere");
    EXPECT_EQ(settings->RestorePath(), Restore());
    ASSERT_EQ(::link((Restore() + "TaskList").c_str(), (temp / "old-list").c_str()), 0);
    AddHeldTask("b", StatePaused);
    EXPECT_EQ(ReadFile(temp / "old-list"), TaskListBytes({Names()[0]}));
    EXPECT_EQ(ReadFile(Restore() + "TaskList"), TaskListBytes(Names()));
    ASSERT_TRUE(tasks->DeleteTaskByUser(1, false));
    EXPECT_TRUE(settings->RestorePathLocked());
    ASSERT_TRUE(tasks->DeleteTaskByUser(0, false));
    EXPECT_FALSE(settings->RestorePathLocked());
    tasks->Close();
    EXPECT_TRUE(FolderLockFree());

    // A link in place of TaskList is not followed: the folder is not taken.
    WriteFile(temp / "elsewhere", TaskListBytes({"AAAAAAAA"}));
    WriteFinishedTask("AAAAAAAA");
    fs::remove(Restore() + "TaskList");
    fs::create_symlink(temp / "elsewhere", Restore() + "TaskList");
    Reload();
    EXPECT_FALSE(tasks->IsOpen() || tasks->Count() > 0);
    EXPECT_TRUE(views.HasError(Restore() + "TaskList\": "));
}

TEST_F(TaskListTest, ADamagedTaskListIsMovedAsideAndItsWholeEntriesLoad)
{
    LoadList("");  // empty: an empty list, nothing to say
    EXPECT_EQ(tasks->Count() + tasks->LoadProblems() + views.errors.size(), 0u);
    // Shorter than its header: damaged, moved aside under a name of its own each time.
    for (size_t size = 1; size < 6; ++size) {
        LoadList(TaskListBytes({}, 3, 1, 0).substr(0, size));
        const std::string moved = Restore() + "damaged/TaskList" + (size == 1 ? "" : "." + std::to_string(size - 1));
        EXPECT_EQ(tasks->Count(), 0) << size;
        ASSERT_EQ(views.errors.size(), 1u) << size;
        EXPECT_TRUE(views.HasError("moved to \"" + moved + "\"")) << views.errors[0];
        EXPECT_EQ(ReadFile(moved).size(), size);
        EXPECT_FALSE(FileExists(Restore() + "TaskList"));
    }
    // A count beyond the entries the file holds: one report, the whole entries load and are saved.
    WriteFinishedTask("AAAAAAAA");
    LoadList(TaskListBytes({"AAAAAAAA"}, 3, 1, 1000000) + "\x05");
    EXPECT_EQ(Names(), std::vector<std::string>{"AAAAAAAA"});
    ASSERT_EQ(views.errors.size(), 1u);
    EXPECT_TRUE(views.HasError("names 1000000 tasks but holds only 1"));
    EXPECT_EQ(tasks->LoadProblems(), 1);
    EXPECT_EQ(SavedNames(), std::vector<std::string>{"AAAAAAAA"});

    // Sparse far past its bound: only the bound's bytes are read, and the entries there load.
    tasks->Close();
    fs::resize_file(Restore() + "TaskList", uintmax_t{64} << 30);
    Reload();
    EXPECT_EQ(Names(), std::vector<std::string>{"AAAAAAAA"});
    EXPECT_TRUE(views.HasError("\"" + Restore() + "TaskList\" is 68719476736 bytes, more than the 1048576 bytes a task "
                               "list may hold; it was moved to \"" + Restore() + "damaged/TaskList.6\""));
    EXPECT_EQ(SavedNames(), std::vector<std::string>{"AAAAAAAA"});
}

TEST_F(TaskListTest, ARestoreFolderOthersCouldWriteIsRefusedBeforeAnythingInItIsRead)
{
    const std::string folder = ExcludeTrailingDelimiter(Restore());
    const std::string outside = temp / "outside";
    // Damaged and naming a task: a folder taken would load the task and move the list.
    const std::string list = TaskListBytes({"AAAAAAAA"}, 3, 1, 2);
    const struct {
        const char* what;
        std::function<void()> make;
        std::string error;
    } cases[] = {
        {"group", [&] { fs::permissions(folder, fs::perms(0770)); },
         "\"" + folder + "\" can be written by other users (mode 0770); only its owner may write it: chmod go-w"},
        {"others", [&] { fs::permissions(folder, fs::perms(01777)); }, "(mode 1777)"},
        {"link", [&] { fs::rename(folder, outside + "/real"); fs::create_symlink(outside + "/real", folder); },
         "The restore folder \"" + folder + "\" is a symbolic link, which is not followed"},
        {"damaged/", [&] { fs::create_symlink(outside, folder + "/damaged"); },
         "The folder of damaged restore files \"" + folder + "/damaged\" is a symbolic link"},
        {"owner", [&] { ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0); }, "(uid 65534), not to you"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.what == std::string("owner") && ::geteuid() != 0)
            GTEST_SKIP() << "a folder of another user takes root to make; run as root to test it";
        tasks->Close();
        fs::remove_all(folder);
        fs::remove_all(outside);
        MakeFolders(outside);
        fs::create_directory(folder);
        fs::permissions(folder, fs::perms(0700));
        WriteFinishedTask("AAAAAAAA");
        WriteFile(Restore() + "TaskList", list);
        c.make();
        Reload();
        EXPECT_FALSE(tasks->IsOpen() || tasks->Count() > 0);
        EXPECT_TRUE(views.HasError(c.error)) << ::testing::PrintToString(views.errors);
        EXPECT_EQ(ReadFile(Restore() + "TaskList"), list);
        EXPECT_FALSE(fs::exists(Restore() + "TaskList.lock"));
        EXPECT_EQ(test::NamesOnDisk(outside).size(), c.what == std::string("link") ? 1u : 0u);
    }
}

// TaskList names a task before its files are made (the .var last) and drops one before its files
// go: what a kill in between leaves goes without a trace. What is damaged is moved aside, what
// cannot be read now is kept for the next start.
TEST_F(TaskListTest, TasksThatCannotBeRestoredAreMovedAsideOrKeptAndKillLeftoversGo)
{
    tasks->Close();
    for (const char* name : {"AAAAAAAA", "BBBBBBBB", "CCCCCCCC", "EEEEEEEE", "FFFFFFFF", "0000000B"})
        WriteFinishedTask(name);
    WriteFile(Restore() + "BBBBBBBB.var", "\x03\x01");    // damaged
    fs::remove(Restore() + "EEEEEEEE.con");              // one file of three lost
    InjectFault(FaultOp::Open, "/CCCCCCCC.", EBUSY, 1);  // held by another program
    const std::pair<const char*, std::string> leftovers[] = {{"GGGGGGGG.log", LogFileHeader()}, {"HHHHHHHH.log", ""},
        {"HHHHHHHH.con", EncodeConFile({}, {})}, {"HHHHHHHH.var.new", "cut off"}, {"0000000C.con.new", "x"}};
    for (const auto& [file, bytes] : leftovers) WriteFile(Restore() + file, bytes);
    WriteFile(Restore() + "notes.txt", "the user's");
    LoadList(TaskListBytes({"CCCCCCCC", "AAAAAAAA", "BBBBBBBB", "DDDDDDDD", "../../etc", "EEEEEEEE", "FFFFFFFF",
                            "AAAAAAAA", "GGGGGGGG", "HHHHHHHH"}, 2, 7));
    EXPECT_EQ(Names(), (std::vector<std::string>{"AAAAAAAA", "FFFFFFFF"}));
    EXPECT_EQ(std::tuple(tasks->UnrestoredCount(), tasks->LoadProblems(), views.errors.size()), std::tuple(1, 8, 8u));
    const std::string damaged = Restore() + "damaged/";
    const std::vector<std::string> errors = {
        "Task CCCCCCCC: its restore files in \"" + Restore() + "\" cannot be read: Device or resource busy. It stays in "
        "the list for the next start", "Task BBBBBBBB: its restore files are damaged: ", "they were moved to \"" + damaged + "\"",
        "Task DDDDDDDD: its restore files are missing", "an invalid task name \"../../etc\"",
        "Task EEEEEEEE: its restore file \"EEEEEEEE.con\" is missing", "names task AAAAAAAA twice",
        "Task GGGGGGGG was being created when the program ended", "Task HHHHHHHH was being created when the program ended"};
    for (const auto& error : errors) EXPECT_TRUE(views.HasError(error)) << error;
    for (const char* extension : {".var", ".con", ".log"}) {
        EXPECT_TRUE(FileExists(damaged + "BBBBBBBB" + extension));
        EXPECT_FALSE(FileExists(Restore() + "BBBBBBBB" + extension));
        EXPECT_TRUE(FileExists(Restore() + "CCCCCCCC" + extension));
        EXPECT_FALSE(FileExists(Restore() + "0000000B" + extension));  // listed nowhere
    }
    EXPECT_TRUE(FileExists(damaged + "EEEEEEEE.var"));
    for (const auto& [file, bytes] : leftovers) EXPECT_FALSE(FileExists(Restore() + file) || FileExists(damaged + file)) << file;
    EXPECT_TRUE(FileExists(Restore() + "notes.txt"));

    // The kept task holds its place through every save, and is never deleted with the list.
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"CCCCCCCC", "AAAAAAAA", "FFFFFFFF"}));
    ASSERT_TRUE(tasks->StopAndRemoveTask(0, Removal::Confirmed));
    AddQuickTask("new");
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"CCCCCCCC", "FFFFFFFF", Names()[1]}));
    ASSERT_TRUE(WaitForState(1, StateFinished));
    ASSERT_TRUE(tasks->StopAndRemoveTask(1, Removal::Confirmed));
    ASSERT_TRUE(tasks->StopAndRemoveTask(0, Removal::Confirmed));
    tasks->Close();
    EXPECT_EQ(SavedNames(), std::vector<std::string>{"CCCCCCCC"});
    Reload();  // once its files can be read, it loads
    EXPECT_EQ(Names(), std::vector<std::string>{"CCCCCCCC"});
    EXPECT_EQ(tasks->LoadProblems(), 0);

    // Without its list (missing, or damaged and moved aside) a task's files are all there is.
    tasks->Close();
    WriteFinishedTask("0000000B");
    fs::remove(Restore() + "TaskList");
    Reload();
    EXPECT_TRUE(FileExists(Restore() + "0000000B.var"));
    LoadList(TaskListBytes({"AAAAAAAA"}, 3, 1, 2));
    EXPECT_TRUE(FileExists(Restore() + "0000000B.var"));

    // Earlier tasks kept without workers stay listed through every save, and no worker runs them.
    WriteFinishedTask("AAAAAAAA");
    LoadList(TaskListBytes({"AAAAAAAA", "0000000B"}), EarlierTasks::Keep);
    EXPECT_EQ(std::tuple(tasks->Count(), tasks->EarlierKeptCount(), tasks->UnrestoredCount()), std::tuple(0, 2, 0));
    EXPECT_TRUE(settings->RestorePathLocked());
    AddHeldTask("new", StatePaused);
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"AAAAAAAA", "0000000B", Names()[0]}));
    ASSERT_TRUE(tasks->DeleteTaskByUser(0, false));
    tasks->Close();
    EXPECT_FALSE(settings->RestorePathLocked());
    EXPECT_EQ(SavedNames(), (std::vector<std::string>{"AAAAAAAA", "0000000B"}));
    EXPECT_EQ(ReadFile(Restore() + "AAAAAAAA.log"), LogFileHeader());
}

// A call that does not return is logged once and shown; at exit its worker is left behind.
TEST_F(TaskListTest, AtExitAStuckWorkerIsLeftBehindAndTheFolderGivenUp)
{
    scheduler->SetStallLimit(std::chrono::seconds(0));
    WriteFile(temp / "src/stuck", "data");
    StallOn(FaultOp::Open, temp / "src/stuck");  // as a read of a dead network share does
    ASSERT_TRUE(tasks->AddTask(temp / "src/stuck", temp / "dst", StateCopying, 0, 0));
    ASSERT_TRUE(WaitUntil([] { return StalledCalls() == 1; }));
    const ViewRefresh view = scheduler->Tick({0});
    scheduler->Tick({0});
    TDownloadThread* const stuck = &tasks->Task(0);
    EXPECT_EQ(CountId(*stuck, "Err011"), 1);
    TMsg shown;
    ASSERT_TRUE(stuck->GetLogRecord(view.LogRecordCounts[0] - 1, shown));
    EXPECT_EQ(RenderLogRecord(msgs, shown),
              "Nothing has moved for 0 seconds: the system does not answer for \"" + temp / "src/stuck\"");
    const std::string name = stuck->TaskName();
    tasks->Close();
    EXPECT_EQ(tasks->Count(), 0);
    EXPECT_TRUE(views.views.empty());
    EXPECT_TRUE(FolderLockFree());
    EXPECT_EQ(SavedNames(), std::vector<std::string>{name});  // resumed at the next start
    // The worker was left alive for the end of the process; here the test lets it end.
    ReleaseStalls();
    stuck->WaitFor();
}

}  // namespace
}  // namespace tarn
