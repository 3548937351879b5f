#include <gtest/gtest.h>

#include <glib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/AutoStartEntry.h"
#include "engine/GlobalUtils.h"
#include "tests/support/TestSupport.h"

namespace tarn {
namespace {

using namespace test;

// The Exec line as a desktop's launcher reads it: the key file's string escapes, field codes
// (%f, ...) expanded to nothing and %% to a percent, then the quoting of the argument vector.
std::vector<std::string> LaunchedArguments(const std::string& entry)
{
    std::vector<std::string> arguments;
    GKeyFile* file = g_key_file_new();
    if (g_key_file_load_from_data(file, entry.data(), entry.size(), G_KEY_FILE_NONE, nullptr)) {
        gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
        std::string line;
        for (const char* c = exec ? exec : ""; *c; ++c) {
            if (*c != '%') line += *c;
            else if (*++c == '%') line += '%';
            else if (!*c) break;
        }
        g_free(exec);
        gchar** argv = nullptr;
        if (g_shell_parse_argv(line.c_str(), nullptr, &argv, nullptr))
            for (gchar** arg = argv; *arg; ++arg) arguments.emplace_back(*arg);
        g_strfreev(argv);
    }
    g_key_file_free(file);
    return arguments;
}

TEST(AutoStartEntry, LauncherStartsTheProgramWhereverItLies)
{
    for (const std::string executable :
         {"/usr/bin/tarn", "/home/ann/my build/app/tarn", "/opt/$HOME/`id`/\"q\"/back\\slash/tarn",
          "/tmp/100%/%f/tarn", "/tmp/line\nbreak/tab\there/tarn", "/home/jürgen/tarn;rm -rf ~"}) {
        const std::vector<std::string> expected{executable, "AutoRun"};
        EXPECT_EQ(LaunchedArguments(AutoStartEntryText(executable)), expected) << executable;
    }
}

// The entry follows the setting: written, valid for the desktop, removed; a config folder that
// cannot be made is reported with the file's path.
TEST(AutoStartEntry, WrittenAndRemovedWithTheSetting)
{
    TempFolder home;
    UsePrivateUserFolders(home);
    const std::string path = AutoStartEntryPath();
    EXPECT_EQ(path, home / "config/autostart/tarnwell.desktop");

    SetAutoStartEntry(true);
    ASSERT_TRUE(FileExists(path));
    EXPECT_EQ(LaunchedArguments(ReadFile(path)).back(), "AutoRun");
    if (system("command -v desktop-file-validate >/dev/null") == 0) {
        EXPECT_EQ(system(("desktop-file-validate '" + path + "' >&2").c_str()), 0);
    }
    SetAutoStartEntry(true);
    SetAutoStartEntry(false);
    EXPECT_FALSE(FileExists(path));
    SetAutoStartEntry(false);

    std::filesystem::remove(home / "config/autostart");
    WriteFile(home / "config/autostart", "");
    try {
        SetAutoStartEntry(true);
        ADD_FAILURE() << "the entry was taken where a file stands for its folder";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
    }
}

}  // namespace
}  // namespace tarn
