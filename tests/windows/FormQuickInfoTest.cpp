#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"
#include "tests/support/TestSupport.h"
#include "windows/FormQuickInfo.h"

namespace tarn {
namespace {

using Window = TfrmQuickInfo;

QuickInfoRow Row(float progress, const std::string& text = "/srv/share/file.bin")
{
    QuickInfoRow row;
    row.Progress = progress;
    row.Speed = 1.5f;
    row.Unit = "Mb/s";
    row.Text = text;
    row.ImageIndex = 1;
    return row;
}

class FormQuickInfoTest : public test::TempFolderTest {
protected:
    FormQuickInfoTest() : settings(RegistryLocation{temp / "user.ini", temp / "system.ini"}) {}

    std::unique_ptr<Window> Make()
    {
        auto window = std::make_unique<Window>(settings);
        window->show();
        return window;
    }
    std::optional<int32_t> Stored(const char* name) const
    {
        const auto key = settings.OpenKey(regkey::QuickInfo);
        if (!key->contains(QString::fromUtf8(name))) return std::nullopt;
        return ReadRegInteger(*key, name, 0);
    }
    void Store(const char* name, const QVariant& value)
    {
        settings.OpenKey(regkey::QuickInfo)->setValue(QString::fromUtf8(name), value);
    }

    // Mouse events as the window system delivers them, at a point of the window.
    static void Mouse(Window& window, QEvent::Type type, QPoint at)
    {
        const bool pressed = type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick;
        const Qt::MouseButtons held = pressed ? Qt::LeftButton : Qt::NoButton;
        QMouseEvent event(type, at, window.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          held, Qt::NoModifier);
        QCoreApplication::sendEvent(&window, &event);
    }
    // A drag by `by` that starts at `from`, with the cursor's screen positions as the drag goes.
    static void Drag(Window& window, QPoint from, QPoint by)
    {
        const QPoint start = window.mapToGlobal(from);
        auto send = [&window](QEvent::Type type, QPoint global, Qt::MouseButtons held) {
            QMouseEvent event(type, window.mapFromGlobal(global), global,
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
            QCoreApplication::sendEvent(&window, &event);
        };
        send(QEvent::MouseButtonPress, start, Qt::LeftButton);
        send(QEvent::MouseMove, start + by / 2, Qt::LeftButton);
        send(QEvent::MouseMove, start + by, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, start + by, Qt::NoButton);
    }

    static QImage Render(Window& window)
    {
        QImage image(window.size(), QImage::Format_ARGB32);
        window.render(&image);
        return image;
    }

    TSettingsStorage settings;
};

TEST_F(FormQuickInfoTest, OpensWhereItWasLeftOrAtItsDesignedPlace)
{
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, QVariant>> stored;
        QRect expected;
    };
    const Case cases[] = {
        {"nothing stored", {}, QRect(16, 16, Window::DesignWidth, Window::DesignHeight)},
        {"stored, off every screen", {{"Left", -5000}, {"Top", 40}, {"Width", 300}, {"Height", 90}},
         QRect(-5000, 40, 300, 90)},
        {"no integers", {{"Left", "left"}, {"Top", "7"}, {"Width", QByteArray("\x01\x02")}},
         QRect(16, 7, Window::DesignWidth, Window::DesignHeight)},
        {"too small", {{"Width", 10}, {"Height", 29}}, QRect(16, 16, Window::MinimumSide, Window::MinimumSide)},
    };
    for (const Case& c : cases) {
        settings.OpenKey(regkey::QuickInfo)->remove(QString());
        for (const auto& [name, value] : c.stored) Store(name, value);
        const Window window(settings);
        EXPECT_EQ(window.geometry(), c.expected) << c.what;
        EXPECT_FALSE(window.isVisible()) << c.what;  // the main window shows it
    }
}

TEST_F(FormQuickInfoTest, ADragStoresThePlaceAPlainClickDoesNotAResizeStoresAtOnce)
{
    auto window = Make();
    QSignalSpy activate(window.get(), &Window::ActivateMainWindowRequested);
    Mouse(*window, QEvent::MouseButtonPress, {40, 30});
    Mouse(*window, QEvent::MouseButtonRelease, {40, 30});
    ASSERT_TRUE(activate.wait());
    EXPECT_FALSE(Stored("Left"));
    EXPECT_FALSE(Stored("Width"));  // showing the window is no resize

    Drag(*window, {40, 30}, {100, 70});
    EXPECT_EQ(window->pos(), QPoint(116, 86));
    EXPECT_EQ(Stored("Left"), 116);
    EXPECT_EQ(Stored("Top"), 86);
    EXPECT_FALSE(Stored("Width"));
    EXPECT_EQ(activate.count(), 1);

    window->resize(210, 95);
    EXPECT_EQ(Stored("Width"), 210);
    EXPECT_EQ(Stored("Height"), 95);

    window->move(300, 200);
    window.reset();
    EXPECT_EQ(Stored("Left"), 300);  // closing stores everything
    EXPECT_EQ(Stored("Top"), 200);
    EXPECT_EQ(Stored("Width"), 210);
}

TEST_F(FormQuickInfoTest, TheBorderResizesDownToThirtyPixels)
{
    auto window = Make();
    const QRect before = window->geometry();
    Drag(*window, {window->width() - 1, window->height() - 1}, {40, 20});  // the bottom-right corner
    EXPECT_EQ(window->geometry(), QRect(before.topLeft(), before.size() + QSize(40, 20)));
    EXPECT_EQ(Stored("Width"), before.width() + 40);
    EXPECT_FALSE(Stored("Left"));

    Drag(*window, {0, 40}, {500, 0});  // the left edge, far past the right one
    EXPECT_EQ(window->width(), Window::MinimumSide);
    EXPECT_EQ(window->geometry().right(), before.right() + 40);
}

TEST_F(FormQuickInfoTest, ADoubleClickTogglesTheMainWindowOnce)
{
    auto window = Make();
    QSignalSpy toggle(window.get(), &Window::ToggleApplicationRequested);
    QSignalSpy activate(window.get(), &Window::ActivateMainWindowRequested);
    Mouse(*window, QEvent::MouseButtonPress, {40, 30});
    Mouse(*window, QEvent::MouseButtonRelease, {40, 30});
    Mouse(*window, QEvent::MouseButtonDblClick, {40, 30});
    EXPECT_EQ(toggle.count(), 0);  // at the release, not at the second press
    Mouse(*window, QEvent::MouseButtonRelease, {40, 30});
    EXPECT_EQ(toggle.count(), 1);
    // The first click of the pair brings nothing to the front, which the toggle would undo.
    Mouse(*window, QEvent::MouseButtonPress, {40, 30});
    Mouse(*window, QEvent::MouseButtonRelease, {40, 30});
    ASSERT_TRUE(activate.wait());
    EXPECT_EQ(activate.count(), 1);
    EXPECT_EQ(toggle.count(), 1);
}

TEST_F(FormQuickInfoTest, TheWindowSnapsToTheWorkAreaEdgesItComesNear)
{
    const QRect area(0, 0, 1000, 700);
    const std::pair<QRect, QPoint> cases[] = {
        {QRect(3, 100, 137, 67), QPoint(0, 100)},
        {QRect(-3, 100, 137, 67), QPoint(0, 100)},
        {QRect(4, 100, 137, 67), QPoint(4, 100)},
        {QRect(1000 - 137 + 3, 700 - 67 - 2, 137, 67), QPoint(1000 - 137, 700 - 67)},
    };
    for (const auto& [window, snapped] : cases) EXPECT_EQ(Window::SnapToWorkArea(window, area), snapped) << window.x();

    // A drag that ends two pixels from the top lands on it, and is stored there.
    auto window = Make();
    const QRect work = window->screen()->availableGeometry();
    window->move(work.left() + 200, work.top() + 100);
    Drag(*window, {40, 30}, {0, -98});
    EXPECT_EQ(window->pos(), QPoint(work.left() + 200, work.top()));
    EXPECT_EQ(Stored("Top"), work.top());
}

TEST_F(FormQuickInfoTest, TheHintIsTheSourceOfTheRowUnderTheCursor)
{
    auto window = Make();
    window->SetRows({Row(0.1f, "/srv/a/"), Row(0.2f, "/srv/b/")});
    const int top = window->contentsRect().top();
    const std::pair<int, QString> cases[] = {
        {top + 1, "/srv/a/"}, {top + 17, "/srv/a/"}, {top + 18, "/srv/b/"}, {top + 35, "/srv/b/"}, {top + 36, ""}};
    for (const auto& [y, hint] : cases) {
        Mouse(*window, QEvent::MouseMove, {50, y});
        EXPECT_EQ(window->toolTip(), hint) << y;
    }
}

// The percentage is rounded down: 0.999 shows 99%, as 0.99 does, and only a whole copy 100%.
TEST_F(FormQuickInfoTest, ThePercentageIsRoundedDown)
{
    auto window = Make();
    window->resize(70 + 61 + 2 * Window::FrameWidth, window->height());  // a bar 61 pixels wide
    const QRect client = window->contentsRect();
    // The middle of the bar, where the percentage stands, clear of the end of any fill.
    const QRect percent(client.left() + 16 + 10, client.top(), 41, Window::BarHeight);
    auto shown = [&](float progress) {
        window->SetRows({Row(progress)});
        return Render(*window).copy(percent);
    };
    const QImage nearlyAll = shown(0.999f);
    EXPECT_EQ(nearlyAll, shown(0.99f));
    EXPECT_EQ(nearlyAll, shown(0.995f));
    EXPECT_NE(nearlyAll, shown(0.98f));
    EXPECT_NE(nearlyAll, shown(1.0f));
}

TEST_F(FormQuickInfoTest, EachTaskGetsARowWithItsProgressBar)
{
    auto window = Make();
    window->resize(200, 3 * Window::RowHeight + 2 * Window::FrameWidth + 5);
    window->SetRows({Row(0.0f), Row(0.25f), Row(1.0f)});
    const QImage image = Render(*window);
    const QPoint origin = window->contentsRect().topLeft();
    const int barWidth = window->contentsRect().width() - 70;
    auto at = [&](int x, int y) { return image.pixelColor(origin + QPoint(x, y)); };
    const std::pair<int, int> rows[] = {{0, 0}, {1, barWidth / 4}, {2, barWidth}};
    for (const auto& [row, filled] : rows) {
        const int y = row * Window::RowHeight;
        EXPECT_EQ(at(16, y), Window::Green) << row;                 // the bar's frame
        EXPECT_EQ(at(16 + barWidth - 1, y + 7), Window::Green) << row;
        EXPECT_EQ(at(16 + barWidth, y + 3), Window::SkyBlue) << row;
        // Inside the frame, at its left and right ends, lime up to the filled width.
        EXPECT_EQ(at(17, y + 1), filled > 1 ? Window::Lime : Window::SkyBlue) << row;
        EXPECT_EQ(at(16 + barWidth - 2, y + 1), filled == barWidth ? Window::Lime : Window::SkyBlue) << row;
        if (filled > 1) {
            EXPECT_EQ(at(16 + filled - 1, y + 1), Window::Green) << row;  // the fill's own edge
        }
    }
    // Below the last row the window is empty.
    for (int x = 0; x < window->contentsRect().width(); ++x) {
        EXPECT_EQ(at(x, 3 * Window::RowHeight + 2), Window::SkyBlue) << x;
    }

}

// Local files become one source list; an address with no path here is refused with its reason.
TEST_F(FormQuickInfoTest, DroppedFilesBecomeOneSourceList)
{
    auto window = Make();
    QSignalSpy added(window.get(), &Window::AddTasksRequested);
    QSignalSpy refused(window.get(), &Window::DropRefused);
    const std::vector<std::tuple<QList<QUrl>, QString, int>> cases = {
        {{QUrl::fromLocalFile("/srv/share/one file.iso")}, "/srv/share/one file.iso", 0},
        {{QUrl::fromLocalFile("/srv/a"), QUrl("https://example.org/x"), QUrl::fromLocalFile("/srv/b c/")},
         "\"/srv/a\" \"/srv/b c\"", 1},
        {{QUrl("https://example.org/x")}, "", 1},
    };
    for (const auto& [urls, sources, refusals] : cases) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter({10, 10}, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &drop);
        EXPECT_EQ(added.isEmpty() ? QString() : added.takeFirst().at(0).toString(), sources);
        EXPECT_EQ(refused.count(), refusals);
        refused.clear();
    }
}

}  // namespace
}  // namespace tarn
