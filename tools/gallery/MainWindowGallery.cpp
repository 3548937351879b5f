// Shows the main window over real tasks copying real files and saves pictures of it, for the
// screenshots in docs/: main_window_gallery OUTPUT_FOLDER LANGUAGE
// Pictures: main-window (the speed graph of a copying task), main-window-log (the log of a
// finished task), tray-menu and about, each named NAME-LANGUAGE.png. Run it on a real display
// (scripts/screenshots runs it under a virtual X server).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QAction>
#include <QMenu>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/TaskTypes.h"
#include "platform/DateTime.h"
#include "tasks/TaskList.h"
#include "windows/FormAbout.h"
#include "windows/FormMain.h"

namespace {

using namespace tarn;

class NoPower : public PowerControl {
public:
    bool PowerOff(std::string&) override { return false; }
};

void WriteFile(const QString& path, size_t bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    std::mt19937 random(static_cast<unsigned>(bytes));
    std::string data(bytes, '\0');
    for (char& c : data) c = static_cast<char>(random());
    std::ofstream(path.toStdString(), std::ios::binary) << data;
}

// Runs the event loop, and with it the window's ticks, for a while.
void RunFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool Save(QWidget& widget, const QString& file)
{
    RunFor(200);
    if (widget.grab().save(file)) return true;
    std::fprintf(stderr, "main_window_gallery: cannot write %s\n", qPrintable(file));
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: main_window_gallery OUTPUT_FOLDER LANGUAGE\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    const QString language = QString::fromLocal8Bit(argv[2]);
    QTemporaryDir home;
    // The program log and the desktop's folders stay in the temporary folder too.
    setenv("XDG_DATA_HOME", qPrintable(home.path() + "/data"), 1);
    setenv("XDG_CONFIG_HOME", qPrintable(home.path() + "/config"), 1);
    QApplication app(argc, argv);
    UseLocaleDateTimeFormat();

    const RegistryLocation registry{(home.path() + "/user.ini").toStdString(), (home.path() + "/system.ini").toStdString()};
    {
        TSettingsStorage settings(registry);
        settings.SetLanguage(language.toStdString());
        settings.SetRestorePath((home.path() + "/restore/").toStdString());
        settings.SetLogFile((home.path() + "/tarn_log.txt").toStdString());
        settings.SetEnableQuickInfo(false);
        settings.SetMinimizeInsteadClose(false);
        settings.SetDelayOnError(1000);
        settings.SaveToRegistry();
    }

    const QString src = home.path() + "/srv/share/";
    const QString dst = home.path() + "/home/anna/Archive/";
    for (int i = 1; i <= 12; ++i) WriteFile(src + QString("Photos/2021/IMG_%1.jpg").arg(4000 + i), 900000 + 37000 * i);
    WriteFile(src + "Video/holiday.mkv", 60000000);
    for (int i = 1; i <= 6; ++i) WriteFile(src + QString("Documents/Letters/letter-%1.odt").arg(i), 20000 * i);
    WriteFile(src + "Documents/budget.ods", 48000);
    for (int i = 1; i <= 5; ++i) WriteFile(src + QString("Music/track-%1.flac").arg(i, 2, 10, QChar('0')), 3000000);
    WriteFile(src + "Backups/system.img", 5000000);
    QDir().mkpath(dst);

    TfrmMain window(registry, std::make_unique<NoPower>());
    window.show();
    TaskList& tasks = window.Tasks();
    const auto add = [&](const QString& source, uint8_t state, int32_t limit, double scheduleTime = 0) {
        if (!tasks.AddTask(source.toStdString(), dst.toStdString(), state, scheduleTime, limit))
            std::fprintf(stderr, "main_window_gallery: task for %s not added\n", qPrintable(source));
    };
    add(src + "Documents/", StateCopying, LinkSpeed100Mbit);
    add(src + "Photos/2021/", StateCopying, 900000);
    add(src + "Video/holiday.mkv", StateCopying, 2500000);
    add(src + "Music/", StatePaused, 500000);
    add(src + "Backups/system.img", StateScheduled, LinkSpeed100Mbit, NowDateTime() + 1.0 / 24);
    // A source that is gone by the time the task scans it.
    add(src + "Projects/", StateCopying, LinkSpeed100Mbit);

    // The photos' row, once a tick has made the rows; then eight ticks fill its speed graph
    // with bars, and the documents finish.
    window.tmTaskGridTimer();
    window.SelectRows({1});
    RunFor(8 * TfrmMain::TickInterval);
    auto* pages = window.findChild<QTabWidget*>(QStringLiteral("pcInfo"));
    bool saved = true;
    pages->setCurrentIndex(0);
    saved &= Save(window, output + "/main-window-" + language + ".png");

    window.SelectRows({0});
    pages->setCurrentIndex(1);
    saved &= Save(window, output + "/main-window-log-" + language + ".png");

    auto* tray = window.findChild<QMenu*>(QStringLiteral("pmTray"));
    tray->popup(window.geometry().center());
    saved &= Save(*tray, output + "/tray-menu-" + language + ".png");
    tray->hide();

    // The Actions menu, with its keys named in the language.
    QMenu* actions = window.findChild<QAction*>(QStringLiteral("actActions"))->menu();
    actions->popup(window.geometry().center());
    saved &= Save(*actions, output + "/actions-menu-" + language + ".png");
    actions->hide();

    TfrmAbout about(&window, window.Settings());
    about.show();
    saved &= Save(about, output + "/about-" + language + ".png");
    about.hide();

    pages->setCurrentIndex(0);
    window.Exit();
    return saved ? 0 : 1;
}
