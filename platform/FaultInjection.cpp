#include "platform/FaultInjection.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <climits>
#include <mutex>
#include <vector>

namespace tarn {
namespace {

struct Fault {
    FaultOp op;
    std::string pathPart;
    int error;
    int count;
    int skip;
};

std::mutex faultMutex;
std::vector<Fault> faults;
struct Stall {
    FaultOp op;
    std::string pathPart;
    int skip;
};
std::vector<Stall> stalls;
std::condition_variable stallsChanged;
int stalledCalls = 0;
std::atomic<bool> armed{false};  // keeps the production path free of locks

std::string PathOfDescriptor(int fd)
{
    char link[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(proc.c_str(), link, sizeof link - 1);
    return n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string();
}

// A path through a held folder ("/proc/self/fd/N/rest") as the folder's own path and the
// rest, so that faults name the files a test knows.
std::string ResolvedPath(const std::string& path)
{
    static const std::string prefix = "/proc/self/fd/";
    if (path.compare(0, prefix.size(), prefix) != 0) return path;
    const size_t end = path.find('/', prefix.size());
    const std::string number = path.substr(prefix.size(), end == std::string::npos ? std::string::npos : end - prefix.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return path;
    const std::string folder = PathOfDescriptor(std::stoi(number));
    return folder.empty() || end == std::string::npos ? path : folder + path.substr(end);
}

std::atomic<long> injected{0};

}  // namespace

void InjectFault(FaultOp op, const std::string& pathPart, int error, int count, int skip)
{
    std::lock_guard lock(faultMutex);
    faults.push_back({op, pathPart, error, count, skip});
    armed = true;
}

void DiskFull(const std::string& pathPart) { InjectFault(FaultOp::Write, pathPart, ENOSPC, INT_MAX); }

void ReadOnlyDisk(const std::string& pathPart) { InjectFault(FaultOp::Create, pathPart, EROFS, INT_MAX); }

void ClearFaults()
{
    {
        std::lock_guard lock(faultMutex);
        faults.clear();
        stalls.clear();
        armed = false;
    }
    stallsChanged.notify_all();
}

void StallOn(FaultOp op, const std::string& pathPart, int skip)
{
    std::lock_guard lock(faultMutex);
    stalls.push_back({op, pathPart, skip});
    armed = true;
}

void ReleaseStalls()
{
    {
        std::lock_guard lock(faultMutex);
        stalls.clear();
        armed = !faults.empty();
    }
    stallsChanged.notify_all();
}

int StalledCalls()
{
    std::lock_guard lock(faultMutex);
    return stalledCalls;
}

int TakeFault(FaultOp op, const std::string& given)
{
    if (!armed.load(std::memory_order_relaxed)) return -1;
    const std::string path = ResolvedPath(given);
    std::unique_lock lock(faultMutex);
    const auto stalled = [&] {
        for (const auto& stall : stalls)
            if (stall.op == op && stall.skip <= 0 && path.find(stall.pathPart) != std::string::npos) return true;
        return false;
    };
    for (auto& stall : stalls)
        if (stall.op == op && stall.skip > 0 && path.find(stall.pathPart) != std::string::npos) {
            --stall.skip;
            return -1;
        }
    if (stalled()) {
        ++stalledCalls;
        stallsChanged.wait(lock, [&] { return !stalled(); });
        --stalledCalls;
    }
    for (auto& fault : faults) {
        if (fault.op != op || fault.count <= 0 || path.find(fault.pathPart) == std::string::npos) continue;
        if (fault.skip > 0) {
            --fault.skip;
            continue;
        }
        --fault.count;
        ++injected;
        return fault.error;
    }
    return -1;
}

long FaultsInjected() { return injected.load(); }

int TakeFault(FaultOp op, int fd)
{
    if (!armed.load(std::memory_order_relaxed)) return -1;
    return TakeFault(op, PathOfDescriptor(fd));
}

}  // namespace tarn
