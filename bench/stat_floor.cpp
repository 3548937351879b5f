// What the operating system allows a scan: walks a folder tree with readdir alone (names and
// entry types, as find does), with one fstatat per entry on one thread, and with the folders
// shared out to two threads. Prints the seconds of each walk.
// Usage: stat_floor FOLDER
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

enum class Walk { NamesOnly, StatEach };

// Folders waiting to be walked, shared by the walking threads. A walker finds no folder only
// when none is pending and no other walker may still add some.
class FolderQueue {
public:
    explicit FolderQueue(const std::string& root) : pending_{root} {}
    bool Pop(std::string& folder)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !pending_.empty() || busy_ == 0; });
        if (pending_.empty()) return false;
        folder = std::move(pending_.back());
        pending_.pop_back();
        ++busy_;
        return true;
    }
    void Done(std::vector<std::string>&& found)
    {
        {
            std::lock_guard lock(mutex_);
            for (auto& f : found) pending_.push_back(std::move(f));
            --busy_;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> pending_;
    int busy_ = 0;
};

void WalkFolders(FolderQueue& queue, Walk walk)
{
    std::string folder;
    while (queue.Pop(folder)) {
        std::vector<std::string> found;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
                if (entry->d_type == DT_DIR) {
                    found.push_back(folder + "/" + entry->d_name);
                } else if (walk == Walk::StatEach) {
                    struct stat st;
                    ::fstatat(::dirfd(dir), entry->d_name, &st, 0);
                }
            }
            ::closedir(dir);
        }
        queue.Done(std::move(found));
    }
}

double Seconds(const char* root, Walk walk, int threads)
{
    const auto start = std::chrono::steady_clock::now();
    FolderQueue queue(root);
    std::vector<std::thread> walkers;
    for (int i = 0; i < threads; ++i) walkers.emplace_back([&] { WalkFolders(queue, walk); });
    for (auto& walker : walkers) walker.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: stat_floor FOLDER\n");
        return 1;
    }
    std::printf("names=%.4f stat=%.4f stat_two_threads=%.4f\n", Seconds(argv[1], Walk::NamesOnly, 1),
                Seconds(argv[1], Walk::StatEach, 1), Seconds(argv[1], Walk::StatEach, 2));
    return 0;
}
