#pragma once

#include "core/FormTranslation.h"

class QWidget;

namespace tarn {

class TSettingsStorage;

// Puts a window's texts into the interface language: its title, and the text ("Caption") and
// tool tip ("Hint") of every component the translation names, found by object name among the
// window's widgets and actions (a tab page's text is its tab's). Returns the translation, for
// the window's own texts. Windows build themselves with their English texts first, then call it.
FormTranslation TranslateForm(QWidget& form, const FormCaptions& captions, const TSettingsStorage& settings);
void ApplyFormTranslation(QWidget& form, const FormTranslation& translation);

}  // namespace tarn
