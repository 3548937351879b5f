#pragma once

namespace tarn {

class TSettingsStorage;

// Puts Qt's own texts (the key names of the menus' shortcuts, the texts of the buttons and
// context menus Qt makes) into the settings' language, in place of the language installed
// before: Qt's translation named by the language file's "[Language] Code" ("de" reads
// qtbase_de.qm from Qt's translations folder), and over it the key names of the file's section
// "[QShortcut]" ("Return=Eingabe"), for keys Qt's translation leaves in English. English, a
// missing language file and a code Qt has no translation for leave Qt's English texts. Called at
// start and on every change of language before the windows take their texts, so that the menus
// are measured with the translated key names.
void InstallQtTranslation(const TSettingsStorage& settings);

}  // namespace tarn
