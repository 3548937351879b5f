#pragma once

#include <cstdint>
#include <string>

#include "windows/QuestionDialog.h"

class QLabel;
class QTimer;

namespace tarn {

class TSettingsStorage;

// Announces that the computer shuts down because every task is finished, counts 30 seconds
// down from its creation and then confirms by itself; only Cancel stops it.
class TfrmShutDown : public QuestionDialog {
    Q_OBJECT

public:
    TfrmShutDown(QWidget* owner, const TSettingsStorage& settings);

    // Asks modally: true to power off now (OK, or the countdown ran out), false after Cancel.
    static bool Confirm(QWidget* owner, const TSettingsStorage& settings);

private:
    void ShowDelay();
    void tmShutDownDelayTimer();

    QLabel* lblShutDownDelay_ = nullptr;
    QTimer* tmShutDownDelay_ = nullptr;
    int32_t remaining_ = 30;  // seconds
    std::string delayTemplate_;
};

}  // namespace tarn
