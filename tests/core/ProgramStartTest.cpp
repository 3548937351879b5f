// How the program is started: the log-on entry, and the hand-over from a later start.
#include <glib.h>

#include <filesystem>

#include "core/AutoStartEntry.h"
#include "core/HandOverBlock.h"
#include "engine/GlobalUtils.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using namespace test;

// The Exec line as a desktop's launcher reads it: the key file's string escapes, the quoting of
// the argument vector, then the field codes.
std::vector<std::string> LaunchedArguments(const std::string& entry)
{
    std::vector<std::string> arguments;
    GKeyFile* file = g_key_file_new();
    gchar* exec = g_key_file_load_from_data(file, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr)
                      ? g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr) : nullptr;
    gchar** argv = nullptr;
    if (exec && g_shell_parse_argv(exec, nullptr, &argv, nullptr))
        for (gchar** arg = argv; *arg; ++arg) {
            // `%%` is a `%`; any other field code expands to nothing, as no file is passed.
            const std::string_view raw(*arg);
            std::string& decoded = arguments.emplace_back();
            for (size_t i = 0; i < raw.size(); ++i)
                if (raw[i] != '%') decoded += raw[i];
                else if (++i < raw.size() && raw[i] == '%') decoded += '%';
        }
    g_strfreev(argv);
    g_free(exec);
    g_key_file_free(file);
    return arguments;
}

// The entry starts the program wherever it lies and follows the setting: written, removed (the
// installation's test validates it); a config folder that cannot be made is reported with the file's path.
TEST(AutoStartEntry, LauncherStartsTheProgramWhereverItLiesAndTheEntryFollowsTheSetting)
{
    for (const std::string executable : {"/home/ann/my build/app/tarn", "/opt/$HOME/`id`/\"q\"/back\\slash/tarn",
                                         "/home/jörg/100%d; x/line\nbreak\ttab/tarn"})
        EXPECT_EQ(LaunchedArguments(AutoStartEntryText(executable)), (std::vector<std::string>{executable, "AutoRun"}));
    TempFolder home;
    UsePrivateUserFolders(home);
    const std::string path = home / "config/autostart/tarnwell.desktop";
    for (const bool on : {true, true, false, false}) {
        SetAutoStartEntry(on);
        EXPECT_EQ(FileExists(path), on);
    }
    SetAutoStartEntry(true);
    EXPECT_EQ(LaunchedArguments(ReadFile(path)).back(), "AutoRun");
    std::filesystem::remove_all(home / "config/autostart");
    WriteFile(home / "config/autostart", "");
    try {
        SetAutoStartEntry(true);
        ADD_FAILURE() << "the entry was taken where a file stands for its folder";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
}

std::string Word(uint32_t value) { return std::string{char(value), char(value >> 8), char(value >> 16), char(value >> 24)}; }

struct FrameCase {
    const char* what;
    std::string frame;
    HandOverFrameReader::Status status;
    HandOver expected = {};
    bool activation = false;
};

TEST(HandOverBlockTest, FramesAreTakenWholeOrRefusedAsTheyArrive)
{
    const HandOver two{{"/srv/a", "/srv/b c"}, "/home/u/dst"};
    const std::string good = EncodeHandOverFrame(two);
    const std::string block = EncodeHandOverBlock(two);
    using S = HandOverFrameReader::Status;
    const FrameCase cases[] = {
        {"two sources and a destination, in order", good, S::Complete, two},
        {"no source, a destination", EncodeHandOverFrame({{}, "/d"}), S::Complete, {{}, "/d"}},
        {"cut short", good.substr(0, good.size() - 1), S::NeedMore},
        {"a byte more than announced", good + "x", S::Refused},
        {"another kind", Word(3) + good.substr(4), S::Refused},
        {"an activation with a block", Word(2) + good.substr(4), S::Refused},
        {"a block over the limit", Word(1) + Word(HandOverBlockLimit + 1), S::Refused},
        {"a count the block cannot hold", Word(1) + Word(8) + Word(0x7FFFFFFF) + Word(0), S::Refused},
        {"a path running past the block", Word(1) + Word(12) + Word(1) + Word(100) + "abcd", S::Refused},
        {"bytes after the destination", Word(1) + Word(block.size() + 1) + block + "x", S::Refused},
        {"a later start asking for the front", EncodeHandOverActivation(), S::Complete, {}, true},
    };
    for (const FrameCase& c : cases) {
        // Whole, and a byte at a time as a slow sender's bytes come.
        for (const size_t step : {c.frame.size(), size_t{1}}) {
            HandOverFrameReader reader;
            auto status = S::NeedMore;
            for (size_t at = 0; at < c.frame.size() && status != S::Refused; at += step)
                status = reader.Feed(std::string_view(c.frame).substr(at, step));
            EXPECT_EQ(status, c.status) << c.what << ", " << step << " bytes at a time";
            EXPECT_EQ(reader.IsActivation(), c.activation) << c.what;
            if (status == S::Complete) {
                EXPECT_EQ(reader.Result().Sources, c.expected.Sources) << c.what;
                EXPECT_EQ(reader.Result().Destination, c.expected.Destination) << c.what;
            }
        }
    }
}

}  // namespace
}  // namespace tarn
