// Resolving the source and scanning it into the file list.
#include <algorithm>
#include <cerrno>

#include "engine/DownloadThread.h"
#include "engine/FileStreams.h"
#include "platform/FolderEnumerator.h"

namespace tarn {

void TDownloadThread::ResolveSource()
{
    const std::string source = GetSource();
    if (FileExists(source)) {
        sourceKind_ = SourceFile;
        needScan_ = true;
    } else if (DirectoryExists(source)) {
        sourceKind_ = SourceFolder;
        needScan_ = true;
        std::unique_lock lock(lock_);
        source_ = IncludeTrailingDelimiter(source_);
        // Copying the folder /srv/share/Photos to /home/u/In/ fills /home/u/In/Photos/.
        const std::string name = ExtractFileName(ExcludeTrailingDelimiter(source_));
        if (!name.empty()) destination_ += name + PathDelimiter;
    } else {
        ++errorCount_;
        SetState(StateError);
        needScan_ = false;
        AddLogRecord("Err001", {source});
        RetryDelay();
    }
    if (Terminated()) throw TerminateRun{};
    if (scheduleWaiting_) WaitForSchedule();
    if (restartRequest_) return;
    if (pauseRequest_) PauseSelf();
    SaveRestoreFiles(true, false, true, false);
}

void TDownloadThread::ScanSource()
{
    // A scan always builds the list from nothing: a scan cut short by a crash left none.
    items_.clear();
    writtenByTask_.clear();
    ResetCounters();
    const std::string source = GetSource();
    if (sourceKind_ == SourceFolder) {
        std::vector<std::pair<dev_t, ino_t>> ancestors;
        FolderEntry root;
        if (StatPath(ExcludeTrailingDelimiter(source), root)) ancestors.emplace_back(root.device, root.inode);
        ScanFolder(source, ancestors);
    } else {
        ScanFile(source);
        std::unique_lock lock(lock_);
        source_ = ExtractFilePath(source_);
    }
}

void TDownloadThread::ScanCheckpoint()
{
    SetState(StateScanning);
    if (Terminated()) throw TerminateRun{};
    if (scheduleWaiting_) WaitForSchedule();
    if (pauseRequest_) PauseSelf();
}

void TDownloadThread::ScanFolder(const std::string& path, std::vector<std::pair<dev_t, ino_t>>& ancestors)
{
    const std::string source = GetSource();
    const std::string relative = ExtractRelativePath(source, path);
    if (!SameText(path, source)) {
        const std::string folder = ExcludeTrailingDelimiter(relative);
        AddItem({ExtractFilePath(folder), ExtractFileName(folder) + PathDelimiter, 0, KindFolder});
    }

    // One pass over the folder: its files go to the list at once, its subfolders are entered
    // afterwards, so every folder's files come before its subfolders.
    std::vector<FolderEntry> subfolders;
    FolderEnumerator enumerator;
    if (!enumerator.Open(path)) {
        AddLogRecord("Err002", {SystemErrorText(errno), path});
        return;
    }
    FolderEntry entry;
    while (enumerator.Next(entry)) {
        if (entry.isFolder) {
            subfolders.push_back(std::move(entry));
            continue;
        }
        ScanCheckpoint();
        if (entry.statError != 0) {
            AddLogRecord("Err002", {SystemErrorText(entry.statError), path + entry.name});
            continue;
        }
        if (!entry.isRegular) {
            // A pipe or device would block or never end; it is no file to copy.
            AddLogRecord("Err002", {"Not a regular file", path + entry.name});
            continue;
        }
        AddItem({relative, std::move(entry.name), entry.size, KindFile});
        if (options_.CopyStreams) ScanStreams(source, items_.back());
    }
    if (errno != ErrorNoMoreFiles) AddLogRecord("Err002", {SystemErrorText(errno), path});
    enumerator.Close();

    for (const auto& folder : subfolders) {
        ScanCheckpoint();
        const auto id = std::make_pair(folder.device, folder.inode);
        if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) {
            // A link back to a folder on the current path would never end.
            AddLogRecord("Err002", {"Folder loop: the folder is already being scanned", path + folder.name});
            continue;
        }
        ancestors.push_back(id);
        ScanFolder(path + folder.name + PathDelimiter, ancestors);
        ancestors.pop_back();
    }
}

void TDownloadThread::ScanFile(const std::string& path)
{
    FolderEntry entry;
    if (!StatPath(path, entry)) {
        AddLogRecord("Err002", {SystemErrorText(errno), path});
        return;
    }
    ScanCheckpoint();
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
        AddLogRecord("Err002", {error.what(), reader.FileName()});
    }
}

}  // namespace tarn
