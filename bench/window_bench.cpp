// The main window's cost: the tick with the refresh of every view over 200 tasks, 50 of them
// copying under speed limits, and the time a log list of 100,000 records takes to appear.
// window_bench [WORK_FOLDER]; run offscreen (QT_QPA_PLATFORM=offscreen) or on a display.
#include <QApplication>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "platform/DateTime.h"
#include "tasks/TaskList.h"
#include "windows/FormMain.h"
#include "windows/LogListModel.h"

namespace {

using namespace tarn;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

class NoPower : public PowerControl {
public:
    bool PowerOff(std::string&) override { return false; }
};

void WriteBytes(const std::string& path, size_t size)
{
    std::ofstream(path, std::ios::binary) << std::string(size, 'x');
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const fs::path work = fs::absolute(argc > 1 ? argv[1] : "bench/work/window");
    fs::remove_all(work);
    fs::create_directories(work / "src");
    fs::create_directories(work / "config");
    setenv("XDG_CONFIG_HOME", (work / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    const RegistryLocation registry{work / "config/user.ini", work / "config/system.ini"};
    {
        TSettingsStorage settings(registry);
        settings.SetRestorePath((work / "restore/").string());
        settings.SetLogFile((work / "log.txt").string());
        settings.SetEnableQuickInfo(false);
        settings.SaveToRegistry();
    }

    TfrmMain window(registry, std::make_unique<NoPower>());
    window.show();
    constexpr int TaskCount = 200;
    constexpr int CopyingCount = 50;
    for (int i = 0; i < TaskCount; ++i) {
        const std::string source = (work / "src" / ("f" + std::to_string(i))).string();
        const bool copying = i < CopyingCount;
        WriteBytes(source, copying ? 4'000'000 : 1000);
        window.Tasks().AddTask(source, (work / "dst/").string(), copying ? StateCopying : StatePaused, 0,
                               copying ? 100'000 + 1000 * i : 0);
    }
    window.SelectRows({0});
    // Ticks once a second as the timer does, each timed with the painting it causes.
    std::vector<double> ticks;
    for (int second = 0; second < 15; ++second) {
        const auto start = Clock::now();
        window.tmTaskGridTimer();
        QApplication::processEvents();
        ticks.push_back(Milliseconds(Clock::now() - start));
        std::this_thread::sleep_until(start + std::chrono::seconds(1));
    }
    int copying = 0;
    for (int i = 0; i < window.Tasks().Count(); ++i) copying += (window.Tasks().Task(i).GetState() & 0x7F) == StateCopying;
    ticks.erase(ticks.begin());  // the first makes the 200 rows
    std::printf("tick with refresh, %d tasks (%d copying): median %.2f ms, max %.2f ms over %zu ticks\n", TaskCount,
                copying, Median(ticks), *std::max_element(ticks.begin(), ticks.end()), ticks.size());

    // A log list of 100,000 records on screen, read from where they are kept.
    TMsgList msgs;
    std::vector<TMsg> records;
    records.reserve(100'000);
    const double now = NowDateTime();
    for (int i = 0; i < 100'000; ++i)
        records.push_back(TMsg{i % 7 == 0 ? "Err005" : "Inf007", now,
                               {"/srv/share/projects/folder" + std::to_string(i % 100) + "/file" + std::to_string(i) + ".dat",
                                "Input/output error"}});
    std::vector<double> appear;
    for (int round = 0; round < 5; ++round) {
        LogListModel model(msgs, [&records](int row, TMsg& record) {
            if (row < 0 || static_cast<size_t>(row) >= records.size()) return false;
            record = records[static_cast<size_t>(row)];
            return true;
        });
        QTreeView view;
        view.setUniformRowHeights(true);
        view.setRootIsDecorated(false);
        view.resize(900, 400);
        view.setModel(&model);
        view.show();
        QApplication::processEvents();
        const auto start = Clock::now();
        model.ShowRows(static_cast<int>(records.size()));
        view.scrollToBottom();
        view.repaint();
        QApplication::processEvents();
        appear.push_back(Milliseconds(Clock::now() - start));
    }
    std::printf("log list of 100,000 records shown and scrolled to its end: median %.1f ms, max %.1f ms over %zu rounds\n",
                Median(appear), *std::max_element(appear.begin(), appear.end()), appear.size());
    window.Exit();
    fs::remove_all(work);
    return 0;
}
