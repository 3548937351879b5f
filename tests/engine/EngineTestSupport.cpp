#include "tests/engine/EngineTestSupport.h"

#include <algorithm>
#include <cstdio>

namespace tarn::test {
namespace {

// The count of faults the run injected, one of the figures docs/reliability.md records.
class FaultFigures : public ::testing::Environment {
public:
    void TearDown() override { std::printf("faults injected: %ld\n", FaultsInjected()); }
};
[[maybe_unused]] ::testing::Environment* const faultFigures = ::testing::AddGlobalTestEnvironment(new FaultFigures);

}  // namespace

void EngineTest::SetUp()
{
    for (const std::string& folder : {RestoreDir(), Src(), Dst()}) MakeFolders(folder);
}

void EngineTest::TearDown()
{
    ClearFaults();
    ::unsetenv("TARN_READ_AHEAD");
}

void EngineTest::Fresh()
{
    ClearFaults();
    fs::remove_all(RestoreDir());
    fs::remove_all(Dst());
    EngineTest::SetUp();
}

void EngineTest::WriteTree(const std::string& root, const std::vector<std::pair<std::string, std::string>>& files)
{
    for (const auto& [name, bytes] : files) {
        MakeFolders(root + ExtractFilePath(name));
        if (!name.ends_with('/')) WriteFile(root + name, bytes);
    }
}

std::vector<TItemAttrs> EngineTest::Items(const std::string& name) const
{
    std::vector<TItemAttrs> items;
    DecodeConFile(ReadFile(RestoreDir() + name + ".con"), [&](TItemAttrs&& item) { items.push_back(item); });
    return items;
}

std::unique_ptr<TDownloadThread> EngineTest::NewTask(const std::string& source, const std::string& destination,
                                                     const TaskSetup& s, const std::string& name)
{
    return std::make_unique<TDownloadThread>(name, RestoreDir(), source, destination, s.initialState, s.scheduleTime,
                                             s.delayOnError, s.restoreUpdateInterval, s.bufferSize, s.maxLinkSpeed,
                                             s.speedLimit,
                                             CopyOptions{s.copyAttributes, s.copySecurity, s.copyStreams, s.verifyCopies,
                                                         s.linksAsLinks, s.keepHardLinks});
}

std::unique_ptr<TDownloadThread> EngineTest::RestoreTask(const std::string& name, int32_t delayOnError)
{
    return std::make_unique<TDownloadThread>(name, RestoreDir(), delayOnError, 15000, 65536, 12500000);
}

std::unique_ptr<TDownloadThread> EngineTest::Restored(std::unique_ptr<TDownloadThread>& task)
{
    task->Stop();
    task->WaitFor();
    task.reset();
    return RestoreTask();
}

std::vector<TMsg> EngineTest::Log(const TDownloadThread& task)
{
    std::vector<TMsg> records;
    const int high = task.GetLogHigh();
    for (int i = 0; i <= high; ++i) {
        TMsg record;
        if (task.GetLogRecord(i, record)) records.push_back(record);
    }
    return records;
}

std::vector<std::string> EngineTest::LogIds(const TDownloadThread& task)
{
    std::vector<std::string> ids;
    for (const auto& record : Log(task)) ids.push_back(record.Id);
    return ids;
}

std::vector<std::string> EngineTest::ParamsOf(const TDownloadThread& task, const std::string& id)
{
    const auto log = Log(task);
    const auto found = std::ranges::find(log, id, &TMsg::Id);
    return found == log.end() ? std::vector<std::string>{} : found->Params;
}

int EngineTest::CountWith(const TDownloadThread& task, const std::string& id, const std::string& text)
{
    const auto holds = [&](const std::string& param) { return param.find(text) != std::string::npos; };
    return static_cast<int>(std::ranges::count_if(Log(task), [&](const TMsg& record) {
        return record.Id == id && (text.empty() || std::ranges::any_of(record.Params, holds));
    }));
}

int64_t EngineTest::ModifiedOf(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : -1;
}

std::string EngineTest::Attribute(const std::string& path, const char* name)
{
    char value[64];
    const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string("(none)") : std::string(value, static_cast<size_t>(n));
}

bool EngineTest::HasUserAttributes(const std::string& path)
{
    return ::setxattr(path.c_str(), "user.probe", "1", 1, 0) == 0 && ::removexattr(path.c_str(), "user.probe") == 0;
}

}  // namespace tarn::test
