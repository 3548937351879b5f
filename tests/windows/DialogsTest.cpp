// The dialogs: what each answer hands back or stores, and the countdowns that answer for a user
// who is away.
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"
#include "engine/GlobalUtils.h"
#include "engine/TaskTypes.h"
#include "tests/support/TestSupport.h"
#include "windows/FileOrFolderDialog.h"
#include "windows/FormDelTask.h"
#include "windows/FormDstFileExists.h"
#include "windows/FormNewTask.h"
#include "windows/FormSchedule.h"
#include "windows/FormSettings.h"
#include "windows/FormShutDown.h"

namespace tarn {
namespace {

class DialogsTest : public test::TempFolderTest {
protected:
    template <typename Widget = QWidget>
    static Widget& Child(const QObject& window, const char* name)
    {
        return *window.findChild<Widget*>(QString::fromLatin1(name));
    }
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
        auto& timer = *dialog.findChild<QTimer*>();
        timer.stop();
        for (int tick = 0; tick < ticks; ++tick) QMetaObject::invokeMethod(&timer, "timeout");
    }

    RegistryLocation registry{temp / "user.ini", temp / "system.ini"};
    TSettingsStorage settings{registry};
};

// src/a is to be copied over dst/a. A destination longer than its source cannot be continued,
// so a default of Upload becomes Skip; the ticked box sends the action's "for all" code.
TEST_F(DialogsTest, TheExistingFileCountdownPressesTheDefaultButton)
{
    const struct {
        uint8_t autoAction;
        int32_t delay;
        size_t destinationSize;
        bool forAll;
        const char* defaultButton;
        std::vector<int> counts;  // on the default button at opening and after each tick
        uint8_t answer;
    } cases[] = {
        {AnswerOverwrite, 0, 500, false, "btnOverwrite", {0}, AnswerOverwrite},
        {AnswerSkip, 1500, 500, false, "btnSkip", {1, 0}, AnswerSkip},
        {AnswerUpload, 3000, 500, true, "btnUpload", {3, 2, 1}, AnswerUploadAll},
        {AnswerUpload, 1000, 1000, false, "btnUpload", {1}, AnswerUpload},
        {AnswerUpload, 2000, 2000, false, "btnSkip", {2, 1}, AnswerSkip},
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
        EXPECT_TRUE(button.isDefault());
        EXPECT_EQ(Child<QPushButton>(dialog, "btnUpload").isEnabled(), c.destinationSize <= 1000);
        Child<QCheckBox>(dialog, "chkUseForAll").setChecked(c.forAll);
        for (const int count : c.counts) {
            EXPECT_TRUE(button.text().endsWith(QStringLiteral(" (%1)").arg(count))) << button.text().toStdString();
            EXPECT_EQ(dialog.AnswerCode(), 0);
            Tick(dialog, 1);
        }
        EXPECT_EQ(dialog.AnswerCode(), c.answer);
    }
}

// The worker waits for the answer: neither Escape nor a close request ends the question, and
// after "Stop counter!" Enter, even on that button, takes the default action.
TEST_F(DialogsTest, OnlyAnAnswerEndsTheExistingFileQuestion)
{
    settings.SetAutoAction(AnswerSkip);
    settings.SetAutoActionDelay(60000);
    TMsgList msgs;
    TfrmDstFileExists dialog(nullptr, settings, msgs, temp.Path(), temp.Path(), {"", "a", 1, KindFile});
    AnswerNextModal([](QWidget& window) {
        EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_FALSE(window.close());
        EXPECT_TRUE(window.isVisible());
        auto& stop = Child<QPushButton>(window, "btnStopCounter");
        QTest::keyClick(&stop, Qt::Key_Space);
        EXPECT_FALSE(window.findChild<QTimer*>()->isActive());
        QTest::keyClick(&stop, Qt::Key_Return);
    });
    dialog.exec();
    EXPECT_EQ(dialog.AnswerCode(), AnswerSkip);
}

// The shut-down question confirms itself after 30 seconds; the delete question hands back its
// box, and Return confirms even after the focus passed Cancel; the schedule hands back the day
// typed into its date picker with the time to the second. Escape answers nothing.
TEST_F(DialogsTest, TheSmallQuestionsHandBackTheirAnswers)
{
    AnswerNextModal([](QWidget& w) {
        Tick(w, 29);
        EXPECT_TRUE(w.isVisible());
        Tick(w, 1);
    });
    EXPECT_TRUE(TfrmShutDown::Confirm(nullptr, settings));
    AnswerNextModal([](QWidget&) { Key(Qt::Key_Escape); });
    EXPECT_FALSE(TfrmShutDown::Confirm(nullptr, settings));
    AnswerNextModal([](QWidget& w) {
        EXPECT_FALSE(Child<QCheckBox>(w, "chkDelFiles").isChecked());
        Child(w, "btnCancel").setFocus();
        Child(w, "chkDelFiles").setFocus();
        Key(Qt::Key_Space);
        Key(Qt::Key_Return);
    });
    EXPECT_EQ(TfrmDelTask::Ask(nullptr, settings), std::optional(true));
    AnswerNextModal([](QWidget& w) { Child<QPushButton>(w, "btnOK").click(); });
    EXPECT_EQ(TfrmDelTask::Ask(nullptr, settings), std::optional(false));
    AnswerNextModal([](QWidget&) { Key(Qt::Key_Escape); });
    EXPECT_EQ(TfrmDelTask::Ask(nullptr, settings), std::nullopt);
    AnswerNextModal([](QWidget& w) {
        Child<QDateEdit>(w, "dtpDate").setCurrentSection(QDateTimeEdit::DaySection);
        Key(Qt::Key_Up);
        Key(Qt::Key_Return);
    });
    EXPECT_NEAR(TfrmSchedule::Ask(nullptr, settings, 45000.75 + 0.4 / 86400).value_or(0), 45001.75, 1e-9);
}

TEST_F(DialogsTest, TheFileOrFolderPickerReturnsWhatWasSelected)
{
    test::MakeFolders(temp / "shown/folder");
    test::WriteFile(temp / "shown/file.bin", "x");
    for (const std::string name : {"file.bin", "folder", ""}) {
        AnswerNextModal([&](QWidget& window) {
            auto& picker = static_cast<QFileDialog&>(window);
            picker.setDirectory(QString::fromStdString(temp / "shown"));
            Child<QLineEdit>(picker, "fileNameEdit").setText(QString::fromStdString(name));
            static_cast<QDialog&>(picker).accept();
        });
        const std::string expected = name.empty() ? temp / "shown" : temp / ("shown/" + name);
        EXPECT_EQ(TFileOrFolderDialog::Ask(nullptr, QStringLiteral("Change Source")).toStdString(), expected) << name;
    }
}

// OK stores each edited control in the setting's unit; what the user left alone (a language
// stored in another letter case too) stays as stored. Cancel, Escape and closing bring back the
// stored settings, even after "Restore default settings" changed them in memory. While tasks are
// listed the restore folder holds their files and stays.
TEST_F(DialogsTest, TheSettingsDialogStoresWhatWasChangedOnOKOnly)
{
    const struct {
        const char* name;
        bool edit, stores;
        int tasks;
        std::function<void(QDialog&)> close;
    } cases[] = {
        {"unchanged", false, true, 0, [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }},
        {"OK", true, true, 0, [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Return); }},
        {"OK with a task", true, true, 1, [](QDialog& d) { Child<QPushButton>(d, "btnOK").click(); }},
        {"Cancel", true, false, 0, [](QDialog& d) { Child<QPushButton>(d, "btnCancel").click(); }},
        {"Escape", true, false, 0, [](QDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
        {"closed", true, false, 0, [](QDialog& d) { d.close(); }},
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
        EXPECT_FALSE(settings.LanguageChanged());
        settings.SaveToRegistry();
        EXPECT_EQ(test::ReadFile(registry.UserFile) == stored, !changed);
        EXPECT_EQ(TSettingsStorage(registry).VerifyCopies(), changed);
    }
}

// What the user chose comes back whole, once the destination is a folder: OK refuses a file,
// which would fail only as the tasks run. Verifying starts from the setting in each dialog.
TEST_F(DialogsTest, TheNewTaskDialogHandsBackEveryChoiceForAFolderOnly)
{
    test::WriteFile(temp / "file", "x");
    const std::string sources = JoinQuotedPaths({"/srv/a b/one.txt", "/srv/two"});
    AnswerNextModal([this](QWidget& w) {
        auto& destination = Child<QComboBox>(w, "cbDstPath");
        destination.setEditText(QString::fromStdString(temp / "file"));
        AnswerNextModal([](QWidget& box) { static_cast<QDialog&>(box).accept(); });
        QTest::keyClick(&destination, Qt::Key_Return);
        ASSERT_TRUE(w.isVisible());
        destination.setEditText(QStringLiteral("/home/me/Videos"));
        Child<QComboBox>(w, "cbState").setCurrentIndex(2);
        Child<QToolButton>(w, "btnScheduleDialog").click();
        Child<QSlider>(w, "trbSpeedLimit").setValue(65536);
        for (const char* option : {"chkCopyAttributes", "chkVerify"}) Child<QCheckBox>(w, option).setChecked(true);
        // Return is OK on any control but Cancel, also after the focus passed Cancel.
        Child(w, "btnCancel").setFocus();
        Child(w, "trbSpeedLimit").setFocus();
        QTest::keyClick(&Child(w, "trbSpeedLimit"), Qt::Key_Return);
    });
    const auto answer = TfrmNewTask(nullptr, settings, true, [](double) { return 45000.75; }).Ask(sources);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->SourceText, sources);
    EXPECT_EQ(answer->Destination, "/home/me/Videos");
    EXPECT_EQ(answer->State, StateScheduled);
    EXPECT_EQ(answer->ScheduleTime, 45000.75);
    EXPECT_EQ(answer->SpeedLimit, 65536);
    EXPECT_TRUE(answer->Options.CopyAttributes && answer->Options.VerifyCopies);
    EXPECT_FALSE(answer->Options.CopySecurity || answer->Options.CopyStreams);
    EXPECT_FALSE(Child<QCheckBox>(TfrmNewTask(nullptr, settings, true), "chkVerify").isChecked());
    settings.SetVerifyCopies(true);
    EXPECT_TRUE(Child<QCheckBox>(TfrmNewTask(nullptr, settings, true), "chkVerify").isChecked());
}

// In German and in a large font no label or button of a dialog is narrower or lower than its text.
TEST_F(DialogsTest, GermanTextsFitInEveryDialog)
{
    settings.SetLanguage("Deutsch");
    TMsgList msgs(settings);
    ASSERT_EQ(TfrmDelTask(nullptr, settings).windowTitle(), "Löschen");
    const std::function<std::unique_ptr<QWidget>()> dialogs[] = {
        [&] { return std::make_unique<TfrmNewTask>(nullptr, settings, true); },
        [&] { return std::make_unique<TfrmSettings>(nullptr, 1, settings); },
        [&] { return std::make_unique<TfrmSchedule>(nullptr, settings, 45000.5); },
        [&] { return std::make_unique<TfrmDelTask>(nullptr, settings); },
        [&] { return std::make_unique<TfrmShutDown>(nullptr, settings); },
        [&] { return std::make_unique<TfrmDstFileExists>(nullptr, settings, msgs, temp.Path(), temp.Path(), TItemAttrs{"", "a", 3, KindFile}); },
    };
    const QFont font = QApplication::font();
    for (const qreal scale : {1.0, 2.0}) {
        QFont large = font;
        large.setPointSizeF(font.pointSizeF() * scale);
        QApplication::setFont(large);
        for (const auto& make : dialogs) {
            const auto dialog = make();
            dialog->show();
            auto* pages = dialog->findChild<QTabWidget*>();
            for (int page = 0; page < (pages ? pages->count() : 1); ++page) {
                if (pages) pages->setCurrentIndex(page);
                QApplication::processEvents();
                for (QWidget* widget : dialog->findChildren<QWidget*>()) {
                    auto* label = qobject_cast<QLabel*>(widget);
                    const bool hasText = label ? !label->wordWrap() : qobject_cast<QAbstractButton*>(widget) != nullptr;
                    EXPECT_TRUE(!hasText || !widget->isVisible() || (widget->width() >= widget->sizeHint().width() &&
                                                                      widget->height() >= widget->sizeHint().height()))
                        << dialog->windowTitle().toStdString() << " " << widget->objectName().toStdString();
                }
            }
        }
    }
    QApplication::setFont(font);
}

}  // namespace
}  // namespace tarn
