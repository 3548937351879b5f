#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/FolderEnumerator.h"

namespace tarn {

// The entries of one folder in the order the file system returned them.
struct FolderListing {
    std::vector<FolderEntry> entries;
    int openError = 0;  // not 0: the folder could not be opened and `entries` is empty
    int endError = 0;   // the errno that ended the enumeration: ErrorNoMoreFiles, or a failure
};

// Lists folders ahead of a depth-first scan on a few helper threads, so that examining every
// entry (one stat each) uses more than one core, and the round trips of a network share
// overlap. The scan asks for each folder with Take(); folders it announced with Prefetch() are
// usually listed by then. Take() never waits for a folder no helper has started: it lists that
// one itself, so a scan never depends on the helpers keeping up, and at most `maxListings`
// finished or running listings are held at a time.
class FolderPrefetcher {
public:
    // Called for every entry listed on the scan's own thread, and regularly while it waits for
    // a helper, so the scan keeps answering its requests; it may throw to end the scan.
    using Checkpoint = std::function<void()>;

    // With `followLinks` false, links among the entries are listed as links.
    FolderPrefetcher(int helpers, size_t maxListings, bool followLinks, Checkpoint checkpoint);
    FolderPrefetcher(const FolderPrefetcher&) = delete;
    FolderPrefetcher& operator=(const FolderPrefetcher&) = delete;
    ~FolderPrefetcher();  // helpers stop after their current entry; nothing is left running

    // The scan will enter these folders next, in this order, before any announced earlier.
    void Prefetch(const std::vector<std::string>& folders);
    // The listing of `folder` (a path with its trailing delimiter).
    FolderListing Take(const std::string& folder);

private:
    struct Listing {
        std::string folder;
        bool done = false;
        FolderListing result;
    };

    void HelperLoop();
    // Lists a folder; stops early (an incomplete listing) when `keepGoing` says no.
    FolderListing ListFolder(const std::string& folder, const std::function<bool()>& keepGoing) const;

    const int helpers_;
    const size_t maxListings_;
    const bool followLinks_;
    const Checkpoint checkpoint_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;   // announced, not started; the next folder to enter first
    std::list<Listing> listings_;     // started by a helper: running or done; a helper keeps its element
    std::atomic<bool> stopping_ = false;
    std::vector<std::thread> threads_;  // started with the first announced folder
};

}  // namespace tarn
