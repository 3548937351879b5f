#pragma once

#include <string>

namespace tarn {

// Test seam: makes chosen platform file calls fail. A fault matches a call when the path of the
// file (for reads and writes, the path the descriptor was opened with) contains `pathPart`.
// `skip` matching calls pass first, then `count` calls fail with `error`. An error of 0 on a
// read makes it return 0 bytes without an error, as a dead network share does. An Allocate
// fault (any `pathPart`, "" matches all) makes the next copy-buffer allocation run out of memory.
// A Sync fault fails the flush of a file's data to the disk. A Create fault fails the opens that
// may write or create a file and the making of folders.
enum class FaultOp { Open, Read, Write, Close, Enumerate, Allocate, Sync, Create };

void InjectFault(FaultOp op, const std::string& pathPart, int error, int count = 1, int skip = 0);
// As the error of a Read fault: the read "succeeds" with zeros instead of the file's bytes, as a
// network share whose server died answers before it gives up.
constexpr int FaultZeroData = 0x20000;
void ClearFaults();  // also releases every stall

// A disk as the kernel reports it, under `pathPart` until ClearFaults(): full (every write
// fails with ENOSPC), or read-only (every create, open for writing and new folder fails with EROFS).
void DiskFull(const std::string& pathPart);
void ReadOnlyDisk(const std::string& pathPart);

// Makes matching calls, after `skip` of them passed, block until ReleaseStalls(), so a test can
// hold a worker at a known point.
void StallOn(FaultOp op, const std::string& pathPart, int skip = 0);
void ReleaseStalls();
// Calls blocked by a stall right now.
int StalledCalls();

// Faults given so far in this process, for the figures of a test run.
long FaultsInjected();

// Used by platform/ only: -1 when the call goes ahead, otherwise the error to fail with.
int TakeFault(FaultOp op, const std::string& path);
int TakeFault(FaultOp op, int fd);

}  // namespace tarn
