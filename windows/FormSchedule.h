#pragma once

#include <optional>

#include "windows/QuestionDialog.h"

class QDateEdit;
class QTimeEdit;

namespace tarn {

class TSettingsStorage;

// Asks for the date and time at which tasks are to start. Any moment is taken: one in the past
// makes a scheduled task due at once.
class TfrmSchedule : public QuestionDialog {
    Q_OBJECT

public:
    // `initial` is a date-time (days since 30 December 1899, local time); the pickers show it
    // to the second.
    TfrmSchedule(QWidget* owner, const TSettingsStorage& settings, double initial);

    // Asks modally: the moment chosen, nullopt after Cancel.
    static std::optional<double> Ask(QWidget* owner, const TSettingsStorage& settings, double initial);

    // The date of dtpDate with the time of day of dtpTime, as a date-time.
    double DateTime() const;

private:
    QDateEdit* dtpDate_ = nullptr;
    QTimeEdit* dtpTime_ = nullptr;
};

}  // namespace tarn
