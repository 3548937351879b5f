#pragma once

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "core/Registry.h"
#include "core/SettingsStorage.h"
#include "tests/support/TestSupport.h"

// Helpers of the tests of the dialogs that ask one question.
namespace tarn::test {

// Runs `answer` on the modal window about to open, once it is the active window with its
// focus where the user finds it.
inline void AnswerNextModal(std::function<void(QWidget&)> answer)
{
    QTimer::singleShot(0, [answer] {
        QWidget& window = *QApplication::activeModalWidget();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        answer(window);
    });
}

// The window's named timer, stopped: the test's ticks are then the only ones.
inline QTimer& StoppedTimer(QWidget& window, const char* name)
{
    auto* timer = window.findChild<QTimer*>(QString::fromLatin1(name));
    if (!timer) throw std::runtime_error(std::string("no timer ") + name);
    timer->stop();
    return *timer;
}

// One period of the timer passes.
inline void Tick(QTimer& timer) { QMetaObject::invokeMethod(&timer, "timeout"); }

// Pixels of `child`'s area in the window's rendering that differ from the window's
// background: something was drawn there.
inline int DrawnPixels(QWidget& window, const QWidget& child)
{
    const QImage image = window.grab().toImage();
    const QColor background = window.palette().color(QPalette::Window);
    const qreal scale = image.devicePixelRatio();
    const QRect area(child.mapTo(&window, QPoint(0, 0)) * scale, child.size() * scale);
    int drawn = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) drawn += image.pixelColor(x, y) != background;
    return drawn;
}

// Settings of their own in `folder` (ending with "/") whose interface language is a file of its
// own, "Test", with `sections` as its text.
inline std::unique_ptr<TSettingsStorage> SettingsWithLanguage(const std::string& folder, const std::string& sections)
{
    MakeFolders(folder + "Lang");
    WriteFile(folder + "Lang/Test.lng", sections);
    WriteFile(folder + "user.ini", "[General]\nRootDir=" + folder + "\n[Settings]\nLanguage=Test\n");
    return std::make_unique<TSettingsStorage>(RegistryLocation{folder + "user.ini", folder + "system.ini"});
}

}  // namespace tarn::test
