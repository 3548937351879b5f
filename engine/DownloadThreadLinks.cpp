// Items made anew in the destination rather than copied: symbolic links, further names of a
// file (hard links), and pipes, sockets and devices.
#include <cerrno>

#include "engine/DownloadThread.h"

namespace tarn {
namespace {

constexpr size_t NoCopy = static_cast<size_t>(-1);

// Whether a link in the folder `dir` (below the copied folder, with its trailing delimiter)
// holding `target` leads out of the copy: an absolute target always does, a relative one when
// its ".." climb above the top. Told by the text alone, as cp and rsync tell it: the copy's
// links may lead elsewhere than the source's.
bool PointsOutside(const std::string& dir, const std::string& target)
{
    if (target.empty() || target.front() == PathDelimiter) return true;
    long depth = 0;
    for (const char c : dir)
        if (c == PathDelimiter) ++depth;
    for (size_t at = 0; at <= target.size();) {
        size_t end = target.find(PathDelimiter, at);
        if (end == std::string::npos) end = target.size();
        const std::string_view part(target.data() + at, end - at);
        if (part == "..") {
            if (--depth < 0) return true;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

TDownloadThread::ItemStep TDownloadThread::MakeNodeItem(size_t index)
{
    const TItemAttrs item = items_[index];
    const std::string sourcePath = ItemSourcePath(item);
    // The source as it is now: a link's target text, or a special file's type and device.
    FileStatus source;
    std::string target;
    {
        BlockingCall call(*this);
        SetLastError(0);
        if (PlatformLinkStatus(sourcePath, source) != 0) {
            const int error = errno;
            if (error == ENOENT && DirectoryExists(GetSource())) {
                LeaveOut(index, "It vanished after the scan");
                return ItemStep::Done;
            }
            RaiseOsError(error);
        }
        const bool special = !source.isRegular && !source.isFolder && !source.isLink;
        if (item.Kind == KindLink ? !source.isLink : !special) {
            LeaveOut(index, item.Kind == KindLink ? "It is no longer a symbolic link"
                                                  : "It is no longer a pipe, socket or device");
            return ItemStep::Done;
        }
        if (item.Kind == KindLink && PlatformReadLink(sourcePath, target) != 0) RaiseOsError(errno);
    }
    if (itemTimes_[index].Modified == 0) itemTimes_[index] = {source.accessed, source.modified};
    const std::string destPath = ItemDestPath(item);
    // Already there as the source is: the same link text, or the same kind of special file.
    const auto same = [&](const FileStatus& dest) {
        std::string there;
        if (item.Kind == KindLink)
            return dest.isLink && PlatformReadLinkBeneath(DestRoot(), destPath, there) == 0 && there == target;
        return dest.type == source.type && dest.specialDevice == source.specialDevice;
    };
    const auto make = [&] {
        return item.Kind == KindLink
                   ? PlatformMakeLinkBeneath(DestRoot(), destPath, target)
                   : PlatformMakeSpecialBeneath(DestRoot(), destPath, source.type, source.specialDevice);
    };
    switch (PlaceItem(index, source, same, make)) {
    case Placed::Made: break;
    case Placed::Closed: return ItemStep::Done;
    case Placed::Interrupted: return ItemStep::Again;
    }
    CountCopied(index);
    if (item.Kind == KindLink && PointsOutside(item.Dir, target)) {
        ++linksOutside_;
        AddLogRecord("Inf029", {ItemShownPath(item), target});
    }
    ItemClose(item);
    return ItemStep::Done;
}

TDownloadThread::ItemStep TDownloadThread::MakeHardLinkItem(size_t index)
{
    const TItemAttrs item = items_[index];
    const size_t copy = CopyOfSameFile(index);
    FileStatus source;
    FileStatus copied;
    bool link = false;
    if (copy != NoCopy) {
        // Still names of one file in the source, and its copy still a file of the source's size.
        FileStatus first;
        BlockingCall call(*this);
        link = PlatformLinkStatus(ItemSourcePath(item), source) == 0 &&
               PlatformLinkStatus(ItemSourcePath(items_[static_cast<size_t>(item.Link)]), first) == 0 &&
               source.device == first.device && source.inode == first.inode &&
               PlatformLinkStatusBeneath(DestRoot(), ItemDestPath(items_[copy]), copied) == 0 && copied.isRegular &&
               copied.size == source.size;
    }
    if (!link) {
        // No name of the file was copied by this task (each was skipped or left out), or the
        // source changed: this name is copied as a file, and the next ones link to it.
        items_[index].Kind = KindFile;
        return CopyFileItem(index);
    }
    const std::string existing = ItemDestPath(items_[copy]);
    const std::string destPath = ItemDestPath(item);
    const auto same = [&](const FileStatus& dest) { return dest.device == copied.device && dest.inode == copied.inode; };
    bool refused = false;  // the destination keeps no further names of a file
    const auto make = [&] {
        const int made = PlatformMakeHardLinkBeneath(DestRoot(), existing, destPath);
        if (made != 0 && (errno == EPERM || errno == EMLINK || errno == EXDEV || errno == EOPNOTSUPP)) {
            refused = true;
            return 0;
        }
        return made;
    };
    switch (PlaceItem(index, source, same, make)) {
    case Placed::Made: break;
    case Placed::Closed: return ItemStep::Done;
    case Placed::Interrupted: return ItemStep::Again;
    }
    if (refused) {
        items_[index].Kind = KindFile;
        return CopyFileItem(index);
    }
    // The name made must lead to the copy, not to a file put at the copy's name meanwhile.
    FileStatus made;
    if (PlatformLinkStatusBeneath(DestRoot(), destPath, made) != 0) RaiseOsError(errno);
    if (!same(made)) {
        if (PlatformDeleteFileBeneath(DestRoot(), destPath) != 0 && errno != ENOENT) RaiseOsError(errno);
        throw OsError(EIO, "The copy of its first name was replaced by another file before it was linked");
    }
    CountCopied(index);
    ItemClose(item);
    return ItemStep::Done;
}

size_t TDownloadThread::CopyOfSameFile(size_t index) const
{
    const auto first = static_cast<size_t>(items_[index].Link);
    if (itemCopied_[first]) return first;
    if (const auto it = sameFileCopies_.find(items_[index].Link); it != sameFileCopies_.end() && itemCopied_[it->second])
        return it->second;
    return NoCopy;
}

TDownloadThread::Placed TDownloadThread::PlaceItem(size_t index, const FileStatus& source,
                                                   const std::function<bool(const FileStatus&)>& same,
                                                   const std::function<int()>& make)
{
    const TItemAttrs& item = items_[index];
    const std::string destPath = ItemDestPath(item);
    for (;;) {
        FileStatus dest;
        if (!DestinationStatus(destPath, dest)) {
            if (itemWrites_[index] == WriteNone) RecordWrite(index, WriteNew, source);
            if (make() == 0) return Placed::Made;
            if (errno != EEXIST) RaiseDestinationError(errno, destPath);
            // Someone made it meanwhile: it is theirs.
            WithdrawClaim(index);
            continue;
        }
        if (same(dest)) return Placed::Made;
        if (dest.isFolder) {
            LeaveOut(index, "A folder of that name is in the destination");
            return Placed::Closed;
        }
        // What the task made itself goes without a question.
        if (itemWrites_[index] == WriteNone) {
            AddLogRecord("Inf017", {GetDestination() + item.Dir, item.Name});
            if (!AwaitExistsAnswer()) return Placed::Interrupted;
            const uint8_t answer = existsAnswer_;
            if (answer != AnswerOverwrite && answer != AnswerOverwriteAll && answer != AnswerUpload &&
                answer != AnswerUploadAll) {
                LogSkipped(ItemSourcePath(item));
                ItemClose(item);
                return Placed::Closed;
            }
            // Nothing of a link or a pipe can be continued: an upload makes it anew too.
            AddLogRecord("Inf018", {ItemSourcePath(item)});
            RecordWrite(index, WriteOver, source);
        }
        if (PlatformDeleteFileBeneath(DestRoot(), destPath) != 0 && errno != ENOENT) RaiseOsError(errno);
    }
}

}  // namespace tarn
