#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/FormCaptions.h"
#include "core/IniFile.h"

namespace tarn {

class TSettingsStorage;

// The texts of one window in the interface language: its built-in English texts, with what the
// window's section of the language file says applied over them. A key of the section is, in
// this order of tests: "Caption" (the window's title, where the window lets it be changed); one
// of the window's own text keys; or "component.property", split at the first ".", which the
// window applies when it owns such a component. Anything else is ignored.
class FormTranslation {
public:
    struct PropertyText {
        std::string Component;
        std::string Property;
        std::string Value;
    };

    // `languageFile` may be null: the built-in texts stand.
    FormTranslation(const FormCaptions& form, const IniFile* languageFile);

    // The window's title ("" for a window whose title is not translated).
    const std::string& Caption() const { return caption_; }
    // One of the window's own text keys, spelled as in its FormCaptions. Raises
    // std::invalid_argument for a key the window does not have.
    const std::string& Text(std::string_view ownKey) const;
    // The built-in component texts with the language file's values, then the language file's
    // keys for components or properties without a built-in text, in file order.
    const std::vector<PropertyText>& Properties() const { return properties_; }

private:
    void Apply(const FormCaptions& form, const IniFile& languageFile);

    std::string caption_;
    std::vector<std::pair<std::string, std::string>> ownTexts_;
    std::vector<PropertyText> properties_;
};

// The translation of a window in the settings' language (a window's TranslateForm).
FormTranslation ReadFormTranslation(const TSettingsStorage& settings, const FormCaptions& form);

}  // namespace tarn
