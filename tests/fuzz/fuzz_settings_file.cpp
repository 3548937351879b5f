// The settings file through the settings store and every window value read from it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tarn;
    static const std::string file = "/tmp/tarn-fuzz-settings-" + std::to_string(::getpid()) + ".ini";
    static const int removed = std::atexit([] { std::remove(file.c_str()); });
    (void)removed;
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (!out) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
    // QSettings keeps what it read while size and time stay the same: each input gets a time.
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
