#include "tasks/DesktopFeedback.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <cmath>

#include "core/Globals.h"

namespace tarn {
namespace {

const QString NotificationService = QStringLiteral("org.freedesktop.Notifications");
const QString NotificationPath = QStringLiteral("/org/freedesktop/Notifications");
// The desktop entry the launcher icon belongs to.
const QString LauncherUri = QStringLiteral("application://tarnwell.desktop");
const QString LauncherPath = QStringLiteral("/com/canonical/unity/launcherentry/tarnwell");
constexpr int NotificationTimeout = -1;  // the service's own

}  // namespace

DesktopFeedback::DesktopFeedback(Fallback fallback) : fallback_(std::move(fallback)) {}

void DesktopFeedback::Notify(const QString& title, const QString& text)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        fallback_(title, text);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(NotificationService, NotificationPath, NotificationService,
                                                       QStringLiteral("Notify"));
    call << QString::fromLatin1(ProgramName) << 0u << QStringLiteral("tarnwell") << title << text << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("tarnwell")}} << NotificationTimeout;
    // Asynchronous: a notification service that is slow to start never holds up the window.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [fallback = fallback_, title, text](QDBusPendingCallWatcher* self) {
                         if (self->isError()) fallback(title, text);
                         self->deleteLater();
                     });
}

void DesktopFeedback::ShowLauncher(const LauncherState& state)
{
    // Whole per mille: the icon's bar shows no finer steps, and an unchanged figure sends nothing.
    const auto same = [](const LauncherState& a, const LauncherState& b) {
        return a.Active == b.Active && a.ProgressVisible == b.ProgressVisible &&
               std::lround(a.Progress * 1000) == std::lround(b.Progress * 1000);
    };
    if (sent_ && same(state, last_)) return;
    sent_ = true;
    last_ = state;
    QDBusMessage signal =
        QDBusMessage::createSignal(LauncherPath, QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    signal << LauncherUri
           << QVariantMap{{QStringLiteral("progress"), state.Progress},
                          {QStringLiteral("progress-visible"), state.ProgressVisible},
                          {QStringLiteral("count"), static_cast<qint64>(state.Active)},
                          {QStringLiteral("count-visible"), state.Active > 0}};
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace tarn
