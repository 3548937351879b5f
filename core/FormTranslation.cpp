#include "core/FormTranslation.h"

#include <stdexcept>

#include "core/MessageList.h"
#include "core/SettingsStorage.h"

namespace tarn {
namespace {

constexpr char CaptionKey[] = "Caption";

std::pair<std::string, std::string> SplitKey(std::string_view key)
{
    const size_t dot = key.find('.');
    return {std::string(key.substr(0, dot)), std::string(key.substr(dot + 1))};
}

}  // namespace

FormTranslation::FormTranslation(const FormCaptions& form, const IniFile* languageFile)
{
    if (form.Caption != nullptr) caption_ = form.Caption;
    for (const auto& text : form.OwnTexts) ownTexts_.emplace_back(text.Key, text.Text);
    for (const auto& text : form.Properties) {
        auto [component, property] = SplitKey(text.Key);
        properties_.push_back({std::move(component), std::move(property), text.Text});
    }
    if (languageFile != nullptr) Apply(form, *languageFile);
}

void FormTranslation::Apply(const FormCaptions& form, const IniFile& languageFile)
{
    // Keys of a section are unique, so a key without a built-in text is only looked for among
    // the built-in ones.
    const size_t builtIn = properties_.size();
    for (const auto& [key, value] : languageFile.Section(form.FormClass)) {
        if (SameName(key, CaptionKey)) {
            if (form.Caption != nullptr) caption_ = value;
            continue;
        }
        bool own = false;
        for (auto& text : ownTexts_) {
            if (!SameName(text.first, key)) continue;
            text.second = value;
            own = true;
        }
        const size_t dot = key.find('.');
        if (own || dot == std::string::npos || dot == 0 || dot + 1 == key.size()) continue;

        auto [component, property] = SplitKey(key);
        bool known = false;
        for (size_t i = 0; i < builtIn; ++i) {
            if (!SameName(properties_[i].Component, component) || !SameName(properties_[i].Property, property))
                continue;
            properties_[i].Value = value;
            known = true;
        }
        if (!known) properties_.push_back({std::move(component), std::move(property), value});
    }
}

const std::string& FormTranslation::Text(std::string_view ownKey) const
{
    for (const auto& text : ownTexts_)
        if (text.first == ownKey) return text.second;
    throw std::invalid_argument("The window has no text named " + std::string(ownKey));
}

FormTranslation ReadFormTranslation(const TSettingsStorage& settings, const FormCaptions& form)
{
    const auto languageFile = ReadLanguageFile(settings.RootDir(), settings.Language());
    return FormTranslation(form, languageFile ? &*languageFile : nullptr);
}

}  // namespace tarn
