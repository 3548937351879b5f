// What the helper threads that list folders ahead buy a scan: walks a folder tree in the scan's
// order (a folder's files, then its subfolders depth-first, the subfolders announced as soon as
// their parent is listed) through FolderPrefetcher with a given number of helpers, and prints
// the seconds. Zero helpers is the scan listing every folder itself, one after another.
// Usage: prefetch_bench FOLDER HELPERS LISTINGS_AHEAD
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/FolderPrefetcher.h"

namespace {

long Walk(tarn::FolderPrefetcher& lister, const std::string& path)
{
    tarn::FolderListing listing = lister.Take(path);
    std::vector<std::string> subfolders;
    for (const auto& entry : listing.entries)
        if (entry.isFolder) subfolders.push_back(path + entry.name + "/");
    lister.Prefetch(subfolders);
    long entries = static_cast<long>(listing.entries.size());
    listing = {};
    for (const auto& folder : subfolders) entries += Walk(lister, folder);
    return entries;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: prefetch_bench FOLDER HELPERS LISTINGS_AHEAD\n");
        return 1;
    }
    std::string root = argv[1];
    if (root.back() != '/') root += '/';
    const auto start = std::chrono::steady_clock::now();
    tarn::FolderPrefetcher lister(std::atoi(argv[2]), static_cast<size_t>(std::atol(argv[3])), true, [] {});
    const long entries = Walk(lister, root);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("entries=%ld seconds=%.4f\n", entries, seconds);
    return 0;
}
