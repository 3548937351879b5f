// Times the scheduler tick over 500 tasks: the main thread's share of every second.
// Usage: tick_bench WORK_FOLDER
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "tasks/PowerControl.h"
#include "tasks/QueueScheduler.h"
#include "tasks/SchedulerHost.h"
#include "tasks/TaskList.h"
#include "tasks/TaskListViews.h"

namespace {

constexpr int TaskCount = 500;
constexpr int Ticks = 200;

class Quiet : public tarn::TaskListViews, public tarn::SchedulerHost, public tarn::PowerControl {
public:
    void InsertViews(int) override {}
    void RemoveViews(int) override {}
    void MoveViews(int, int) override {}
    void ShowError(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void AskAboutExistingFile(tarn::TDownloadThread& task) override { task.Answer(tarn::AnswerSkipAll); }
    bool ConfirmShutDown() override { return false; }
    bool PowerOff(std::string&) override { return false; }
};

double MillisecondsPerTick(tarn::QueueScheduler& scheduler, const std::vector<int>& selection)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Ticks; ++i) scheduler.Tick(selection);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / Ticks;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tick_bench WORK_FOLDER\n");
        return 1;
    }
    const std::string work = tarn::IncludeTrailingDelimiter(argv[1]);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work + "src");
    tarn::TSettingsStorage settings(tarn::RegistryLocation{"/dev/null", "/dev/null"});
    settings.SetRestorePath(work + "restore/");
    tarn::TMsgList msgs;
    Quiet quiet;
    tarn::TaskList tasks(settings, msgs, quiet);
    tarn::QueueScheduler scheduler(tasks, settings, msgs, quiet, quiet);
    tasks.LoadTaskList();
    for (int i = 0; i < TaskCount; ++i) {
        const std::string source = work + "src/file" + std::to_string(i);
        std::ofstream(source) << "content";
        // Paused tasks hold still; a limit of 0 keeps a started one copying nothing.
        tasks.AddTask(source, work + "dst/" + std::to_string(i), tarn::StatePaused, 0, 0);
    }
    scheduler.Tick({0});  // the first tick hands over every log record
    const double plain = MillisecondsPerTick(scheduler, {0});
    scheduler.Modes().SourceQueue = true;
    const double bySource = MillisecondsPerTick(scheduler, {0});
    std::printf("tasks=%d tick_ms=%.3f tick_ms_queue_by_file_servers=%.3f\n", TaskCount, plain, bySource);
    tasks.Close();
    std::filesystem::remove_all(work);
    return 0;
}
