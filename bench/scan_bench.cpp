// Times the scan of a folder by the copy engine and measures the memory its file list takes.
// Usage: scan_bench SOURCE_FOLDER WORK_FOLDER
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/DownloadThread.h"

namespace {

// Resident bytes of the process: the file list lives on the worker thread's heap, which the
// allocator's own statistics of the main thread do not show.
long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: scan_bench SOURCE_FOLDER WORK_FOLDER\n");
        return 1;
    }
    const std::string work = tarn::IncludeTrailingDelimiter(argv[2]);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "restore");
    const long before = ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    tarn::TDownloadThread task("5CA17E57", work + "restore", argv[1], work + "dst", tarn::StateCopying, 0, 5000, 15000,
                               65536, 12500000, 0);
    for (int seen = 0;;) {
        tarn::TMsg record;
        if (task.GetLogRecord(seen, record)) {
            if (record.Id == "Inf004") break;
            ++seen;
            continue;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = ResidentBytes();
    const int entries = task.GetCount(tarn::KindFile) + task.GetCount(tarn::KindFolder);
    task.Stop();
    task.WaitFor();
    std::printf("entries=%d seconds=%.4f bytes_per_entry=%.1f\n", entries, seconds,
                static_cast<double>(after - before) / entries);
    return 0;
}
