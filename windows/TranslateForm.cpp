#include "windows/TranslateForm.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QWidget>

namespace tarn {
namespace {

void SetCaption(QObject& component, const QString& text)
{
    if (auto* action = qobject_cast<QAction*>(&component)) {
        action->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(&component)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(&component)) {
        label->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(&component)) {
        group->setTitle(text);
    } else if (auto* widget = qobject_cast<QWidget*>(&component)) {
        // A tab page: its text is its tab's.
        for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
            if (auto* tabs = qobject_cast<QTabWidget*>(parent)) {
                if (const int index = tabs->indexOf(widget); index >= 0) tabs->setTabText(index, text);
                break;
            }
        }
    }
}

void SetHint(QObject& component, const QString& text)
{
    if (auto* action = qobject_cast<QAction*>(&component)) {
        action->setToolTip(text);
    } else if (auto* widget = qobject_cast<QWidget*>(&component)) {
        widget->setToolTip(text);
    }
}

}  // namespace

void ApplyFormTranslation(QWidget& form, const FormTranslation& translation)
{
    if (!translation.Caption().empty()) form.setWindowTitle(QString::fromStdString(translation.Caption()));
    for (const auto& text : translation.Properties()) {
        QObject* component = form.findChild<QObject*>(QString::fromStdString(text.Component));
        if (!component) continue;
        const QString value = QString::fromStdString(text.Value);
        if (text.Property == "Caption") {
            SetCaption(*component, value);
        } else if (text.Property == "Hint") {
            SetHint(*component, value);
        }
    }
}

FormTranslation TranslateForm(QWidget& form, const FormCaptions& captions, const TSettingsStorage& settings)
{
    FormTranslation translation = ReadFormTranslation(settings, captions);
    ApplyFormTranslation(form, translation);
    return translation;
}

}  // namespace tarn
