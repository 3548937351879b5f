#include "engine/FolderPrefetcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/OsError.h"

namespace tarn {
namespace {

// How often a scan waiting for a helper takes its checkpoint.
constexpr auto CheckpointInterval = std::chrono::milliseconds(50);

}  // namespace

FolderPrefetcher::FolderPrefetcher(int helpers, size_t maxListings, bool followLinks, Checkpoint checkpoint)
    : helpers_(helpers),
      maxListings_(std::max<size_t>(maxListings, 1)),
      followLinks_(followLinks),
      checkpoint_(std::move(checkpoint))
{
}

FolderPrefetcher::~FolderPrefetcher()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (auto& thread : threads_) thread.join();
}

void FolderPrefetcher::Prefetch(const std::vector<std::string>& folders)
{
    if (folders.empty() || helpers_ <= 0) return;
    {
        std::lock_guard lock(mutex_);
        queue_.insert(queue_.begin(), folders.begin(), folders.end());
    }
    if (threads_.empty()) {
        for (int i = 0; i < helpers_; ++i) threads_.emplace_back([this] { HelperLoop(); });
    }
    changed_.notify_all();
}

FolderListing FolderPrefetcher::Take(const std::string& folder)
{
    const auto listHere = [&] {
        return ListFolder(folder, [&] {
            checkpoint_();
            return true;
        });
    };
    std::unique_lock lock(mutex_);
    // Announced folders are usually near the front: the scan enters them in that order.
    if (const auto queued = std::find(queue_.begin(), queue_.end(), folder); queued != queue_.end()) {
        queue_.erase(queued);
        lock.unlock();
        return listHere();
    }
    const auto started = std::find_if(listings_.begin(), listings_.end(), [&](const Listing& l) { return l.folder == folder; });
    if (started == listings_.end()) {
        lock.unlock();
        return listHere();
    }
    // Only this thread removes listings, so `started` stays valid while the lock is let go.
    while (!started->done) {
        if (changed_.wait_for(lock, CheckpointInterval, [&] { return started->done; })) break;
        lock.unlock();
        checkpoint_();
        lock.lock();
    }
    FolderListing result = std::move(started->result);
    listings_.erase(started);
    lock.unlock();
    changed_.notify_all();  // a helper may start the next folder
    return result;
}

void FolderPrefetcher::HelperLoop()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || (!queue_.empty() && listings_.size() < maxListings_); });
        if (stopping_) return;
        const auto mine = listings_.insert(listings_.end(), Listing{queue_.front(), false, {}});
        queue_.pop_front();
        lock.unlock();
        FolderListing result = ListFolder(mine->folder, [this] { return !stopping_; });
        lock.lock();
        mine->result = std::move(result);
        mine->done = true;
        changed_.notify_all();
    }
}

FolderListing FolderPrefetcher::ListFolder(const std::string& folder, const std::function<bool()>& keepGoing) const
{
    FolderListing listing;
    FolderEnumerator enumerator;
    if (!enumerator.Open(folder, followLinks_)) {
        listing.openError = errno;
        return listing;
    }
    FolderEntry entry;
    for (;;) {
        if (!enumerator.Next(entry)) {
            listing.endError = errno;
            break;
        }
        listing.entries.push_back(std::move(entry));
        if (!keepGoing()) {
            listing.endError = ECANCELED;
            break;
        }
    }
    return listing;
}

}  // namespace tarn
