// The main window over real tasks copying real files in a temporary folder, offscreen: what its
// views show after ticks, which commands it enables, what its controls do to the tasks, and
// that closing it keeps every task for the next window.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"
#include "core/Units.h"
#include "engine/DownloadThread.h"
#include "tasks/QueueScheduler.h"
#include "tasks/TaskList.h"
#include "tests/support/TestSupport.h"
#include "windows/FormMain.h"
#include "windows/LogListModel.h"
#include "windows/SpeedGraph.h"
#include "windows/TaskTableModel.h"

namespace tarn {
namespace {

using test::MakeFolders;
using test::RandomBytes;
using test::ReadFile;
using test::WaitUntil;
using test::WriteFile;

class NoPower : public PowerControl {
public:
    bool PowerOff(std::string&) override { return false; }
};

// The window with its questions answered at once: no dialog may block a test. A live window
// shows its real dialogs, which the test answers while the window's own timer ticks.
class TestWindow : public TfrmMain {
public:
    explicit TestWindow(const RegistryLocation& registry) : TfrmMain(registry, std::make_unique<NoPower>()) {}
    using TfrmMain::dropEvent;
    bool live = false;

    std::optional<NewTaskAnswer> AskNewTask(bool, const std::string& sourceText) override
    {
        askedSources.push_back(sourceText);
        if (newTaskDestination.empty()) return std::nullopt;
        NewTaskAnswer answer;
        answer.SourceText = sourceText;
        answer.Destination = newTaskDestination;
        answer.State = StatePaused;
        answer.SpeedLimit = 1000;
        return answer;
    }
    bool Confirm(const std::string& id) override { return !live || TfrmMain::Confirm(id); }
    std::optional<bool> AskDeleteTask() override { return live ? TfrmMain::AskDeleteTask() : false; }
    void AskAboutExistingFile(TDownloadThread& task) override { task.Answer(AnswerOverwriteAll); }
    bool ConfirmShutDown() override { return live && TfrmMain::ConfirmShutDown(); }
    void ShowError(const std::string& text) override { errors.push_back(text); }

    std::vector<std::string> askedSources;
    std::string newTaskDestination;
    std::vector<std::string> errors;
};

class FormMainTest : public test::TempFolderTest {
protected:
    void SetUp() override
    {
        test::UsePrivateUserFolders(temp);
        MakeFolders(temp / "src");
        TSettingsStorage settings(Registry());
        settings.SetRestorePath(temp / "restore/");
        settings.SetLogFile(temp / "log/tarn_log.txt");
        settings.SetEnableQuickInfo(false);
        settings.SetMinimizeInsteadClose(false);
        settings.SetDelayOnError(20);
        settings.SaveToRegistry();
        window = std::make_unique<TestWindow>(Registry());
    }
    void TearDown() override { window.reset(); }

    RegistryLocation Registry() const { return {temp / "config/user.ini", temp / "config/system.ini"}; }

    // A task that copies a file of `size` bytes under `limit` bytes per second.
    void AddTask(const std::string& name, size_t size, int32_t limit, uint8_t state = StateCopying)
    {
        WriteFile(temp / ("src/" + name), RandomBytes(size, static_cast<unsigned>(size)));
        ASSERT_TRUE(window->Tasks().AddTask(temp / ("src/" + name), temp / "dst/", state, 0, limit));
    }
    std::string Cell(int row, int column) const
    {
        return window->TaskModel().index(row, column).data().toString().toStdString();
    }
    std::string Status(int panel) const
    {
        return window->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(panel))->text().toStdString();
    }
    QAction& Action(const char* name) const { return *window->findChild<QAction*>(QString::fromLatin1(name)); }
    QSlider& TrackBar() const { return *window->findChild<QSlider*>(QStringLiteral("trbSpeedLimit")); }
    QLabel& SpeedValue() const { return *window->findChild<QLabel*>(QStringLiteral("lblSpeedValue")); }
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
        return WaitUntil([&] {
            window->tmTaskGridTimer();
            return condition();
        });
    }

    std::unique_ptr<TestWindow> window;
};

TEST_F(FormMainTest, WithNoTaskTheViewsShowZerosAndNothingToActOn)
{
    window->tmTaskGridTimer();
    EXPECT_EQ(window->TaskModel().rowCount(), 0);
    EXPECT_EQ(Status(0), "Tasks: 0");
    EXPECT_EQ(Status(1), "Working: 0");
    EXPECT_EQ(Status(2), "Paused: 0");
    EXPECT_EQ(Status(3), "Scheduled: 0");
    EXPECT_EQ(Status(4), "Finished: 0");
    EXPECT_EQ(Status(5), "Total speed: 0 B/s");
    EXPECT_FALSE(TrackBar().isEnabled());
    EXPECT_FALSE(SpeedValue().isEnabled());
    EXPECT_EQ(SpeedValue().text().toStdString(), "Unavailable");
    // The overall graph and log are the ones shown.
    EXPECT_EQ(window->findChild<QStackedWidget*>(QStringLiteral("pnSpeedGraphs"))->currentIndex(), 0);
    EXPECT_EQ(window->findChild<QStackedWidget*>(QStringLiteral("pnLogLists"))->currentIndex(), 0);
    for (const char* name : {"actStart", "actPause", "actStartAll", "actPauseAll", "actRestartAll", "actDeleteAll",
                             "actScheduleAll", "actRestart", "actDelete", "actSchedule", "actSkipFile", "actMoveUp",
                             "actMoveDown", "actOpenSrc", "actOpenDst", "actChangeSource"})
        EXPECT_FALSE(Action(name).isEnabled()) << name;
    for (const char* name : {"actNewTask", "actDeleteFinished", "actSettings", "actExit", "actGlobalQueue"})
        EXPECT_TRUE(Action(name).isEnabled()) << name;
}

TEST_F(FormMainTest, RowsShowEachTaskAsItCopiesAndFinishes)
{
    AddTask("whole.bin", 300000, INT32_MAX);
    MakeFolders(temp / "src/empty");
    ASSERT_TRUE(window->Tasks().AddTask(temp / "src/empty", temp / "dst/", StateCopying, 0, INT32_MAX));
    ASSERT_TRUE(TickUntil([&] { return Cell(0, 0) == " Finished" && Cell(1, 0) == " Finished"; }));

    EXPECT_EQ(window->TaskModel().rowCount(), 2);
    EXPECT_EQ(Cell(0, 1), temp / "src/");
    EXPECT_EQ(Cell(0, 4), "1");
    EXPECT_EQ(Cell(0, 7), "100");
    // A task with nothing to copy is at 0 percent, not a division by zero.
    EXPECT_EQ(Cell(1, 7), "0");
    EXPECT_EQ(ReadFile(temp / "dst/whole.bin"), ReadFile(temp / "src/whole.bin"));
    EXPECT_EQ(Status(0), "Tasks: 2");
    EXPECT_EQ(Status(4), "Finished: 2");
    // The state column carries the state's icon.
    EXPECT_FALSE(window->TaskModel().index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
}

TEST_F(FormMainTest, TheTrackBarFollowsTheCurrentRowAndSetsEverySelectedRow)
{
    AddTask("a.bin", 4000000, 1048576);
    AddTask("b.bin", 4000000, 1048577);
    AddTask("c.bin", 4000000, 2000);
    Select({0});
    ASSERT_TRUE(TrackBar().isEnabled());
    // The bar's scale is the task's own (its peak speed or the link speed): top is fastest.
    const auto shownLimit = [&] { return TrackBar().maximum() - TrackBar().value(); };
    EXPECT_EQ(shownLimit(), 1048576);
    EXPECT_EQ(SpeedValue().text().toStdString(), "1024.0 Kb/s");  // exactly 1 MiB/s is still in the KB unit

    Select({1});
    EXPECT_EQ(shownLimit(), 1048577);
    EXPECT_EQ(SpeedValue().text().toStdString(), "1.0 Mb/s");
    // Following the current row changed no limit.
    EXPECT_EQ(window->Tasks().Task(0).GetSpeedLimit(), 1048576);
    EXPECT_EQ(window->Tasks().Task(1).GetSpeedLimit(), 1048577);

    Select({0, 1, 2});
    TrackBar().setValue(TrackBar().maximum() - 5000);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(window->Tasks().Task(i).GetSpeedLimit(), 5000) << i;
    EXPECT_EQ(SpeedValue().text().toStdString(), "4.9 Kb/s");
    // The current row's speed graph and log list are the ones shown.
    EXPECT_EQ(window->findChild<QStackedWidget*>(QStringLiteral("pnSpeedGraphs"))->currentIndex(), 1);
    // With no row selected the overall graph shows the tasks' speeds together.
    Select({});
    auto& graphs = *window->findChild<QStackedWidget*>(QStringLiteral("pnSpeedGraphs"));
    EXPECT_EQ(graphs.currentIndex(), 0);
    const auto& overall = static_cast<TSpeedGraph*>(graphs.widget(0))->Model();
    EXPECT_TRUE(TickUntil([&] { return overall.Sample(0) > 0; }));
}

TEST_F(FormMainTest, CommandsAreEnabledBySelectionAndQueueMode)
{
    AddTask("a.bin", 1000, 0, StatePaused);
    AddTask("b.bin", 1000, 0, StatePaused);
    window->tmTaskGridTimer();
    EXPECT_TRUE(Action("actStartAll").isEnabled());
    EXPECT_FALSE(Action("actStart").isEnabled());
    EXPECT_FALSE(Action("actDelete").isEnabled());

    Select({1});
    EXPECT_TRUE(Action("actStart").isEnabled());
    EXPECT_TRUE(Action("actDelete").isEnabled());
    EXPECT_TRUE(Action("actChangeSource").isEnabled());

    Select({0, 1});
    EXPECT_FALSE(Action("actChangeSource").isEnabled());
    EXPECT_TRUE(Action("actMoveUp").isEnabled());

    // A queue mode decides what runs: Start and Pause, one by one or all, are its.
    Action("actGlobalQueue").trigger();
    window->tmTaskGridTimer();
    EXPECT_FALSE(Action("actStart").isEnabled());
    EXPECT_FALSE(Action("actPauseAll").isEnabled());
    EXPECT_TRUE(Action("actRestart").isEnabled());
    // The two queue modes exclude each other.
    Action("actSourceQueue").trigger();
    EXPECT_FALSE(Action("actGlobalQueue").isChecked());
    EXPECT_TRUE(Action("actSourceQueue").isChecked());
    Action("actSourceQueue").trigger();
    EXPECT_FALSE(Action("actSourceQueue").isChecked());
}

// Enter starts and Space pauses the selected tasks while the list has the focus; Del deletes.
TEST_F(FormMainTest, KeysInTheListActOnTheSelectedTasks)
{
    AddTask("a.bin", 4000000, 1000, StatePaused);
    AddTask("b.bin", 4000000, 1000, StatePaused);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    Select({1});
    window->TaskListView().setFocus();
    const auto state = [&](int i) { return window->Tasks().Task(i).GetState() & 0x7F; };
    QTest::keyClick(&window->TaskListView(), Qt::Key_Return);
    // Copying, past the scan, during which a pause is not taken: bytes have moved.
    EXPECT_TRUE(WaitUntil([&] { return state(1) == StateCopying && window->Tasks().Task(1).GetCopiedSize() > 0; }));
    EXPECT_EQ(state(0), StatePaused);
    QTest::keyClick(&window->TaskListView(), Qt::Key_Space);
    EXPECT_TRUE(WaitUntil([&] { return state(1) == StatePaused; }));
    QTest::keyClick(&window->TaskListView(), Qt::Key_Delete);
    QApplication::processEvents();
    EXPECT_EQ(window->Tasks().Count(), 1);
    EXPECT_EQ(window->Tasks().Task(0).GetSourceAsGiven(), temp / "src/a.bin");
}

// A command whose question is open while ticks go on acts, once answered, on the tasks the user
// chose and on no other, wherever the rows went meanwhile: a task ahead of them finishes and
// leaves the list before the answer comes.
struct QuestionCase {
    const char* action;
    int chosen;            // row of the task chosen: 0 is the one that leaves
    const char* recordId;  // what the chosen task logs; none when it is deleted
    bool cancel = false;
};

class CommandQuestionTest : public FormMainTest, public testing::WithParamInterface<QuestionCase> {
protected:
    int RowOf(const std::string& name) const
    {
        for (int row = 0; row < window->Tasks().Count(); ++row)
            if (window->Tasks().Task(row).GetSourceAsGiven() == temp / ("src/" + name)) return row;
        return -1;
    }
    bool Logged(const std::string& name, const std::string& id) const
    {
        TMsg record;
        const TDownloadThread& task = window->Tasks().Task(RowOf(name));
        for (int i = 0; task.GetLogRecord(i, record); ++i)
            if (record.Id == id) return true;
        return false;
    }
    // Answers the question that opens next once `ready` holds, while the window's timer ticks.
    bool AnswerWhen(const char* action, const std::function<bool()>& ready, bool cancel)
    {
        bool answered = false;
        QTimer answerer;
        answerer.setInterval(20);
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || answered || !ready()) return;
            answered = true;
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                box->button(cancel ? QMessageBox::Cancel : QMessageBox::Ok)->click();
            } else if (auto* picker = qobject_cast<QFileDialog*>(modal); picker && !cancel) {
                picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(temp / "src/new.bin"));
                static_cast<QDialog*>(picker)->accept();
            } else if (cancel) {
                static_cast<QDialog*>(modal)->reject();
            } else {
                static_cast<QDialog*>(modal)->accept();
            }
        });
        answerer.start();
        Action(action).trigger();
        return answered;
    }
};

TEST_P(CommandQuestionTest, ActsOnlyOnTheChosenTasksWhereverTheyMoved)
{
    const QuestionCase& c = GetParam();
    const std::string names[] = {"leaving.bin", "second.bin", "third.bin"};
    const std::string chosen = names[c.chosen];
    const std::string other = c.chosen == 2 ? names[1] : names[2];
    window->Settings().SetAutoDeleteFinished(true);
    AddTask(names[0], 1000, INT32_MAX, StatePaused);
    AddTask(names[1], 4000000, 2000);
    AddTask(names[2], 4000000, 2000);
    WriteFile(temp / "src/new.bin", ReadFile(temp / ("src/" + chosen)));
    // A file is being copied in each: Skip File has one to skip.
    ASSERT_TRUE(TickUntil([&] { return window->Tasks().Task(1).GetCopiedSize() > 0 && window->Tasks().Task(2).GetCopiedSize() > 0; }));
    window->live = true;
    Select({c.chosen});

    bool started = false;
    ASSERT_TRUE(AnswerWhen(c.action, [&] {
        if (!started) window->Tasks().Task(0).Start();
        started = true;
        return RowOf(names[0]) < 0;  // the window's tick removed it
    }, c.cancel));

    QApplication::processEvents();
    window->tmTaskGridTimer();
    ASSERT_GE(RowOf(other), 0);
    EXPECT_FALSE(Logged(other, c.recordId == nullptr ? "Inf015" : c.recordId));
    if (c.chosen == 0) {
        EXPECT_EQ(window->Tasks().Count(), 2);
    } else if (c.cancel) {
        EXPECT_EQ(window->Tasks().Count(), 2);
        EXPECT_EQ(window->SelectedRows(), std::vector<int>{RowOf(chosen)});
    } else if (c.recordId == nullptr) {
        EXPECT_EQ(window->Tasks().Count(), 1);
    } else {
        // The task chosen for a new source is known by it from then on.
        const std::string now = std::string(c.action) == "actChangeSource" ? "new.bin" : chosen;
        EXPECT_TRUE(WaitUntil([&] { return RowOf(now) >= 0 && Logged(now, c.recordId); })) << c.recordId;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCommandWithAQuestion, CommandQuestionTest,
                         testing::Values(QuestionCase{"actDelete", 1, nullptr}, QuestionCase{"actDelete", 2, nullptr},
                                         QuestionCase{"actDelete", 0, nullptr}, QuestionCase{"actDelete", 2, nullptr, true},
                                         QuestionCase{"actRestart", 1, "Inf013"}, QuestionCase{"actSkipFile", 2, "Inf014"},
                                         QuestionCase{"actSchedule", 1, "Inf011"}, QuestionCase{"actChangeSource", 2, "Inf010"}));

// The tick turns "Shut Down when done" off as it asks; the menu, toolbar and tray items show it
// at once, so that the next click turns it on again rather than off.
TEST_F(FormMainTest, ShutDownWhenDoneShowsOffOnceTheQuestionComes)
{
    AddTask("done.bin", 1000, INT32_MAX);
    ASSERT_TRUE(TickUntil([&] { return window->Tasks().Task(0).GetState() == StateFinished; }));
    Action("actShutDown").trigger();
    window->live = true;
    bool checkedDuringQuestion = true;
    QTimer answerer;
    answerer.setInterval(20);
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (auto* question = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            checkedDuringQuestion = Action("actShutDown").isChecked();
            question->reject();
        }
    });
    answerer.start();
    window->tmTaskGridTimer();
    EXPECT_FALSE(checkedDuringQuestion);
    EXPECT_FALSE(Action("actShutDown").isChecked());
}

// The log list follows its newest record: records that came while the Log tab was hidden are
// scrolled to when it opens, and records that come while it is open are followed.
TEST_F(FormMainTest, TheLogListFollowsItsNewestRecord)
{
    MakeFolders(temp / "src/tree");
    // Names long enough for a horizontal scroll bar, which shortens the page as it comes.
    for (int i = 0; i < 80; ++i) WriteFile(temp / ("src/tree/f" + std::string(150, 'n') + std::to_string(i)), "x");
    window->resize(800, 500);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto& tabs = *window->findChild<QTabWidget*>(QStringLiteral("pcInfo"));
    for (const bool openFirst : {false, true}) {
        SCOPED_TRACE(openFirst ? "open while the records come" : "opened afterwards");
        tabs.setCurrentIndex(0);
        const int task = window->Tasks().Count();
        ASSERT_TRUE(window->Tasks().AddTask(temp / "src/tree", temp / ("dst" + std::to_string(task) + "/"),
                                            StateCopying, 0, INT32_MAX));
        Select({task});
        if (openFirst) tabs.setCurrentIndex(1);
        ASSERT_TRUE(TickUntil([&] { return window->LogModel(task).rowCount() > 80; }));
        tabs.setCurrentIndex(1);
        const auto& list = *static_cast<QAbstractScrollArea*>(
            window->findChild<QStackedWidget*>(QStringLiteral("pnLogLists"))->currentWidget());
        EXPECT_TRUE(WaitUntil([&] {
            QApplication::processEvents();
            return list.verticalScrollBar()->maximum() > 0 &&
                   list.verticalScrollBar()->value() == list.verticalScrollBar()->maximum();
        }));
    }
}

TEST_F(FormMainTest, MoveUpKeepsTheMovedRowsSelectedWithTheirCells)
{
    for (const std::string name : {"r0", "r1", "r2", "r3"}) {
        MakeFolders(temp / ("src/" + name));
        WriteFile(temp / ("src/" + name + "/f"), name);
        ASSERT_TRUE(window->Tasks().AddTask(temp / ("src/" + name), temp / "dst/", StatePaused, 0, 0));
    }
    // Task 2 is told apart by its log, which must move with it: it runs to its end.
    window->Tasks().Task(2).SetSpeedLimit(INT32_MAX);
    window->Tasks().Task(2).Start();
    ASSERT_TRUE(TickUntil([&] { return (window->Tasks().Task(2).GetState() & 0x7F) == StateFinished; }));
    Select({2, 3});
    const int logOfTask2 = window->LogModel(2).rowCount();
    Action("actMoveUp").trigger();
    QApplication::processEvents();
    window->tmTaskGridTimer();
    EXPECT_EQ(window->SelectedRows(), (std::vector<int>{1, 2}));
    // A scanned folder's source ends with "/", one not yet scanned is as it was given.
    const auto source = [&](int row) {
        std::string text = Cell(row, 1);
        if (!text.empty() && text.back() == '/') text.pop_back();
        return text;
    };
    EXPECT_EQ(source(1), temp / "src/r2");
    EXPECT_EQ(source(2), temp / "src/r3");
    EXPECT_EQ(source(3), temp / "src/r1");
    EXPECT_EQ(window->LogModel(1).rowCount(), logOfTask2);
    EXPECT_GT(logOfTask2, window->LogModel(2).rowCount());
}

TEST_F(FormMainTest, LogRecordsGetTheInformationIconOnlyForInfIds)
{
    AddTask("ok.bin", 1000, INT32_MAX);
    ASSERT_TRUE(window->Tasks().AddTask(temp / "src/missing", temp / "dst/", StateCopying, 0, INT32_MAX));
    ASSERT_TRUE(TickUntil([&] { return window->Tasks().Task(1).GetState() == StateError; }));
    window->tmTaskGridTimer();

    const LogListModel& log = window->LogModel(1);
    ASSERT_GT(log.rowCount(), 1);
    const auto iconKey = [&](int row) {
        return log.index(row, LogListModel::ColIcon).data(Qt::DecorationRole).value<QIcon>().cacheKey();
    };
    const qint64 information = iconKey(0);
    ASSERT_EQ(log.Record(0).Id.substr(0, 3), "Inf");
    bool sawError = false;
    for (int row = 0; row < log.rowCount(); ++row) {
        const bool isInformation = log.Record(row).Id.substr(0, 3) == "Inf";
        sawError = sawError || log.Record(row).Id == "Err001";
        EXPECT_EQ(iconKey(row) == information, isInformation) << log.Record(row).Id;
    }
    EXPECT_TRUE(sawError);
    EXPECT_EQ(log.index(0, LogListModel::ColMessage).data().toString().left(4), QStringLiteral("Task"));
    // Each record comes once and in its place, however many ticks pass (the task goes on
    // logging its retries meanwhile).
    window->tmTaskGridTimer();
    window->tmTaskGridTimer();
    const LogListModel& later = window->LogModel(1);
    ASSERT_LE(later.rowCount(), static_cast<int>(window->Tasks().Task(1).GetLogHigh()) + 1);
    for (int row = 0; row < later.rowCount(); ++row) {
        TMsg record;
        ASSERT_TRUE(window->Tasks().Task(1).GetLogRecord(row, record));
        EXPECT_EQ(later.Record(row), record) << row;
    }
}

// A date the engine puts into a message reads as the log's date column shows it, in any locale.
TEST_F(FormMainTest, DatesInMessagesReadAsTheDateColumnShowsThem)
{
    UseLocaleDateTimeFormat();
    const double when = 48653.75;  // 15 March 2033, 18:00
    const std::pair<QLocale, std::string> cases[] = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "3/15/33 6:00:00 PM"},
        {QLocale(QLocale::German, QLocale::Germany), "15.03.33 18:00:00"}};
    for (int task = 0; task < 2; ++task) {
        const auto& [locale, shown] = cases[task];
        QLocale::setDefault(locale);
        ASSERT_TRUE(window->Tasks().AddTask(temp / "src", temp / "dst/", StateScheduled, when, 0));
        const LogListModel& log = window->LogModel(task);
        ASSERT_TRUE(TickUntil([&] { return log.rowCount() > 1 && log.Record(1).Id == "Inf011"; }));
        LogListModel column(window->Msgs(), [when](int row, TMsg& record) {
            record = {"Inf001", when, {}};
            return row == 0;
        });
        column.ShowRows(1);
        EXPECT_EQ(column.index(0, LogListModel::ColTime).data().toString().toStdString(), shown);
        EXPECT_EQ(log.index(1, LogListModel::ColMessage).data().toString().toStdString(),
                  "Task was scheduled and will resume at " + shown);
    }
    QLocale::setDefault(QLocale::system());
}

TEST_F(FormMainTest, ThreeDroppedFilesBecomeThreeQuotedPathsAndThreeTasks)
{
    QList<QUrl> urls;
    for (const char* name : {"one", "two words", "three"}) {
        WriteFile(temp / ("src/" + std::string(name)), name);
        urls << QUrl::fromLocalFile(QString::fromStdString(temp / ("src/" + std::string(name))));
    }
    window->newTaskDestination = temp / "dst/";
    QMimeData data;
    data.setUrls(urls);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    window->dropEvent(&drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(WaitUntil([&] {
        QApplication::processEvents();
        return !window->askedSources.empty();
    }));
    EXPECT_EQ(window->askedSources.front(),
              "\"" + temp / "src/one\" \"" + temp / "src/two words\" \"" + temp / "src/three\"");
    ASSERT_EQ(window->Tasks().Count(), 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(window->Tasks().Task(i).GetDestination(), temp / "dst/");
}

TEST_F(FormMainTest, ClosingKeepsTasksForTheNextWindowAndDeletesAnEmptyTaskList)
{
    window->FormClose();
    EXPECT_FALSE(std::filesystem::exists(temp / "restore/TaskList"));
    window.reset();

    window = std::make_unique<TestWindow>(Registry());
    AddTask("slow.bin", 2000000, 1000);
    AddTask("paused.bin", 1000, 0, StatePaused);
    const std::string first = window->Tasks().Task(0).TaskName();
    window->findChild<QTabWidget*>(QStringLiteral("pcInfo"))->setCurrentIndex(1);
    window->TaskListView().horizontalHeader()->resizeSection(1, 217);
    window->findChild<QAction*>(QStringLiteral("actShutDown"))->trigger();
    window->Exit();
    EXPECT_TRUE(window->IsClosed());
    EXPECT_TRUE(std::filesystem::exists(temp / "restore/TaskList"));
    window.reset();

    window = std::make_unique<TestWindow>(Registry());
    ASSERT_EQ(window->Tasks().Count(), 2);
    EXPECT_EQ(window->Tasks().Task(0).TaskName(), first);
    EXPECT_EQ(window->TaskModel().rowCount(), 2);
    EXPECT_EQ(Cell(1, 0), " Paused");
    // The window comes back as it was left.
    EXPECT_EQ(window->findChild<QTabWidget*>(QStringLiteral("pcInfo"))->currentIndex(), 1);
    EXPECT_EQ(window->TaskListView().horizontalHeader()->sectionSize(1), 217);
    EXPECT_TRUE(Action("actShutDown").isChecked());
    // The restored task carries on.
    window->Tasks().Task(0).SetSpeedLimit(INT32_MAX);
    ASSERT_TRUE(TickUntil([&] { return Cell(0, 0) == " Finished"; }));
    EXPECT_EQ(ReadFile(temp / "dst/slow.bin"), ReadFile(temp / "src/slow.bin"));
}

// A placement stored under another screen or scale opens on the screen, whole.
TEST_F(FormMainTest, AStoredPlacementOffTheScreenOpensOnIt)
{
    window.reset();
    {
        TSettingsStorage settings(Registry());
        const auto key = settings.OpenKey(regkey::FormMain);
        WriteRegInteger(*key, regvalue::Left, 5000);
        WriteRegInteger(*key, regvalue::Top, -3000);
        WriteRegInteger(*key, regvalue::Width, 9000);
        FlushRegistryKey(*key);
    }
    window = std::make_unique<TestWindow>(Registry());
    EXPECT_TRUE(window->screen()->availableGeometry().contains(window->geometry()));
}

TEST_F(FormMainTest, TheCloseButtonOnlyHidesWhenSoSetAndExitCloses)
{
    window->Settings().SetMinimizeInsteadClose(true);
    AddTask("slow.bin", 2000000, 1000);
    window->show();
    window->close();
    EXPECT_FALSE(window->IsClosed());
    // Its task goes on: it gets past its scan and copies.
    EXPECT_TRUE(WaitUntil([&] { return (window->Tasks().Task(0).GetState() & 0x7F) == StateCopying; }));
    window->Exit();
    EXPECT_TRUE(window->IsClosed());
}

}  // namespace
}  // namespace tarn
