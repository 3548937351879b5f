#pragma once

#include <QDialog>

class QPushButton;
class QVBoxLayout;

namespace tarn {

// The frame of the small question dialogs: a group box with a 32 × 32 picture at its top left
// and a wrapped comment ("lblComment") beside it, the dialog's own controls under the comment,
// and "OK" (default: accepts) and "Cancel" (Escape: rejects) below the box.
class QuestionDialog : public QDialog {
    Q_OBJECT

protected:
    QuestionDialog(QWidget* owner, const char* title, const char* groupName, const char* groupTitle,
                   const char* pictureName, const char* iconName, const char* comment);

    // Where the dialog puts its own controls, under the comment.
    QVBoxLayout& Body() const { return *body_; }
    QPushButton& OkButton() const { return *btnOK_; }
    // After the texts are final: the design width, or more where texts and font need it, and
    // the height the wrapped texts take at that width.
    void FitToContents(int designWidth);

private:
    QVBoxLayout* body_ = nullptr;
    QPushButton* btnOK_ = nullptr;
};

}  // namespace tarn
