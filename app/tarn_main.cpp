#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QSessionManager>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>

#include "app/AutoRun.h"
#include "app/HandOverReceiver.h"
#include "app/OneInstance.h"
#include "app/QuitSignals.h"
#include "core/AutoStartEntry.h"
#include "core/Globals.h"
#include "core/Registry.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "platform/OsError.h"
#include "windows/FormMain.h"
#include "windows/Icons.h"

// The desktop program: the main window over the task list.
int main(int argc, char* argv[])
{
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if ((!display || !*display) && (!wayland || !*wayland) && (!platform || !*platform)) {
        std::fprintf(stderr,
                     "tarn: no display found (DISPLAY is not set).\n"
                     "Start it on a desktop session, or under a virtual X server:\n"
                     "  xvfb-run -a build/app/tarn\n");
        return 1;
    }
    // A fixed threshold keeps glibc from raising it, and the trim threshold with it, after big
    // blocks are freed: raised, the tops of the arenas a task's threads used are never given back,
    // and a deleted task of many files would leave its memory with the program for good. Each
    // arena also keeps some memory after its threads end; the tasks' threads mostly wait on the
    // system, and a few arenas serve them all.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    mallopt(M_ARENA_MAX, 4);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(tarn::ProgramName));
    QApplication::setOrganizationName(QString::fromLatin1(tarn::RegistryOrganization));
    QApplication::setWindowIcon(tarn::TarnIcon("tarnwell"));
    QApplication::setDesktopFileName(QStringLiteral("tarnwell"));
    tarn::UseLocaleDateTimeFormat();
    // Hidden in the notification area, the program keeps running; it ends by Exit.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second start wakes the first and ends without a window.
    tarn::OneInstance instance;
    if (!instance.CheckFirstInstance()) return 0;
    // No settings file yet: the first start, which makes the log-on entry the setting's default
    // (on) asks for. Later ones leave it to the settings dialog, so one the user removed stays away.
    const bool firstStart = !QFileInfo::exists(tarn::OpenRegistryKey({}, "")->fileName());
    try {
        const tarn::TSettingsStorage settings;
        if (!tarn::AutoRunCheck(app.arguments().mid(1), settings)) return 0;
        if (firstStart && settings.AutoRun()) tarn::SetAutoStartEntry(true);
    } catch (const tarn::OsError& error) {
        QMessageBox::critical(nullptr, QString::fromLatin1(tarn::ProgramName), QString::fromUtf8(error.what()));
        return 1;
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "tarn: %s\n", error.what());
    }

    tarn::TfrmMain window;
    window.show();
    tarn::HandOverReceiver receiver(window, instance.SocketName());
    if (QString error; !receiver.Listen(error))
        std::fprintf(stderr, "tarn: other programs cannot hand files over: %s\n", qPrintable(error));

    tarn::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &tarn::QuitSignals::QuitRequested, &window, &tarn::TfrmMain::Exit);
    // The end of the desktop session closes the program in order, tasks kept for the next one.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager&) { window.Exit(); });
    return app.exec();
}
