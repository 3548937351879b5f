#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/DownloadThread.h"
#include "tests/support/TestSupport.h"

namespace tarn::test {

// Options of a task made by a test; the delays are short so retries happen quickly.
struct TaskSetup {
    uint8_t initialState = StateCopying;
    double scheduleTime = 0;
    int32_t delayOnError = 20;
    int32_t restoreUpdateInterval = 15000;
    int32_t bufferSize = 65536;
    int32_t maxLinkSpeed = 12500000;
    int32_t speedLimit = 2147483647;
    bool copyAttributes = false;
    bool copySecurity = false;
    bool copyStreams = false;
    bool verifyCopies = false;
};

// A fixture with a temporary folder holding "restore/", "src/" and "dst/".
class EngineTest : public TempFolderTest {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string RestoreDir() const { return temp / "restore/"; }
    std::string Src() const { return temp / "src/"; }
    std::string Dst() const { return temp / "dst/"; }
    // Empties restore/ and dst/ for the next run of a loop; the tasks must be gone.
    void Fresh();

    std::unique_ptr<TDownloadThread> NewTask(const std::string& source, const std::string& destination,
                                             const TaskSetup& setup = {}, const std::string& name = "0000ABCD");
    std::unique_ptr<TDownloadThread> RestoreTask(const std::string& name = "0000ABCD", int32_t delayOnError = 20);

    // Every log record of a task, in order.
    static std::vector<TMsg> Log(const TDownloadThread& task);
    static std::vector<std::string> LogIds(const TDownloadThread& task);
    static int CountId(const TDownloadThread& task, const std::string& id) { return CountWith(task, id, ""); }
    // Records with the id and a parameter that holds `text` (any parameter when it is "").
    static int CountWith(const TDownloadThread& task, const std::string& id, const std::string& text);
    static bool Logged(const TDownloadThread& task, const std::string& id, const std::string& text)
    {
        return CountWith(task, id, text) > 0;
    }
    // A file's permission bits (of a link itself, not its target), its modification second, one
    // of its extended attributes ("(none)" when it has none), and whether its file system keeps them.
    static unsigned ModeOf(const std::string& path);
    static int64_t ModifiedOf(const std::string& path);
    static std::string Attribute(const std::string& path, const char* name);
    static bool HasUserAttributes(const std::string& path);
    static bool WaitForState(const TDownloadThread& task, uint8_t state);
    static bool WaitForLog(const TDownloadThread& task, const std::string& id, int count = 1);
};

}  // namespace tarn::test
