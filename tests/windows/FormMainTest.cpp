// The main window over real tasks copying real files in a temporary folder, offscreen, and the
// quick-info window, speed graphs and icons it shows.
#include <QAction>
#include <QApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QUrl>

#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "tasks/TaskList.h"
#include "tests/support/TestSupport.h"
#include "windows/FormMain.h"
#include "windows/FormQuickInfo.h"
#include "windows/Icons.h"
#include "windows/LogListModel.h"
#include "windows/SpeedGraph.h"
#include "windows/TaskTableModel.h"

namespace tarn {
namespace {

class NoPower : public PowerControl {
public:
    bool PowerOff(std::string&) override { return false; }
};

// The window with its questions answered at once; `duringQuestion` runs first, as the ticks of
// an open dialog would.
class TestWindow : public TfrmMain {
public:
    explicit TestWindow(const RegistryLocation& registry) : TfrmMain(registry, std::make_unique<NoPower>()) {}
    using TfrmMain::dropEvent;
    std::optional<NewTaskAnswer> AskNewTask(bool, const std::string& sources) override
    {
        return NewTaskAnswer{sources, destination, StatePaused, 0, 1000000, {}};
    }
    bool Confirm(const std::string&) override { return true; }
    std::optional<bool> AskDeleteTask() override { return duringQuestion(), false; }
    void AskAboutExistingFile(TDownloadThread& task) override { task.Answer(AnswerOverwriteAll); }
    bool ConfirmShutDown() override { return false; }
    void ShowError(const std::string& text) override { ADD_FAILURE() << text; }

    std::string destination;
    std::function<void()> duringQuestion = [] {};
};

class FormMainTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::UsePrivateUserFolders(temp);
        test::MakeFolders(temp / "src");
        TSettingsStorage settings(Registry());
        settings.SetRestorePath(temp / "restore/");
        settings.SetLogFile(temp / "log/tarn_log.txt");
        settings.SetEnableQuickInfo(false);
        settings.SaveToRegistry();
        Open();
    }
    void Open()
    {
        window = std::make_unique<TestWindow>(Registry());
        window->destination = temp / "dst/";
    }
    RegistryLocation Registry() const { return {temp / "config/user.ini", temp / "config/system.ini"}; }
    uint8_t State(int row) const { return window->Tasks().Task(row).GetState() & 0x7F; }
    // Selects rows (after a tick made them) and runs the tick the selection asks for.
    void Select(const std::vector<int>& rows)
    {
        window->tmTaskGridTimer();
        window->SelectRows(rows);
        QApplication::processEvents();
        window->tmTaskGridTimer();
    }
    bool TickUntil(const std::function<bool()>& condition)
    {
        return test::WaitUntil([&] {
            QApplication::processEvents();
            window->tmTaskGridTimer();
            return condition();
        });
    }

    std::unique_ptr<TestWindow> window;
};

// Dropped files become tasks. The speed bar, its top the fastest, shows the current row's limit
// and sets every selected row's; Return starts the selected tasks and Delete removes them. The
// close button may only hide the window; Exit keeps the tasks for the next window.
TEST_F(FormMainTest, DroppedFilesAreCopiedAndTheNextWindowKeepsTheTasks)
{
    QList<QUrl> urls;
    for (const std::string name : {"one", "two words", "three"}) {
        test::WriteFile(temp / ("src/" + name), test::RandomBytes(300000, name.size()));
        urls << QUrl::fromLocalFile(QString::fromStdString(temp / ("src/" + name)));
    }
    QMimeData data;
    data.setUrls(urls);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    window->dropEvent(&drop);
    ASSERT_TRUE(TickUntil([&] { return window->TaskModel().rowCount() == 3; }));
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(window->Tasks().Task(row).GetSourceAsGiven(), urls[row].toLocalFile().toStdString());
    auto& bar = *window->findChild<QSlider*>("trbSpeedLimit");
    Select({0});
    EXPECT_EQ(bar.maximum() - bar.value(), 1000000);
    Select({1, 2});
    bar.setValue(bar.maximum() - 2000000);
    for (const auto& [row, limit] : {std::pair{0, 1000000}, {1, 2000000}, {2, 2000000}})
        EXPECT_EQ(window->Tasks().Task(row).GetSpeedLimit(), limit) << row;
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(&window->TaskListView(), Qt::Key_Return);
    ASSERT_TRUE(TickUntil([&] { return State(1) == StateFinished && State(2) == StateFinished; }));
    EXPECT_EQ(State(0), StatePaused);
    EXPECT_EQ(test::ReadFile(temp / "dst/two words"), test::ReadFile(temp / "src/two words"));
    QTest::keyClick(&window->TaskListView(), Qt::Key_Delete);
    ASSERT_TRUE(TickUntil([&] { return window->TaskModel().rowCount() == 1; }));
    window->Settings().SetMinimizeInsteadClose(true);
    window->close();
    EXPECT_FALSE(window->IsClosed());
    window->Exit();
    window.reset();
    Open();
    ASSERT_EQ(window->Tasks().Count(), 1);
    EXPECT_EQ(window->Tasks().Task(0).GetSourceAsGiven(), temp / "src/one");
}

// The log list follows its newest record while the user is at its end: records that came while
// the Log tab was hidden and records that come while it is open, but not once scrolled up.
// Each record is shown once, in its place.
TEST_F(FormMainTest, TheLogListFollowsItsNewestRecordWhileAtItsEnd)
{
    test::MakeFolders(temp / "src/tree");
    // Names long enough for a horizontal scroll bar, which shortens the page as it comes.
    for (int i = 0; i < 80; ++i) test::WriteFile(temp / ("src/tree/f" + std::string(150, 'n') + std::to_string(i)), "x");
    window->resize(800, 500);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(window->Tasks().AddTask(temp / "src/tree", temp / "dst/", StateCopying, 0, INT32_MAX));
    Select({0});
    const LogListModel& log = window->LogModel(0);
    auto* list = static_cast<QAbstractScrollArea*>(window->findChild<QStackedWidget*>("pnLogLists")->currentWidget());
    QScrollBar& bar = *list->verticalScrollBar();
    for (const bool scrolledUp : {false, true, false}) {
        SCOPED_TRACE(scrolledUp ? "scrolled up" : "at the end");
        const int before = log.rowCount();
        if (before > 0) {
            bar.setValue(scrolledUp ? 0 : bar.maximum());
            window->findChild<QAction*>("actRestart")->trigger();
        }
        ASSERT_TRUE(TickUntil([&] { return log.rowCount() > before + 80 && State(0) == StateFinished; }));
        window->findChild<QTabWidget*>("pcInfo")->setCurrentIndex(1);
        EXPECT_TRUE(TickUntil([&] { return bar.maximum() > 0 && bar.value() == (scrolledUp ? 0 : bar.maximum()); }));
    }
    TMsg record;
    for (int row = 0; window->Tasks().Task(0).GetLogRecord(row, record); ++row) EXPECT_EQ(log.Record(row), record);
}

// Ticks go on while a question is open: once answered, Delete removes the task chosen and no
// other, though a task ahead of it finished meanwhile and left the list.
TEST_F(FormMainTest, DeleteRemovesTheChosenTaskWhereverItMoved)
{
    window->Settings().SetAutoDeleteFinished(true);
    const std::string sources[] = {temp / "src/leaving", temp / "src/kept", temp / "src/chosen"};
    for (const std::string& source : sources) {
        test::WriteFile(source, "x");
        window->Tasks().AddTask(source, temp / "dst/", StatePaused, 0, INT32_MAX);
    }
    Select({2});
    window->duringQuestion = [&] {
        window->Tasks().Task(0).Start();
        EXPECT_TRUE(TickUntil([&] { return window->Tasks().Count() == 2; }));
    };
    window->findChild<QAction*>("actDelete")->trigger();
    ASSERT_EQ(window->Tasks().Count(), 1);
    EXPECT_EQ(window->Tasks().Task(0).GetSourceAsGiven(), sources[1]);
}

// The quick-info window opens where a drag left it.
TEST_F(FormMainTest, TheQuickInfoWindowOpensWhereItWasDragged)
{
    auto quickInfo = std::make_unique<TfrmQuickInfo>(window->Settings());
    quickInfo->show();
    const QPoint start = quickInfo->mapToGlobal(QPoint(40, 10)), end = start + QPoint(100, 70);
    for (const auto& [type, at] : {std::pair{QEvent::MouseButtonPress, start}, {QEvent::MouseMove, start + QPoint(50, 35)},
                                   {QEvent::MouseMove, end}, {QEvent::MouseButtonRelease, end}}) {
        const Qt::MouseButton held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, quickInfo->mapFromGlobal(at), at, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          held, Qt::NoModifier);
        QCoreApplication::sendEvent(quickInfo.get(), &event);
    }
    EXPECT_EQ(quickInfo->pos(), QPoint(16 + 100, 16 + 70));
    quickInfo.reset();
    EXPECT_EQ(TfrmQuickInfo(window->Settings()).pos(), QPoint(16 + 100, 16 + 70));
}

// Each sample of a speed graph is a bar of its share of the largest, the newest at the right.
TEST(SpeedGraphTest, BarsStandForTheirShareOfTheLargestSampleNewestAtTheRight)
{
    SpeedGraphModel model;
    TSpeedGraph graph(model);
    for (const int32_t speed : {1000, 500, 333, 0, 1000}) graph.AddValue(speed);
    graph.resize(300, 100 + TSpeedGraph::Margin + TSpeedGraph::TimeAxisHeight);
    const QImage image = graph.grab().toImage();
    const int right = 300 - TSpeedGraph::SpeedAxisWidth, bottom = 100 + TSpeedGraph::Margin;
    for (const auto& [age, bar] : {std::pair{0, 100}, {1, 0}, {2, 33}, {3, 50}, {4, 100}, {5, 0}, {70, 0}})
        for (int x = right - (age + 1) * graph.ColWidth(); x < right - age * graph.ColWidth(); ++x)
            for (int y = TSpeedGraph::Margin; y < bottom; ++y)
                ASSERT_EQ(image.pixelColor(x, y), y < bottom - bar ? graph.BackgroundColor() : graph.ColColor()) << age;
}

// Every icon the windows use is built in and draws at the small and the large size; a state
// out of range shows the error.
TEST(IconsTest, EveryIconDrawsAtEverySize)
{
    for (const char* name : IconNames())
        for (const int size : {16, 32, 64}) {
            const QImage image = TarnIcon(name).pixmap(size).toImage();
            int drawn = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) drawn += qAlpha(image.pixel(x, y)) > 0;
            EXPECT_GT(drawn, size * size / 20) << name << " at " << size;
        }
    EXPECT_EQ(StateIcon(6).pixmap(16).toImage(), TarnIcon("state-error").pixmap(16).toImage());
}

}  // namespace
}  // namespace tarn
