#pragma once

#include <optional>

#include "windows/QuestionDialog.h"

class QCheckBox;

namespace tarn {

class TSettingsStorage;

// Asks, before tasks are deleted, whether the files they copied are to be deleted as well.
class TfrmDelTask : public QuestionDialog {
    Q_OBJECT

public:
    TfrmDelTask(QWidget* owner, const TSettingsStorage& settings);

    // Asks modally: whether to delete the copied files too, nullopt after Cancel (the tasks stay).
    static std::optional<bool> Ask(QWidget* owner, const TSettingsStorage& settings);

    bool DeleteFiles() const;

private:
    QCheckBox* chkDelFiles_ = nullptr;
};

}  // namespace tarn
