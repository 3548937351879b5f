// Feeds arbitrary bytes as the settings file (INI, read through QSettings) to the settings store
// and to every window value the program reads from it. Whatever the file holds, each reader
// gives a value or its default.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    static const std::string file = [] {
        std::string name = "/tmp/tarn-fuzz-settings-" + std::to_string(::getpid()) + ".ini";
        std::atexit([] { std::remove(("/tmp/tarn-fuzz-settings-" + std::to_string(::getpid()) + ".ini").c_str()); });
        return name;
    }();
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
    // QSettings keeps what it read of a file while its size and modification time (to the
    // millisecond) stay the same, which two inputs in a row can share: each gets a time of its own.
    static time_t stamp = 1000000000;
    const timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ++stamp;
    if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0) std::abort();

    const RegistryLocation location{file, file};
    const TSettingsStorage settings(location);
    if (settings.RestorePath().empty() || settings.RestorePath().back() != '/') std::abort();
    if (settings.RootDir().empty() || settings.RootDir().back() != '/') std::abort();

    for (const char* subkey : {regkey::FormMain, regkey::QuickInfo, regkey::FormNewTask}) {
        const auto key = OpenRegistryKey(location, subkey);
        for (const char* name : {regvalue::Left, regvalue::Top, regvalue::Width, regvalue::Height,
                                 regvalue::GlobalQueueEnabled, regvalue::ActivePageIndex, regvalue::PathsCount,
                                 regvalue::MaxPathsCount, regvalue::SpeedLimit, regvalue::ShowOptions})
            ReadRegInteger(*key, name, 0);
        for (int i = 0; i < DefaultMaxPathsCount; ++i) ReadRegString(*key, PathValueName(i), "");
        ReadRegString(*key, regvalue::LastSrcDir, "");
        ReadRegBool(*key, regvalue::CopyStreams, false);
        std::array<int32_t, TaskListColumnCount> widths = DefaultColWidths;
        ReadRegBinary(*key, regvalue::ColWidth, widths.data(), sizeof(widths));
    }
    return 0;
}
