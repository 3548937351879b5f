#include <linux/fs.h>
#include <sys/ioctl.h>

#include "engine/GlobalUtils.h"
#include "tests/e2e/E2eSupport.h"

namespace tarn {
namespace {

using namespace test;
using Words = std::vector<std::string>;

Words Sorted(const std::string& folder)
{
    Words names = fs::exists(folder) ? NamesOnDisk(folder) : Words{};
    std::sort(names.begin(), names.end());
    return names;
}

using TarnctlTest = CommandTest;

// A command line tarnctl cannot take ends it with status 1 and a message that names the fault.
TEST_F(TarnctlTest, UsageErrorsHaveStatusOneAndNeverARawControlByte)
{
    const std::pair<Words, std::string> rows[] = {
        {{"copy", "only-one"}, "Usage: tarnctl copy"},
        {{"copy", "--on-exists", "maybe", "a", "b"}, "overwrite, upload or skip"},
        {{"\x1B[2J"}, "unknown command \"\\x1B[2J\""},
        {{"copy", "--x\x1B[2J", "a", "b"}, "Unknown option --x\\x1B[2J"},
        {{"copy", "--buffer-size", "65M", "a", "b"}, "Option --buffer-size takes 1 to 67108864 bytes (64M), not \"65M\""},
        {{"copy", "--speed-limit", "2G", "a", "b"}, "Option --speed-limit takes at most 2147483647 bytes per second"},
        {{"resume", "--speed-limit", "10X"}, "with K, M or G"},
    };
    for (const auto& [arguments, says] : rows) {
        SCOPED_TRACE(arguments.front());
        std::string errors;
        EXPECT_EQ(Tarnctl(arguments, &errors), 1);
        EXPECT_NE(errors.find(says), npos) << errors;
        EXPECT_EQ(errors.find('\x1B'), npos) << errors;
    }
}

// Each run into folders of its own: what it says, its status, its copies and its restore folder.
TEST_F(TarnctlTest, ARunSaysWhatItDidAndExitsWithItsStatus)
{
    MakeFolders(temp / "a/sub");
    WriteFile(temp / "a/sub/f", RandomBytes(100000, 1));
    WriteFile(temp / "b.bin", "b");
    const std::string odd = temp / "src\x1B[1m/";
    MakeFolders(odd);
    WriteFile(odd + "red\x1B[31m", "data");
    ASSERT_EQ(::mkfifo((odd + "pipe\x1B]0;owned\x07\xC2\x9B").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((temp / "pipe").c_str(), 0600), 0);
    fs::create_symlink(temp / "pipe", temp / "link-to-pipe");
    WriteFile(temp / "f", "new content");
    for (const auto& [folder, old] : {std::pair{"skip", "new"}, {"upload", "new"}, {"overwrite", "old"}}) {
        MakeFolders(temp / "out-" + folder);
        WriteFile(temp / "out-" + folder + "/f", old);
    }
    MakeFolders(temp / "restore-log/tarn_log.txt");  // a folder where the program log goes
    MakeFolders(temp / "restore-loglink");
    WriteFile(temp / "victim", "keep me");
    fs::create_symlink(temp / "victim", temp / "restore-loglink/tarn_log.txt");
    // Attributes asked for and not set fail the run as an item left out does: here a folder made
    // immutable before the copy, where this machine lets one be made (root, a file system with the flag).
    MakeFolders(temp / "out-attributes/attributes/locked");
    MakeFolders(temp / "attributes/locked");
    WriteFile(temp / "attributes/f", "data");
    const int locked = ::open((temp / "out-attributes/attributes/locked").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    const bool immutable = ::ioctl(locked, FS_IOC_GETFLAGS, &flags) == 0 &&
                           (flags |= FS_IMMUTABLE_FL, ::ioctl(locked, FS_IOC_SETFLAGS, &flags) == 0);
    const std::string escaped = temp / "src\\x1B[1m/";
    const Words kept = {"TaskList.lock", "tarn_log.txt"};
    const struct {
        const char* name;
        Words arguments;  // before the destination "out-<name>"
        int status;
        Words says;
        std::string logSays;
        std::vector<std::pair<std::string, std::optional<std::string>>> files;  // nothing: absent
        Words restoreFiles;  // left in "restore-<name>"
    } rows[] = {
        // "a/sub/.." is the folder "a", copied as "a".
        {"two", {temp / "a/sub/..", temp / "b.bin"}, 0,
         {"Copied \"" + temp / "a/\" to \"" + temp / "out-two/a/\"", "\nCopied 2 files, 0 skipped as existing, 0 left out\n"},
         "", {{temp / "out-two/a/sub/f", ReadFile(temp / "a/sub/f")}, {temp / "out-two/b.bin", "b"}}, kept},
        // Names reach the terminal and the log escaped; the copy keeps them.
        {"odd", {odd}, 2,
         {escaped + "pipe\\x1B]0;owned\\x07\\xC2\\x9B\"\n", "without 1 item(s) that could not be copied",
          "\nCopied 1 file, 0 skipped as existing, 1 left out\n"},
         "A file \"red\\x1B[31m\" was copied from \"" + escaped + "\"", {{temp / "out-odd/src\x1B[1m/red\x1B[31m", "data"}}, kept},
        // Every source is checked before anything is copied.
        {"checked", {temp / "b.bin", temp / "missing", temp / "link-to-pipe"}, 1,
         {"cannot copy \"" + temp / "missing\": No such file or directory\n",
          "cannot copy \"" + temp / "link-to-pipe\": not a regular file or folder\n"}, "", {{temp / "out-checked", std::nullopt}}, {}},
        // A program log that cannot be written holds no copy up; the task stays until it is.
        {"log", {temp / "b.bin"}, 0, {"tarn_log.txt"}, "", {{temp / "out-log/b.bin", "b"}}, {}},
        // Nor is a program log replaced by a link written through.
        {"loglink", {temp / "b.bin"}, 0, {"tarn_log.txt\" cannot be written: it is a symbolic link"}, "",
         {{temp / "out-loglink/b.bin", "b"}, {temp / "victim", "keep me"}}, {}},
        {"skip", {"--on-exists", "skip", temp / "f"}, 0, {"0 files, 1 skipped as existing"}, "", {{temp / "out-skip/f", "new"}}, kept},
        // Upload, the default, keeps the bytes there and adds the rest.
        {"upload", {temp / "f"}, 0, {}, "will be uploaded", {{temp / "out-upload/f", "new content"}}, {}},
        {"overwrite", {"--on-exists", "overwrite", temp / "f"}, 0, {}, "will be overwritten", {{temp / "out-overwrite/f", "new content"}}, {}},
        {"attributes", {"--attributes", temp / "attributes"}, 2, {"0 left out, 1 attribute or security setting not set\n"},
         "", {{temp / "out-attributes/attributes/f", "data"}}, {}},
    };
    for (const auto& [name, sources, status, says, logSays, files, restoreFiles] : rows) {
        if (name == std::string("attributes") && !immutable) continue;
        SCOPED_TRACE(name);
        const std::string restore = temp / "restore-" + name;
        Words arguments = {"copy", "--restore-dir", restore};
        arguments.insert(arguments.end(), sources.begin(), sources.end());
        arguments.push_back(temp / "out-" + name);
        std::string errors;
        EXPECT_EQ(Tarnctl(arguments, &errors), status) << errors;
        for (const auto& text : says) EXPECT_NE(errors.find(text), npos) << text << "\n" << errors;
        const std::string log = ReadIfAny(restore + "/tarn_log.txt");
        EXPECT_NE(log.find(logSays), npos) << log;
        for (const auto& [path, bytes] : files)
            EXPECT_EQ(fs::exists(path) ? std::optional(ReadFile(path)) : std::nullopt, bytes) << path;
        EXPECT_TRUE(restoreFiles.empty() || Sorted(restore) == restoreFiles);
        for (const std::string& text : {errors, log})
            for (const char* raw : {"\x1B", "\x07", "\xC2\x9B"}) EXPECT_EQ(text.find(raw), npos) << text;
    }
    flags &= ~FS_IMMUTABLE_FL;  // so that the test's folder can go
    ::ioctl(locked, FS_IOC_SETFLAGS, &flags);
    ::close(locked);
    EXPECT_FALSE(fs::exists(temp / "restore-checked"));
    EXPECT_TRUE(FileExists(temp / "restore-log/TaskList"));
    EXPECT_NE(ReadFile(temp / "restore-odd/tarn_log.txt").find("\r\nItems left out: 1\r\n"), npos);
}

TEST_F(TarnctlTest, ACopyOntoItselfOntoAnotherOrOntoAFileStopsTheCommand)
{
    for (const char* folder : {"dir/sub", "links", "hard", "a/photos", "b/photos", "b/Photos"}) MakeFolders(temp / folder);
    WriteFile(temp / "f", "data");
    WriteFile(temp / "g", "other");
    fs::create_symlink(temp / "f", temp / "links/f");
    fs::create_hard_link(temp / "f", temp / "hard/f");
    fs::create_symlink(temp / "dir", temp / "dir-link");
    // The refusal of `source`, whose copy `copy` would be `what`.
    const auto would = [](const std::string& source, const std::string& copy, const char* what = "inside the folder") {
        return "tarnctl: cannot copy \"" + source + "\": its copy \"" + copy + "\" would be " + what + "\n";
    };
    const auto itself = [&](const std::string& source, const std::string& copy) { return would(source, copy, "the file itself"); };
    const auto sameName = [](const std::string& source, const std::string& earlier, const std::string& copy) {
        return "tarnctl: cannot copy \"" + source + "\": \"" + earlier + "\" has the same name; both would be copied to \"" +
               copy + "\"\n";
    };
    const struct {
        Words sources;
        std::string destination;
        std::string messages;  // one line per refused source
    } cases[] = {
        {{temp / "f"}, temp.Path(), itself(temp / "f", temp / "f")},
        {{temp / "f"}, temp / "hard/", itself(temp / "f", temp / "hard/f")},
        {{temp / "g", temp / "f", temp / "dir", temp / "links/f"}, temp / "links",
         itself(temp / "f", temp / "links/f") + itself(temp / "links/f", temp / "links/f")},
        {{temp / "dir//"}, temp.Path(), would(temp / "dir//", temp / "dir/", "the folder itself")},
        // Links are followed, and a ".." in the part still to be made counts as it will then.
        {{temp / "dir-link"}, temp / "dir/sub/new", would(temp / "dir-link", temp / "dir/sub/new/dir-link/")},
        {{temp / "dir"}, temp / "dir-link/new/../x", would(temp / "dir", temp / "dir-link/new/../x/dir/")},
        // A source ending in ".." or "." is the folder it leads to, named as that folder.
        {{temp / "dir/sub/.."}, temp.Path(), would(temp / "dir/sub/..", temp / "dir/", "the folder itself")},
        {{temp / "dir/."}, temp / "dir", would(temp / "dir/.", temp / "dir/dir/")},
        // Two copies of one name would be one; letter case tells names apart.
        {{temp / "a/photos", temp / "b/Photos", temp / "b/photos"}, temp / "out",
         sameName(temp / "b/photos", temp / "a/photos", temp / "out/photos")},
        {{temp / "g", temp / "dir/sub", temp / "a/photos/../../dir/sub/", temp / "links/f"}, temp / "out",
         sameName(temp / "a/photos/../../dir/sub/", temp / "dir/sub", temp / "out/sub")},
        {{temp / "g", temp / "dir"}, temp / "f", "tarnctl: cannot copy into \"" + temp / "f\": it is a file, not a folder\n"},
    };
    for (const auto& [sources, destination, messages] : cases) {
        Words arguments = {"copy", "--restore-dir", temp / "restore"};
        arguments.insert(arguments.end(), sources.begin(), sources.end());
        arguments.push_back(destination);
        std::string errors;
        EXPECT_EQ(Tarnctl(arguments, &errors), 1) << destination;
        EXPECT_EQ(errors, messages);
        EXPECT_FALSE(fs::exists(temp / "restore"));
    }
    EXPECT_EQ(NamesOnDisk(temp / "links"), Words{"f"});
    EXPECT_EQ(NamesOnDisk(temp / "dir/sub"), Words{});
    // A destination whose path merely begins with the folder's is not inside it.
    EXPECT_EQ(Tarnctl({"copy", "--quiet", "--restore-dir", temp / "restore", temp / "dir", temp / "dir2"}), 0);
    EXPECT_TRUE(fs::is_directory(temp / "dir2/dir/sub"));
}

// A task that failed, one stopped by SIGTERM and one killed mid-file stay in the restore folder,
// untouched by later copies, until a resume finishes them all. The restore folder and its files are
// the user's alone, whatever the umask, and no command uses the folder once others can write it.
TEST_F(TarnctlTest, UnfinishedTasksStayUntilAResumeFinishesThem)
{
    ::umask(022);
    const std::string data = RandomBytes(3000000, 4);
    WriteFile(temp / "big", data);
    WriteFile(temp / "f", "data");
    WriteFile(temp / "blocker", "");
    const std::string restore = temp / "new/restore";
    std::string errors;
    EXPECT_EQ(Tarnctl({"copy", "--max-errors", "2", "--delay-on-error", "10", "--restore-dir", restore, temp / "f",
                       temp / "blocker/out"}, &errors), 2);
    EXPECT_NE(errors.find("failed after more than 2 errors"), npos) << errors;
    for (const int signal : {SIGTERM, SIGKILL}) {
        const std::string out = temp / ("out" + std::to_string(signal));
        CommandRunner run(TARNCTL_PATH, {"copy", "--quiet", "--speed-limit", "1000000", "--restore-dir", restore,
                                         temp / "big", out}, temp / "home");
        // No save of the position is needed: a resume goes on from the last one saved.
        ASSERT_TRUE(WaitUntil([&] { return FileSize(out + "/big") > 500000; }));
        run.Signal(signal);
        EXPECT_EQ(run.Wait(), 128 + signal);
        EXPECT_EQ(run.Errors().find("stopped") != npos, signal == SIGTERM) << run.Errors();
    }
    for (const std::string& folder : {temp / "new", restore}) EXPECT_EQ(ModeOf(folder), 0700u) << folder;
    // TaskList, its lock and the three tasks' files.
    EXPECT_EQ(Sorted(restore).size(), 11u);
    for (const auto& name : Sorted(restore)) EXPECT_EQ(ModeOf(restore + "/" + name), 0600u) << name;
    EXPECT_EQ(Tarnctl({"copy", "--restore-dir", restore, temp / "f", temp / "out"}, &errors), 0) << errors;
    EXPECT_NE(errors.find("3 unfinished task(s) of earlier runs wait in \"" + restore + "/\""), npos) << errors;
    EXPECT_LT(fs::file_size(temp / "out9/big"), data.size());
    fs::remove(temp / "blocker");
    EXPECT_EQ(Tarnctl({"resume", "--quiet", "--speed-limit", "0", "--restore-dir", restore}, &errors), 0) << errors;
    EXPECT_EQ(ReadFile(temp / "blocker/out/f"), "data");
    for (const char* out : {"out15/big", "out9/big"}) EXPECT_TRUE(ReadFile(temp / out) == data) << out;
    EXPECT_EQ(Sorted(restore), (Words{"TaskList.lock", "tarn_log.txt"}));
    EXPECT_EQ(ModeOf(restore + "/tarn_log.txt"), 0600u);
    EXPECT_NE(ReadFile(restore + "/tarn_log.txt").find("Task was restored"), npos);
    EXPECT_EQ(Tarnctl({"resume", "--restore-dir", restore}, &errors), 0);
    EXPECT_NE(errors.find("Nothing to resume"), npos);
    // A restore folder others can write would say what the user copies from where: every command refuses it.
    fs::permissions(restore, fs::perms(0775));
    for (const Words& command : {Words{"copy", "--restore-dir", restore, temp / "f", temp / "refused"},
                                 Words{"resume", "--restore-dir", restore}}) {
        EXPECT_EQ(Tarnctl(command, &errors), 2) << command[0];
        EXPECT_NE(errors.find("chmod go-w \"" + restore + "\"\n"), npos) << errors;
    }
    EXPECT_EQ(Sorted(restore), (Words{"TaskList.lock", "tarn_log.txt"}));
    EXPECT_FALSE(fs::exists(temp / "refused"));
}

}  // namespace
}  // namespace tarn
