#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/GlobalUtils.h"
#include "platform/PlatformFile.h"

namespace tarn {

// Bigger files are left to the worker, which reads them in chunks under the speed limit.
constexpr int64_t ReadAheadFileLimit = 2 << 20;

// One file as a helper found it: opened and read from its start, or the error its open met.
struct ReadAheadFile {
    FileHandle handle = NoHandle;  // positioned at 0; NoHandle when the open failed with openError
    int openError = 0;
    FileStatus status;             // of the open file, before its bytes were read
    std::vector<char> data;        // its first bytes, status.size of them unless the reading ended early
    int endError = 0;              // the error that ended the reading early; 0 for the end of the file

    ReadAheadFile() = default;
    ReadAheadFile(ReadAheadFile&& other) noexcept;
    ReadAheadFile& operator=(ReadAheadFile&& other) noexcept;
    ~ReadAheadFile();  // closes a handle nobody took
};

// Opens and reads small files on a few helper threads while the worker writes the files before
// them, so that the round trips of a network share overlap. The worker announces the files it will
// copy next, in its order, and takes each when it gets there; a file it passes by is dropped.
// Nothing is held beyond `maxFiles` files and `maxBytes` bytes announced and not yet taken.
class FileReadAhead {
public:
    enum class Result { Taken, NotRead, Interrupted };
    // Asked while the worker waits for a helper that is reading its file: true ends the wait.
    using Interrupt = std::function<bool()>;

    FileReadAhead(int helpers, size_t maxFiles, int64_t maxBytes);
    FileReadAhead(const FileReadAhead&) = delete;
    FileReadAhead& operator=(const FileReadAhead&) = delete;
    ~FileReadAhead();  // waits for the helpers' current reads; closes every file not taken

    // Whether another file of `size` bytes may be announced.
    bool HasRoom(int64_t size) const;
    // The worker will take `path` as its file `key`; keys rise with every announcement.
    void Announce(size_t key, const std::string& path, int64_t size);
    // The file `key` at `path` as a helper read it. NotRead: no helper read it (not announced, not
    // begun, announced under another path, or a file too big or with holes): the worker opens it
    // itself. Waits for a helper that is reading it, until `interrupt` says so.
    Result Take(size_t key, const std::string& path, const Interrupt& interrupt, ReadAheadFile& file);
    // Drops everything announced: the worker goes elsewhere, or waits.
    void Discard();

    // Files read whole by helpers in this process, for tests that wait for a read to be done.
    static long FilesRead();

private:
    struct Entry {
        size_t key = 0;
        std::string path;
        int64_t size = 0;
        enum { Waiting, Reading, Done, Declined } step = Waiting;
        ReadAheadFile file;
    };

    void HelperLoop();
    static void Read(const std::string& path, ReadAheadFile& file, bool& declined);
    void DropLocked(std::deque<std::shared_ptr<Entry>>::iterator end);

    const int helpers_;
    const size_t maxFiles_;
    const int64_t maxBytes_;
    mutable std::mutex mutex_;
    std::condition_variable work_;      // an entry to read, or stopping
    std::condition_variable finished_;  // a read ended
    std::deque<std::shared_ptr<Entry>> entries_;  // announced and not taken, in key order
    int64_t bytes_ = 0;                 // announced sizes of entries_
    bool stopping_ = false;
    std::vector<std::thread> threads_;  // started with the first announcement
};

// Whether the files of a source at `path` are read ahead: on shares and FUSE file systems, where
// every open and read is a round trip. TARN_READ_AHEAD=always or never in the environment
// decides for every source.
bool ReadsAhead(const std::string& path);

}  // namespace tarn
