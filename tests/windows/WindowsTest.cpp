// Every window offscreen, the main window over real tasks copying real files.
#include <QTest>
#include <QtWidgets>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/DownloadThread.h"
#include "engine/GlobalUtils.h"
#include "tasks/TaskList.h"
#include "tests/support/TestSupport.h"
#include "windows/FormDelTask.h"
#include "windows/FormDstFileExists.h"
#include "windows/FormMain.h"
#include "windows/FormNewTask.h"
#include "windows/FormQuickInfo.h"
#include "windows/FormSchedule.h"
#include "windows/FormSettings.h"
#include "windows/FormShutDown.h"
#include "windows/Icons.h"
#include "windows/LogListModel.h"
#include "windows/TaskTableModel.h"

namespace tarn {
namespace {

class DialogsTest : public test::TempFolderTest {
protected:
    template <typename Widget = QWidget>
    static Widget& Child(const QObject& window, const char* name) { return *window.findChild<Widget*>(name); }
    // Runs `answer` on the modal window about to open, once it is active with its focus set.
    static void AnswerNextModal(std::function<void(QWidget&)> answer)
    {
        QTimer::singleShot(0, [answer] {
            QWidget& window = *QApplication::activeModalWidget();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
            answer(window);
        });
    }
    static void Key(Qt::Key key) { QTest::keyClick(QApplication::focusWidget(), key); }
    // Ticks of the dialog's countdown, whose own timer is stopped.
    static void Tick(QWidget& dialog, int ticks)
    {
        QTimer& timer = *dialog.findChild<QTimer*>();
        timer.stop();
        for (int tick = 0; tick < ticks; ++tick) QMetaObject::invokeMethod(&timer, "timeout");
    }

    RegistryLocation registry{temp / "user.ini", temp / "system.ini"};
    TSettingsStorage settings{registry};
};

// "a" is to be copied over dst/a: a longer destination cannot be continued, so Upload becomes Skip.
// The worker waits for an answer: neither Escape nor closing ends the question, and after "Stop
// counter!" Enter, even on that button, takes the default action.
TEST_F(DialogsTest, TheExistingFileCountdownPressesTheDefaultButtonAndOnlyAnAnswerEndsIt)
{
    const struct {
        uint8_t autoAction, answer;
        int32_t delay, destinationSize;
        bool forAll;
        const char* defaultButton;
        std::vector<int> counts;  // on the default button at opening and after each tick
    } cases[] = {
        {AnswerSkip, AnswerSkip, 1500, 500, false, "btnSkip", {1, 0}},
        {AnswerUpload, AnswerUploadAll, 3000, 500, true, "btnUpload", {3, 2, 1}},
        {AnswerUpload, AnswerUpload, 1000, 1000, false, "btnUpload", {1}},
        {AnswerUpload, AnswerSkip, 2000, 2000, false, "btnSkip", {2, 1}},
    };
    test::WriteFile(temp / "a", std::string(1000, 's'));
    test::MakeFolders(temp / "dst");
    TMsgList msgs;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.defaultButton + std::to_string(c.delay));
        test::WriteFile(temp / "dst/a", std::string(c.destinationSize, 'd'));
        settings.SetAutoAction(c.autoAction);
        settings.SetAutoActionDelay(c.delay);
        TfrmDstFileExists dialog(nullptr, settings, msgs, temp.Path(), temp / "dst/", {"", "a", 1000, KindFile});
        auto& button = Child<QPushButton>(dialog, c.defaultButton);
        EXPECT_EQ(Child<QPushButton>(dialog, "btnUpload").isEnabled(), c.destinationSize <= 1000);
        Child<QCheckBox>(dialog, "chkUseForAll").setChecked(c.forAll);
        for (const int count : c.counts) {
            EXPECT_TRUE(button.text().endsWith(QStringLiteral(" (%1)").arg(count))) << button.text().toStdString();
            EXPECT_EQ(dialog.AnswerCode(), 0);
            Tick(dialog, 1);
        }
        EXPECT_EQ(dialog.AnswerCode(), c.answer);
    }
    settings.SetAutoActionDelay(60000);  // the last case's longer destination keeps Skip the default
    TfrmDstFileExists dialog(nullptr, settings, msgs, temp.Path(), temp / "dst/", {"", "a", 1000, KindFile});
    AnswerNextModal([](QWidget& window) {
        EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_FALSE(window.close());
        auto& stop = Child<QPushButton>(window, "btnStopCounter");
        QTest::keyClick(&stop, Qt::Key_Space);
        EXPECT_FALSE(window.findChild<QTimer*>()->isActive());
        QTest::keyClick(&stop, Qt::Key_Return);
    });
    dialog.exec();
    EXPECT_EQ(dialog.AnswerCode(), AnswerSkip);
}

// Shut-down confirms itself after 30 s; Delete, Schedule (the day typed) and New Task hand back every choice, Return
// confirms even after the focus passed Cancel, and OK refuses a file destination, which would fail only as tasks run.
TEST_F(DialogsTest, TheQuestionsHandBackTheirAnswers)
{
    AnswerNextModal([](QWidget& w) {
        Tick(w, 29);
        EXPECT_TRUE(w.isVisible());
        Tick(w, 1);
    });
    EXPECT_TRUE(TfrmShutDown::Confirm(nullptr, settings));
    AnswerNextModal([](QWidget& w) {
        EXPECT_FALSE(Child<QCheckBox>(w, "chkDelFiles").isChecked());
        Child(w, "btnCancel").setFocus();
        Child(w, "chkDelFiles").setFocus();
        Key(Qt::Key_Space);
        Key(Qt::Key_Return);
    });
    EXPECT_EQ(TfrmDelTask::Ask(nullptr, settings), std::optional(true));
    AnswerNextModal([](QWidget& w) {
        Child<QDateEdit>(w, "dtpDate").setCurrentSection(QDateTimeEdit::DaySection);
        Key(Qt::Key_Up);
        Key(Qt::Key_Return);
    });
    EXPECT_NEAR(TfrmSchedule::Ask(nullptr, settings, 45000.75 + 0.4 / 86400).value_or(0), 45001.75, 1e-9);
    test::WriteFile(temp / "file.bin", "x");
    const std::string sources = JoinQuotedPaths({"/srv/a b/one.txt", "/srv/two"});
    AnswerNextModal([this](QWidget& w) {
        auto& destination = Child<QComboBox>(w, "cbDstPath");
        destination.setEditText(QString::fromStdString(temp / "file.bin"));
        AnswerNextModal([](QWidget& box) { static_cast<QDialog&>(box).accept(); });
        QTest::keyClick(&destination, Qt::Key_Return);
        ASSERT_TRUE(w.isVisible());
        destination.setEditText(QStringLiteral("/home/me/Videos"));
        Child<QSlider>(w, "trbSpeedLimit").setValue(65536);
        for (const char* option : {"chkCopyAttributes", "chkVerify"}) Child<QCheckBox>(w, option).setChecked(true);
        // Return is OK on any control but Cancel, also after the focus passed Cancel.
        Child(w, "btnCancel").setFocus();
        Child(w, "trbSpeedLimit").setFocus();
        QTest::keyClick(&Child(w, "trbSpeedLimit"), Qt::Key_Return);
    });
    const auto answer = TfrmNewTask(nullptr, settings, true).Ask(sources);
    ASSERT_TRUE(answer);
    EXPECT_EQ(std::tuple(answer->SourceText, answer->Destination, answer->SpeedLimit),
              std::tuple(sources, std::string("/home/me/Videos"), 65536));
    EXPECT_TRUE(answer->Options.CopyAttributes && answer->Options.VerifyCopies && !answer->Options.CopyStreams);
}

// OK stores each edited control in its setting's unit and leaves the rest as stored, a language's letter case too;
// any other close brings back what is stored, even after defaults set in memory. Listed tasks keep the restore folder.
TEST_F(DialogsTest, TheSettingsDialogStoresWhatWasChangedOnOKOnly)
{
    const struct {
        const char* name;
        bool edit, stores;
        int tasks;  // listed
        std::function<void(QDialog&)> close;
    } cases[] = {
        {"unchanged", false, true, 0, [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }},
        {"OK", true, true, 0, [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }},
        {"OK with a task", true, true, 1, [](QDialog& d) { Child<QPushButton>(d, "btnOK").click(); }},
        {"Cancel", true, false, 0, [](QDialog& d) { Child<QPushButton>(d, "btnCancel").click(); }},
    };
    test::UsePrivateUserFolders(temp);
    test::MakeFolders(temp / "Lang");
    test::WriteFile(temp / "Lang/Deutsch.lng", "");
    const std::string stored =
        "[General]\nRootDir=" + temp.Path() + "\n[Settings]\nLanguage=deutsch\nRestorePath=/srv/r/\nBufferSize=65536\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(registry.UserFile, stored);
        TSettingsStorage settings(registry);
        if (!c.stores) settings.SetDefaults();
        TfrmSettings dialog(nullptr, c.tasks, settings);
        dialog.show();
        if (c.edit) {
            Child<QSpinBox>(dialog, "seBufferSize").setValue(4096);
            Child<QCheckBox>(dialog, "chkVerifyCopies").setChecked(true);
            Child<QLineEdit>(dialog, "edtRestorePath").setText("/srv/elsewhere");
        }
        c.close(dialog);
        const bool changed = c.edit && c.stores;
        EXPECT_EQ(dialog.result(), c.stores ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(settings.BufferSize(), changed ? 4096 * 1024 : 65536);
        EXPECT_EQ(settings.VerifyCopies(), changed);
        EXPECT_EQ(settings.RestorePath(), changed && c.tasks == 0 ? "/srv/elsewhere/" : "/srv/r/");
        settings.SaveToRegistry();
        EXPECT_EQ(test::ReadFile(registry.UserFile) == stored, !changed);
    }
}

// In German and a large font no label or button of a window is narrower or lower than its text.
TEST_F(DialogsTest, GermanTextsFitInEveryDialog)
{
    settings.SetLanguage("Deutsch");
    TMsgList msgs(settings);
    ASSERT_EQ(TfrmDelTask(nullptr, settings).windowTitle(), "Löschen");
    const std::function<std::unique_ptr<QWidget>()> windows[] = {
        [&] { return std::make_unique<TfrmNewTask>(nullptr, settings, true); },
        [&] { return std::make_unique<TfrmSettings>(nullptr, 1, settings); },
        [&] { return std::make_unique<TfrmSchedule>(nullptr, settings, 45000.5); },
        [&] { return std::make_unique<TfrmDelTask>(nullptr, settings); },
        [&] { return std::make_unique<TfrmShutDown>(nullptr, settings); },
        [&] { return std::make_unique<TfrmQuickInfo>(settings); },
        [&] { return std::make_unique<TfrmDstFileExists>(nullptr, settings, msgs, "/", "/", TItemAttrs{"", "a", 3, KindFile}); },
    };
    const QFont font = QApplication::font();
    QApplication::setFont(QFont(font.family(), font.pointSize() * 2));
    for (const auto& make : windows) {
        const auto dialog = make();
        dialog->show();
        auto* pages = dialog->findChild<QTabWidget*>();
        for (int page = 0; page < (pages ? pages->count() : 1); ++page) {
            if (pages) pages->setCurrentIndex(page);
            QApplication::processEvents();
            for (QWidget* widget : dialog->findChildren<QWidget*>()) {
                auto* label = qobject_cast<QLabel*>(widget);
                if (!widget->isVisible() || (label ? label->wordWrap() : !qobject_cast<QAbstractButton*>(widget)))
                    continue;
                EXPECT_EQ(widget->size().expandedTo(widget->sizeHint()), widget->size()) << widget->objectName().toStdString();
            }
        }
    }
    QApplication::setFont(font);
}

struct NoPower : PowerControl { bool PowerOff(std::string&) override { return false; } };

// The window with its questions answered at once.
class TestWindow : public TfrmMain {
public:
    TestWindow(const RegistryLocation& registry, std::string destination)
        : TfrmMain(registry, std::make_unique<NoPower>()), destination(std::move(destination)) {}
    using TfrmMain::dropEvent;
    std::optional<NewTaskAnswer> AskNewTask(bool, const std::string& sources) override
    {
        return NewTaskAnswer{sources, destination, StatePaused, 0, 1000000, {}};
    }
    bool Confirm(const std::string&) override { return true; }
    void AskAboutExistingFile(TDownloadThread& task) override { task.Answer(AnswerOverwriteAll); }
    void ShowError(const std::string& text) override { ADD_FAILURE() << text; }
    const std::string destination;
};

class FormMainTest : public DialogsTest {
protected:
    void SetUp() override
    {
        test::UsePrivateUserFolders(temp);
        test::MakeFolders(temp / "src");
        test::WriteFile(registry.UserFile, "[Settings]\nEnableQuickInfo=0\nRestorePath=" + temp / "restore/" +
                                                 "\nLogFile=" + temp / "log/tarn_log.txt\n");
        window = std::make_unique<TestWindow>(registry, temp / "dst/");
    }
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

// Dropped files become tasks; Return starts the selected rows, Delete removes them; Exit keeps the tasks.
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
    Select({1, 2});
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(&window->TaskListView(), Qt::Key_Return);
    ASSERT_TRUE(TickUntil([&] { return State(1) == StateFinished && State(2) == StateFinished; }));
    EXPECT_EQ(State(0), StatePaused);
    EXPECT_EQ(test::ReadFile(temp / "dst/two words"), test::ReadFile(temp / "src/two words"));
    QTest::keyClick(&window->TaskListView(), Qt::Key_Delete);
    ASSERT_TRUE(TickUntil([&] { return window->TaskModel().rowCount() == 1; }));
    window->Exit();
    window.reset();
    window = std::make_unique<TestWindow>(registry, temp / "dst/");
    ASSERT_EQ(window->Tasks().Count(), 1);
    EXPECT_EQ(window->Tasks().Task(0).GetSourceAsGiven(), temp / "src/one");
}

// The log list follows its newest record while the user is at its end, also when the Log tab opens
// later, but not once scrolled up. Each record is shown once, in its place.
TEST_F(FormMainTest, TheLogListFollowsItsNewestRecordWhileAtItsEnd)
{
    test::MakeFolders(temp / "src/tree");
    // Names long enough for a horizontal scroll bar, which shortens the page as it comes.
    for (int i = 0; i < 80; ++i)
        test::WriteFile(temp / ("src/tree/f" + std::string(150, 'n') + std::to_string(i)), "x");
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
}

}  // namespace
}  // namespace tarn

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
