#include <sys/prctl.h>
#include <sys/wait.h>

#include "core/Globals.h"
#include "tests/e2e/E2eSupport.h"

namespace tarn {
namespace {

using namespace test;

const std::string Actions = std::string(TARN_SOURCE_DATA_DIR) + "file-manager/";

class FileManagerActionsTest : public TempFolderTest {
protected:
    // tarnctl with HOME and the XDG folders in `folder`, the system's configuration folders too.
    int Tarnctl(const std::string& folder, std::vector<std::string> arguments, std::string* output = nullptr)
    {
        arguments.insert(arguments.begin(), {"XDG_CONFIG_DIRS=" + folder + "/xdg", TARNCTL_PATH});
        std::string errors;
        const int status = RunCommand("/usr/bin/env", arguments, folder + "/home", &errors, output);
        if (output) *output += errors;
        return status;
    }
};

TEST_F(FileManagerActionsTest, ActionsGoInAndOutBesideTheUsersOwnAndHandTheSelectionToTarnctl)
{
    std::string ours = ReadFile(Actions + "thunar-action.xml");
    ours.replace(ours.find("@COPY_TO@"), 9, "'" + Actions + "copy-to'");
    ours.pop_back();
    // As Thunar writes it, its declaration in an order XML does not allow, then a comment.
    const std::string first =
        "<?xml encoding=\"UTF-8\" version=\"1.0\"?>\n<actions>\n<action>\n\t<name>Terminal öffnen</name>\n"
        "\t<unique-id>1588851765117311-1</unique-id>\n\t<command>exo-open %f</command>\n\t<directories/>\n"
        "</action>\n";
    const std::string last = "<!-- mine -->\n<action>\n\t<name>Zwei</name>\n\t<unique-id>2</unique-id>\n</action>\n";
    const std::string users = first + last + "</actions>\n";
    const std::string withOurs = first + last + ours + "\n</actions>\n";
    const std::string older =
        "<action>\n\t<name>Copy to...</name>\n\t<unique-id> tarnwell-copy-to </unique-id>\n"
        "\t<command>/old %F</command>\n</action>\n";
    const struct {
        const char* name;
        std::optional<std::string> user;  // the user's uca.xml, mode 0600
        std::string system;               // the system's, none when empty
        std::vector<std::string> commands;
        int status;
        std::string expected;
        std::string says;
    } rows[] = {
        {"no file", std::nullopt, "", {"install"}, 0,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n" + ours + "\n</actions>\n", "Thunar: action added to"},
        {"the system's file the start of the user's", std::nullopt, users, {"install"}, 0, withOurs, "added"},
        {"empty actions", "<?xml version=\"1.0\"?>\n<actions/>\n", "", {"install"}, 0,
         "<?xml version=\"1.0\"?>\n<actions>\n" + ours + "\n</actions>\n", "added"},
        {"the user's actions kept byte for byte", users, "", {"install"}, 0, withOurs, "added"},
        {"an older one of ours replaced, not doubled", first + older + last + older + "</actions>\n", "", {"install"}, 0,
         first + ours + "\n" + last + "</actions>\n", "Thunar: action replaced in"},
        {"remove takes ours only", users, "", {"install", "remove"}, 0, users, "Thunar: action removed from"},
        {"malformed: refused and left as it is", "<actions>\n<action>\n", "", {"install"}, 1, "<actions>\n<action>\n",
         "line 3: Premature end of document); it was left as it is"},
    };
    int row = 0;
    for (const auto& [name, user, system, commands, status, expected, says] : rows) {
        SCOPED_TRACE(name);
        const std::string folder = temp / std::to_string(++row);
        const std::string file = folder + "/home/config/Thunar/uca.xml";
        MakeFolders(folder + "/xdg/Thunar");
        if (user) {
            MakeFolders(folder + "/home/config/Thunar");
            WriteFile(file, *user);
            fs::permissions(file, fs::perms(0600));
        }
        if (!system.empty()) WriteFile(folder + "/xdg/Thunar/uca.xml", system);
        std::string output;
        for (const auto& command : commands) EXPECT_EQ(Tarnctl(folder, {"menu", command}, &output), status);
        EXPECT_EQ(ReadFile(file), expected);
        EXPECT_NE(output.find(says), npos) << output;
        EXPECT_TRUE(!user || ModeOf(file) == 0600u);
    }
    // The other file managers' actions go in and out with Thunar's: those of the first row stay.
    const auto nautilus = [&](const char* n) { return temp / n + "/home/data/nautilus/scripts/Copy to (Tarnwell)"; };
    const auto dolphin = [&](const char* n) { return temp / n + "/home/data/kio/servicemenus/tarnwell-copy-to.desktop"; };
    EXPECT_FALSE(fs::exists(nautilus("6")) || fs::exists(dolphin("6")));
    EXPECT_EQ(ModeOf(dolphin("1")), 0755u);  // the script's mode shows in its runs below
    EXPECT_NE(ReadFile(dolphin("1")).find("Exec=" + Actions + "copy-to %F\n"), npos) << ReadFile(dolphin("1"));

    const std::string prefix = fs::path(Actions).parent_path().parent_path().parent_path().parent_path();
    const struct {
        const char* name;
        std::string entry;
        std::vector<std::string> selection;  // the arguments
        std::optional<std::string> paths;    // NAUTILUS_SCRIPT_SELECTED_FILE_PATHS
        // Stand-ins that say what they were given; one ending in "!" fails, as notify-send does
        // without a notification service.
        std::vector<std::string> tools;
        bool tarnctl;
        int status;
        std::string sent;   // tarnctl's arguments
        std::string shown;  // the arguments of the tool that showed the message, else stderr
    } runs[] = {
        {"copy-to, a notification", Actions + "copy-to", {"a b", "/c"}, std::nullopt, {"notify-send", "zenity"}, true, 3,
         "[send][--from-menu][--][a b][/c]", "notify-send|--app-name=Tarnwell|--icon=tarnwell|Tarnwell|not taken|"},
        {"Nautilus' paths, a dialog when notifications fail", nautilus("1"), {"one", "two words"},
         "/x/one\n/x/two words\n", {"notify-send!", "zenity"}, true, 3, "[send][--from-menu][--][/x/one][/x/two words]",
         "zenity|--error|--no-markup|--title=Tarnwell|--text=not taken|"},
        {"Nautilus' names when a line break in one splits the paths", nautilus("1"), {"line\nbreak"}, "/x/line\nbreak\n",
         {}, true, 3, "[send][--from-menu][--][line\nbreak]", "not taken\n"},
        {"no tarnctl", Actions + "copy-to", {"f"}, std::nullopt, {}, false, 127, "",
         "Tarnwell's command line tarnctl was found neither in " + prefix + "/bin nor on PATH; nothing was sent.\n"},
    };
    for (const auto& [name, entry, selection, paths, tools, tarnctl, status, sent, shown] : runs) {
        SCOPED_TRACE(name);
        const std::string bin = temp / ("bin" + std::to_string(++row));
        const auto writeTool = [&](const std::string& tool, const std::string& body) {
            WriteFile(bin + "/" + tool, "#!/bin/sh\n" + body + "\n");
            fs::permissions(bin + "/" + tool, fs::perms(0755));
        };
        MakeFolders(bin);
        if (tarnctl)
            writeTool("tarnctl", "printf '[%s]' \"$@\" >" + bin + "/sent\necho 'tarnctl: not taken' >&2\nexit 3");
        for (const auto& tool : tools) {
            if (tool.ends_with('!'))
                writeTool(tool.substr(0, tool.size() - 1), "exit 1");
            else
                writeTool(tool, "printf '%s|' \"${0##*/}\" \"$@\" >" + bin + "/shown");
        }
        std::vector<std::string> arguments = {"PATH=" + bin};
        if (paths) arguments.push_back("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS=" + *paths);
        arguments.push_back(entry);
        arguments.insert(arguments.end(), selection.begin(), selection.end());
        std::string errors;
        EXPECT_EQ(RunCommand("/usr/bin/env", arguments, bin + "/home", &errors), status);
        EXPECT_EQ(ReadIfAny(bin + "/sent"), sent);
        EXPECT_EQ(fs::exists(bin + "/shown") ? ReadFile(bin + "/shown") : errors, shown);
    }
}

// The program started by `send --from-menu`, which the test stops: it outlives tarnctl, which
// leaves it to this process, a subreaper, to wait for.
class StartedProgramTest : public FileManagerActionsTest {
protected:
    void SetUp() override { ::prctl(PR_SET_CHILD_SUBREAPER, 1); }
    void TearDown() override
    {
        Stop();
        ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    }
    // The lock the program holds while it runs, its process's number in the first line.
    std::string Lock() const { return runtime + "/tarnwell-" + AppGUID + ".lock"; }
    // Ends the program holding the lock, if it is the one beside tarnctl; its exit status.
    std::optional<int> Stop()
    {
        const pid_t pid = std::atoi(ReadIfAny(Lock()).c_str());
        std::error_code error;
        if (pid <= 0 || fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error) !=
                            fs::path(TARNCTL_PATH).parent_path() / "tarn")
            return std::nullopt;
        ::kill(pid, SIGTERM);
        int raw = 0;
        if (!WaitUntil([&] { return ::waitpid(pid, &raw, WNOHANG) == pid; }, std::chrono::seconds(60))) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &raw, 0);
        }
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    }

    std::string runtime;
};

TEST_F(StartedProgramTest, SendFromMenuHonoursTheSettingAndStartsTheProgram)
{
    runtime = temp / "runtime";
    MakeFolders(runtime);
    ::chmod(runtime.c_str(), 0700);
    // A name that only "--" lets through as a source.
    const std::string source = temp / "src/--tree";
    MakeFolders(source + "/a");
    MakeFolders(temp / "home/config/Brenvik");
    WriteFile(source + "/a/one.bin", RandomBytes(300000, 1));
    WriteFile(source + "/two.bin", "two");
    const struct {
        const char* enabled;
        int status;
        std::string message;
        bool started;
    } rows[] = {{"0", 3, "tarnctl: \"Copy to...\" is turned off in Tarnwell's settings (Settings > \"Enable context "
                        "menu\"); nothing was sent", false},
                {"1", 0, "", true}};
    // Under AddressSanitizer: the desktop program's libraries keep allocations until it ends.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string leaks = "ASAN_OPTIONS=" + std::string(sanitizer ? sanitizer : "") + ":detect_leaks=0";
    for (const auto& [enabled, status, message, started] : rows) {
        SCOPED_TRACE(enabled);
        WriteFile(temp / "home/config/Brenvik/Tarnwell.ini",
                  std::string("[Settings]\nEnableContextMenu=") + enabled + "\nLanguage=English\n");
        // As copy-to runs it: its messages read through a pipe, which the started program must not hold.
        std::string errors;
        EXPECT_EQ(RunCommand("/usr/bin/env",
                             {"XDG_RUNTIME_DIR=" + runtime, "QT_QPA_PLATFORM=offscreen", leaks, "/bin/sh", "-c",
                              "message=$(\"$0\" \"$@\" 2>&1 >/dev/null); status=$?; printf %s \"$message\" >&2; "
                              "exit $status",
                              TARNCTL_PATH, "send", "--from-menu", "--to", temp / "dst", "--", source},
                             temp / "home", &errors),
                  status);
        EXPECT_EQ(errors, message);
        EXPECT_EQ(fs::exists(Lock()), started);
    }
    EXPECT_TRUE(WaitUntil([&] { return SameTree(source, temp / "dst/--tree"); }, std::chrono::seconds(60)));
    EXPECT_EQ(Stop(), 0);
}

}  // namespace
}  // namespace tarn
