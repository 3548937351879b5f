#include "windows/FormSchedule.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QLocale>
#include <QTimeEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <ctime>
#include <utility>

#include "core/FormCaptions.h"
#include "core/Units.h"
#include "platform/DateTime.h"
#include "windows/TranslateForm.h"

namespace tarn {
namespace {

// The design at 96 DPI.
constexpr int DesignWidth = 305;
constexpr int DateWidth = 129;
constexpr int TimeWidth = 81;

// The locale's short date with the year in full: a two-digit year typed into the picker could
// land in the wrong century.
QString DateFormat(const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy"))) format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

}  // namespace

TfrmSchedule::TfrmSchedule(QWidget* owner, const TSettingsStorage& settings, double initial)
    : QuestionDialog(owner, "Schedule", "gbScheduleParameters", "Schedule parameters", "imgClock", "clock",
                     "Please, set date and time to start the task")
{
    const std::tm moment = DateTimeToTm(initial);
    const QLocale locale;
    dtpDate_ = new QDateEdit(QDate(moment.tm_year + 1900, moment.tm_mon + 1, moment.tm_mday));
    dtpDate_->setObjectName(QStringLiteral("dtpDate"));
    dtpDate_->setDisplayFormat(DateFormat(locale));
    dtpDate_->setCalendarPopup(true);
    dtpTime_ = new QTimeEdit(QTime(moment.tm_hour, moment.tm_min, moment.tm_sec));
    dtpTime_->setObjectName(QStringLiteral("dtpTime"));
    dtpTime_->setDisplayFormat(LongTimeFormat(locale));
    // As wide as designed, or as the locale's longest texts need.
    for (const auto& [picker, width] : {std::pair<QWidget*, int>{dtpDate_, DateWidth}, {dtpTime_, TimeWidth}})
        picker->setMinimumWidth(std::max(width, picker->sizeHint().width()));

    auto* pickers = new QHBoxLayout;
    pickers->addWidget(dtpDate_);
    pickers->addWidget(dtpTime_);
    pickers->addStretch();
    Body().addLayout(pickers);

    TranslateForm(*this, FormScheduleCaptions, settings);
    FitToContents(DesignWidth);
    setTabOrder(dtpDate_, dtpTime_);
    dtpDate_->setFocus();
}

std::optional<double> TfrmSchedule::Ask(QWidget* owner, const TSettingsStorage& settings, double initial)
{
    TfrmSchedule dialog(owner, settings, initial);
    if (dialog.exec() != Accepted) return std::nullopt;
    return dialog.DateTime();
}

double TfrmSchedule::DateTime() const
{
    const QDate date = dtpDate_->date();
    const QTime time = dtpTime_->time();
    std::tm moment{};
    moment.tm_year = date.year() - 1900;
    moment.tm_mon = date.month() - 1;
    moment.tm_mday = date.day();
    moment.tm_hour = time.hour();
    moment.tm_min = time.minute();
    moment.tm_sec = time.second();
    return TmToDateTime(moment);
}

}  // namespace tarn
