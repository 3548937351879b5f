#include "windows/FormDstFileExists.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/MessageList.h"
#include "engine/DownloadThread.h"
#include "tests/windows/QuestionDialogTesting.h"

namespace tarn {
namespace {

// A real worker that met an existing file: src/sub/a.txt is to be copied over
// dst/src/sub/a.txt.
class FormDstFileExistsTest : public test::TempFolderTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override
    {
        QLocale::setDefault(QLocale::system());
        if (task) {
            task->Stop();
            task->WaitFor();
        }
    }

    std::string Source() const { return root + "src/sub/a.txt"; }
    std::string Destination() const { return root + "dst/src/sub/a.txt"; }

    // Each call in a folder of its own.
    void StartAskingTask(size_t sourceSize, size_t destinationSize)
    {
        if (task) {
            task->Stop();
            task->WaitFor();
        }
        root = temp / ("run" + std::to_string(++runs) + "/");
        test::MakeFolders(root + "src/sub");
        test::MakeFolders(root + "dst/src/sub");
        test::MakeFolders(root + "restore");
        test::WriteFile(Source(), test::RandomBytes(sourceSize, 1));
        test::WriteFile(Destination(), test::RandomBytes(destinationSize, 2));
        // Speed limit 0: once answered, the worker holds still instead of copying.
        task = std::make_unique<TDownloadThread>("T1", root + "restore/", root + "src/", root + "dst/", StateCopying, 0,
                                                 1000, 15000, 65536, 0, 0);
        ASSERT_TRUE(test::WaitUntil([this] { return task->IsWaitingForAnswer(); }));
    }

    std::unique_ptr<TfrmDstFileExists> Dialog(const TSettingsStorage& store)
    {
        return std::make_unique<TfrmDstFileExists>(nullptr, store, msgs, *task);
    }

    template <typename Widget = QPushButton>
    static Widget& Child(QWidget& dialog, const char* name)
    {
        auto* child = dialog.findChild<Widget*>(QString::fromLatin1(name));
        if (!child) throw std::runtime_error(std::string("no control ") + name);
        return *child;
    }

    static void SetModified(const std::string& path, int year, int month, int day, int hour)
    {
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_isdst = -1;
        const timespec times[2] = {{std::mktime(&local), 0}, {std::mktime(&local), 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    TSettingsStorage settings{RegistryLocation{temp / "user.ini", temp / "system.ini"}};
    TMsgList msgs;
    std::unique_ptr<TDownloadThread> task;
    std::string root;
    int runs = 0;
};

// The default button counts whole seconds down and is pressed when the count has run out; the
// ticked box sends the action's even code; a destination longer than its source cannot be
// uploaded to, so a default of Upload becomes Skip.
TEST_F(FormDstFileExistsTest, CountdownPressesTheDefaultButton)
{
    struct Case {
        uint8_t autoAction;
        int32_t delay;
        size_t sourceSize, destinationSize;
        bool forAll;
        const char* defaultButton;
        std::vector<QString> counts;  // the default button's text at opening and after each tick
        uint8_t answer;
    };
    const Case cases[] = {
        {AnswerOverwrite, 0, 1000, 500, false, "btnOverwrite", {"Overwrite (0)"}, AnswerOverwrite},
        {AnswerSkip, 1500, 1000, 500, false, "btnSkip", {"Skip (1)", "Skip (0)"}, AnswerSkip},
        {AnswerUpload, 3000, 1000, 500, true, "btnUpload", {"Upload (3)", "Upload (2)", "Upload (1)"}, AnswerUploadAll},
        {AnswerUpload, 1000, 1000, 1000, false, "btnUpload", {"Upload (1)"}, AnswerUpload},
        {AnswerUpload, 2000, 1000, 2000, false, "btnSkip", {"Skip (2)", "Skip (1)"}, AnswerSkip},
        {AnswerUpload, 1000, 1000, 2000, true, "btnSkip", {"Skip (1)"}, AnswerSkipAll},
        {AnswerOverwrite, 1000, 1000, 2000, true, "btnOverwrite", {"Overwrite (1)"}, AnswerOverwriteAll},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.counts.front().toStdString() + (c.forAll ? " for all" : ""));
        StartAskingTask(c.sourceSize, c.destinationSize);
        settings.SetAutoAction(c.autoAction);
        settings.SetAutoActionDelay(c.delay);
        auto dialog = Dialog(settings);
        QTimer& timer = test::StoppedTimer(*dialog, "tmDefaultAction");
        EXPECT_EQ(timer.interval(), 1000);
        EXPECT_EQ(Child(*dialog, "btnUpload").isEnabled(), c.destinationSize <= c.sourceSize);
        QPushButton& button = Child(*dialog, c.defaultButton);
        EXPECT_TRUE(button.isDefault());
        Child<QCheckBox>(*dialog, "chkUseForAll").setChecked(c.forAll);
        for (const QString& count : c.counts) {
            EXPECT_EQ(button.text(), count);
            EXPECT_EQ(dialog->AnswerCode(), 0);
            test::Tick(timer);
        }
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(dialog->AnswerCode(), c.answer);
    }
}

// "Stop counter!" freezes the count on the default button, which stays the default: Enter, even
// on the stop button itself, takes the default action. The keyboard walks the controls in order.
TEST_F(FormDstFileExistsTest, StopCounterLeavesTheDefaultToEnter)
{
    StartAskingTask(1000, 500);
    settings.SetAutoAction(AnswerOverwrite);
    settings.SetAutoActionDelay(60000);
    auto dialog = Dialog(settings);
    dialog->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    EXPECT_EQ(QApplication::focusWidget(), &Child<QCheckBox>(*dialog, "chkUseForAll"));
    for (const char* name : {"btnUpload", "btnOverwrite", "btnSkip", "btnStopCounter"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), name);
    }

    QPushButton& stop = Child(*dialog, "btnStopCounter");
    auto* timer = dialog->findChild<QTimer*>(QStringLiteral("tmDefaultAction"));
    EXPECT_TRUE(timer->isActive());
    const QString count = Child(*dialog, "btnOverwrite").text();
    QTest::keyClick(&stop, Qt::Key_Space);
    EXPECT_FALSE(timer->isActive());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(Child(*dialog, "btnOverwrite").text(), count);
    EXPECT_TRUE(count.startsWith("Overwrite ("));

    QTest::keyClick(&stop, Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->AnswerCode(), AnswerOverwrite);
}

// Neither Escape nor a close request ends the question, and there is no close button; the
// countdown answers in the end.
TEST_F(FormDstFileExistsTest, OnlyAnAnswerEndsTheQuestion)
{
    StartAskingTask(1000, 500);
    settings.SetAutoAction(AnswerSkip);
    settings.SetAutoActionDelay(0);
    bool openAfterEscapeAndClose = false;
    test::AnswerNextModal([&](QWidget& window) {
        EXPECT_FALSE(window.windowFlags() & Qt::WindowCloseButtonHint);
        QTest::keyClick(&window, Qt::Key_Escape);
        EXPECT_FALSE(window.close());
        openAfterEscapeAndClose = window.isVisible();
    });
    EXPECT_EQ(TfrmDstFileExists::Ask(nullptr, settings, msgs, *task), AnswerSkip);
    EXPECT_TRUE(openAfterEscapeAndClose);
}

// Folder, name, sizes and local times of both files, and the destination's type icon beside
// each; a file gone meanwhile reads 0 bytes and the zero date.
TEST_F(FormDstFileExistsTest, ShowsBothFiles)
{
    StartAskingTask(1572864, 1025);
    SetModified(Source(), 2023, 3, 15, 18);
    SetModified(Destination(), 2024, 1, 2, 0);
    auto dialog = Dialog(settings);
    EXPECT_EQ(Child<QLabel>(*dialog, "lblFolder").text().remove(QChar(0x200B)).toStdString(),
              "The folder \"" + root + "dst/src/sub/\" already contains a file \"a.txt\"");
    EXPECT_EQ(Child<QLabel>(*dialog, "lblSrcAttr").text(), "1.5 Mb (1,572,864 Bytes) \nmodified: 3/15/23 6:00:00 PM");
    EXPECT_EQ(Child<QLabel>(*dialog, "lblDstAttr").text(), "1.0 Kb (1,025 Bytes) \nmodified: 1/2/24");
    dialog->show();
    for (const char* icon : {"imgSrcIcon", "imgDstIcon"})
        EXPECT_GT(test::DrawnPixels(*dialog, Child<QLabel>(*dialog, icon)), 32 * 32 / 10) << icon;

    std::filesystem::remove(Source());
    EXPECT_EQ(Child<QLabel>(*Dialog(settings), "lblSrcAttr").text(), "0 Bytes \nmodified: 12/30/99");
    TfrmDstFileExists gone(nullptr, settings, msgs, root + "src/", root + "dst/src/", {"sub/", "gone.txt", 0, KindFile});
    EXPECT_EQ(Child<QLabel>(gone, "lblDstAttr").text(), "0 Bytes \nmodified: 12/30/99");
}

// The language file's texts are the templates and the default button's own text.
TEST_F(FormDstFileExistsTest, CountsAndFillsTheTranslatedTexts)
{
    auto store = test::SettingsWithLanguage(temp / "language/",
                                            "[TfrmDstFileExists]\nCaption=Datei da\nbtnSkip.Caption=Weiter\n"
                                            "lblFolder.Caption=%s enthält %s\n"
                                            "lblDstAttr.Caption=%s%sgeändert am %s\n");
    store->SetAutoAction(AnswerSkip);
    store->SetAutoActionDelay(2000);
    StartAskingTask(100, 50);
    SetModified(Destination(), 2024, 1, 2, 0);
    auto dialog = Dialog(*store);
    EXPECT_EQ(dialog->windowTitle(), "Datei da");
    EXPECT_EQ(Child(*dialog, "btnSkip").text(), "Weiter (2)");
    EXPECT_EQ(Child<QLabel>(*dialog, "lblFolder").text().remove(QChar(0x200B)).toStdString(),
              root + "dst/src/sub/ enthält a.txt");
    EXPECT_EQ(Child<QLabel>(*dialog, "lblDstAttr").text(), "50 Bytes\ngeändert am 1/2/24");
}

}  // namespace
}  // namespace tarn
