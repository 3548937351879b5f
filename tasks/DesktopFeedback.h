#pragma once

#include <QString>

#include <functional>

#include "tasks/TaskFeedback.h"

namespace tarn {

// Notifications through the desktop's notification service (org.freedesktop.Notifications on
// the session bus), and the launcher icon's progress and count (the
// com.canonical.Unity.LauncherEntry signal, which docks and task managers show). Where no
// service answers a notification, `fallback` shows it (the tray icon's message).
class DesktopFeedback {
public:
    using Fallback = std::function<void(const QString& title, const QString& text)>;
    explicit DesktopFeedback(Fallback fallback);

    void Notify(const QString& title, const QString& text);
    // Sends the launcher's figures when they changed; a hidden state clears the icon.
    void ShowLauncher(const LauncherState& state);

private:
    Fallback fallback_;
    bool sent_ = false;
    LauncherState last_;
};

}  // namespace tarn
