#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class QCheckBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QTimer;

namespace tarn {

class TDownloadThread;
class TMsgList;
class TSettingsStorage;
struct TItemAttrs;

// The question a worker asks when its destination file exists: the folder and name, size and
// modification time of the source and the destination file, and Upload (resume), Overwrite or
// Skip, for this file or, with the box ticked, for the rest of the task. A countdown of
// AutoActionDelay presses the default button (AutoAction) unless the user stops it. The dialog
// cannot be left without an answer: it has no close button and Escape does nothing.
class TfrmDstFileExists : public QDialog {
    Q_OBJECT

public:
    // About the task's current item; the countdown runs from here.
    TfrmDstFileExists(QWidget* owner, const TSettingsStorage& settings, const TMsgList& msgs,
                      const TDownloadThread& task);
    // About `item` of a task copying from `sourceFolder` to `destinationFolder` (each ending
    // with "/").
    TfrmDstFileExists(QWidget* owner, const TSettingsStorage& settings, const TMsgList& msgs,
                      const std::string& sourceFolder, const std::string& destinationFolder, const TItemAttrs& item);

    // Asks modally and returns the answer code for TDownloadThread::Answer: 1, 3, 5 (Overwrite,
    // Upload, Skip) for this file, 2, 4, 6 for the rest of the task; 0 only when the program
    // quits under the dialog.
    static uint8_t Ask(QWidget* owner, const TSettingsStorage& settings, const TMsgList& msgs,
                       const TDownloadThread& task);

    // The code of the action taken, 0 before one.
    uint8_t AnswerCode() const { return answer_; }

    // Only an action button ends the dialog.
    void reject() override;

private:
    void BuildControls();
    void AddFileRow(QGridLayout& grid, int row, QLabel* caption, QLabel* icon, QLabel* attributes);
    void SetDefaultButton(uint8_t action);
    void ShowCount();
    void ActionClick(uint8_t action);
    void btnStopCounterClick();
    void tmDefaultActionTimer();

    QLabel* lblFolder_ = nullptr;
    QLabel* lblSrc_ = nullptr;
    QLabel* lblSrcAttr_ = nullptr;
    QLabel* lblDst_ = nullptr;
    QLabel* lblDstAttr_ = nullptr;
    QLabel* imgSrcIcon_ = nullptr;
    QLabel* imgDstIcon_ = nullptr;
    QLabel* lblSelectAction_ = nullptr;
    QPushButton* btnUpload_ = nullptr;
    QPushButton* btnOverwrite_ = nullptr;
    QPushButton* btnSkip_ = nullptr;
    QPushButton* btnStopCounter_ = nullptr;
    QCheckBox* chkUseForAll_ = nullptr;
    QTimer* tmDefaultAction_ = nullptr;

    uint8_t defaultAction_ = 0;
    int32_t remaining_ = 0;  // milliseconds
    QPushButton* defaultButton_ = nullptr;
    QString defaultButtonText_;
    uint8_t answer_ = 0;
};

}  // namespace tarn
