#include "windows/FormNewTask.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>
#include <string>
#include <vector>

#include "core/Registry.h"
#include "core/RegistryLayout.h"
#include "core/SettingsStorage.h"
#include "engine/GlobalUtils.h"
#include "platform/DateTime.h"
#include "tasks/DestinationHistory.h"
#include "tests/support/TestSupport.h"
#include "windows/FormSchedule.h"

namespace tarn {
namespace {

class FormNewTaskTest : public test::TempFolderTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    std::unique_ptr<TfrmNewTask> Dialog(bool startAllowed = true)
    {
        return std::make_unique<TfrmNewTask>(nullptr, settings, startAllowed, [this](double proposed) {
            proposals.push_back(proposed);
            return scheduleAnswer;
        });
    }
    std::unique_ptr<QSettings> Key() { return settings.OpenKey(regkey::FormNewTask); }

    template <typename Widget>
    static Widget* Child(QWidget& dialog, const char* name)
    {
        auto* child = dialog.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    static void Type(QWidget& dialog, const std::string& source, const std::string& destination)
    {
        Child<QLineEdit>(dialog, "edtSrcPath")->setText(QString::fromStdString(source));
        Child<QComboBox>(dialog, "cbDstPath")->setEditText(QString::fromStdString(destination));
    }
    // Runs `answer` on the next modal window once the event loop of the one about to open runs.
    static void AnswerNextModal(std::function<void(QWidget&)> answer)
    {
        QTimer::singleShot(0, [answer] { answer(*QApplication::activeModalWidget()); });
    }

    TSettingsStorage settings{RegistryLocation{temp / "user.ini", temp / "system.ini"}};
    std::vector<double> proposals;
    std::optional<double> scheduleAnswer;
};

TEST_F(FormNewTaskTest, StateListOffersStartOnlyWithoutAQueueMode)
{
    struct Case {
        bool startAllowed;
        QStringList items;
        std::vector<uint8_t> states;  // handed back for each item
    };
    for (const Case& c :
         {Case{true, {"Start", "Pause", "Schedule"}, {1, 3, 4}}, Case{false, {"Pause", "Schedule"}, {3, 4}}}) {
        for (int index = 0; index < c.items.size(); ++index) {
            auto dialog = Dialog(c.startAllowed);
            auto* state = Child<QComboBox>(*dialog, "cbState");
            QStringList items;
            for (int i = 0; i < state->count(); ++i) items << state->itemText(i);
            EXPECT_EQ(items, c.items);
            EXPECT_EQ(state->currentIndex(), 0);
            state->setCurrentIndex(index);
            EXPECT_EQ(Child<QToolButton>(*dialog, "btnScheduleDialog")->isEnabled(), c.items[index] == "Schedule");
            Type(*dialog, "/srv/a", "/home/me");
            dialog->accept();
            EXPECT_EQ(dialog->Answer().State, c.states[index]) << c.items[index].toStdString();
        }
    }
}

TEST_F(FormNewTaskTest, SpeedTextHasOneDecimalAndTheUnitWithoutABlank)
{
    auto dialog = Dialog();
    auto* speed = Child<QSlider>(*dialog, "trbSpeedLimit");
    auto* unit = Child<QLabel>(*dialog, "lblUnit");
    EXPECT_EQ(speed->maximum(), settings.MaxLinkSpeed());
    EXPECT_EQ(unit->text(), "11.9Mb/s");  // a first run stands at MaxLinkSpeed, 12500000
    const std::pair<int, const char*> cases[] = {
        {1024, "1024.0B/s"}, {1025, "1.0Kb/s"}, {1048576, "1024.0Kb/s"}, {0, "0.0B/s"}};
    for (const auto& [position, text] : cases) {
        speed->setValue(position);
        EXPECT_EQ(unit->text(), text) << position;
    }
}

TEST_F(FormNewTaskTest, TheLanguageFileNamesTheStatesTheOptionsButtonAndTheUnits)
{
    settings.SetLanguage("Deutsch");
    auto dialog = Dialog();
    EXPECT_EQ(dialog->windowTitle(), "Neue Aufgabe");
    auto* state = Child<QComboBox>(*dialog, "cbState");
    EXPECT_EQ(QStringList({state->itemText(0), state->itemText(1), state->itemText(2)}),
              QStringList({"Starten", "Anhalten", "Planen"}));
    EXPECT_EQ(Child<QPushButton>(*dialog, "btnOptions")->text(), "Optionen >>");
    EXPECT_EQ(Child<QLabel>(*dialog, "lblUnit")->text(), "11.9MB/s");
}

TEST_F(FormNewTaskTest, AFirstRunOpensCollapsedAndEmptyAndOKWantsBothPaths)
{
    auto dialog = Dialog();
    EXPECT_TRUE(Child<QGroupBox>(*dialog, "gbTaskOptions")->isHidden());
    EXPECT_TRUE(Child<QGroupBox>(*dialog, "gbFileOptions")->isHidden());
    EXPECT_EQ(Child<QPushButton>(*dialog, "btnOptions")->text(), "Options >>");
    EXPECT_EQ(Child<QComboBox>(*dialog, "cbDstPath")->count(), 0);
    for (const char* option : {"chkCopySecurity", "chkCopyStreams", "chkCopyAttributes", "chkVerify"})
        EXPECT_FALSE(Child<QCheckBox>(*dialog, option)->isChecked()) << option;
    auto* ok = Child<QPushButton>(*dialog, "btnOK");
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"", "", false}, {"x", "", false}, {"", "/d", false}, {"x", "/d", true}};
    for (const auto& [source, destination, enabled] : cases) {
        Type(*dialog, source, destination);
        EXPECT_EQ(ok->isEnabled(), enabled) << source << "|" << destination;
    }
}

TEST_F(FormNewTaskTest, OKHandsBackTheValuesAndRemembersThem)
{
    auto dialog = Dialog();
    Type(*dialog, "/srv/share/film.mkv", "/home/me/Videos");
    Child<QComboBox>(*dialog, "cbState")->setCurrentIndex(2);
    Child<QSlider>(*dialog, "trbSpeedLimit")->setValue(65536);
    Child<QCheckBox>(*dialog, "chkCopyStreams")->setChecked(true);
    Child<QCheckBox>(*dialog, "chkCopyAttributes")->setChecked(true);
    Child<QCheckBox>(*dialog, "chkVerify")->setChecked(true);
    auto* schedule = Child<QToolButton>(*dialog, "btnScheduleDialog");
    scheduleAnswer = 45000.75;
    schedule->click();
    scheduleAnswer.reset();  // a cancelled second look keeps the moment
    const double before = NowDateTime();
    schedule->click();
    ASSERT_EQ(proposals.size(), 2u);
    EXPECT_GE(proposals[1], before);  // always the present moment, not the one chosen before
    dialog->accept();

    const NewTaskAnswer& answer = dialog->Answer();
    EXPECT_EQ(answer.SourceText, "/srv/share/film.mkv");
    EXPECT_EQ(answer.Destination, "/home/me/Videos");
    EXPECT_EQ(answer.State, 4);
    EXPECT_EQ(answer.ScheduleTime, 45000.75);
    EXPECT_EQ(answer.SpeedLimit, 65536);
    EXPECT_FALSE(answer.Options.CopySecurity);
    EXPECT_TRUE(answer.Options.CopyStreams);
    EXPECT_TRUE(answer.Options.CopyAttributes);
    EXPECT_TRUE(answer.Options.VerifyCopies);

    auto again = Dialog();
    EXPECT_EQ(Child<QComboBox>(*again, "cbDstPath")->currentText(), "/home/me/Videos");
    EXPECT_EQ(Child<QSlider>(*again, "trbSpeedLimit")->value(), 65536);
    EXPECT_TRUE(Child<QCheckBox>(*again, "chkCopyStreams")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(*again, "chkCopySecurity")->isChecked());
    EXPECT_EQ(Child<QComboBox>(*again, "cbState")->currentIndex(), 0);
    // Verifying is not remembered: each dialog starts with the setting.
    EXPECT_FALSE(Child<QCheckBox>(*again, "chkVerify")->isChecked());
    settings.SetVerifyCopies(true);
    EXPECT_TRUE(Child<QCheckBox>(*Dialog(), "chkVerify")->isChecked());
}

// Return on any control but Cancel is OK, also after the focus passed Cancel: a task typed in
// is never thrown away by the key that was meant to confirm it.
TEST_F(FormNewTaskTest, ReturnAfterTheFocusPassedCancelIsOK)
{
    AnswerNextModal([](QWidget& dialog) {
        // Focus moves only in the active window.
        dialog.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        Child<QComboBox>(dialog, "cbDstPath")->setEditText(QStringLiteral("/home/me/Videos"));
        Child<QPushButton>(dialog, "btnCancel")->setFocus();
        auto* slider = Child<QSlider>(dialog, "trbSpeedLimit");
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Return);
    });
    const auto answer = Dialog()->Ask("/srv/share/film.mkv");
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->Destination, "/home/me/Videos");
}

// OK refuses what would go wrong only as the tasks run, with a message over the dialog, which
// stays open and remembers nothing yet.
TEST_F(FormNewTaskTest, OKRefusesSourcesOfOneNameAndADestinationThatIsAFile)
{
    test::WriteFile(temp / "file", "x");
    const struct {
        std::string source;
        std::string destination;
        std::string message;
    } cases[] = {
        {JoinQuotedPaths({"/srv/a/photos", "/srv/b/Photos", "/srv/c/photos/."}), "/home/me",
         "Cannot copy \"/srv/c/photos/.\": \"/srv/a/photos\" has the same name; both would be copied to "
         "\"/home/me/photos\"."},
        {"/srv/a", temp / "file", "Cannot copy into \"" + temp / "file\": it is a file, not a folder."},
    };
    for (const auto& c : cases) {
        auto dialog = Dialog();
        Type(*dialog, c.source, c.destination);
        std::string shown;
        AnswerNextModal([&shown](QWidget& box) {
            shown = dynamic_cast<QMessageBox&>(box).text().toStdString();
            dynamic_cast<QMessageBox&>(box).button(QMessageBox::Ok)->click();
        });
        dialog->accept();
        EXPECT_EQ(shown, c.message);
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_FALSE(Key()->contains(regvalue::PathsCount));
    }
}

TEST_F(FormNewTaskTest, WithoutAnAskerTheScheduleDialogStartsAtThePresentMoment)
{
    TfrmNewTask dialog(nullptr, settings, true);
    double shown = 0;
    AnswerNextModal([&](QWidget& modal) {
        shown = dynamic_cast<TfrmSchedule&>(modal).DateTime();
        static_cast<QDialog&>(modal).accept();
    });
    const double before = NowDateTime();
    Child<QComboBox>(dialog, "cbState")->setCurrentIndex(2);
    Child<QToolButton>(dialog, "btnScheduleDialog")->click();
    EXPECT_NEAR(shown, before, 2 / SecondsPerDay);
    EXPECT_EQ(dialog.Answer().ScheduleTime, shown);
}

// The rule itself is DestinationHistoryTest's; here the dialog lists what is stored and hands
// its list to the rule.
TEST_F(FormNewTaskTest, TheHistoryListedIsTheHistoryWrittenBack)
{
    {
        const auto key = Key();
        WriteRegInteger(*key, regvalue::PathsCount, 5);
        for (int i = 0; i < 5; ++i) WriteRegString(*key, PathValueName(i), "/mnt/" + std::to_string(i));
    }
    auto dialog = Dialog();
    EXPECT_EQ(Child<QComboBox>(*dialog, "cbDstPath")->currentText(), "/mnt/0");
    Type(*dialog, "/srv/a", "/MNT/3");
    dialog->accept();
    EXPECT_EQ(ReadDestinationHistory(*Key()),
              (std::vector<std::string>{"/MNT/3", "/mnt/0", "/mnt/1", "/mnt/2", "/mnt/4"}));
}

TEST_F(FormNewTaskTest, CancelRemembersOnlyWhetherTheOptionsWereShown)
{
    auto dialog = Dialog();
    Child<QPushButton>(*dialog, "btnOptions")->click();
    Type(*dialog, "/srv/a", "/home/me");
    Child<QCheckBox>(*dialog, "chkCopySecurity")->setChecked(true);
    dialog->reject();
    for (const char* value : {regvalue::PathsCount, regvalue::SpeedLimit, regvalue::CopySecurity})
        EXPECT_FALSE(Key()->contains(value)) << value;
    EXPECT_EQ(ReadRegInteger(*Key(), regvalue::ShowOptions, -1), 2);

    auto shown = Dialog();
    EXPECT_FALSE(Child<QGroupBox>(*shown, "gbFileOptions")->isHidden());
    EXPECT_EQ(Child<QPushButton>(*shown, "btnOptions")->text(), "Options <<");
    Child<QPushButton>(*shown, "btnOptions")->click();
    shown->reject();
    EXPECT_EQ(ReadRegInteger(*Key(), regvalue::ShowOptions, -1), 0);
}

TEST_F(FormNewTaskTest, CollapsingPullsTheButtonsUpUnderThePaths)
{
    auto dialog = Dialog();
    dialog->show();
    auto* options = Child<QPushButton>(*dialog, "btnOptions");
    options->click();
    QApplication::processEvents();
    const QImage expanded = dialog->grab().toImage();
    const int panels =
        Child<QGroupBox>(*dialog, "gbTaskOptions")->height() + Child<QGroupBox>(*dialog, "gbFileOptions")->height();
    options->click();
    QApplication::processEvents();
    const QImage collapsed = dialog->grab().toImage();
    EXPECT_EQ(expanded.height() - collapsed.height(), panels + 2 * 7);
    EXPECT_EQ(expanded.width(), collapsed.width());

    // OK and Cancel are drawn alike in both, moved up to just below "Paths".
    auto* ok = Child<QPushButton>(*dialog, "btnOK");
    const QPoint okAt = ok->mapTo(dialog.get(), QPoint());
    const QRect buttons(okAt.x(), okAt.y(), collapsed.width() - okAt.x(), collapsed.height() - okAt.y());
    EXPECT_EQ(collapsed.copy(buttons), expanded.copy(buttons.translated(0, expanded.height() - collapsed.height())));
    const int belowPaths = okAt.y() - Child<QGroupBox>(*dialog, "gbPaths")->geometry().bottom();
    EXPECT_GT(belowPaths, 0);
    EXPECT_LT(belowPaths, ok->height());
}

// The caller splits the text the dialog hands back; what the dialog was given or browsed
// comes back as the same paths.
TEST_F(FormNewTaskTest, SourcesComeBackAsThePathsGiven)
{
    const std::vector<std::vector<std::string>> cases = {{"/srv/share/my film.mkv"},
                                                         {"/srv/a b/one.txt", "/srv/two.txt", "/srv/three"}};
    for (const auto& sources : cases) {
        auto dialog = Dialog();
        Child<QComboBox>(*dialog, "cbDstPath")->setEditText("/home/me");
        AnswerNextModal([](QWidget& modal) { static_cast<QDialog&>(modal).accept(); });
        const auto answer = dialog->Ask(JoinQuotedPaths(sources));
        ASSERT_TRUE(answer);
        std::vector<std::string> paths;
        SplitQuotedPaths(answer->SourceText, paths);
        EXPECT_EQ(paths, sources);
    }

    // Three files chosen at once.
    for (const char* name : {"a 1.txt", "b.txt", "c.txt"}) test::WriteFile(temp / name, "x");
    auto dialog = Dialog();
    AnswerNextModal([this](QWidget& modal) {
        auto& files = dynamic_cast<QFileDialog&>(modal);
        files.setDirectory(QString::fromStdString(temp.Path()));
        files.findChild<QLineEdit*>("fileNameEdit")->setText("\"a 1.txt\" \"b.txt\" \"c.txt\"");
        static_cast<QDialog&>(files).accept();
    });
    Child<QToolButton>(*dialog, "btnBrowseForSrcFile")->click();
    std::vector<std::string> chosen;
    SplitQuotedPaths(Child<QLineEdit>(*dialog, "edtSrcPath")->text().toStdString(), chosen);
    std::sort(chosen.begin(), chosen.end());
    EXPECT_EQ(chosen, (std::vector<std::string>{temp / "a 1.txt", temp / "b.txt", temp / "c.txt"}));
}

TEST_F(FormNewTaskTest, SourceFolderStartsAtTheLastOneBrowsedAndIsRememberedAtOnce)
{
    test::MakeFolders(temp / "last");
    test::MakeFolders(temp / "chosen");
    {
        const auto key = Key();
        WriteRegString(*key, regvalue::LastSrcDir, temp / "last");
    }
    auto dialog = Dialog();
    QString started;
    AnswerNextModal([&](QWidget& modal) {
        auto& folders = dynamic_cast<QFileDialog&>(modal);
        started = folders.directory().absolutePath();
        folders.selectFile(QString::fromStdString(temp / "chosen"));
        static_cast<QDialog&>(folders).accept();
    });
    Child<QToolButton>(*dialog, "btnBrowseForSrcFolder")->click();
    EXPECT_EQ(started.toStdString(), temp / "last");
    EXPECT_EQ(Child<QLineEdit>(*dialog, "edtSrcPath")->text().toStdString(), temp / "chosen");
    EXPECT_EQ(ReadRegString(*Key(), regvalue::LastSrcDir, ""), temp / "chosen");
}

}  // namespace
}  // namespace tarn
