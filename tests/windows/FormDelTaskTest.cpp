#include "windows/FormDelTask.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <optional>

#include "tests/windows/QuestionDialogTesting.h"

namespace tarn {
namespace {

class FormDelTaskTest : public test::TempFolderTest {
protected:
    TSettingsStorage settings{RegistryLocation{temp / "user.ini", temp / "system.ini"}};
};

// The box starts clear and has the focus; OK hands its state back, Cancel and Escape nothing.
TEST_F(FormDelTaskTest, HandsBackTheBoxOrNothing)
{
    struct Case {
        bool tick;
        const char* button;  // nullptr: Escape
        std::optional<bool> answer;
    };
    const Case cases[] = {
        {false, "btnOK", false},
        {true, "btnOK", true},
        {true, "btnCancel", std::nullopt},
        {true, nullptr, std::nullopt},
    };
    for (const Case& c : cases) {
        bool startedClear = false;
        bool focused = false;
        test::AnswerNextModal([&](QWidget& window) {
            auto* box = window.findChild<QCheckBox*>(QStringLiteral("chkDelFiles"));
            startedClear = !box->isChecked();
            focused = QApplication::focusWidget() == box;
            if (c.tick) QTest::keyClick(box, Qt::Key_Space);
            if (c.button) {
                window.findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
            } else {
                QTest::keyClick(box, Qt::Key_Escape);
            }
        });
        EXPECT_EQ(TfrmDelTask::Ask(nullptr, settings), c.answer) << c.tick << " " << (c.button ? c.button : "Escape");
        EXPECT_TRUE(startedClear);
        EXPECT_TRUE(focused);
    }
}

// Return confirms from the box even after the focus passed Cancel on its way there.
TEST_F(FormDelTaskTest, ReturnAfterTheFocusPassedCancelIsOK)
{
    test::AnswerNextModal([](QWidget& window) {
        // Focus moves only in the active window.
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        window.findChild<QPushButton*>(QStringLiteral("btnCancel"))->setFocus();
        auto* box = window.findChild<QCheckBox*>(QStringLiteral("chkDelFiles"));
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
        QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_EQ(TfrmDelTask::Ask(nullptr, settings), std::optional<bool>(true));
}

// The picture is drawn at the group box's top left, the texts come from the language file.
TEST_F(FormDelTaskTest, PictureAndTranslatedTexts)
{
    auto store = test::SettingsWithLanguage(temp / "language/",
                                            "[TfrmDelTask]\nCaption=Löschen\nchkDelFiles.Caption=Kopien löschen\n"
                                            "gbDeleteParameters.Caption=Optionen\n");
    TfrmDelTask dialog(nullptr, *store);
    EXPECT_EQ(dialog.windowTitle(), "Löschen");
    EXPECT_EQ(dialog.findChild<QCheckBox*>(QStringLiteral("chkDelFiles"))->text(), "Kopien löschen");
    EXPECT_EQ(dialog.findChild<QGroupBox*>(QStringLiteral("gbDeleteParameters"))->title(), "Optionen");
    dialog.show();
    auto* picture = dialog.findChild<QLabel*>(QStringLiteral("Image1"));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->size(), QSize(32, 32));
    EXPECT_GT(test::DrawnPixels(dialog, *picture), 32 * 32 / 10);
}

}  // namespace
}  // namespace tarn
