// Resolving the source and scanning it into the file list.
#include <algorithm>
#include <cerrno>
#include <map>
#include <stdexcept>

#include "engine/DownloadThread.h"
#include "engine/FileStreams.h"
#include "engine/FolderPrefetcher.h"
#include "platform/FolderEnumerator.h"

namespace tarn {
namespace {

// Helper threads that list folders ahead of the scan, and how many listings they may hold.
// On a network share a listing is a few round trips in which a helper only waits, so the
// helpers are many more than the cores: eight at 20 ms each way list 500 folders seven times
// as fast as one thread, where two gave twice. On a local disk the extra helpers cost nothing
// measurable. A scan enters a folder's subfolders in order and takes each listing only then,
// so a folder with many subfolders holds many finished listings: fewer than 32 held the
// helpers back.
constexpr int ScanHelpers = 8;
constexpr size_t ScanListingsAhead = 32;

// How often one folder (device and inode) may be listed in a scan. Links can make a tree of a
// few folders hold more paths than can ever be copied: thirty levels whose folders each hold
// two links to the next one make 2^30. Within the bound, a folder reached through links is
// copied as a folder wherever it is reached, as a tree with a few links to shared folders
// expects; beyond it the folder is left out, so a scan lists at most this many times the
// folders that really exist.
constexpr int MaxFolderListings = 8;

}  // namespace

// The folders on the path the scan is in (a link back to one of them is a loop), how often
// each folder was taken to be listed, and the first item of each file with several names.
struct TDownloadThread::ScanVisits {
    std::vector<std::pair<dev_t, ino_t>> ancestors;
    std::map<std::pair<dev_t, ino_t>, int> listings;
    std::map<std::pair<dev_t, ino_t>, int32_t> namedFiles;
};

void TDownloadThread::ResolveSource()
{
    const std::string source = GetSource();
    if (FileExists(source)) {
        sourceKind_ = SourceFile;
        needScan_ = true;
    } else if (DirectoryExists(source)) {
        // Any run of trailing delimiters names the folder itself. Copying the folder
        // /srv/share/Photos to /home/u/In/ fills /home/u/In/Photos/.
        const std::string folder = StripTrailingDelimiters(source);
        const std::string name = ExtractFileName(folder);
        // Its name becomes a folder of the destination: "." or ".." would lead the copy out of it.
        if (name == "." || name == "..")
            throw std::runtime_error("The source \"" + source + "\" names its folder by \"" + name +
                                     "\"; give the folder's own path");
        const std::string destination = GetDestination() + (name.empty() ? std::string() : name + PathDelimiter);
        // A copy inside its own source would copy itself for ever; no retry mends that.
        if (IsSameOrInside(destination, folder))
            throw std::runtime_error("The destination \"" + destination + "\" is inside the source folder \"" +
                                     IncludeTrailingDelimiter(folder) + "\"");
        std::unique_lock lock(lock_);
        if (source_ != source) return;  // a new source came meanwhile: it is resolved next
        source_ = IncludeTrailingDelimiter(folder);
        destination_ = destination;
        sourceKind_ = SourceFolder;
        needScan_ = true;
    } else {
        CountError();
        SetState(StateError);
        needScan_ = false;
        AddLogRecord("Err001", {source});
        RetryDelay();
    }
    Checkpoint();
    if (restartRequest_) return;
    SaveRestoreFiles(true, false, true, false);
}

void TDownloadThread::ScanSource()
{
    // A scan always builds the list from nothing: a scan cut short by a crash left none.
    items_.clear();
    itemWrites_.clear();
    itemCopied_.clear();
    itemTimes_.clear();
    sameFileCopies_.clear();
    destNames_.reset();
    ResetCounters();
    ResetResultCounts();
    // The state shows the scan from its start, even while a slow share lists its first folder.
    SetState(StateScanning);
    const std::string source = GetSource();
    if (sourceKind_ == SourceFolder) {
        ScanVisits visits;
        FolderEntry root;
        if (StatPath(ExcludeTrailingDelimiter(source), root)) {
            visits.ancestors.emplace_back(root.device, root.inode);
            visits.listings[{root.device, root.inode}] = 1;
        }
        FolderPrefetcher lister(ScanHelpers, ScanListingsAhead, !options_.CopyLinksAsLinks, [this] { ScanCheckpoint(); });
        ScanFolder(source, source, visits, lister);
    } else {
        ScanFile(source);
        std::unique_lock lock(lock_);
        // Unless a new source came meanwhile, which starts the task over.
        if (source_ == source) {
            source_ = ExtractFilePath(source);
            sourceFileName_ = ExtractFileName(source);
        }
    }
}

void TDownloadThread::ScanCheckpoint()
{
    for (;;) {
        SetState(StateScanning);
        if (Terminated()) throw TerminateRun{};
        // A list of the old source, or of a task that starts over, is of no use.
        if (restartRequest_ || rescanRequest_) throw ScanInterrupted{};
        if (!WaitWhileHeld(false)) return;
    }
}

void TDownloadThread::ScanError(const std::string& reason, const std::string& path)
{
    // What the scan cannot list is not copied: the task says so when it finishes.
    ++leftOut_;
    AddLogRecord("Err002", {reason, path});
}

void TDownloadThread::ScanFolder(const std::string& root, const std::string& path, ScanVisits& visits,
                                 FolderPrefetcher& lister)
{
    // Entries are relative to the root the scan began with, whatever `Source` is meanwhile.
    const std::string relative = ExtractRelativePath(root, path);
    if (path != root) {
        const std::string folder = ExcludeTrailingDelimiter(relative);
        AddItem({ExtractFilePath(folder), ExtractFileName(folder) + PathDelimiter, 0, KindFolder});
        if (options_.CopyStreams) ScanStreams(root, items_.back());
    }

    FolderListing listing = lister.Take(path);
    if (listing.openError != 0) {
        ScanError(SystemErrorText(listing.openError), path);
        return;
    }
    // Which subfolders are entered is settled here, once: exactly those are listed ahead while
    // the scan goes through the files (so every folder's files still come before its
    // subfolders), and no listing is started for a folder that is then left out.
    struct Subfolder {
        std::string name;
        std::pair<dev_t, ino_t> id;
        std::string refusal;  // why it is left out; empty: it is entered
    };
    std::vector<Subfolder> subfolders;
    std::vector<std::string> ahead;
    for (FolderEntry& entry : listing.entries) {
        if (!entry.isFolder) continue;
        const auto id = std::make_pair(entry.device, entry.inode);
        std::string refusal;
        if (std::find(visits.ancestors.begin(), visits.ancestors.end(), id) != visits.ancestors.end())
            // A link back to a folder on the current path would never end.
            refusal = "Folder loop: the folder is already being scanned";
        else if (visits.listings[id] >= MaxFolderListings)
            refusal = "The folder was reached through links more than " + std::to_string(MaxFolderListings) +
                      " times; it is left out";
        else
            ++visits.listings[id];
        if (refusal.empty()) ahead.push_back(path + entry.name + PathDelimiter);
        subfolders.push_back({std::move(entry.name), id, std::move(refusal)});
    }
    lister.Prefetch(ahead);

    for (FolderEntry& entry : listing.entries) {
        if (entry.isFolder) continue;
        ScanCheckpoint();
        if (entry.statError != 0) {
            ScanError(SystemErrorText(entry.statError), path + entry.name);
            continue;
        }
        if (entry.isLink) {
            AddItem({relative, std::move(entry.name), 0, KindLink});
            continue;
        }
        if (!entry.isRegular) {
            // A pipe or device would block a read or never end. With the security it is made
            // anew, as only then is it what the source is; without, it is no file to copy.
            if (options_.CopySecurity) {
                AddItem({relative, std::move(entry.name), 0, KindSpecial});
            } else {
                ScanError(SystemErrorText(ErrorNotRegularFile), path + entry.name);
            }
            continue;
        }
        TItemAttrs item{relative, std::move(entry.name), entry.size, KindFile};
        if (options_.KeepHardLinks && entry.links > 1) {
            const auto [first, added] =
                visits.namedFiles.try_emplace({entry.device, entry.inode}, static_cast<int32_t>(items_.size()));
            if (!added) {
                item.Kind = KindHardLink;
                item.Link = first->second;
            }
        }
        AddItem(std::move(item));
        if (options_.CopyStreams) ScanStreams(root, items_.back());
    }
    if (listing.endError != ErrorNoMoreFiles) ScanError(SystemErrorText(listing.endError), path);
    listing = {};  // a big folder's entries are not held while its subfolders are scanned

    for (const Subfolder& folder : subfolders) {
        ScanCheckpoint();
        if (!folder.refusal.empty()) {
            ScanError(folder.refusal, path + folder.name);
            continue;
        }
        visits.ancestors.push_back(folder.id);
        ScanFolder(root, path + folder.name + PathDelimiter, visits, lister);
        visits.ancestors.pop_back();
    }
}

void TDownloadThread::ScanFile(const std::string& path)
{
    FolderEntry entry;
    if (!StatPath(path, entry)) {
        ScanError(SystemErrorText(errno), path);
        return;
    }
    ScanCheckpoint();
    if (!entry.isRegular) {
        // A pipe or device would block the copy or never end.
        ScanError(SystemErrorText(ErrorNotRegularFile), path);
        return;
    }
    AddItem({"", ExtractFileName(path), entry.size, KindFile});
    if (options_.CopyStreams) ScanStreams(ExtractFilePath(path), items_.back());
}

void TDownloadThread::ScanStreams(const std::string& root, TItemAttrs entry)
{
    TFileStreams reader;
    try {
        reader.Open(root + entry.Dir + entry.Name);
        TStreamAttributes stream;
        reader.FindFirst(stream);
        while (!reader.AtEnd()) {
            ScanCheckpoint();
            AddItem({entry.Dir, entry.Name + stream.Name, stream.Size, KindStream});
            reader.FindNext(stream);
        }
    } catch (const OsError& error) {
        ScanError(error.what(), reader.FileName());
    }
}

}  // namespace tarn
