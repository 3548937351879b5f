#include "windows/FormSchedule.h"

#include <QDateEdit>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimeEdit>

#include <optional>

#include "tests/windows/QuestionDialogTesting.h"

namespace tarn {
namespace {

class FormScheduleTest : public test::TempFolderTest {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    static QDateEdit& DatePicker(QWidget& dialog) { return *dialog.findChild<QDateEdit*>(QStringLiteral("dtpDate")); }
    static QTimeEdit& TimePicker(QWidget& dialog) { return *dialog.findChild<QTimeEdit*>(QStringLiteral("dtpTime")); }
    // Days since 30 December 1899 of a local date and time.
    static double Days(QDate date, QTime time)
    {
        return static_cast<double>(QDate(1899, 12, 30).daysTo(date)) + time.msecsSinceStartOfDay() / 86400000.0;
    }

    TSettingsStorage settings{RegistryLocation{temp / "user.ini", temp / "system.ini"}};
};

// The pickers show the proposed moment to the second, with the year in full, and hand back
// the date of one and the time of day of the other, the past included.
TEST_F(FormScheduleTest, PickersShowAndHandBackTheMoment)
{
    struct Case {
        QDate date;
        QTime time;
        QString dateText, timeText;
    };
    const Case cases[] = {
        {QDate(2023, 3, 15), QTime(18, 0, 0), "3/15/2023", "6:00:00 PM"},
        {QDate(2024, 2, 29), QTime(0, 0, 0), "2/29/2024", "12:00:00 AM"},
        {QDate(1999, 12, 31), QTime(23, 59, 59), "12/31/1999", "11:59:59 PM"},
    };
    for (const Case& c : cases) {
        // Milliseconds are not shown and not handed back.
        TfrmSchedule dialog(nullptr, settings, Days(c.date, c.time) + 0.4 / 86400);
        EXPECT_EQ(DatePicker(dialog).date(), c.date);
        EXPECT_EQ(TimePicker(dialog).time(), c.time);
        EXPECT_EQ(DatePicker(dialog).text(), c.dateText);
        EXPECT_EQ(TimePicker(dialog).text(), c.timeText);
        EXPECT_DOUBLE_EQ(dialog.DateTime(), Days(c.date, c.time));
    }
    TfrmSchedule dialog(nullptr, settings, Days(QDate(2023, 3, 15), QTime(18, 0)));
    DatePicker(dialog).setDate(QDate(2001, 7, 4));
    TimePicker(dialog).setTime(QTime(9, 30, 15));
    EXPECT_DOUBLE_EQ(dialog.DateTime(), Days(QDate(2001, 7, 4), QTime(9, 30, 15)));
}

// Typed in from the date picker, which has the focus: OK and Enter hand the moment back,
// Cancel and Escape nothing.
TEST_F(FormScheduleTest, OKHandsBackTheMomentCancelNothing)
{
    const double proposed = Days(QDate(2023, 3, 15), QTime(18, 0));
    const double typed = Days(QDate(2023, 3, 16), QTime(18, 0));
    struct Case {
        Qt::Key key;
        const char* button;  // instead of the key
        std::optional<double> answer;
    };
    const Case cases[] = {
        {Qt::Key_Return, nullptr, typed},
        {Qt::Key_unknown, "btnOK", typed},
        {Qt::Key_unknown, "btnCancel", std::nullopt},
        {Qt::Key_Escape, nullptr, std::nullopt},
    };
    for (const Case& c : cases) {
        bool focused = false;
        test::AnswerNextModal([&](QWidget& window) {
            QDateEdit& date = DatePicker(window);
            focused = QApplication::focusWidget() == &date;
            // The day of "3/15/2023" one up.
            date.setCurrentSection(QDateTimeEdit::DaySection);
            QTest::keyClick(&date, Qt::Key_Up);
            if (c.button) {
                window.findChild<QPushButton*>(QString::fromLatin1(c.button))->click();
            } else {
                QTest::keyClick(&date, c.key);
            }
        });
        const std::optional<double> answer = TfrmSchedule::Ask(nullptr, settings, proposed);
        EXPECT_EQ(answer.has_value(), c.answer.has_value()) << (c.button ? c.button : "key");
        if (answer && c.answer) {
            EXPECT_DOUBLE_EQ(*answer, *c.answer);
        }
        EXPECT_TRUE(focused);
    }
}

// The texts come from the language file; the clock is drawn beside them.
TEST_F(FormScheduleTest, PictureAndTranslatedTexts)
{
    auto store = test::SettingsWithLanguage(
        temp / "language/",
        "[TfrmSchedule]\nCaption=Zeitplan\nlblComment.Caption=Wann?\nbtnCancel.Caption=Abbrechen\n");
    TfrmSchedule dialog(nullptr, *store, 45000);
    EXPECT_EQ(dialog.windowTitle(), "Zeitplan");
    EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("lblComment"))->text(), "Wann?");
    EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("btnCancel"))->text(), "Abbrechen");
    dialog.show();
    EXPECT_GT(test::DrawnPixels(dialog, *dialog.findChild<QLabel*>(QStringLiteral("imgClock"))), 32 * 32 / 10);
}

}  // namespace
}  // namespace tarn
