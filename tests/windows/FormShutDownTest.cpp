#include "windows/FormShutDown.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <string>

#include "tests/windows/QuestionDialogTesting.h"

namespace tarn {
namespace {

class FormShutDownTest : public test::TempFolderTest {
protected:
    TSettingsStorage settings{RegistryLocation{temp / "user.ini", temp / "system.ini"}};
};

// Left alone, the dialog shows 30 down to 1 and then confirms by itself.
TEST_F(FormShutDownTest, ConfirmsItselfAfterThirtySeconds)
{
    TfrmShutDown dialog(nullptr, settings);
    auto* delay = dialog.findChild<QLabel*>(QStringLiteral("lblShutDownDelay"));
    ASSERT_NE(delay, nullptr);
    auto* timer = dialog.findChild<QTimer*>(QStringLiteral("tmShutDownDelay"));
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1000);
    test::StoppedTimer(dialog, "tmShutDownDelay");
    for (int seconds = 30; seconds >= 1; --seconds) {
        EXPECT_EQ(delay->text().toStdString(), "System will shut down in " + std::to_string(seconds) + " seconds");
        EXPECT_EQ(dialog.result(), 0);
        test::Tick(*timer);
    }
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// OK and Enter shut down at once; Cancel, Escape and the close button do not.
TEST_F(FormShutDownTest, OnlyOKOrTheCountdownShutsDown)
{
    const std::pair<std::function<void(QWidget&)>, bool> cases[] = {
        {[](QWidget& w) { w.findChild<QPushButton*>(QStringLiteral("btnOK"))->click(); }, true},
        {[](QWidget&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }, true},
        {[](QWidget& w) { w.findChild<QPushButton*>(QStringLiteral("btnCancel"))->click(); }, false},
        {[](QWidget& w) { QTest::keyClick(&w, Qt::Key_Escape); }, false},
        {[](QWidget& w) { w.close(); }, false},
    };
    int index = 0;
    for (const auto& [answer, shutDown] : cases) {
        test::AnswerNextModal(answer);
        EXPECT_EQ(TfrmShutDown::Confirm(nullptr, settings), shutDown) << "case " << index++;
    }
}

// The language file's countdown line takes the number as text.
TEST_F(FormShutDownTest, TranslatedCountdownLine)
{
    auto store = test::SettingsWithLanguage(temp / "language/",
                                            "[TfrmShutDown]\nCaption=Ausschalten\nShutDownDelayString=Noch %s s\n");
    TfrmShutDown dialog(nullptr, *store);
    EXPECT_EQ(dialog.windowTitle(), "Ausschalten");
    auto* delay = dialog.findChild<QLabel*>(QStringLiteral("lblShutDownDelay"));
    EXPECT_EQ(delay->text(), "Noch 30 s");
    test::Tick(test::StoppedTimer(dialog, "tmShutDownDelay"));
    EXPECT_EQ(delay->text(), "Noch 29 s");
}

}  // namespace
}  // namespace tarn
