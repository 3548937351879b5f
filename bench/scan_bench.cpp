// Times the scan of a folder by the copy engine and measures the memory its file list takes.
// Usage: scan_bench SOURCE_FOLDER WORK_FOLDER
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/DownloadThread.h"

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: scan_bench SOURCE_FOLDER WORK_FOLDER\n");
        return 1;
    }
    const std::string work = tarn::IncludeTrailingDelimiter(argv[2]);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "restore");
    const size_t before = mallinfo2().uordblks;
    const auto start = std::chrono::steady_clock::now();
    tarn::TDownloadThread task("5CA17E57", work + "restore", argv[1], work + "dst", tarn::StateCopying, 0, 5000, 15000,
                               65536, 12500000, 0, false, false, false);
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
    const size_t after = mallinfo2().uordblks;
    const int entries = task.GetCount(tarn::KindFile) + task.GetCount(tarn::KindFolder);
    task.Stop();
    task.WaitFor();
    std::printf("entries=%d seconds=%.4f bytes_per_entry=%.1f\n", entries, seconds,
                static_cast<double>(after - before) / entries);
    return 0;
}
