#include <QApplication>
#include <QLabel>

#include <cstdio>
#include <cstdlib>

// The desktop program. Until the main window lands it shows a placeholder window.
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
    QApplication::setApplicationName("Tarnwell");
    QLabel window("Tarnwell");
    window.setWindowTitle("Tarnwell");
    window.setMinimumSize(684, 374);
    window.setAlignment(Qt::AlignCenter);
    window.show();
    return app.exec();
}
