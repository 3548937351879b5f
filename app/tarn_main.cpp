#include <QApplication>
#include <QSessionManager>

#include <cstdio>
#include <cstdlib>

#include "app/QuitSignals.h"
#include "core/Globals.h"
#include "core/Units.h"
#include "dialogs/Icons.h"
#include "tasks/FormMain.h"

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(tarn::ProgramName));
    QApplication::setOrganizationName(QString::fromLatin1(tarn::RegistryOrganization));
    QApplication::setWindowIcon(tarn::TarnIcon("tarnwell"));
    QApplication::setDesktopFileName(QStringLiteral("tarnwell"));
    tarn::UseLocaleDateTimeFormat();
    // Hidden in the notification area, the program keeps running; it ends by Exit.
    QApplication::setQuitOnLastWindowClosed(false);

    tarn::TfrmMain window;
    window.show();

    tarn::QuitSignals quitSignals;
    QObject::connect(&quitSignals, &tarn::QuitSignals::QuitRequested, &window, &tarn::TfrmMain::Exit);
    // The end of the desktop session closes the program in order, tasks kept for the next one.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager&) { window.Exit(); });
    return app.exec();
}
