#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/DownloadThread.h"
#include "platform/FaultInjection.h"
#include "tests/support/TestSupport.h"

namespace tarn::test {

namespace fs = std::filesystem;

// Options of a task made by a test; the delays are short so retries happen quickly.
struct TaskSetup {
    uint8_t initialState = StateCopying;
    double scheduleTime = 0;
    int32_t delayOnError = 20;
    int32_t restoreUpdateInterval = 15000;
    int32_t bufferSize = 65536;
    int32_t maxLinkSpeed = 12500000;
    int32_t speedLimit = 2147483647;
    bool copyAttributes = false, copySecurity = false, copyStreams = false, verifyCopies = false;
    bool linksAsLinks = false, keepHardLinks = false;
};

// A fixture with a temporary folder holding "restore/", "src/" and "dst/"; faults and read-ahead end with the test.
class EngineTest : public TempFolderTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string RestoreDir() const { return temp / "restore/"; }
    std::string Src() const { return temp / "src/"; }
    std::string Dst() const { return temp / "dst/"; }
    // Empties restore/ and dst/ for the next run of a loop; the tasks must be gone.
    void Fresh();
    // Writes each file below `root`, making its folders; a name ending in '/' is an empty folder.
    static void WriteTree(const std::string& root, const std::vector<std::pair<std::string, std::string>>& files);
    // The item list of a task's restore files.
    std::vector<TItemAttrs> Items(const std::string& name = "0000ABCD") const;

    std::unique_ptr<TDownloadThread> NewTask(const std::string& source, const std::string& destination,
                                             const TaskSetup& setup = {}, const std::string& name = "0000ABCD");
    std::unique_ptr<TDownloadThread> RestoreTask(const std::string& name = "0000ABCD", int32_t delayOnError = 20);
    // Stops the task, waits for its worker, and restores it from its files as a restart of the program does.
    std::unique_ptr<TDownloadThread> Restored(std::unique_ptr<TDownloadThread>& task);

    // Every log record of a task, in order.
    static std::vector<TMsg> Log(const TDownloadThread& task);
    static std::vector<std::string> LogIds(const TDownloadThread& task);
    // The parameters of the task's first record with the id; none when it has no such record.
    static std::vector<std::string> ParamsOf(const TDownloadThread& task, const std::string& id);
    static int CountId(const TDownloadThread& task, const std::string& id) { return CountWith(task, id, ""); }
    // Records with the id and a parameter that holds `text` (any parameter when it is "").
    static int CountWith(const TDownloadThread& task, const std::string& id, const std::string& text);
    static bool Logged(const TDownloadThread& task, const std::string& id, const std::string& text) { return CountWith(task, id, text) > 0; }
    // A file's own permission bits, modification second, an attribute ("(none)"), and whether attributes are kept.
    static int64_t ModifiedOf(const std::string& path);
    static std::string Attribute(const std::string& path, const char* name);
    static bool HasUserAttributes(const std::string& path);
    static bool Identical(const std::string& a, const std::string& b) { return ReadFile(a) == ReadFile(b); }
    static bool WaitForState(const TDownloadThread& task, uint8_t state) { return WaitUntil([&] { return task.GetState() == state; }); }
    static bool WaitForLog(const TDownloadThread& task, const std::string& id, int count = 1)
    {
        return WaitUntil([&] { return CountId(task, id) >= count; });
    }
    // Waits for the task's question about an existing file and gives it the answer.
    static bool Answered(TDownloadThread& task, uint8_t answer)
    {
        if (!WaitUntil([&] { return task.IsWaitingForAnswer(); })) return false;
        task.Answer(answer);
        return true;
    }
};

}  // namespace tarn::test
